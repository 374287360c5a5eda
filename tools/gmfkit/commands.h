// gmfkit's subcommands: each one library road from the command line. A
// handler takes the arguments after the subcommand's name (their count
// already checked against the command table) and returns the exit status.
#pragma once

#include <string>
#include <vector>

#include "format_gmf.h"

using Args = std::vector<std::string>;

// Exit status of a handler that finds its arguments malformed (after its
// message on standard error); main then adds the subcommand's usage.
inline constexpr int kUsageError = 2;

int gmfkit_list(const Args& args);        // IN.gmf
int gmfkit_footprints(const Args& args);  // IN.gmf OUT.geojson
// INDEX arguments (extract, subset): a decimal index "7" or an inclusive
// range "3-5" ("5-3" runs downwards); other text is a usage error
// ("bad tile index %s").
int gmfkit_extract(const Args& args);     // IN.gmf DIR [INDEX...]
int gmfkit_pack(const Args& args);        // LIST.kal IMAGEDIR OUT.gmf
int gmfkit_subset(const Args& args);      // IN.gmf OUT.gmf INDEX...
int gmfkit_merge(const Args& args);       // A.gmf B.gmf OUT.gmf
int gmfkit_select(const Args& args);      // IN.gmf AREAS.ovl OUT.gmf
int gmfkit_kal(const Args& args);         // IN.gmf DIR
int gmfkit_worldfile(const Args& args);   // IN.gmf DIR

// ---------------------------------------------------------------------------
// Pieces of the handlers that have rules of their own.

// The footprint ring of a four-point tile: its points normalised to the
// image corners (on a copy) in the order NW, NE, SE, SW; when normalisation
// fails (its message printed) the points as stored in slot order 0, 1, 3, 2.
// The same ring isInsideTile tests against.
struct Ring {
  double lon[4];
  double lat[4];
};
Ring tile_ring(const GmfTile& tile);

// Whether the closed segments a1-a2 and b1-b2 share a point (crossing,
// touching or overlapping collinear segments).
bool segments_meet(double a1x, double a1y, double a2x, double a2y, double b1x, double b1y,
                   double b2x, double b2y);

// Whether a tile's footprint ring meets the polygon of n vertices
// (x[i], y[i]): a footprint corner inside or on the polygon, a polygon vertex
// inside the footprint (as isInsideTile tests it), or an edge of one crossing
// or touching an edge of the other. Always false for n < 3 (not an area).
bool footprint_meets_area(const Ring& ring, const double* x, const double* y, int32_t n);

// The world-file name of an image file name: the extension's first and last
// letter plus "w" for a three-letter ASCII extension ("a.bmp" -> "a.bpw",
// "a.tif" -> "a.tfw"), else the name without extension plus ".wld"
// ("a.jpeg" -> "a.wld", "tile" -> "tile.wld").
std::string world_file_name(const std::string& image_name);

// The six world-file values of a tile with three or four points, for pixel
// centres: A, D, B, E, C, F. A four-point tile is first normalised (on a
// copy): its NW, NE and SW corners lie at pixel edges (0,0), (W,0) and (0,H)
// (normalisation extrapolates east and south to the far image edges); when
// normalisation fails its first three points are taken as stored, as are the
// three points of a three-point tile. C and F are then moved from the pixel
// edge (0,0) to the centre of the top-left pixel, (0.5, 0.5).
// @return false when the tile has fewer than three points or the values are
//         not finite (the points lie on one line).
bool tile_world_file(const GmfTile& tile, double out[6]);

// The text as a JSON string literal: quotes, backslash and control
// characters escaped; the UTF-8 text passes through.
std::string json_string(const std::string& text);
