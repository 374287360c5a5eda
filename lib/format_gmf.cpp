#include "format_gmf.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>

#include <sys/stat.h>

// ---------------------------------------------------------------------------
// Reading

uint32_t fgetdword(std::FILE* stream) {
  unsigned char b[4];
  if (std::fread(b, 1, 4, stream) != 4) {
    std::fputs("GMF DWORD read error\n", stderr);
    std::exit(1);
  }
  return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}

int fgetwstring(std::FILE* stream, char16_t* buffer, uint32_t n) {
  if (n == 0 || std::fread(buffer, 2 * size_t{n}, 1, stream) != 1) {
    std::fputs("GMF WCHAR read error\n", stderr);
    std::exit(1);
  }
  buffer[n] = 0;
  return 0;
}

namespace {

// Gives up a partly read table and reports failure.
int fail_read(GmfMap& map, const char* message) {
  std::fputs(message, stderr);
  std::vector<GmfTile>().swap(map.tiles);
  map.tile_count = 0;
  return 0;
}

}  // namespace

int gmf_read(GmfMap& map) {
  std::FILE* f = map.file.get();

  map.version = fgetdword(f);
  if (map.version != kGmfVersion) {
    std::fprintf(stderr, "only GMF version %0x currently supported\n", kGmfVersion);
    return 0;
  }
  map.tile_count = fgetdword(f);
  if (map.tile_count - 1 > kGmfMaxTiles - 1) {
    std::fprintf(stderr, "number of tiles = %ld not accepted\n",
                 static_cast<long>(static_cast<int32_t>(map.tile_count)));
    return 0;
  }

  try {
    std::vector<GmfTile>(map.tile_count).swap(map.tiles);
  } catch (const std::bad_alloc&) {
    return fail_read(map, "out of memory error\n");
  }

  for (GmfTile& tile : map.tiles) {
    tile.name_len = fgetdword(f);
    if (tile.name_len - 1 > kGmfMaxNameLength - 1)
      return fail_read(map, "stringsize exceeded, aborted ...\n");
    try {
      tile.name.resize(tile.name_len);
    } catch (const std::bad_alloc&) {
      return fail_read(map, "out of memory error\n");
    }
    fgetwstring(f, tile.name.data(), tile.name_len);
    tile.offset = fgetdword(f);
    tile.width = fgetdword(f);
    tile.height = fgetdword(f);
    tile.cal_count = fgetdword(f);
    if (tile.cal_count - kGmfMinCalPoints > kGmfMaxCalPoints - kGmfMinCalPoints)
      return fail_read(map, "number of calibration points should be in [2..4] ...\n");
    if (std::fread(tile.cal, sizeof(CalPoint), tile.cal_count, f) != tile.cal_count)
      return fail_read(map, "GMF calibration entry read error\n");
  }

  // Image data lies in directory order behind the directory: offsets never
  // decrease, and the last tile runs to the end of the file. Anything else
  // would give sizes that point outside the file or wrap around.
  const char* bad_offsets = "tile data offsets out of order or outside the file ...\n";
  if (fseeko(f, 0, SEEK_END) != 0) return fail_read(map, bad_offsets);
  const int64_t file_length = ftello(f);
  const GmfTile& last = map.tiles.back();
  if (file_length < 0 || last.offset > file_length ||
      file_length - last.offset > int64_t{UINT32_MAX})
    return fail_read(map, bad_offsets);
  for (size_t i = 0; i + 1 < map.tiles.size(); ++i) {
    if (map.tiles[i + 1].offset < map.tiles[i].offset) return fail_read(map, bad_offsets);
    map.tiles[i].size = map.tiles[i + 1].offset - map.tiles[i].offset;
  }
  map.tiles.back().size = static_cast<uint32_t>(file_length - last.offset);
  std::rewind(f);
  return 1;
}

// ---------------------------------------------------------------------------
// Four-corner calibration and bounds

bool corner_pixel_steps(const CalPoint& nw, const CalPoint& ne, const CalPoint& sw,
                        const CalPoint& se, double& dlon, double& dlat) {
  const int64_t x_sum = (int64_t{ne.x} - nw.x) + (int64_t{se.x} - sw.x);
  const int64_t y_sum = (int64_t{sw.y} - nw.y) + (int64_t{se.y} - ne.y);
  if (x_sum <= 0 || y_sum <= 0) return false;
  dlon = std::fabs((ne.lon - nw.lon) + (se.lon - sw.lon)) / static_cast<double>(x_sum);
  dlat = std::fabs((nw.lat - sw.lat) + (ne.lat - se.lat)) / static_cast<double>(y_sum);
  return true;
}

