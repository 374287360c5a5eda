// format_gmf: the GMF map container. A GMF file holds an 8-byte header
// (version word, tile count), a directory with one entry per tile (name,
// data offset, width, height, 2 to 4 calibration points) and behind it every
// tile's image file, stored whole, in directory order. All integers are
// 32-bit little-endian words; coordinates are binary64; names are UTF-16LE.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "geotools.h"

static_assert(std::endian::native == std::endian::little,
              "GMF records are moved between file and memory as raw blocks");

// The format's limits, in one place.
inline constexpr uint32_t kGmfVersion = 0xFF000002u;
inline constexpr uint32_t kGmfMaxTiles = 100000;      // tiles per file: 1 ..
inline constexpr uint32_t kGmfMaxNameLength = 1023;   // UTF-16 units: 1 ..
inline constexpr uint32_t kGmfMinCalPoints = 2;
inline constexpr uint32_t kGmfMaxCalPoints = 4;
inline constexpr uint32_t kGmfHeaderSize = 8;
// Fixed part of a directory entry: name length, offset, width, height, count.
inline constexpr uint32_t kGmfEntryWords = 20;
// Stream buffer of a GMF file opened by gmf_open.
inline constexpr size_t kGmfReadBuffer = 256 * 1024;

// One calibration point: pixel column and row, longitude and latitude in
// degrees. Exactly the 24-byte record of the file.
struct CalPoint {
  uint32_t x;
  uint32_t y;
  double lon;
  double lat;
};
static_assert(sizeof(CalPoint) == 24, "CalPoint must match the file record");

// Corner slots of a tile after calibration_points_at_4_corners.
enum CornerSlot { kNorthWest = 0, kNorthEast = 1, kSouthWest = 2, kSouthEast = 3 };

// One directory entry.
struct GmfTile {
  uint32_t name_len = 0;  // name length in UTF-16 units; equals name.size()
  std::u16string name;    // the image file name, held exactly as stored
  uint32_t offset = 0;    // position of the image bytes in the GMF file
  uint32_t size = 0;      // length of the image bytes (derived, not stored)
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t cal_count = 0;  // 2 to 4 valid slots of cal
  CalPoint cal[4] = {};
};

// One GMF file in memory.
struct GmfMap {
  uint32_t version = 0;
  std::unique_ptr<char[]> file_buffer;  // gmf_open's stream buffer; outlives file
  FilePtr file;       // the open GMF stream; opened and closed by the caller
  std::string path;   // the GMF file's path; writers create this file
  uint32_t tile_count = 0;
  std::vector<GmfTile> tiles;  // tile_count tiles in directory order
  double min_lon = 0, max_lon = 0, min_lat = 0, max_lat = 0;  // see calculate_minmax_borders
};

// ---------------------------------------------------------------------------
// Reading

// Reads one 32-bit little-endian word. On a short read prints
// "GMF DWORD read error" and ends the process with status 1.
uint32_t fgetdword(std::FILE* stream);

// Reads n (>= 1) UTF-16 units into buffer and stores a zero unit behind them;
// the buffer has room for n + 1 units. On a short read prints
// "GMF WCHAR read error" and ends the process with status 1.
// @return 0
int fgetwstring(std::FILE* stream, char16_t* buffer, uint32_t n);

// Reads the header and directory of the open stream map.file (positioned at
// the start) into map and derives every tile's size. Checks the version, the
// tile count (1 to 100000), name lengths (1 to 1023), calibration counts
// (2 to 4), whole calibration records, and that data offsets never decrease
// and lie inside the file. Leaves the stream rewound to position 0.
// @return 1 on success; 0 after a message on standard error, with map.tiles
//         emptied. Short reads of words and names end the process (status 1).
int gmf_read(GmfMap& map);

// Opens the GMF file at `path` for reading into map.file (map.path = path)
// and reads its directory with gmf_read; the stream stays open.
// @return 1 on success; 0 after "can't open GMF file %s" when the file
//         cannot be opened, or after gmf_read's message and "read failed ..."
//         when its directory is refused.
int gmf_open(GmfMap& map, const std::string& path);

// ---------------------------------------------------------------------------
// Four-corner calibration and bounds

