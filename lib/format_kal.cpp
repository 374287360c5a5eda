#include "format_kal.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

// ---------------------------------------------------------------------------
// World-file parameters

void calibration2worldfile(int32_t, int32_t, const KalCoords coords, const KalPixels pixels,
                           int32_t, double out[6]) {
  const double x1 = pixels[0][0], y1 = pixels[0][1];
  const double x2 = pixels[1][0], y2 = pixels[1][1];
  const double x3 = pixels[2][0], y3 = pixels[2][1];
  const double lon1 = coords[0][0], lat1 = coords[0][1];
  const double lon2 = coords[1][0], lat2 = coords[1][1];
  const double lon3 = coords[2][0], lat3 = coords[2][1];

  // Cofactors shared by both systems.
  const double dy1 = y2 - y3, dy2 = y3 - y1, dy3 = y1 - y2;
  const double dx1 = x3 - x2, dx2 = x1 - x3, dx3 = x2 - x1;
  const double c1 = x2 * y3 - x3 * y2, c2 = x3 * y1 - x1 * y3, c3 = x1 * y2 - x2 * y1;
  const double det = x1 * dy1 + x2 * dy2 + x3 * dy3;

  out[0] = (lon1 * dy1 + lon2 * dy2 + lon3 * dy3) / det;  // A
  out[1] = (lat1 * dy1 + lat2 * dy2 + lat3 * dy3) / det;  // D
  out[2] = (lon1 * dx1 + lon2 * dx2 + lon3 * dx3) / det;  // B
  out[3] = (lat1 * dx1 + lat2 * dx2 + lat3 * dx3) / det;  // E
  out[4] = (lon1 * c1 + lon2 * c2 + lon3 * c3) / det;     // C
  out[5] = (lat1 * c1 + lat2 * c2 + lat3 * c3) / det;     // F
}

// ---------------------------------------------------------------------------
// KAL records and lists

namespace {

// What a line means to the readers.
enum class KalKey { kRecord, kBitmap, kSize, kLongitude, kLatitude, kPixel, kNone };

// The one KAL line grammar both readers share: the line piece in hand and
// the current point.
struct KalLines {
  std::FILE* stream = nullptr;
  int point = 0;  // current point 1 to 4; 0 when none
  char line[1024] = {};
};

bool kal_next_line(KalLines& lines) {
  return std::fgets(lines.line, sizeof lines.line, lines.stream) != nullptr;
}

bool kal_starts(const KalLines& lines, const char* prefix) {
  return std::strncmp(lines.line, prefix, std::strlen(prefix)) == 0;
}

// Classifies the line in hand, moving the current point on headers.
KalKey kal_line_key(KalLines& lines) {
  static const char* const kPointHeaders[4] = {
      "[Calibration Point 1]", "[Calibration Point 2]", "[Calibration Point 3]",
      "[Calibration Point 4]"};
  if (kal_starts(lines, "[Kalibrierung]")) {
    lines.point = 0;
    return KalKey::kRecord;
  }
  if (kal_starts(lines, "Bitmap = ")) return KalKey::kBitmap;
  for (int n = 1; n <= 4; ++n) {
    if (kal_starts(lines, kPointHeaders[n - 1])) {
      lines.point = n;
      return KalKey::kNone;
    }
  }
  if (kal_starts(lines, "Size = ")) return KalKey::kSize;
  if (lines.point == 0) return KalKey::kNone;
  if (kal_starts(lines, "Longitude = ")) return KalKey::kLongitude;
  if (kal_starts(lines, "Latitude = ")) return KalKey::kLatitude;
  if (kal_starts(lines, "Pixel = POINT")) return KalKey::kPixel;
  return KalKey::kNone;
}

// The name of a "Bitmap = " line: everything after the key, cut at the first
// CR or LF; inner and trailing blanks belong to it.
std::string kal_bitmap(const KalLines& lines) {
  std::string name(lines.line + std::strlen("Bitmap = "));
  stripcr(name);
  return name;
}

// Number parsers. Each target is set only when its field parsed, so a field
// that does not parse leaves it and every later target unchanged. Values are
// read into the format's own types and then narrowed to 32 bits.
void kal_scan_size(const KalLines& lines, int32_t& width, int32_t& height) {
  long w = 0, h = 0;
  const int fields = std::sscanf(lines.line, "Size = SIZE(%ld,%ld)", &w, &h);
  if (fields >= 1) width = static_cast<int32_t>(w);
  if (fields >= 2) height = static_cast<int32_t>(h);
}

void kal_scan_pixel(const KalLines& lines, int32_t& x, int32_t& y) {
  int px = 0, py = 0;
  const int fields = std::sscanf(lines.line, "Pixel = POINT(%d,%d)", &px, &py);
  if (fields >= 1) x = px;
  if (fields >= 2) y = py;
}

void kal_scan_degrees(const KalLines& lines, const char* format, double& target) {
  double value = 0;
  if (std::sscanf(lines.line, format, &value) == 1) target = value;
}

// The 32-bit pixel and size fields of a tile, read and written as the signed
// values of the KAL text.
void kal_scan_size(const KalLines& lines, uint32_t& width, uint32_t& height) {
  int32_t w = static_cast<int32_t>(width), h = static_cast<int32_t>(height);
  kal_scan_size(lines, w, h);
  width = static_cast<uint32_t>(w);
  height = static_cast<uint32_t>(h);
}

void kal_scan_pixel(const KalLines& lines, uint32_t& x, uint32_t& y) {
  int32_t px = static_cast<int32_t>(x), py = static_cast<int32_t>(y);
  kal_scan_pixel(lines, px, py);
  x = static_cast<uint32_t>(px);
  y = static_cast<uint32_t>(py);
}

constexpr uint32_t kMaxKalRecords = kGmfMaxTiles - 1;

}  // namespace

