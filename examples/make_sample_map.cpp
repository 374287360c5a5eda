// make_sample_map: draws a small synthetic map and writes its tiles and one
// KAL list describing them; `gmfkit pack` then builds the GMF file from the
// list and the tile folder. All tiles are 24-bit BMP:
//   - a 3 x 2 grid of 256 x 192 tiles over longitudes 10 to 11.5 and
//     latitudes 50 to 51, four calibration points each;
//   - an inset tile over the middle of the map, turned about 10 degrees
//     counter-clockwise, four calibration points;
//   - a small tile with only two calibration points.
//
//   make_sample_map OUTDIR     -> OUTDIR/tiles/*.bmp, OUTDIR/sample.kal
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "format_gmf.h"
#include "format_kal.h"

namespace {

constexpr int kCols = 3, kRows = 2;
constexpr uint32_t kTileW = 256, kTileH = 192;
constexpr double kWest = 10.0, kNorth = 51.0;
constexpr double kTileLon = 0.5, kTileLat = 0.5;

// The inset: 128 x 96 pixels of 150 m, centred on 10.75 / 50.5, turned by
// 10 degrees in metres (as a viewer shows it).
constexpr uint32_t kInsetW = 128, kInsetH = 96;
constexpr double kInsetLon = 10.75, kInsetLat = 50.5, kInsetPixel = 150, kInsetTurn = 10;
constexpr double kMetresPerDegree = 111325, kPi = 3.14159265358979323846;

// The two-point tile: 64 x 48 pixels over 10.1 to 10.3 east, 50.1 to 50.2 north.
constexpr uint32_t kSmallW = 64, kSmallH = 48;
constexpr double kSmallWest = 10.1, kSmallNorth = 50.2, kSmallLon = 0.2, kSmallLat = 0.1;

struct LonLat {
  double lon, lat;
};
struct Rgb {
  unsigned r, g, b;
};

void put16(std::string& b, uint32_t v) {
  b += char(v & 0xFF);
  b += char((v >> 8) & 0xFF);
}
void put32(std::string& b, uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}

// A 24-bit bottom-up BMP; `pixel` gives the colour of pixel (x, y), y from the top.
std::string draw_bmp(uint32_t w, uint32_t h, const std::function<Rgb(uint32_t, uint32_t)>& pixel) {
  const uint32_t stride = (w * 3 + 3) & ~3u;
  std::string b = "BM";
  put32(b, 54 + stride * h);
  put32(b, 0);
  put32(b, 54);
  put32(b, 40);
  put32(b, w);
  put32(b, h);
  put16(b, 1);
  put16(b, 24);
  put32(b, 0);
  put32(b, stride * h);
  put32(b, 2835);
  put32(b, 2835);
  put32(b, 0);
  put32(b, 0);
  for (uint32_t yb = 0; yb < h; ++yb) {
    const uint32_t y = h - 1 - yb;  // rows are stored bottom-up
    std::string line;
    for (uint32_t x = 0; x < w; ++x) {
      const Rgb c = pixel(x, y);
      line += char(c.b);
      line += char(c.g);
      line += char(c.r);
    }
    line.resize(stride, '\0');
    b += line;
  }
  return b;
}

// A darker graticule every 0.1 degrees.
bool on_graticule(LonLat p) {
  return std::fmod(p.lon * 10 + 1e-9, 1.0) < 0.02 || std::fmod(p.lat * 10 + 1e-9, 1.0) < 0.03;
}

// Pixel positions are edges: pixel (x, y) covers (x .. x+1, y .. y+1).
LonLat grid_at(int col, int row, double x, double y) {
  return {kWest + (col + x / kTileW) * kTileLon, kNorth - (row + y / kTileH) * kTileLat};
}

LonLat inset_at(double x, double y) {
  const double turn = kInsetTurn * kPi / 180;
  const double u = (x - kInsetW / 2.0) * kInsetPixel, v = (kInsetH / 2.0 - y) * kInsetPixel;
  const double east = u * std::cos(turn) - v * std::sin(turn);
  const double north = u * std::sin(turn) + v * std::cos(turn);
  return {kInsetLon + east / (kMetresPerDegree * std::cos(kInsetLat * kPi / 180)),
          kInsetLat + north / kMetresPerDegree};
}

LonLat small_at(double x, double y) {
  return {kSmallWest + x / kSmallW * kSmallLon, kSmallNorth - y / kSmallH * kSmallLat};
}

// A colour ramp per tile, the graticule, and the tile's own white border.
std::string draw_tile(uint32_t w, uint32_t h, const std::function<LonLat(double, double)>& at,
                      Rgb base) {
  return draw_bmp(w, h, [&](uint32_t x, uint32_t y) {
    if (x == 0 || y == 0 || x == w - 1 || y == h - 1) return Rgb{255, 255, 255};
    Rgb c{base.r + x * 60 / w, base.g + y * 60 / h, base.b};
    if (on_graticule(at(x + 0.5, y + 0.5))) c = {c.r / 2, c.g / 2, c.b / 2};
    return c;
  });
}

bool write_bytes(const std::string& path, const std::string& bytes) {
  FilePtr f = open_file(path, "wb");
  if (!f) return false;
  std::fwrite(bytes.data(), 1, bytes.size(), f.get());
  return close_file_checked(f);
}

// One tile: its image into OUTDIR/tiles and its KAL record onto the list,
// with the calibration points at the given pixels.
struct SampleTile {
  std::string name;
  uint32_t width, height;
  std::function<LonLat(double, double)> at;
  Rgb base;
  std::vector<std::pair<uint32_t, uint32_t>> points;
};

bool write_tile(const std::string& out, std::FILE* kal, const SampleTile& t) {
  if (!write_bytes(out + "/tiles/" + t.name, draw_tile(t.width, t.height, t.at, t.base))) {
    std::fprintf(stderr, "cannot write %s/tiles/%s\n", out.c_str(), t.name.c_str());
    return false;
  }
  KalCoords coords = {};
  KalPixels pixels = {};
  for (size_t n = 0; n < t.points.size(); ++n) {
    const LonLat p = t.at(t.points[n].first, t.points[n].second);
    coords[n][0] = p.lon;
    coords[n][1] = p.lat;
    pixels[n][0] = static_cast<int32_t>(t.points[n].first);
    pixels[n][1] = static_cast<int32_t>(t.points[n].second);
  }
  write_kal(kal, t.name, t.width, t.height, coords, pixels, static_cast<int32_t>(t.points.size()));
  std::fputs("\n", kal);  // a record ends without a line end
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Syntax: make_sample_map OUTDIR\n", stderr);
    return 2;
  }
  const std::string out = argv[1];
  mkdir(out.c_str(), 0777);
  mkdir((out + "/tiles").c_str(), 0777);

