// make_sample_map: draws a small synthetic map (a 3 x 2 grid of calibrated
// 24-bit BMP tiles over longitudes 10 to 11.5 and latitudes 50 to 51) and
// writes the tiles and one KAL list describing them; the GMF file is then
// built from that list and the tile folder by the library.
//
//   make_sample_map OUTDIR     -> OUTDIR/tiles/*.bmp, OUTDIR/sample.kal,
//                                 OUTDIR/sample.gmf
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "format_gmf.h"
#include "format_kal.h"

namespace {

constexpr int kCols = 3, kRows = 2;
constexpr uint32_t kTileW = 256, kTileH = 192;
constexpr double kWest = 10.0, kNorth = 51.0;
constexpr double kTileLon = 0.5, kTileLat = 0.5;

void put16(std::string& b, uint32_t v) {
  b += char(v & 0xFF);
  b += char((v >> 8) & 0xFF);
}
void put32(std::string& b, uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}

// A 24-bit bottom-up BMP: a colour ramp per tile, a darker graticule every
// 0.1 degrees, and the tile's own border.
std::string draw_tile(int col, int row) {
  const uint32_t stride = (kTileW * 3 + 3) & ~3u;
  std::string b = "BM";
  put32(b, 54 + stride * kTileH);
  put32(b, 0);
  put32(b, 54);
  put32(b, 40);
  put32(b, kTileW);
  put32(b, kTileH);
  put16(b, 1);
  put16(b, 24);
  put32(b, 0);
  put32(b, stride * kTileH);
  put32(b, 2835);
  put32(b, 2835);
  put32(b, 0);
  put32(b, 0);
  for (uint32_t yb = 0; yb < kTileH; ++yb) {
    const uint32_t y = kTileH - 1 - yb;  // rows are stored bottom-up
    std::string line;
    for (uint32_t x = 0; x < kTileW; ++x) {
      const double lon = kWest + (col + (x + 0.5) / kTileW) * kTileLon;
      const double lat = kNorth - (row + (y + 0.5) / kTileH) * kTileLat;
      bool grid = std::fmod(lon * 10 + 1e-9, 1.0) < 0.02 || std::fmod(lat * 10 + 1e-9, 1.0) < 0.03;
      bool edge = x == 0 || y == 0 || x == kTileW - 1 || y == kTileH - 1;
      unsigned r = 60 + 60 * col + x * 60 / kTileW, g = 110 + 70 * row + y * 60 / kTileH,
               bl = 200 - 40 * col;
      if (grid) r /= 2, g /= 2, bl /= 2;
      if (edge) r = 255, g = 255, bl = 255;
      line += char(bl);
      line += char(g);
      line += char(r);
    }
    line.resize(stride, '\0');
    b += line;
  }
  return b;
}

// Four calibration points inside the tile, in pixel order NW, NE, SW, SE.
std::vector<CalPoint> tile_points(int col, int row) {
  std::vector<CalPoint> cal;
  for (uint32_t y : {16u, kTileH - 16})
    for (uint32_t x : {32u, kTileW - 32}) {
      const double lon = kWest + (col + double(x) / kTileW) * kTileLon;
      const double lat = kNorth - (row + double(y) / kTileH) * kTileLat;
      cal.push_back({x, y, lon, lat});
    }
  return cal;
}

bool write_bytes(const std::string& path, const std::string& bytes) {
  FilePtr f = open_file(path, "wb");
  if (!f) return false;
  std::fwrite(bytes.data(), 1, bytes.size(), f.get());
  return close_file_checked(f);
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

  // The tiles and one KAL record per tile, written through the library.
  FilePtr kal = open_file(out + "/sample.kal", "w");
  if (!kal) {
    std::fprintf(stderr, "cannot write %s/sample.kal\n", out.c_str());
    return 1;
  }
  for (int row = 0; row < kRows; ++row)
    for (int col = 0; col < kCols; ++col) {
      char name[32];
      std::snprintf(name, sizeof name, "sample_r%d_c%d.bmp", row, col);
      if (!write_bytes(out + "/tiles/" + name, draw_tile(col, row))) {
        std::fprintf(stderr, "cannot write %s/tiles/%s\n", out.c_str(), name);
        return 1;
      }
      const std::vector<CalPoint> cal = tile_points(col, row);
      KalCoords coords;
      KalPixels pixels;
      for (int n = 0; n < 4; ++n) {
        coords[n][0] = cal[n].lon;
        coords[n][1] = cal[n].lat;
        pixels[n][0] = static_cast<int32_t>(cal[n].x);
        pixels[n][1] = static_cast<int32_t>(cal[n].y);
      }
      write_kal(kal.get(), name, kTileW, kTileH, coords, pixels, 4);
      std::fputs("\n", kal.get());  // a record ends without a line end
    }
  if (!close_file_checked(kal)) {
    std::fprintf(stderr, "cannot write %s/sample.kal\n", out.c_str());
    return 1;
  }

  // The GMF file, built from the KAL list and the folder of tiles.
  GmfMap map;
  FilePtr list = open_file(out + "/sample.kal", "r");
  if (!list || !read_kals(list.get(), map)) {
    std::fprintf(stderr, "cannot read %s/sample.kal\n", out.c_str());
    return 1;
  }
  map.path = out + "/sample.gmf";
  std::string tiles = out + "/tiles";
  if (!gmf_write_bitmap_from_directory(map, tiles)) return 1;
  std::printf("sample map: %s/sample.gmf (%lu tiles; images in %s/tiles, KAL list %s/sample.kal)\n",
              out.c_str(), static_cast<unsigned long>(map.tile_count), out.c_str(), out.c_str());
  return 0;
}
