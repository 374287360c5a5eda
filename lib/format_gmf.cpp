#include "format_gmf.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>


#include "format_kal.h"

// ---------------------------------------------------------------------------
// Reading

// The directory is read field by field from the stream's buffer. A stream
// is used by one thread only, so the unlocked stdio calls are safe, and a
// word costs four buffer reads instead of a full fread.
namespace {

inline uint32_t read_dword(std::FILE* stream) {
  const int b0 = getc_unlocked(stream), b1 = getc_unlocked(stream), b2 = getc_unlocked(stream),
            b3 = getc_unlocked(stream);
  if ((b0 | b1 | b2 | b3) < 0) {
    std::fputs("GMF DWORD read error\n", stderr);
    std::exit(1);
  }
  return uint32_t(b0) | uint32_t(b1) << 8 | uint32_t(b2) << 16 | uint32_t(b3) << 24;
}

}  // namespace

uint32_t fgetdword(std::FILE* stream) { return read_dword(stream); }

int fgetwstring(std::FILE* stream, char16_t* buffer, uint32_t n) {
  if (n == 0 || fread_unlocked(buffer, 2 * size_t{n}, 1, stream) != 1) {
    std::fputs("GMF WCHAR read error\n", stderr);
    std::exit(1);
  }
  buffer[n] = 0;
  return 0;
}

namespace {

// The stream's length, its position kept; -1 when it cannot seek.
int64_t stream_length(std::FILE* f) {
  const int64_t here = ftello(f);
  if (here < 0 || fseeko(f, 0, SEEK_END) != 0) return -1;
  const int64_t end = ftello(f);
  return fseeko(f, here, SEEK_SET) == 0 ? end : -1;
}

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

  map.version = read_dword(f);
  if (map.version != kGmfVersion) {
    std::fprintf(stderr, "only GMF version %0x currently supported\n", kGmfVersion);
    return 0;
  }
  map.tile_count = read_dword(f);
  if (map.tile_count - 1 > kGmfMaxTiles - 1) {
    std::fprintf(stderr, "number of tiles = %ld not accepted\n",
                 static_cast<long>(static_cast<int32_t>(map.tile_count)));
    return 0;
  }

  // One allocation for the table, but never larger than the rest of the
  // file can describe (every entry takes at least a name of one unit and two
  // points; one more for an entry that runs into the end): a few bytes that
  // claim 100000 tiles get no table of that size. They end at their first
  // missing word all the same.
  const int64_t file_length = stream_length(f);
  constexpr int64_t kSmallestEntry = kGmfEntryWords + 2 + kGmfMinCalPoints * sizeof(CalPoint);
  const int64_t room = file_length < 0 ? int64_t{kGmfMaxTiles}
                                       : (file_length - kGmfHeaderSize) / kSmallestEntry + 1;
  try {
    map.tiles.clear();
    map.tiles.reserve(std::min<int64_t>(map.tile_count, room));
  } catch (const std::bad_alloc&) {
    return fail_read(map, "out of memory error\n");
  }

  for (uint32_t i = 0; i < map.tile_count; ++i) {
    GmfTile& tile = map.tiles.emplace_back();
    tile.name_len = read_dword(f);
    if (tile.name_len - 1 > kGmfMaxNameLength - 1)
      return fail_read(map, "stringsize exceeded, aborted ...\n");
    try {
      tile.name.resize(tile.name_len);
    } catch (const std::bad_alloc&) {
      return fail_read(map, "out of memory error\n");
    }
    fgetwstring(f, tile.name.data(), tile.name_len);
    tile.offset = read_dword(f);
    tile.width = read_dword(f);
    tile.height = read_dword(f);
    tile.cal_count = read_dword(f);
    if (tile.cal_count - kGmfMinCalPoints > kGmfMaxCalPoints - kGmfMinCalPoints)
      return fail_read(map, "number of calibration points should be in [2..4] ...\n");
    if (fread_unlocked(tile.cal, sizeof(CalPoint), tile.cal_count, f) != tile.cal_count)
      return fail_read(map, "GMF calibration entry read error\n");
  }

