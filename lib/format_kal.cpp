#include "format_kal.h"

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
