// ovl_inside: reads the polygonal areas of an OVL file and tells, for each
// area, where a point lies (the result of isInsideP).
//
//   ovl_inside AREAS.ovl X Y
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "geotools.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: ovl_inside AREAS.ovl X Y\n", stderr);
    return 2;
  }
  const double px = std::atof(argv[2]), py = std::atof(argv[3]);
  auto areas = std::make_unique<SelectionAreas>();
  if (!read_ovl_selection_areas(argv[1], *areas)) return 1;
  for (int32_t j = 0; j < areas->area_count; ++j)
    std::printf("area %d: points %d, isInsideP %d\n", j, areas->area_points[j],
                isInsideP(px, py, areas->area_x[j].data(), areas->area_y[j].data(),
                          areas->area_points[j]));
  return 0;
}
