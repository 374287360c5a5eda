// geotools: the small helpers every part of the library and the programs
// share: the owner type for stdio streams, the one UTF-16/UTF-8 converter,
// the "write beside, then rename into place" helper, and text and path
// helpers. Nothing here prints unless its comment says so.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

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