// Longitude and latitude steps per pixel from four points taken as NW, NE,
// SW, SE. The pixel sums are taken in signed arithmetic.
// @return false (steps untouched) when either pixel sum is zero or negative.
bool corner_pixel_steps(const CalPoint& nw, const CalPoint& ne, const CalPoint& sw,
                        const CalPoint& se, double& dlon, double& dlat);

// Moves four calibration points to the image corners (slots NW, NE, SW, SE
// at pixels (0,0), (W-1,0), (0,H-1), (W-1,H-1)) by extrapolating from the
// quadrant each point lies in around the points' mean. Eastern longitudes are
// extrapolated to column W and southern latitudes to row H. On failure prints
// "calibration points not in 4 quadrants ..." or "calibration pixel
// positions not in map order ..." and leaves cal unchanged.
void calibration_points_at_4_corners(CalPoint cal[4], uint32_t width, uint32_t height);

// Normalises every tile with exactly four points, in table order.
void all_calibration_points_at_4_corners(GmfMap& map);

// A copy of the tile's first four points, moved to the image corners as
// calibration_points_at_4_corners moves them; the tile is not changed.
// @return true when they were moved; false (after that operation's message)
//         with the four points as stored.
bool gmf_tile_corners(const GmfTile& tile, CalPoint corners[4]);

// The box of four corners in slot order NW, NE, SW, SE: each side is the
// mean of its two corners (north of NW and NE, west of NW and SW, ...).
struct GmfBox {
  double north, south, east, west;
};
GmfBox gmf_corner_box(const CalPoint corners[4]);

// Slot order of a tile's footprint ring: NW, NE, SE, SW, a clockwise walk
// around the corners in the longitude/latitude plane.
inline constexpr int kFootprintRing[4] = {kNorthWest, kNorthEast, kSouthEast, kSouthWest};

// Sets map's min/max longitude and latitude from the first cal_count points
// of every tile. Starts from +/-9999999.999; a NaN never becomes a bound.
void calculate_minmax_borders(GmfMap& map);

// ---------------------------------------------------------------------------
// Tile names as file names

// Converts the tile's name to UTF-8 for use as a file name inside a folder.
// A name is safe when it is not empty, ".", or "..", and holds no "/" and no
// zero unit.
// @return true with `name` set; false after "unsafe tile name %s" (the
//         converted name) on standard error.
bool gmf_tile_file_name(const GmfTile& tile, std::string& name);

// ---------------------------------------------------------------------------
// Tile containment

// Tells whether (lon, lat) lies inside the tile's footprint: a copy of its
// four points normalised to the image corners (the tile is not changed),
// taken as the ring NW, NE, SE, SW, NW. When the normalisation fails (its
// message is printed) the ring is built from the points as stored, in slot
// order 0, 1, 3, 2, 0.
// @return the result of isInsideP for that ring: 1 inside (west and south
//         borders included), -1 outside (east and north borders included),
//         0 on an edge crossed exactly; -1 without a message for a tile with
//         fewer than four points.
int isInsideTile(double lon, double lat, const GmfTile& tile);

// ---------------------------------------------------------------------------
// Tile extraction and tile-name cleaning

// Replaces every "=" among the first `len` units of `name` by "_" (units
// beyond the name's end are never touched). Nothing else changes.
void gmf_tile_filename_clean(std::u16string& name, uint32_t len);

// Cleans every tile name of `map`, in table order.
void gmf_all_tiles_filename_clean(GmfMap& map);

// Copies the image bytes of tile `index` (the caller keeps it below
// tile_count) from the open map.file into `directory` + the tile's file name
// (gmf_tile_file_name); "out", "out/" and "" (working folder) all work. An
// existing file is replaced. Leaves map.file behind the tile's bytes.
// @return 1 on success; 0 after one of these on standard error:
//   "out of memory error"            no buffer for the bytes, nothing created
//   "GMF bitmap read error"          bytes not read whole (also size 0),
//                                    nothing created
//   "unsafe tile name %s"            the name is no safe file name, nothing
//                                    created
//   "can't open map file %s"         the output path cannot be opened
//   "GMF bitmap write error"         a write or the close failed; the partial
//                                    file is removed
int bitmap_from_gmf(GmfMap& map, const std::string& directory, uint32_t index);

