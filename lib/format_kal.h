// format_kal: KAL calibration text files (one image's name, size and up to
// four calibration points), lists of KAL records, and world-file parameters.
#pragma once

#include "format_gmf.h"
