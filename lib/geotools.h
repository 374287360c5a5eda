// geotools: the small helpers every part of the library and the programs
// share: the owner type for stdio streams, the one UTF-16/UTF-8 converter,
// the "write beside, then rename into place" helper, and text and path
// helpers. Nothing here prints unless its comment says so.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// ---------------------------------------------------------------------------
// Streams

struct FileCloser {
  void operator()(std::FILE* f) const noexcept {
    if (f) std::fclose(f);
  }
};
// Owns one stdio stream and closes it when it goes.
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` with fopen's `mode`; null when it cannot be opened.
FilePtr open_file(const std::string& path, const char* mode);

// Flushes and closes the stream and gives it up.
// @return true when every buffered byte reached the file and the close worked.
bool close_file_checked(FilePtr& file);

// Reads `size` bytes at absolute position `offset` of the stream: one
// positioned read on a file, a seek and a read on any other stream. The
// stream's own position and buffer are not used.
// @return true when all `size` bytes were read.
bool read_block_at(std::FILE* stream, void* buffer, size_t size, int64_t offset);

// Removes the file at `path` if it is a regular file; a device or other
// special file that carries the name is left alone. Used to take back a
// file whose writing failed.
void remove_partial_file(const std::string& path);

// ---------------------------------------------------------------------------
// A file written beside its target and renamed into place when complete, so
// an earlier file of that name is never emptied or left half-written. The
// temporary file is removed when the struct goes without a commit, and when
// the process ends through exit() before the commit.

struct PendingFile {
  std::string target;     // final path
  std::string temp_path;  // the temporary file beside it, "" when none
  FilePtr file;           // open for writing while pending

  PendingFile() = default;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile();
};

// Creates a new temporary file in the folder of `target` (its name is the
// target's name followed by ".XXXXXX") and opens it for writing.
// @return true on success; false when the folder does not take a new file.
bool pending_file_open(PendingFile& pending, const std::string& target);

// Closes the temporary file (checking that every byte was written) and
// renames it onto the target.
// @return true on success; on failure the temporary file is removed and the
//         target is left as it was.
bool pending_file_commit(PendingFile& pending);

// Closes and removes the temporary file; the target is left as it was.
void pending_file_discard(PendingFile& pending);

// ---------------------------------------------------------------------------
// Text encodings. Tile names are UTF-16 in GMF files and in memory; wherever a
// name becomes 8-bit text it goes through these two functions, so file names,
// hrefs, KAL text and progress lines always agree.

// UTF-16 to UTF-8. Surrogate pairs combine; an unpaired surrogate becomes
// U+FFFD. A zero unit is kept as a zero byte.
std::string utf16_to_utf8(std::u16string_view text);

// UTF-8 to UTF-16. Every byte that does not start or continue a valid,
// shortest-form sequence of a scalar value becomes U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);

// ---------------------------------------------------------------------------
// Text, path and file-size helpers. "/" is the only directory separator.

// Cuts the text at its first CR or LF.
void stripcr(std::string& text);

// Cuts the extension (from the last "." on) off the last path component.
// A component with no "." after its first character is left unchanged.
// @return the index of the removed dot; 0 when nothing was removed;
//         -1 for an empty text.
int stripextension(std::string& text);

// @return a copy of `source` in which every occurrence of `pattern`, found
//         left to right without overlap, is replaced; text written as a
//         replacement is never searched again. An empty pattern gives a plain
//         copy.
std::string str_replace(std::string_view source, std::string_view pattern,
                        std::string_view replacement);

// @return the size in bytes of the file at `path`, or 0 when its status
//         cannot be obtained. 64-bit: callers that need a 32-bit size refuse
//         larger files themselves.
int64_t get_filesize(const std::string& path);

// Appends "/" unless the text is empty or already ends in "/".
// @return the length of the text on entry.
int correct_directory_string(std::string& directory);

// ---------------------------------------------------------------------------
// Point-in-polygon and OVL selection areas

// Tells where the point (px, py) lies against the polygon of n vertices
// (x[i], y[i]); the outline is closed from the last vertex back to the first.
// Counts the quadrant steps of the outline around the point; a vertex on the
// point's horizontal or vertical line counts to the lower or left side, so
// bottom and left edges are inside, top and right edges outside.
// @return 1 when the outline winds once around the point (either direction);
//         -1 when it does not, and for n <= 0 (the arrays are then not read);
//         0 when an edge between opposite quadrants crosses the point's
//         horizontal line exactly at px;
//         otherwise the raw quadrant count: 8 / -8 for two turns, 12 / -12
//         for three and so on, positive for a counter-clockwise outline.
int isInsideP(double px, double py, const double* x, const double* y, int32_t n);

inline constexpr int32_t kOvlMaxAreas = 1000;   // areas per table
inline constexpr int32_t kOvlMaxPoints = 999;   // points per area: slots 0 .. 998

// Polygon areas read from an OVL file. Area j has area_points[j] points; its
// coordinates are area_x[j][i], area_y[j][i] for i below area_points[j], in
// the form isInsideP takes. A begun area holds kOvlMaxPoints values in each
// array, zero where no coordinate line wrote.
struct SelectionAreas {
  int32_t area_count = 0;  // set only by a successful read
  std::array<std::vector<double>, kOvlMaxAreas> area_x;
  std::array<std::vector<double>, kOvlMaxAreas> area_y;
  std::array<int32_t, kOvlMaxAreas> area_points{};
};

// Reads the polygonal symbol sections of an OVL file into `areas`. Lines are
// read in pieces of at most 1023 characters, each piece examined as a line:
//   "[Symbol "        begins a new area (every section counts, whatever its
//                     type); lines before the first one are ignored;
//   "Typ=3", "Typ=4"  switches collecting on until the next section;
//   "XKoord%d=%lf"    while collecting: index and x value;
//   "YKoord%d=%lf"    while collecting: index and y value.
// A coordinate line whose index is greater than the current slot moves the
// slot forward by exactly one; its value goes into the current slot. The
// last index and the last x and y values carry over to lines that do not
// parse, and from one area to the next.
// @return 1 when at least one area was read, with area_count set; 0 after one
//         of these messages on standard error:
//         "cannot open OVL file (%s)...\n"            (table untouched)
//         "malloc: out of memory error\n"
//         "too many areas in OVL file (%s) ...\n"     (a 1001st section)
//         "area limit: out of memory error\n"         (a point index 999)
//         "no polygonal areas in OVL file (%s) ...\n" (no section at all)
//         After a failure the areas begun so far stay in the table and
//         area_count is left as it was. The file is closed on every path.
int read_ovl_selection_areas(const std::string& path, SelectionAreas& areas);

// ---------------------------------------------------------------------------
// Degree ranges and metric lengths

// Pi with ten significant digits. The degree-to-radian factor below and the
// converter's rotation formula both rest on this value, not on a more precise
// pi; the difference shows near the poles.
inline constexpr double kPiTenDigits = 3.141592654;
// 3.141592654 / 180, stored as the nearest double.
inline constexpr double kDegreeToRadian = 0.017453292522222223;
// Metres per degree of latitude, and per degree of longitude at the equator.
inline constexpr double kMetresPerDegree = 111325.0;

// @return 1 when -180 <= longitude <= 180, else 0 (also for NaN).
int is_degree_long(double longitude);

// @return 1 when -90 <= latitude <= 90, else 0 (also for NaN).
int is_degree_lat(double latitude);

// East-west distance in metres of the longitude difference `dlon` measured at
// `latitude` (both in degrees): cos(latitude) * 111325 * dlon. Nothing is
// checked or folded across the 180 meridian; the sign follows dlon except at
// the poles, where the ten-digit pi gives a tiny negative cosine.
double len_x(double dlon, double latitude);

// North-south distance in metres of the latitude difference `dlat` (degrees).
double len_y(double dlat);