  FilePtr kal = open_file(out + "/sample.kal", "w");
  if (!kal) {
    std::fprintf(stderr, "cannot write %s/sample.kal\n", out.c_str());
    return 1;
  }
  std::vector<SampleTile> tiles;
  for (int row = 0; row < kRows; ++row)
    for (int col = 0; col < kCols; ++col) {
      char name[32];
      std::snprintf(name, sizeof name, "sample_r%d_c%d.bmp", row, col);
      tiles.push_back({name, kTileW, kTileH,
                       [col, row](double x, double y) { return grid_at(col, row, x, y); },
                       Rgb{60 + 60u * col, 110 + 70u * row, 200 - 40u * col},
                       {{32, 16}, {kTileW - 32, 16}, {32, kTileH - 16}, {kTileW - 32, kTileH - 16}}});
    }
  tiles.push_back({"sample_inset_rot10.bmp", kInsetW, kInsetH, inset_at, Rgb{190, 120, 40},
                   {{16, 12}, {kInsetW - 16, 12}, {16, kInsetH - 12}, {kInsetW - 16, kInsetH - 12}}});
  tiles.push_back({"sample_two_points.bmp", kSmallW, kSmallH, small_at, Rgb{120, 60, 160},
                   {{8, 8}, {kSmallW - 8, kSmallH - 8}}});
  for (const SampleTile& t : tiles)
    if (!write_tile(out, kal.get(), t)) return 1;
  if (!close_file_checked(kal)) {
    std::fprintf(stderr, "cannot write %s/sample.kal\n", out.c_str());
    return 1;
  }
  std::printf("sample map: %lu tiles in %s/tiles, KAL list %s/sample.kal\n",
              static_cast<unsigned long>(tiles.size()), out.c_str(), out.c_str());
  return 0;
}
