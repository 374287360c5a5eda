// Test support: GMF fixtures written byte by byte from the format's table
// (never through the library's writers), scratch folders, file helpers and a
// runner that starts a program and captures its output and exit status.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format_gmf.h"

namespace testutil {

// --- GMF fixtures ---------------------------------------------------------

// Little-endian byte appenders for hand-made (also malformed) files.
void put_u32(std::string& out, uint32_t v);
void put_f64(std::string& out, double v);
void put_u16s(std::string& out, const std::u16string& s);
void put_point(std::string& out, const CalPoint& p);

struct FixtureTile {
  std::u16string name = u"tile.bmp";
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<CalPoint> cal;  // written as they stand, count included
  std::string data;           // the image bytes
  std::optional<uint32_t> offset;  // default: data laid out back to back
};

// A complete GMF file: header, directory, then every tile's data in order.
std::string gmf_bytes(const std::vector<FixtureTile>& tiles);

// The four points of a tile that a simple affine map ties to a box: pixel
// (0,0) at (west, north), one pixel = (dlon, dlat) degrees. Points lie at
// (x0,y0), (x1,y0), (x0,y1), (x1,y1).
std::vector<CalPoint> box_points(double west, double north, double dlon, double dlat,
                                 uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1);

// --- files and folders ----------------------------------------------------

// A fresh scratch folder under the system's temp folder, removed when it goes.
struct TempDir {
  std::string path;
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string file(const std::string& name) const { return path + "/" + name; }
};

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);  // "" when missing
bool file_exists(const std::string& path);
std::vector<std::string> list_dir(const std::string& path);  // sorted names

std::vector<std::string> split_lines(const std::string& text);

// --- processes ------------------------------------------------------------

struct RunResult {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs program with args (argv[1..]) in folder cwd (or the current one),
// with standard input closed.
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::string& cwd = "");

}  // namespace testutil
