// gmfkit's subcommands. Each handler opens its inputs, takes one library
// road and reports as the library does: its messages on standard error,
// progress and results on standard output. Every output file is written
// beside its target and renamed into place when complete.
#include "commands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "format_gmf.h"
#include "format_kal.h"
#include "geotools.h"

namespace {

// Inclusive index ranges as typed; a single index is a range of one.
struct IndexRange {
  int32_t first, last;
};

bool parse_index(const std::string& text, int32_t& value) {
  if (text.empty() || text.size() > 10) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v > INT32_MAX) return false;
  value = static_cast<int32_t>(v);
  return true;
}

bool parse_ranges(const Args& texts, std::vector<IndexRange>& ranges) {
  for (const std::string& text : texts) {
    const size_t dash = text.find('-');
    IndexRange r;
    const bool ok = dash == std::string::npos
                        ? parse_index(text, r.first) && ((r.last = r.first), true)
                        : parse_index(text.substr(0, dash), r.first) &&
                              parse_index(text.substr(dash + 1), r.last);
    if (!ok) {
      std::fprintf(stderr, "bad tile index %s\n", text.c_str());
      return false;
    }
    ranges.push_back(r);
  }
  return true;
}

// Expands the ranges unless they name more tiles than a GMF file can hold
// (then the writers' own refusal, before anything is allocated).
bool expand_ranges(const std::vector<IndexRange>& ranges, std::vector<int32_t>& indices) {
  int64_t total = 0;
  for (const IndexRange& r : ranges) total += std::abs(int64_t{r.last} - r.first) + 1;
  if (total > kGmfMaxTiles) {
    std::fprintf(stderr, "number of tiles = %ld not accepted\n", static_cast<long>(total));
    return false;
  }
  for (const IndexRange& r : ranges) {
    const int32_t step = r.last >= r.first ? 1 : -1;
    for (int32_t i = r.first;; i += step) {
      indices.push_back(i);
      if (i == r.last) break;
    }
  }
  return true;
}

// Tab-separated text: a name with a tab, line end, backslash or zero byte
// must not break the line or the columns.
std::string tsv_field(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\0': out += "\\0"; break;
      default: out += c;
    }
  }
  return out;
}

bool all_finite(const double* v, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

// "tile 3 (name)" for messages about one tile.
std::string tile_label(uint32_t index, const GmfTile& tile) {
  return "tile " + std::to_string(index) + " (" + utf16_to_utf8(tile.name) + ")";
}

// Ends a stdout-reporting command: a lost line of the report is a failure.
int stdout_status() { return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1; }

}  // namespace

// ---------------------------------------------------------------------------
// Rules shared by several subcommands

Ring tile_ring(const GmfTile& tile) {
  CalPoint corners[4];
  gmf_tile_corners(tile, corners);
  Ring ring;
  for (int i = 0; i < 4; ++i) {
    ring.lon[i] = corners[kFootprintRing[i]].lon;
    ring.lat[i] = corners[kFootprintRing[i]].lat;
  }
  return ring;
}

