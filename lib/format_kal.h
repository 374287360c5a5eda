// format_kal: KAL calibration text files (one image's name, size and up to
// four calibration points), lists of KAL records, and world-file parameters.
#pragma once

#include <cstdint>

#include "format_gmf.h"

// KAL point arrays, shared by the single-record KAL operations and the
// world-file parameters: point N is pair N-1.
using KalCoords = double[4][2];   // longitude, latitude in degrees
using KalPixels = int32_t[4][2];  // pixel column x, pixel row y

// ---------------------------------------------------------------------------
// World-file parameters

// Solves lon = A*x + B*y + C and lat = D*x + E*y + F through the first three
// points (coords[0..2], pixels[0..2]) by Cramer's rule, in double precision
// (pixel values are converted before any product, so nothing overflows), and
// stores A, D, B, E, C, F in out[0..5]: world-file line order. Further
// pairs and the three int32_t arguments are not read. Checks nothing and
// prints nothing: pixels on one line give infinite or NaN results.
void calibration2worldfile(int32_t, int32_t, const KalCoords coords, const KalPixels pixels,
                           int32_t, double out[6]);

// ---------------------------------------------------------------------------
// KAL records and lists
//
// A KAL text is a sequence of lines; a line is read in pieces of at most 1023
// characters (the rest of a longer line is read as a line of its own). Keys
// are exact, case-sensitive prefixes at the start of a line, tested in this
// order: "[Kalibrierung]" (a record begins, no point is current), "Bitmap = "
// (the rest of the line up to its first CR or LF is the image name),
// "[Calibration Point 1]" to "[Calibration Point 4]" (that point becomes
// current), "Size = " (parsed as "Size = SIZE(%ld,%ld)"); then, only while a
// point is current, "Longitude = " ("Longitude = %lf"), "Latitude = "
// ("Latitude = %lf") and "Pixel = POINT" ("Pixel = POINT(%d,%d)") set the
// current point. Everything else is ignored. A number that does not parse
// leaves its target, and every later target of that line, unchanged.

// Reads one KAL text to the end of the stream (not closed). Every point's
// coordinates and pixels start at zero; bitmap, width and height keep the
// caller's values unless a line sets them. The name is kept as the 8-bit text
// it is. count is the number of the last point header since the last
// "[Kalibrierung]", or -1 when there is none. Prints nothing.
// @return 1 when count is 2 or more, else 0.
int read_kal(std::FILE* stream, std::string& bitmap, int32_t& width, int32_t& height,
             KalCoords coords, KalPixels pixels, int32_t& count);

// Writes one KAL record to the stream (not closed): "[Kalibrierung]", the
// first count points (at most four), each "[Calibration Point N]" followed
// by an empty line, "Longitude = %.8lf", "Latitude = %.8lf" and
// "Pixel = POINT(%ld,%ld)"; then "Bitmap = %s" and "Size = SIZE(%ld,%ld)"
// without a line end. Write errors are the caller's to check on the stream.
// @return 1
int write_kal(std::FILE* stream, const std::string& bitmap, int32_t width, int32_t height,
              const KalCoords coords, const KalPixels pixels, int32_t count);

// Reads a stream of KAL records into map.tiles, one zeroed tile per
// "[Kalibrierung]" line; lines before the first one are ignored. A tile's
// name is the UTF-8 "Bitmap = " text converted to UTF-16 (invalid bytes
// become U+FFFD); its cal_count is the last point header read before that
// line within the record, or 0xFFFFFFFF when there is none. offset and size
// are left for the GMF assembly. At most 99,999 records: the 100,000th
// header prints "out of memory error, too many tiles" and stops.
// @return 1 when two or more records were read (tile_count = records);
//         0 for fewer (tile_count 0 or 1, a single record filled all the
//         same) and after a message (tile_count 0).
int read_kals(std::FILE* stream, GmfMap& map);

// Normalises the image directory in place (appends "/" unless empty) and
// sets every tile's size to the length of its image file directory + name
// (UTF-8), 0 when the file cannot be queried.
// @return 1; 0 after "GMF file too large ..." when an image does not fit a
//         32-bit size.
int gmf_get_bitmap_sizes(GmfMap& map, std::string& directory);

// Appends tile `index`'s image file (directory + name, exactly its recorded
// size in bytes) to the output stream `out`, with one read and one write,
// and flushes it.
// @return 1; 0 after one of "tile index %d out of range ...",
//         "can't open file %s", "out of memory error", "bitmap read error"
//         (also for an empty image or one shorter than its size) or
//         "GMF bitmap write error".
int gmf_write_entry_bitmap_from_directory(std::FILE* out, const GmfMap& map,
                                          std::string& directory, int32_t index);