// ---------------------------------------------------------------------------
// Writing GMF files and KAL exports
//
// Every whole-file writer first checks everything it will write against what
// gmf_read accepts, before it creates anything: selection indices inside the
// source's tiles and counts not negative ("tile index %d out of range ..."),
// 1 to 100000 tiles ("number of tiles = %ld not accepted"), names of 1 to
// 1023 units ("stringsize exceeded, aborted ..."), 2 to 4 points ("number of
// calibration points should be in [2..4] ...") and every data offset inside
// 32 bits ("GMF file too large ..."). It then writes header, directory and
// image bytes in one forward pass into a temporary file beside the target,
// renamed into place when complete; on every failure the temporary file is
// removed and an earlier file at the target stays as it was. The
// destination map's `file` is not used: the temporary file owns the stream.

// Writes one 32-bit little-endian word. When it is not written whole prints
// "GMF DWORD write error" and ends the process with status 1.
void fwritedword(std::FILE* stream, uint32_t value);

// Writes n UTF-16 units (2n bytes, little-endian, no terminator) as one
// block. When the block is not written whole, or n is 0 or less, prints
// "GMF WCHAR write error" and ends the process with status 1.
void fwritewstring(std::FILE* stream, const char16_t* text, int32_t n);

// Writes the directory entry of source tile `index` with `offset` in place
// of the tile's own: name length, name, offset, width, height, point count
// and the first cal_count points.
// @return 1; 0 after "tile index %d out of range ...", "stringsize exceeded,
//         aborted ..." (name_len above 1023 or not the name's length),
//         "number of calibration points should be in [2..4] ..." (above 4) or
//         "GMF CP write error".
int gmf_write_entry_kal(std::FILE* out, const GmfMap& source, int32_t index, uint32_t offset);

// Copies source tile `index`'s image bytes (size bytes at offset of the
// stream `in`) to the current position of `out` through one heap buffer,
// and flushes `out`. A tile of size 0 copies nothing and succeeds.
// @return 1; 0 after "tile index %d out of range ...", "out of memory
//         error", "GMF bitmap read error" or "GMF bitmap write error".
int gmf_write_entry_bitmap(std::FILE* in, std::FILE* out, const GmfMap& source, int32_t index);

// Writes dest.path as a GMF file holding the source tiles named by `list`
// (count indices; repeats and any order allowed), or every tile in table
// order when list is null. Entries get fresh offsets: the image bytes lie
// back to back behind the directory in list order. Reads source.file.
// @return 1; 0 after a check message (see above), "can't open GMF file %s
//         for writing ...", or a failed entry or tile followed by
//         "GMF write error".
int copy_gmf_selected_bitmaps(const GmfMap& source, const GmfMap& dest, const int32_t* list,
                              int32_t count);

// Like copy_gmf_selected_bitmaps for two sources: first's selection in
// list1 order, then second's in list2 order, in one file.
int copy_gmf_selected_bitmaps_from_2_sources(const GmfMap& first, const GmfMap& second,
                                             const GmfMap& dest, const int32_t* list1,
                                             const int32_t* list2, int32_t count1,
                                             int32_t count2);

// Builds map.path from the tile table (as read_kals fills it) and one image
// file per tile in `directory` (normalised in place): records every tile's
// size and offset in the table, writes header and directory, then prints
// "write bitmap %ld: %s" (1-based number, UTF-8 name) on standard output
// and appends that tile's image, for every tile in table order.
// @return 1; 0 after a check message (see above), "can't open GMF file %s",
//         "GMF write error", or a failed image append (see
//         gmf_write_entry_bitmap_from_directory).
int gmf_write_bitmap_from_directory(GmfMap& map, std::string& directory);

// Writes tile's calibration as the KAL file directory + name with ".kal" in
// place of the name's extension: "[Kalibrierung]", the first cal_count
// points (at most four) as "[Calibration Point N]", "Longitude = %.8lf",
// "Latitude = %.8lf", "Pixel = POINT(%ld,%ld)", then "[Map]",
// "Bitmap = <UTF-8 name>" and "Size = SIZE(%ld,%ld)", each line ended. An
// earlier file at that path is replaced only by a complete one.
// @return 1; 0 after "unsafe tile name %s", "can't open KAL file %s" or
//         "can't write KAL file %s".
int write_gmf_entry_as_KAL(const GmfTile& tile, const std::string& directory);