bool segments_meet(double a1x, double a1y, double a2x, double a2y, double b1x, double b1y,
                   double b2x, double b2y) {
  // Side of point c against the line through a and b: +1 left, -1 right, 0 on it.
  auto side = [](double ax, double ay, double bx, double by, double cx, double cy) {
    const double cross = (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
    return (cross > 0) - (cross < 0);
  };
  // For a point on the line through p and q: whether it lies between them.
  auto between = [](double px, double py, double qx, double qy, double cx, double cy) {
    return std::min(px, qx) <= cx && cx <= std::max(px, qx) && std::min(py, qy) <= cy &&
           cy <= std::max(py, qy);
  };
  const int d1 = side(b1x, b1y, b2x, b2y, a1x, a1y);
  const int d2 = side(b1x, b1y, b2x, b2y, a2x, a2y);
  const int d3 = side(a1x, a1y, a2x, a2y, b1x, b1y);
  const int d4 = side(a1x, a1y, a2x, a2y, b2x, b2y);
  if (d1 * d2 < 0 && d3 * d4 < 0) return true;
  return (d1 == 0 && between(b1x, b1y, b2x, b2y, a1x, a1y)) ||
         (d2 == 0 && between(b1x, b1y, b2x, b2y, a2x, a2y)) ||
         (d3 == 0 && between(a1x, a1y, a2x, a2y, b1x, b1y)) ||
         (d4 == 0 && between(a1x, a1y, a2x, a2y, b2x, b2y));
}

bool footprint_meets_area(const Ring& ring, const double* x, const double* y, int32_t n) {
  if (n < 3) return false;
  for (int k = 0; k < 4; ++k)
    if (isInsideP(ring.lon[k], ring.lat[k], x, y, n) != -1) return true;
  // The area's vertices against the tile's footprint, the ring isInsideTile
  // tests.
  for (int32_t i = 0; i < n; ++i)
    if (isInsideP(x[i], y[i], ring.lon, ring.lat, 4) != -1) return true;
  for (int k = 0; k < 4; ++k) {
    const int k2 = (k + 1) % 4;
    for (int32_t i = 0; i < n; ++i) {
      const int32_t i2 = (i + 1) % n;
      if (segments_meet(ring.lon[k], ring.lat[k], ring.lon[k2], ring.lat[k2], x[i], y[i], x[i2],
                        y[i2]))
        return true;
    }
  }
  return false;
}

std::string world_file_name(const std::string& image_name) {
  std::string stem = image_name;
  const int dot = stripextension(stem);
  if (dot > 0) {
    const std::string ext = image_name.substr(dot + 1);
    const bool letters = ext.size() == 3 && std::all_of(ext.begin(), ext.end(), [](char c) {
                           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                  (c >= '0' && c <= '9');
                         });
    if (letters) {
      const char w = ext[2] >= 'A' && ext[2] <= 'Z' ? 'W' : 'w';
      return stem + "." + ext[0] + ext[2] + w;
    }
  }
  return stem + ".wld";
}

bool tile_world_file(const GmfTile& tile, double out[6]) {
  if (tile.cal_count < 3 || tile.cal_count > 4) return false;
  CalPoint points[4];
  std::copy(tile.cal, tile.cal + 4, points);
  if (tile.cal_count == 4 && gmf_tile_corners(tile, points)) {
    // The normalised east and south corners lie on the far image edges.
    points[kNorthEast].x = tile.width;
    points[kSouthWest].y = tile.height;
  }
  KalCoords coords;
  KalPixels pixels;
  for (int k = 0; k < 3; ++k) {
    if (points[k].x > uint32_t{INT32_MAX} || points[k].y > uint32_t{INT32_MAX}) return false;
    coords[k][0] = points[k].lon;
    coords[k][1] = points[k].lat;
    pixels[k][0] = static_cast<int32_t>(points[k].x);
    pixels[k][1] = static_cast<int32_t>(points[k].y);
  }
  calibration2worldfile(0, 0, coords, pixels, 0, out);
  // A world file places the centre of the top-left pixel.
  out[4] += 0.5 * (out[0] + out[2]);
  out[5] += 0.5 * (out[1] + out[3]);
  return all_finite(out, 6);
}

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\u%04x", c);
          out += hex;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

// ---------------------------------------------------------------------------
// The subcommands

int gmfkit_list(const Args& args) {
  GmfMap map;
  if (!gmf_open(map, args[0])) return 1;
  map.file.reset();
  all_calibration_points_at_4_corners(map);

  std::puts("index\tname\toffset\tsize\twidth\theight\tpoints\tnorth\tsouth\teast\twest");
  for (uint32_t i = 0; i < map.tile_count; ++i) {
    const GmfTile& t = map.tiles[i];
    std::printf("%lu\t%s\t%lu\t%lu\t%lu\t%lu\t%lu", static_cast<unsigned long>(i),
                tsv_field(utf16_to_utf8(t.name)).c_str(), static_cast<unsigned long>(t.offset),
                static_cast<unsigned long>(t.size), static_cast<unsigned long>(t.width),
                static_cast<unsigned long>(t.height), static_cast<unsigned long>(t.cal_count));
    if (t.cal_count == 4) {
      const GmfBox box = gmf_corner_box(t.cal);  // as the converter boxes a tile
      std::printf("\t%.8f\t%.8f\t%.8f\t%.8f\n", box.north, box.south, box.east, box.west);
    } else {
      std::puts("\t\t\t\t");
    }
  }
  return stdout_status();
}

int gmfkit_footprints(const Args& args) {
  GmfMap map;
  if (!gmf_open(map, args[0])) return 1;
  map.file.reset();

  PendingFile out;
  if (!pending_file_open(out, args[1])) {
    std::fprintf(stderr, "can't open GeoJSON file %s\n", args[1].c_str());
    return 1;
  }
  std::FILE* f = out.file.get();
  std::fputs("{\"type\":\"FeatureCollection\",\"features\":[", f);
  uint32_t written = 0;
  for (uint32_t i = 0; i < map.tile_count; ++i) {
    const GmfTile& t = map.tiles[i];
    if (t.cal_count != 4) continue;
    const Ring ring = tile_ring(t);
    if (!all_finite(ring.lon, 4) || !all_finite(ring.lat, 4)) {
      std::fprintf(stderr, "%s: corners not finite, no footprint\n", tile_label(i, t).c_str());
      continue;
    }
    // Exterior rings run counter-clockwise: positive shoelace area.
    double area2 = 0;
    for (int k = 0; k < 4; ++k)
      area2 += ring.lon[k] * ring.lat[(k + 1) % 4] - ring.lon[(k + 1) % 4] * ring.lat[k];
    int order[5] = {0, 1, 2, 3, 0};
    if (area2 < 0) std::reverse(order, order + 5);

    std::fprintf(f,
                 "%s\n{\"type\":\"Feature\",\"properties\":{\"index\":%lu,\"name\":%s,"
                 "\"width\":%lu,\"height\":%lu,\"size\":%lu},"
                 "\"geometry\":{\"type\":\"Polygon\",\"coordinates\":[[",
                 written ? "," : "", static_cast<unsigned long>(i),
                 json_string(utf16_to_utf8(t.name)).c_str(), static_cast<unsigned long>(t.width),
                 static_cast<unsigned long>(t.height), static_cast<unsigned long>(t.size));
    for (int k = 0; k < 5; ++k)
      std::fprintf(f, "%s[%.17g,%.17g]", k ? "," : "", ring.lon[order[k]], ring.lat[order[k]]);
    std::fputs("]]}}", f);
    ++written;
  }
  std::fputs("\n]}\n", f);
  if (!pending_file_commit(out)) {
    std::fprintf(stderr, "can't write GeoJSON file %s\n", args[1].c_str());
    return 1;
  }
  std::printf("wrote %lu footprints to %s\n", static_cast<unsigned long>(written),
              args[1].c_str());
  return stdout_status();
}

int gmfkit_extract(const Args& args) {
  std::vector<int32_t> chosen;
  const Args index_texts(args.begin() + 2, args.end());
  if (!index_texts.empty()) {
    std::vector<IndexRange> ranges;
    if (!parse_ranges(index_texts, ranges)) return kUsageError;
    if (!expand_ranges(ranges, chosen)) return 1;
  }
  GmfMap map;
  if (!gmf_open(map, args[0])) return 1;
  if (index_texts.empty())
    for (uint32_t i = 0; i < map.tile_count; ++i) chosen.push_back(static_cast<int32_t>(i));
  for (int32_t index : chosen) {
    if (static_cast<uint32_t>(index) >= map.tile_count) {
      std::fprintf(stderr, "tile index %d out of range ...\n", static_cast<int>(index));
      return 1;
    }
  }

  gmf_all_tiles_filename_clean(map);
  for (int32_t index : chosen) {
    if (!bitmap_from_gmf(map, args[1], static_cast<uint32_t>(index))) {
      std::fputs("failed to write Bitmap ...\n", stderr);
      return 1;
    }
  }
  std::printf("extracted %ld map tiles ...\n", static_cast<long>(chosen.size()));
  return stdout_status();
}

int gmfkit_pack(const Args& args) {
  FilePtr list = open_file(args[0], "r");
  if (!list) {
    std::fprintf(stderr, "can't open KAL list %s\n", args[0].c_str());
    return 1;
  }
  GmfMap map;
  read_kals(list.get(), map);  // 0 for a single record too: that one is packed all the same
  list.reset();
  if (map.tile_count == 0) {
    // Tiles read but none counted: the reader stopped after its own message.
    if (map.tiles.empty()) std::fprintf(stderr, "no KAL records in %s\n", args[0].c_str());
    return 1;
  }
  map.path = args[2];
  std::string images = args[1];
  if (!gmf_write_bitmap_from_directory(map, images)) return 1;
  std::printf("packed %lu tiles into %s\n", static_cast<unsigned long>(map.tile_count),
              map.path.c_str());
  return stdout_status();
}

int gmfkit_subset(const Args& args) {
  std::vector<IndexRange> ranges;
  if (!parse_ranges(Args(args.begin() + 2, args.end()), ranges)) return kUsageError;
  std::vector<int32_t> chosen;
  if (!expand_ranges(ranges, chosen)) return 1;
  GmfMap source;
  if (!gmf_open(source, args[0])) return 1;
  GmfMap dest;
  dest.path = args[1];
  if (!copy_gmf_selected_bitmaps(source, dest, chosen.data(),
                                 static_cast<int32_t>(chosen.size())))
    return 1;
  std::printf("wrote %lu tiles to %s\n", static_cast<unsigned long>(chosen.size()),
              dest.path.c_str());
  return stdout_status();
}

int gmfkit_merge(const Args& args) {
  GmfMap first, second;
  if (!gmf_open(first, args[0]) || !gmf_open(second, args[1])) return 1;
  GmfMap dest;
  dest.path = args[2];
  if (!copy_gmf_selected_bitmaps_from_2_sources(first, second, dest, nullptr, nullptr, 0, 0))
    return 1;
  std::printf("wrote %lu tiles to %s\n",
              static_cast<unsigned long>(first.tile_count) + second.tile_count,
              dest.path.c_str());
  return stdout_status();
}

int gmfkit_select(const Args& args) {
  GmfMap source;
  if (!gmf_open(source, args[0])) return 1;
  auto areas = std::make_unique<SelectionAreas>();
  if (!read_ovl_selection_areas(args[1], *areas)) return 1;

  // Only areas with three or more points are polygons; other symbol
  // sections take an area slot with a single point.
  std::vector<int32_t> chosen;
  for (uint32_t i = 0; i < source.tile_count; ++i) {
    if (source.tiles[i].cal_count != 4) continue;  // no footprint
    const Ring ring = tile_ring(source.tiles[i]);    // normalised once per tile
    for (int32_t a = 0; a < areas->area_count; ++a) {
      if (footprint_meets_area(ring, areas->area_x[a].data(), areas->area_y[a].data(),
                               areas->area_points[a])) {
        chosen.push_back(static_cast<int32_t>(i));
        break;
      }
    }
  }
  if (chosen.empty()) {
    std::fprintf(stderr, "no tile meets the areas of %s\n", args[1].c_str());
    return 1;
  }
  GmfMap dest;
  dest.path = args[2];
  if (!copy_gmf_selected_bitmaps(source, dest, chosen.data(),
                                 static_cast<int32_t>(chosen.size())))
    return 1;
  std::printf("selected %lu of %lu tiles into %s\n", static_cast<unsigned long>(chosen.size()),
              static_cast<unsigned long>(source.tile_count), dest.path.c_str());
  return stdout_status();
}

int gmfkit_kal(const Args& args) {
  GmfMap map;
  if (!gmf_open(map, args[0])) return 1;
  map.file.reset();
  gmf_all_tiles_filename_clean(map);
  for (const GmfTile& tile : map.tiles)
    if (!write_gmf_entry_as_KAL(tile, args[1])) return 1;
  std::printf("wrote %lu KAL files to %s\n", static_cast<unsigned long>(map.tile_count),
              args[1].c_str());
  return stdout_status();
}

int gmfkit_worldfile(const Args& args) {
  GmfMap map;
  if (!gmf_open(map, args[0])) return 1;
  map.file.reset();
  gmf_all_tiles_filename_clean(map);
  std::string directory = args[1];
  correct_directory_string(directory);

  int status = 0;
  uint32_t written = 0;
  for (uint32_t i = 0; i < map.tile_count; ++i) {
    const GmfTile& tile = map.tiles[i];
    if (tile.cal_count < 3) {
      std::fprintf(stderr, "%s: two calibration points, no world file\n",
                   tile_label(i, tile).c_str());
      continue;
    }
    std::string image;
    if (!gmf_tile_file_name(tile, image)) return 1;
    double values[6];
    if (!tile_world_file(tile, values)) {
      std::fprintf(stderr, "%s: calibration points give no world file\n",
                   tile_label(i, tile).c_str());
      status = 1;
      continue;
    }
    const std::string path = directory + world_file_name(image);
    PendingFile out;
    if (!pending_file_open(out, path)) {
      std::fprintf(stderr, "can't open world file %s\n", path.c_str());
      return 1;
    }
    for (double v : values) std::fprintf(out.file.get(), "%.17g\n", v);
    if (!pending_file_commit(out)) {
      std::fprintf(stderr, "can't write world file %s\n", path.c_str());
      return 1;
    }
    ++written;
  }
  std::printf("wrote %lu world files to %s\n", static_cast<unsigned long>(written),
              args[1].c_str());
  return stdout_status() | status;
}