void calibration_points_at_4_corners(CalPoint cal[4], uint32_t width, uint32_t height) {
  const CalPoint in[4] = {cal[0], cal[1], cal[2], cal[3]};
  const double mean_lon = (in[1].lon + in[0].lon + in[2].lon + in[3].lon) * 0.25;
  const double mean_lat = (in[1].lat + in[0].lat + in[2].lat + in[3].lat) * 0.25;

  // One point per quadrant around the mean; comparisons are strict, so a
  // point on a mean (or a NaN) falls into none.
  CalPoint quad[4] = {};
  bool found[4] = {};
  for (const CalPoint& p : in) {
    int q = -1;
    if (p.lon < mean_lon && p.lat > mean_lat) q = kNorthWest;
    else if (p.lon > mean_lon && p.lat > mean_lat) q = kNorthEast;
    else if (p.lon < mean_lon && p.lat < mean_lat) q = kSouthWest;
    else if (p.lon > mean_lon && p.lat < mean_lat) q = kSouthEast;
    if (q >= 0) {
      quad[q] = p;
      found[q] = true;
    }
  }
  if (!(found[0] && found[1] && found[2] && found[3])) {
    std::fputs("calibration points not in 4 quadrants ...\n", stderr);
    return;
  }

  const CalPoint& nw = quad[kNorthWest];
  const CalPoint& ne = quad[kNorthEast];
  const CalPoint& sw = quad[kSouthWest];
  const CalPoint& se = quad[kSouthEast];
  double dlon = 0, dlat = 0;
  if (!corner_pixel_steps(nw, ne, sw, se, dlon, dlat)) {
    std::fputs("calibration pixel positions not in map order ...\n", stderr);
    return;
  }

  const double w = width, h = height;
  cal[kNorthWest] = {0, 0, nw.lon - nw.x * dlon, nw.lat + nw.y * dlat};
  cal[kNorthEast] = {width - 1, 0, ne.lon + (w - ne.x) * dlon, ne.lat + ne.y * dlat};
  cal[kSouthWest] = {0, height - 1, sw.lon - sw.x * dlon, sw.lat - (h - sw.y) * dlat};
  cal[kSouthEast] = {width - 1, height - 1, se.lon + (w - se.x) * dlon,
                     se.lat - (h - se.y) * dlat};
}

void all_calibration_points_at_4_corners(GmfMap& map) {
  for (uint32_t i = 0; i < map.tile_count; ++i) {
    GmfTile& tile = map.tiles[i];
    if (tile.cal_count == 4) calibration_points_at_4_corners(tile.cal, tile.width, tile.height);
  }
}

void calculate_minmax_borders(GmfMap& map) {
  map.min_lon = map.min_lat = 9999999.999;
  map.max_lon = map.max_lat = -9999999.999;
  for (uint32_t i = 0; i < map.tile_count; ++i) {
    const GmfTile& tile = map.tiles[i];
    for (uint32_t p = 0; p < tile.cal_count && p < 4; ++p) {
      const CalPoint& c = tile.cal[p];
      if (c.lon > map.max_lon) map.max_lon = c.lon;
      if (c.lon < map.min_lon) map.min_lon = c.lon;
      if (c.lat > map.max_lat) map.max_lat = c.lat;
      if (c.lat < map.min_lat) map.min_lat = c.lat;
    }
  }
}

// ---------------------------------------------------------------------------
// Tile names as file names

bool gmf_tile_file_name(const GmfTile& tile, std::string& name) {
  name = utf16_to_utf8(tile.name);
  if (name.empty() || name == "." || name == ".." ||
      name.find_first_of(std::string_view("/\0", 2)) != std::string::npos) {
    std::fprintf(stderr, "unsafe tile name %s\n", name.c_str());
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Tile containment

int isInsideTile(double lon, double lat, const GmfTile& tile) {
  // Only a four-point tile has a footprint; the spare slots of others hold
  // no points.
  if (tile.cal_count < 4) return -1;
  CalPoint corners[4] = {tile.cal[0], tile.cal[1], tile.cal[2], tile.cal[3]};
  calibration_points_at_4_corners(corners, tile.width, tile.height);
  static constexpr int kRing[5] = {kNorthWest, kNorthEast, kSouthEast, kSouthWest, kNorthWest};
  double x[5], y[5];
  for (int i = 0; i < 5; ++i) {
    x[i] = corners[kRing[i]].lon;
    y[i] = corners[kRing[i]].lat;
  }
  return isInsideP(lon, lat, x, y, 5);
}

// ---------------------------------------------------------------------------
// Tile extraction and tile-name cleaning

void gmf_tile_filename_clean(std::u16string& name, uint32_t len) {
  const size_t n = std::min<size_t>(len, name.size());
  for (size_t i = 0; i < n; ++i)
    if (name[i] == u'=') name[i] = u'_';
}

void gmf_all_tiles_filename_clean(GmfMap& map) {
  for (uint32_t i = 0; i < map.tile_count; ++i)
    gmf_tile_filename_clean(map.tiles[i].name, map.tiles[i].name_len);
}

int bitmap_from_gmf(GmfMap& map, const std::string& directory, uint32_t index) {
  const GmfTile& tile = map.tiles[index];

  // One heap buffer per tile, left uninitialised: it is filled by one read.
  std::unique_ptr<char[]> buffer;
  try {
    buffer.reset(new char[tile.size]);
  } catch (const std::bad_alloc&) {
    std::fputs("out of memory error\n", stderr);
    return 0;
  }

  std::FILE* in = map.file.get();
  if (tile.size == 0 || fseeko(in, static_cast<off_t>(tile.offset), SEEK_SET) != 0 ||
      std::fread(buffer.get(), tile.size, 1, in) != 1) {
    std::fputs("GMF bitmap read error\n", stderr);
    return 0;
  }

  std::string name;
  if (!gmf_tile_file_name(tile, name)) return 0;
  std::string path = directory;
  correct_directory_string(path);
  path += name;

  FilePtr out = open_file(path, "wb");
  if (!out) {
    std::fprintf(stderr, "can't open map file %s\n", path.c_str());
    return 0;
  }
  // Unbuffered: the bytes go from our buffer to the file in one write,
  // without a second copy in a stdio buffer.
  std::setvbuf(out.get(), nullptr, _IONBF, 0);
  struct stat st;
  const bool regular = fstat(fileno(out.get()), &st) == 0 && S_ISREG(st.st_mode);
  const bool written = std::fwrite(buffer.get(), tile.size, 1, out.get()) == 1;
  if (!close_file_checked(out) || !written) {
    std::fputs("GMF bitmap write error\n", stderr);
    // Only a regular file that we just filled is ours to remove; a device or
    // other special file named like the tile is left alone.
    if (regular) std::remove(path.c_str());
    return 0;
  }
  return 1;
}