int read_kal(std::FILE* stream, std::string& bitmap, int32_t& width, int32_t& height,
             KalCoords coords, KalPixels pixels, int32_t& count) {
  for (int n = 0; n < 4; ++n) {
    coords[n][0] = coords[n][1] = 0;
    pixels[n][0] = pixels[n][1] = 0;
  }
  KalLines lines;
  lines.stream = stream;
  while (kal_next_line(lines)) {
    const int p = lines.point - 1;
    switch (kal_line_key(lines)) {
      case KalKey::kBitmap: bitmap = kal_bitmap(lines); break;
      case KalKey::kSize: kal_scan_size(lines, width, height); break;
      case KalKey::kLongitude: kal_scan_degrees(lines, "Longitude = %lf", coords[p][0]); break;
      case KalKey::kLatitude: kal_scan_degrees(lines, "Latitude = %lf", coords[p][1]); break;
      case KalKey::kPixel: kal_scan_pixel(lines, pixels[p][0], pixels[p][1]); break;
      case KalKey::kRecord:
      case KalKey::kNone: break;
    }
  }
  count = lines.point == 0 ? -1 : lines.point;
  return count >= 2 ? 1 : 0;
}

int write_kal(std::FILE* stream, const std::string& bitmap, int32_t width, int32_t height,
              const KalCoords coords, const KalPixels pixels, int32_t count) {
  std::fputs("[Kalibrierung]\n", stream);
  for (int32_t n = 1; n <= count && n <= 4; ++n) {
    std::fprintf(stream,
                 "[Calibration Point %d]\n\nLongitude = %.8lf\nLatitude = %.8lf\n"
                 "Pixel = POINT(%ld,%ld)\n",
                 static_cast<int>(n), coords[n - 1][0], coords[n - 1][1],
                 static_cast<long>(pixels[n - 1][0]), static_cast<long>(pixels[n - 1][1]));
  }
  std::fprintf(stream, "Bitmap = %s\n", bitmap.c_str());
  std::fprintf(stream, "Size = SIZE(%ld,%ld)", static_cast<long>(width), static_cast<long>(height));
  return 1;
}

