// format_kal: KAL calibration text files (one image's name, size and up to
// four calibration points), lists of KAL records, and world-file parameters.
#pragma once

#include <cstdint>

#include "format_gmf.h"

// KAL point arrays, shared by the single-record KAL operations and the
// world-file parameters: point N is pair N-1.
using KalCoords = double[4][2];   // longitude, latitude in degrees
using KalPixels = int32_t[4][2];  // pixel column x, pixel row y

// ---------------------------------------------------------------------------
// World-file parameters

// Solves lon = A*x + B*y + C and lat = D*x + E*y + F through the first three
// points (coords[0..2], pixels[0..2]) by Cramer's rule, in double precision
// (pixel values are converted before any product, so nothing overflows), and
// stores A, D, B, E, C, F in out[0..5]: world-file line order. Further
// pairs and the three int32_t arguments are not read. Checks nothing and
// prints nothing: pixels on one line give infinite or NaN results.
void calibration2worldfile(int32_t, int32_t, const KalCoords coords, const KalPixels pixels,
                           int32_t, double out[6]);