  // Image data lies in directory order behind the directory: offsets never
  // decrease, and the last tile runs to the end of the file. Anything else
  // would give sizes that point outside the file or wrap around.
  const char* bad_offsets = "tile data offsets out of order or outside the file ...\n";
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

int gmf_open(GmfMap& map, const std::string& path) {
  map.path = path;
  map.file = open_file(path, "rb");
  if (!map.file) {
    std::fprintf(stderr, "can't open GMF file %s\n", path.c_str());
    return 0;
  }
  // A large directory is read in a few large reads rather than thousands of
  // block-sized ones; image bytes are read with their own reads later.
  map.file_buffer.reset(new (std::nothrow) char[kGmfReadBuffer]);
  if (map.file_buffer)
    std::setvbuf(map.file.get(), map.file_buffer.get(), _IOFBF, kGmfReadBuffer);
  if (!gmf_read(map)) {
    std::fputs("read failed ...\n", stderr);
    return 0;
  }
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

namespace {

// The normalisation itself; tells whether the points were moved.
bool move_to_corners(CalPoint cal[4], uint32_t width, uint32_t height) {
  const double mean_lon = (cal[1].lon + cal[0].lon + cal[2].lon + cal[3].lon) * 0.25;
  const double mean_lat = (cal[1].lat + cal[0].lat + cal[2].lat + cal[3].lat) * 0.25;

  // Which point lies in which quadrant around the mean; comparisons are
  // strict, so a point on a mean (or a NaN) falls into none, and a later
  // point replaces an earlier one in the same quadrant.
  int slot_of[4] = {-1, -1, -1, -1};
  for (int i = 0; i < 4; ++i) {
    const CalPoint& p = cal[i];
    if (p.lon < mean_lon && p.lat > mean_lat) slot_of[kNorthWest] = i;
    else if (p.lon > mean_lon && p.lat > mean_lat) slot_of[kNorthEast] = i;
    else if (p.lon < mean_lon && p.lat < mean_lat) slot_of[kSouthWest] = i;
    else if (p.lon > mean_lon && p.lat < mean_lat) slot_of[kSouthEast] = i;
  }
  if ((slot_of[0] | slot_of[1] | slot_of[2] | slot_of[3]) < 0) {
    std::fputs("calibration points not in 4 quadrants ...\n", stderr);
    return false;
  }

  // Four points, four quadrants: each point is in exactly one of them.
  const CalPoint nw = cal[slot_of[kNorthWest]], ne = cal[slot_of[kNorthEast]],
                 sw = cal[slot_of[kSouthWest]], se = cal[slot_of[kSouthEast]];
  double dlon = 0, dlat = 0;
  if (!corner_pixel_steps(nw, ne, sw, se, dlon, dlat)) {
    std::fputs("calibration pixel positions not in map order ...\n", stderr);
    return false;
  }

  const double w = width, h = height;
  cal[kNorthWest] = {0, 0, nw.lon - nw.x * dlon, nw.lat + nw.y * dlat};
  cal[kNorthEast] = {width - 1, 0, ne.lon + (w - ne.x) * dlon, ne.lat + ne.y * dlat};
  cal[kSouthWest] = {0, height - 1, sw.lon - sw.x * dlon, sw.lat - (h - sw.y) * dlat};
  cal[kSouthEast] = {width - 1, height - 1, se.lon + (w - se.x) * dlon,
                     se.lat - (h - se.y) * dlat};
  return true;
}

}  // namespace

void calibration_points_at_4_corners(CalPoint cal[4], uint32_t width, uint32_t height) {
  move_to_corners(cal, width, height);
}

void all_calibration_points_at_4_corners(GmfMap& map) {
  for (uint32_t i = 0; i < map.tile_count; ++i) {
    GmfTile& tile = map.tiles[i];
    if (tile.cal_count == 4) calibration_points_at_4_corners(tile.cal, tile.width, tile.height);
  }
}

bool gmf_tile_corners(const GmfTile& tile, CalPoint corners[4]) {
  std::copy(tile.cal, tile.cal + 4, corners);
  return move_to_corners(corners, tile.width, tile.height);
}

GmfBox gmf_corner_box(const CalPoint corners[4]) {
  return {(corners[kNorthWest].lat + corners[kNorthEast].lat) * 0.5,
          (corners[kSouthWest].lat + corners[kSouthEast].lat) * 0.5,
          (corners[kNorthEast].lon + corners[kSouthEast].lon) * 0.5,
          (corners[kNorthWest].lon + corners[kSouthWest].lon) * 0.5};
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
  CalPoint corners[4];
  gmf_tile_corners(tile, corners);
  // The ring closed by repeating its first corner.
  double x[5], y[5];
  for (int i = 0; i < 5; ++i) {
    x[i] = corners[kFootprintRing[i % 4]].lon;
    y[i] = corners[kFootprintRing[i % 4]].lat;
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

  if (tile.size == 0 || !read_block_at(map.file.get(), buffer.get(), tile.size, tile.offset)) {
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
  const bool written = std::fwrite(buffer.get(), tile.size, 1, out.get()) == 1;
  if (!close_file_checked(out) || !written) {
    std::fputs("GMF bitmap write error\n", stderr);
    remove_partial_file(path);
    return 0;
  }
  return 1;
}

// ---------------------------------------------------------------------------
// Writing GMF files and KAL exports

void fwritedword(std::FILE* stream, uint32_t value) {
  const unsigned char b[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                              static_cast<unsigned char>(value >> 16),
                              static_cast<unsigned char>(value >> 24)};
  if (std::fwrite(b, 4, 1, stream) != 1) {
    std::fputs("GMF DWORD write error\n", stderr);
    std::exit(1);
  }
}

void fwritewstring(std::FILE* stream, const char16_t* text, int32_t n) {
  if (n <= 0 || std::fwrite(text, 2 * static_cast<size_t>(n), 1, stream) != 1) {
    std::fputs("GMF WCHAR write error\n", stderr);
    std::exit(1);
  }
}

namespace {

bool index_in_range(const GmfMap& map, int32_t index) {
  if (index >= 0 && static_cast<uint32_t>(index) < map.tile_count &&
      static_cast<size_t>(index) < map.tiles.size())
    return true;
  std::fprintf(stderr, "tile index %d out of range ...\n", static_cast<int>(index));
  return false;
}

bool name_is_writable(const GmfTile& tile) {
  if (tile.name_len - 1 <= kGmfMaxNameLength - 1 && tile.name_len == tile.name.size()) return true;
  std::fputs("stringsize exceeded, aborted ...\n", stderr);
  return false;
}

bool cal_count_in(const GmfTile& tile, uint32_t min) {
  if (tile.cal_count >= min && tile.cal_count <= kGmfMaxCalPoints) return true;
  std::fputs("number of calibration points should be in [2..4] ...\n", stderr);
  return false;
}

// A file that gmf_read accepts holds 1 to 100000 tiles.
bool tile_count_is_writable(int64_t count) {
  if (count >= 1 && count <= kGmfMaxTiles) return true;
  std::fprintf(stderr, "number of tiles = %ld not accepted\n", static_cast<long>(count));
  return false;
}

// Works out where each tile's image bytes will lie: right behind the
// directory, back to back in order.
// @return false after "GMF file too large ..." when an offset passes 32 bits.
bool data_offsets(const std::vector<const GmfTile*>& tiles, std::vector<uint32_t>& offsets) {
  uint64_t next = kGmfHeaderSize;
  for (const GmfTile* t : tiles)
    next += kGmfEntryWords + 2 * uint64_t{t->name_len} + sizeof(CalPoint) * uint64_t{t->cal_count};
  offsets.clear();
  offsets.reserve(tiles.size());
  for (const GmfTile* t : tiles) {
    if (next > UINT32_MAX) {
      std::fputs("GMF file too large ...\n", stderr);
      return false;
    }
    offsets.push_back(static_cast<uint32_t>(next));
    next += t->size;
  }
  return true;
}

// Name length, name, offset, width, height and point count of an entry.
void write_entry_words(std::FILE* out, const GmfTile& tile, uint32_t offset) {
  fwritedword(out, tile.name_len);
  fwritewstring(out, tile.name.data(), static_cast<int32_t>(tile.name_len));
  fwritedword(out, offset);
  fwritedword(out, tile.width);
  fwritedword(out, tile.height);
  fwritedword(out, tile.cal_count);
}

// One chosen tile: its source map and its index there.
struct Pick {
  const GmfMap* map;
  int32_t index;
};

// Adds a selection to `picks`: the listed indices, or every tile of the
// source when list is null. Checks the count and every index first.
bool add_selection(std::vector<Pick>& picks, const GmfMap& source, const int32_t* list,
                   int32_t count) {
  if (!list) {
    for (uint32_t i = 0; i < source.tile_count; ++i) {
      if (!index_in_range(source, static_cast<int32_t>(i))) return false;
      picks.push_back({&source, static_cast<int32_t>(i)});
    }
    return true;
  }
  for (int32_t i = 0; i < count; ++i) {
    if (!index_in_range(source, list[i])) return false;
    picks.push_back({&source, list[i]});
  }
  return true;
}

// A selection's count: the list's count, or the source's tile count when no
// list is given.
int64_t selection_count(const GmfMap& source, const int32_t* list, int32_t count) {
  return list ? int64_t{count} : int64_t{source.tile_count};
}

bool count_is_valid(const int32_t* list, int32_t count) {
  if (!list || count >= 0) return true;
  std::fprintf(stderr, "tile index %d out of range ...\n", static_cast<int>(count));
  return false;
}

// Writes the chosen tiles as a new GMF file at `path`.
int write_picks(const std::string& path, const std::vector<Pick>& picks) {
  std::vector<const GmfTile*> tiles;
  tiles.reserve(picks.size());
  for (const Pick& p : picks) {
    const GmfTile& tile = p.map->tiles[p.index];
    if (!name_is_writable(tile) || !cal_count_in(tile, kGmfMinCalPoints)) return 0;
    tiles.push_back(&tile);
  }
  std::vector<uint32_t> offsets;
  if (!data_offsets(tiles, offsets)) return 0;

  PendingFile out;
  if (!pending_file_open(out, path)) {
    std::fprintf(stderr, "can't open GMF file %s for writing ...\n", path.c_str());
    return 0;
  }
  std::FILE* f = out.file.get();
  fwritedword(f, kGmfVersion);
  fwritedword(f, static_cast<uint32_t>(picks.size()));
  for (size_t i = 0; i < picks.size(); ++i) {
    if (!gmf_write_entry_kal(f, *picks[i].map, picks[i].index, offsets[i])) {
      std::fputs("GMF write error\n", stderr);
      return 0;
    }
  }
  for (const Pick& p : picks) {
    if (!gmf_write_entry_bitmap(p.map->file.get(), f, *p.map, p.index)) {
      std::fputs("GMF write error\n", stderr);
      return 0;
    }
  }
  if (!pending_file_commit(out)) {
    std::fputs("GMF write error\n", stderr);
    return 0;
  }
  return 1;
}

}  // namespace

int gmf_write_entry_kal(std::FILE* out, const GmfMap& source, int32_t index, uint32_t offset) {
  if (!index_in_range(source, index)) return 0;
  const GmfTile& tile = source.tiles[index];
  // A name length of 0 is left to fwritewstring, which ends the process.
  if ((tile.name_len != 0 && !name_is_writable(tile)) || !cal_count_in(tile, 0)) return 0;
  write_entry_words(out, tile, offset);
  if (std::fwrite(tile.cal, sizeof(CalPoint), tile.cal_count, out) != tile.cal_count) {
    std::fputs("GMF CP write error\n", stderr);
    return 0;
  }
  return 1;
}

int gmf_write_entry_bitmap(std::FILE* in, std::FILE* out, const GmfMap& source, int32_t index) {
  if (!index_in_range(source, index)) return 0;
  const GmfTile& tile = source.tiles[index];
  if (tile.size == 0) return 1;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[tile.size]);
  if (!buffer) {
    std::fputs("out of memory error\n", stderr);
    return 0;
  }
  if (!in || !read_block_at(in, buffer.get(), tile.size, tile.offset)) {
    std::fputs("GMF bitmap read error\n", stderr);
    return 0;
  }
  if (std::fwrite(buffer.get(), tile.size, 1, out) != 1 || std::fflush(out) != 0) {
    std::fputs("GMF bitmap write error\n", stderr);
    return 0;
  }
  return 1;
}

int copy_gmf_selected_bitmaps(const GmfMap& source, const GmfMap& dest, const int32_t* list,
                              int32_t count) {
  if (!count_is_valid(list, count) || !tile_count_is_writable(selection_count(source, list, count)))
    return 0;
  std::vector<Pick> picks;
  if (!add_selection(picks, source, list, count)) return 0;
  return write_picks(dest.path, picks);
}

int copy_gmf_selected_bitmaps_from_2_sources(const GmfMap& first, const GmfMap& second,
                                             const GmfMap& dest, const int32_t* list1,
                                             const int32_t* list2, int32_t count1,
                                             int32_t count2) {
  if (!count_is_valid(list1, count1) || !count_is_valid(list2, count2) ||
      !tile_count_is_writable(selection_count(first, list1, count1) +
                              selection_count(second, list2, count2)))
    return 0;
  std::vector<Pick> picks;
  if (!add_selection(picks, first, list1, count1) || !add_selection(picks, second, list2, count2))
    return 0;
  return write_picks(dest.path, picks);
}

int gmf_write_bitmap_from_directory(GmfMap& map, std::string& directory) {
  if (map.tile_count > map.tiles.size()) {
    std::fprintf(stderr, "number of tiles = %ld not accepted\n",
                 static_cast<long>(static_cast<int32_t>(map.tile_count)));
    return 0;
  }
  if (!tile_count_is_writable(static_cast<int32_t>(map.tile_count))) return 0;
  std::vector<const GmfTile*> tiles;
  tiles.reserve(map.tile_count);
  for (uint32_t i = 0; i < map.tile_count; ++i) {
    const GmfTile& tile = map.tiles[i];
    if (!name_is_writable(tile) || !cal_count_in(tile, kGmfMinCalPoints)) return 0;
    tiles.push_back(&tile);
  }
  if (!gmf_get_bitmap_sizes(map, directory)) return 0;
  std::vector<uint32_t> offsets;
  if (!data_offsets(tiles, offsets)) return 0;
  for (uint32_t i = 0; i < map.tile_count; ++i) map.tiles[i].offset = offsets[i];

  PendingFile out;
  if (!pending_file_open(out, map.path)) {
    std::fprintf(stderr, "can't open GMF file %s\n", map.path.c_str());
    return 0;
  }
  std::FILE* f = out.file.get();
  fwritedword(f, kGmfVersion);
  fwritedword(f, map.tile_count);
  for (uint32_t i = 0; i < map.tile_count; ++i) {
    const GmfTile& tile = map.tiles[i];
    write_entry_words(f, tile, tile.offset);
    if (std::fwrite(tile.cal, sizeof(CalPoint) * tile.cal_count, 1, f) != 1) {
      std::fputs("GMF write error\n", stderr);
      return 0;
    }
  }
  for (uint32_t i = 0; i < map.tile_count; ++i) {
    std::printf("write bitmap %ld: %s\n", static_cast<long>(i) + 1,
                utf16_to_utf8(map.tiles[i].name).c_str());
    if (!gmf_write_entry_bitmap_from_directory(f, map, directory, static_cast<int32_t>(i)))
      return 0;
  }
  if (!pending_file_commit(out)) {
    std::fputs("GMF write error\n", stderr);
    return 0;
  }
  return 1;
}

int write_gmf_entry_as_KAL(const GmfTile& tile, const std::string& directory) {
  std::string path = directory;
  correct_directory_string(path);
  std::string name;
  if (!gmf_tile_file_name(tile, name)) return 0;
  path += name;
  stripextension(path);
  path += ".kal";

  PendingFile out;
  if (!pending_file_open(out, path)) {
    std::fprintf(stderr, "can't open KAL file %s\n", path.c_str());
    return 0;
  }
  std::FILE* f = out.file.get();
  std::fputs("[Kalibrierung]\n", f);
  const uint32_t points = std::min(tile.cal_count, kGmfMaxCalPoints);
  for (uint32_t n = 1; n <= points; ++n) {
    const CalPoint& c = tile.cal[n - 1];
    std::fprintf(f,
                 "[Calibration Point %d]\nLongitude = %.8lf\nLatitude = %.8lf\n"
                 "Pixel = POINT(%ld,%ld)\n",
                 static_cast<int>(n), c.lon, c.lat, static_cast<long>(static_cast<int32_t>(c.x)),
                 static_cast<long>(static_cast<int32_t>(c.y)));
  }
  std::fprintf(f, "[Map]\nBitmap = %s\nSize = SIZE(%ld,%ld)\n", name.c_str(),
               static_cast<long>(static_cast<int32_t>(tile.width)),
               static_cast<long>(static_cast<int32_t>(tile.height)));
  if (!pending_file_commit(out)) {
    std::fprintf(stderr, "can't write KAL file %s\n", path.c_str());
    return 0;
  }
  return 1;
}