int read_kals(std::FILE* stream, GmfMap& map) {
  map.tiles.clear();
  map.tile_count = 0;
  uint32_t records = 0;
  KalLines lines;
  lines.stream = stream;
  while (kal_next_line(lines)) {
    const KalKey key = kal_line_key(lines);
    if (key == KalKey::kRecord) {
      if (++records > kMaxKalRecords) {
        std::fputs("out of memory error, too many tiles\n", stderr);
        return 0;
      }
      try {
        map.tiles.emplace_back();
      } catch (const std::bad_alloc&) {
        std::fputs("out of memory error\n", stderr);
        return 0;
      }
      continue;
    }
    if (records == 0) continue;  // no record is open yet
    GmfTile& tile = map.tiles.back();
    const int p = lines.point - 1;
    switch (key) {
      case KalKey::kBitmap:
        try {
          tile.name = utf8_to_utf16(kal_bitmap(lines));
        } catch (const std::bad_alloc&) {
          std::fputs("out of memory error\n", stderr);
          return 0;
        }
        tile.name_len = static_cast<uint32_t>(tile.name.size());
        tile.cal_count = lines.point == 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(lines.point);
        break;
      case KalKey::kSize: kal_scan_size(lines, tile.width, tile.height); break;
      case KalKey::kLongitude: kal_scan_degrees(lines, "Longitude = %lf", tile.cal[p].lon); break;
      case KalKey::kLatitude: kal_scan_degrees(lines, "Latitude = %lf", tile.cal[p].lat); break;
      case KalKey::kPixel: kal_scan_pixel(lines, tile.cal[p].x, tile.cal[p].y); break;
      case KalKey::kRecord:
      case KalKey::kNone: break;
    }
  }
  map.tile_count = records;
  return records > 1 ? 1 : 0;
}

int gmf_get_bitmap_sizes(GmfMap& map, std::string& directory) {
  correct_directory_string(directory);
  const size_t tiles = std::min<size_t>(map.tile_count, map.tiles.size());
  for (size_t i = 0; i < tiles; ++i) {
    GmfTile& tile = map.tiles[i];
    const int64_t size = get_filesize(directory + utf16_to_utf8(tile.name));
    if (size > int64_t{UINT32_MAX}) {
      std::fputs("GMF file too large ...\n", stderr);
      return 0;
    }
    tile.size = static_cast<uint32_t>(size);
  }
  return 1;
}

int gmf_write_entry_bitmap_from_directory(std::FILE* out, const GmfMap& map,
                                          std::string& directory, int32_t index) {
  if (index < 0 || static_cast<uint32_t>(index) >= map.tile_count ||
      static_cast<size_t>(index) >= map.tiles.size()) {
    std::fprintf(stderr, "tile index %d out of range ...\n", static_cast<int>(index));
    return 0;
  }
  const GmfTile& tile = map.tiles[index];
  correct_directory_string(directory);
  const std::string path = directory + utf16_to_utf8(tile.name);
  FilePtr image = open_file(path, "rb");
  if (!image) {
    std::fprintf(stderr, "can't open file %s\n", path.c_str());
    return 0;
  }
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[tile.size]);
  if (!buffer) {
    std::fputs("out of memory error\n", stderr);
    return 0;
  }
  // An empty block counts as not read whole, so an empty image fails here.
  if (std::fread(buffer.get(), tile.size, 1, image.get()) != 1) {
    std::fputs("bitmap read error\n", stderr);
    return 0;
  }
  if (std::fwrite(buffer.get(), tile.size, 1, out) != 1 || std::fflush(out) != 0) {
    std::fputs("GMF bitmap write error\n", stderr);
    return 0;
  }
  return 1;
}
