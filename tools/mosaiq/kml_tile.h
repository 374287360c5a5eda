// The KML texts of the converter: the tile document written by
// write_kml_tile, and the pieces of the root super-overlay document that the
// driver writes block by block. Every inserted text value (names, prefixes)
// is XML-escaped, so each document is well-formed whatever the tile names.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// The text made safe for XML character data and attribute values: & < > " '
// become entities; tab, line feed and carriage return become character
// references (so a parser gives them back unchanged); other characters that
// XML 1.0 cannot carry (C0 controls, U+FFFE, U+FFFF) become U+FFFD, and so
// does every byte that is not part of valid UTF-8.
std::string xml_escape(std::string_view text);

// Lines 1 to 3 of both documents: XML declaration, the kml start tag with the
// KML 2.1 namespace, a comment naming the converter.
void kml_write_prolog(std::FILE* out);

// "<LatLonAltBox>..." line of a region, with rotation.
void kml_write_region_box(std::FILE* out, double north, double south, double east,
                          double west, double rotation);

// "<Lod>..." line of a region.
void kml_write_lod(std::FILE* out, int min_lod_pixels, int max_lod_pixels,
                   int min_fade_extent, int max_fade_extent);

// Writes the tile document `directory` + `document_name` (directory ends in
// "/" or is empty): a region with the tile's box and level of detail, and a
// ground overlay showing `image_prefix` + `image_name` with the opacity as
// the alpha of white. The box parameters come west, east, north, south; the
// document writes them north, south, east, west. An existing file is
// replaced.
// @return 1 when the document was written whole; 0 after
//   "cannot open kml file [%s]" (the path) when it cannot be created, or
//   "cannot write kml file [%s]" when a write or the close failed (the
//   partial document is removed).
int write_kml_tile(double west, double east, double north, double south, double rotation,
                   int opacity, int min_lod_pixels, int max_lod_pixels, int min_fade_extent,
                   int max_fade_extent, const std::string& directory,
                   const std::string& document_name, const std::string& image_prefix,
                   const std::string& image_name);
