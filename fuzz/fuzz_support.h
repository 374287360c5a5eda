// Shared pieces of the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "geotools.h"

namespace fuzz {

// The GMF reader ends the process, by design, when the file ends inside its
// header, a directory word or a name. This walks the bytes the way the reader
// consumes them and tells whether it would come to such an end, so the
// targets pass those inputs over instead of dying on them.
bool gmf_read_would_exit(const uint8_t* data, size_t size);

// The bytes as a read-only stdio stream (an empty input gives an empty
// stream, which fmemopen alone does not make).
FilePtr memory_stream(const uint8_t* data, size_t size);

}  // namespace fuzz
