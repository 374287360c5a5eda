// The mosaiq run: unpacks a GMF file into a folder of tile images and writes
// beside them one KML tile document per four-point tile, plus a root
// super-overlay document that links them all as region-activated network
// links.
//
// Exit status: 0 success, 2 wrong argument count, 1 any failure (also a
// complete run in which the root document or a tile document could not be
// written).
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "format_gmf.h"
#include "geotools.h"
#include "kml_tile.h"
#include "run.h"

namespace {

const char kUsage[] =
    "mosaiq, GMF to KML super-overlay converter, 4.3.2007\n"
    "\n"
    "Syntax: mosaiq map.gmf opacity minLodPixels maxLodPixels prefix_kml prefix_image "
    "directory superoverlay.kml\n";

// Reads a decimal int from the start of `text` like a scan of one "%d":
// leading blanks and a sign are taken, reading stops at the first non-digit.
// Values beyond the int range are clamped to it.
// @return false (value untouched) when the text does not begin with a number.
bool read_decimal(const char* text, int& value) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text) return false;
  value = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
  return true;
}

// The rotation in degrees of one four-point tile whose slots hold NW, NE,
// SW, SE: the mean slope of its top and bottom edges, measured in metres,
// counter-clockwise positive. An edge that does not run eastwards (a tile
// across the 180 meridian, an edge at a pole, NaN) has no slope to take:
// such a tile is not rotated.
double tile_rotation(const CalPoint* cal) {
  const double top_ew = len_x(cal[kNorthEast].lon - cal[kNorthWest].lon, cal[kNorthWest].lat);
  const double bottom_ew = len_x(cal[kSouthEast].lon - cal[kSouthWest].lon, cal[kSouthWest].lat);
  const double top_ns = len_y(cal[kNorthEast].lat - cal[kNorthWest].lat);
  const double bottom_ns = len_y(cal[kSouthEast].lat - cal[kSouthWest].lat);
  if (!(top_ew > 0 && bottom_ew > 0)) return 0;
  const double a = std::atan(top_ns / top_ew);
  const double b = std::atan(bottom_ns / bottom_ew);
  return ((a + b) * 0.5) * 360 / kPiTenDigits * 0.5;
}

// The box around all linked tiles. Only a strictly smaller or greater value
// replaces a side, so a NaN never does.
struct OverallBox {
  double north = -9999999.999, south = 9999999.999, east = -9999999.999, west = 9999999.999;
  void take(const GmfBox& t) {
    if (t.west < west) west = t.west;
    if (t.east > east) east = t.east;
    if (t.north > north) north = t.north;
    if (t.south < south) south = t.south;
  }
};

}  // namespace

int mosaiq_run(int argc, char** argv) {
  if (argc != 9) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  int opacity = 255, min_lod = 384, max_lod = -1;
  read_decimal(argv[2], opacity);
  read_decimal(argv[3], min_lod);
  read_decimal(argv[4], max_lod);
  if (static_cast<unsigned>(opacity) > 255) opacity = 255;
  if (max_lod == 0) max_lod = -1;

  const std::string prefix_kml = argv[5];
  const std::string prefix_image = argv[6];
  std::string directory = argv[7];
  correct_directory_string(directory);

  // The root document is written beside its target and renamed into place
  // only when the run completes; every earlier way out leaves an existing
  // root document as it was.
  PendingFile root;
  if (!pending_file_open(root, argv[8])) {
    std::fprintf(stderr, "%s\ncannot open superoverlay file\n", kUsage);
    return 1;
  }

  GmfMap map;
  if (!gmf_open(map, argv[1])) return 1;
  gmf_all_tiles_filename_clean(map);
  all_calibration_points_at_4_corners(map);

  for (uint32_t i = 0; i < map.tile_count; ++i) {
    if (!bitmap_from_gmf(map, directory, i)) {
      std::fputs("failed to write Bitmap ...\n", stderr);
      return 1;
    }
  }
  std::printf("extracted %ld map tiles ...\n", static_cast<long>(map.tile_count));
  map.file.reset();

  std::FILE* out = root.file.get();
  kml_write_prolog(out);
  std::fputs("<Document>\n", out);

  bool tiles_ok = true;
  OverallBox all;
  for (const GmfTile& tile : map.tiles) {
    if (tile.cal_count != 4) continue;  // extracted, but not linked
    const GmfBox box = gmf_corner_box(tile.cal);
    const double rotation = tile_rotation(tile.cal);
    all.take(box);

    // Every name was checked during extraction; it is the image's file name.
    std::string image_name;
    if (!gmf_tile_file_name(tile, image_name)) return 1;
    std::string document_name = image_name;
    stripextension(document_name);
    document_name += ".kml";

    if (!write_kml_tile(box.west, box.east, box.north, box.south, rotation, opacity, min_lod,
                        max_lod, 0, 0, directory, document_name, prefix_image, image_name))
      tiles_ok = false;

    // The link stays even when its document could not be written.
    std::fprintf(out, "<NetworkLink>\n<name>%s</name>\n<Region>\n",
                 xml_escape(image_name).c_str());
    kml_write_region_box(out, box.north, box.south, box.east, box.west, rotation);
    kml_write_lod(out, min_lod, max_lod, 0, 0);
    std::fprintf(out,
                 "</Region>\n<Link><href>%s%s</href><viewRefreshMode>onRegion</viewRefreshMode>"
                 "</Link>\n</NetworkLink>\n",
                 xml_escape(prefix_kml).c_str(), xml_escape(document_name).c_str());
  }

  std::fputs("<Region>\n", out);
  std::fprintf(out,
               "<LatLonAltBox><north>%.8lf</north><south>%.8lf</south><east>%.8lf</east>"
               "<west>%.8lf</west></LatLonAltBox>\n",
               all.north, all.south, all.east, all.west);
  kml_write_lod(out, min_lod, max_lod, 0, 0);
  std::fputs("</Region>\n</Document>\n</kml>\n", out);

  if (!pending_file_commit(root)) {
    std::fputs("cannot write superoverlay file\n", stderr);
    return 1;
  }
  return tiles_ok ? 0 : 1;
}
