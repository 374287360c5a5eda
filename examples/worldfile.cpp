// worldfile: prints the six world-file lines of the affine map through
// three calibration points (pixel x, pixel y, longitude, latitude each).
//
//   worldfile X1 Y1 LON1 LAT1 X2 Y2 LON2 LAT2 X3 Y3 LON3 LAT3
#include <cstdio>
#include <cstdlib>

#include "format_kal.h"

int main(int argc, char** argv) {
  if (argc != 13) {
    std::fputs("usage: worldfile X1 Y1 LON1 LAT1 X2 Y2 LON2 LAT2 X3 Y3 LON3 LAT3\n", stderr);
    return 2;
  }
  KalCoords coords = {};
  KalPixels pixels = {};
  for (int k = 0; k < 3; ++k) {
    pixels[k][0] = std::atoi(argv[1 + 4 * k]);
    pixels[k][1] = std::atoi(argv[2 + 4 * k]);
    coords[k][0] = std::atof(argv[3 + 4 * k]);
    coords[k][1] = std::atof(argv[4 + 4 * k]);
  }
  double params[6];
  calibration2worldfile(0, 0, coords, pixels, 0, params);
  for (double v : params) std::printf("%.10g\n", v);
  return 0;
}
