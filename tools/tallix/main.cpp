// tallix: prints a nine-line statistics report of a GMF file's directory:
// tile count, total pixels, longitude and latitude ranges, resolution ranges
// in degrees per pixel and tile size ranges.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "format_gmf.h"

namespace {

void usage() {
  std::fputs(
      "tallix, GMF statistics, 24.2.2007\n"
      "Syntax: tallix map.gmf > stat.txt\n"
      "Output: statistics, borders of GMF file\n",
      stderr);
}

struct Range {
  double min, max;
  // Strict comparisons: a NaN never becomes an extreme.
  void take(double v) {
    if (v < min) min = v;
    if (v > max) max = v;
  }
};

struct SizeRange {
  uint32_t min = 99999999, max = 0;
  void take(uint32_t v) {
    if (v < min) min = v;
    if (v > max) max = v;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    usage();
    return 2;
  }

  GmfMap map;
  if (!gmf_open(map, argv[1])) return 1;
  map.file.reset();
  all_calibration_points_at_4_corners(map);

  uint64_t pixels = 0;
  Range lon{9999999999.0, -9999999999.0}, lat{9999999999.0, -9999999999.0};
  Range res_lon{999999999999.0, -999999999999.0}, res_lat{999999999999.0, -999999999999.0};
  SizeRange width, height;

  for (const GmfTile& tile : map.tiles) {
    pixels += uint64_t{tile.width} * tile.height;  // a single tile may pass 2^32 pixels
    width.take(tile.width);
    height.take(tile.height);
    // Resolutions need four points with positive pixel sums; other tiles
    // have no defined resolution and leave the two ranges alone.
    double dlon, dlat;
    if (tile.cal_count == 4 &&
        corner_pixel_steps(tile.cal[kNorthWest], tile.cal[kNorthEast], tile.cal[kSouthWest],
                           tile.cal[kSouthEast], dlon, dlat)) {
      res_lon.take(dlon);
      res_lat.take(dlat);
    }
    for (uint32_t p = 0; p < tile.cal_count; ++p) {
      lon.take(tile.cal[p].lon);
      lat.take(tile.cal[p].lat);
    }
  }

  std::printf("name=%s\n", map.path.c_str());
  std::printf("tiles=%ld\n", static_cast<long>(map.tile_count));
  std::printf("pixels=%" PRIu64 "\n", pixels);
  std::printf("xrange=%.8lf,%.8lf\n", lon.min, lon.max);
  std::printf("yrange=%.8lf,%.8lf\n", lat.min, lat.max);
  std::printf("resxrange=%.15lf,%.15lf\n", res_lon.min, res_lon.max);
  std::printf("resyrange=%.15lf,%.15lf\n", res_lat.min, res_lat.max);
  std::printf("tsizex=%ld,%ld\n", static_cast<long>(width.min), static_cast<long>(width.max));
  std::printf("tsizey=%ld,%ld\n", static_cast<long>(height.min), static_cast<long>(height.max));
  // The tile table goes back to the system with the process, not tile by
  // tile: exit() leaves main's map in place.
  std::exit(std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1);
}
