#include "kml_tile.h"

#include "geotools.h"

std::string xml_escape(std::string_view raw) {
  // Text from the command line may hold bytes that are no UTF-8; they become
  // U+FFFD, since a document declared UTF-8 must not carry them.
  const std::string valid = utf16_to_utf8(utf8_to_utf16(raw));
  const std::string_view text = valid;
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case '\t': out += "&#9;"; break;
      case '\n': out += "&#10;"; break;
      case '\r': out += "&#13;"; break;
      default:
        if (c < 0x20) {
          out += "\xEF\xBF\xBD";
        } else if (c == 0xEF && i + 2 < text.size() && text[i + 1] == '\xBF' &&
                   (text[i + 2] == '\xBE' || text[i + 2] == '\xBF')) {
          out += "\xEF\xBF\xBD";  // U+FFFE and U+FFFF are not XML characters
          i += 2;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

void kml_write_prolog(std::FILE* out) {
  std::fputs(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<kml xmlns=\"http://earth.google.com/kml/2.1\">\n"
      "<!-- made by mosaiq -->\n",
      out);
}

void kml_write_region_box(std::FILE* out, double north, double south, double east,
                          double west, double rotation) {
  std::fprintf(out,
               "<LatLonAltBox><north>%.8lf</north><south>%.8lf</south><east>%.8lf</east>"
               "<west>%.8lf</west><rotation>%.8lf</rotation></LatLonAltBox>\n",
               north, south, east, west, rotation);
}

void kml_write_lod(std::FILE* out, int min_lod_pixels, int max_lod_pixels, int min_fade_extent,
                   int max_fade_extent) {
  std::fprintf(out,
               "<Lod><minLodPixels>%d</minLodPixels><maxLodPixels>%d</maxLodPixels>"
               "<minFadeExtent>%d</minFadeExtent><maxFadeExtent>%d</maxFadeExtent></Lod>\n",
               min_lod_pixels, max_lod_pixels, min_fade_extent, max_fade_extent);
}

int write_kml_tile(double west, double east, double north, double south, double rotation,
                   int opacity, int min_lod_pixels, int max_lod_pixels, int min_fade_extent,
                   int max_fade_extent, const std::string& directory,
                   const std::string& document_name, const std::string& image_prefix,
                   const std::string& image_name) {
  const std::string path = directory + document_name;
  FilePtr file = open_file(path, "w");
  if (!file) {
    std::fprintf(stderr, "cannot open kml file [%s]\n", path.c_str());
    return 0;
  }
  std::FILE* out = file.get();
  // A buffer of our own: the whole document is one write, and stdio need
  // not ask the file system for a block size first.
  char buffer[4096];
  std::setvbuf(out, buffer, _IOFBF, sizeof buffer);

  kml_write_prolog(out);
  std::fputs("<Document>\n<Region>\n", out);
  kml_write_region_box(out, north, south, east, west, rotation);
  kml_write_lod(out, min_lod_pixels, max_lod_pixels, min_fade_extent, max_fade_extent);
  std::fputs("</Region>\n<GroundOverlay>\n", out);
  std::fprintf(out, "<color>%02xffffff</color>\n", static_cast<unsigned>(opacity));
  std::fputs("<drawOrder>1</drawOrder>\n", out);
  std::fprintf(out, "<Icon><href>%s%s</href></Icon>\n", xml_escape(image_prefix).c_str(),
               xml_escape(image_name).c_str());
  std::fprintf(out,
               "<LatLonBox><north>%.8lf</north><south>%.8lf</south><east>%.8lf</east>"
               "<west>%.8lf</west><rotation>%.8lf</rotation></LatLonBox>\n",
               north, south, east, west, rotation);
  std::fputs("</GroundOverlay>\n</Document>\n</kml>\n", out);

  if (!close_file_checked(file)) {
    std::fprintf(stderr, "cannot write kml file [%s]\n", path.c_str());
    // A half-written document would not parse; it is removed so its link
    // finds no document rather than a broken one.
    remove_partial_file(path);
    return 0;
  }
  return 1;
}
