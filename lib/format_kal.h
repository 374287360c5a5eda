// format_kal: KAL calibration text files (one image's name, size and up to
// four calibration points), lists of KAL records, and world-file parameters.
#pragma once

#include <cstdint>

#include "format_gmf.h"

// KAL point arrays, shared by the single-record KAL operations and the
// world-file parameters: point N is pair N-1.
using KalCoords = double[4][2];   // longitude, latitude in degrees
using KalPixels = int32_t[4][2];  // pixel column x, pixel row y
