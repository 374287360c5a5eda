// Fuzz target: the GMF directory reader on an in-memory stream, then the
// corner normalisation and bounds on whatever it accepted.
#include "format_gmf.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (fuzz::gmf_read_would_exit(data, size)) return 0;
  GmfMap map;
  map.file = fuzz::memory_stream(data, size);
  if (!map.file) return 0;
  if (!gmf_read(map)) return 0;
  // What the reader accepts must be consistent: sizes reach no further than
  // the input.
  for (const GmfTile& t : map.tiles)
    if (uint64_t{t.offset} + t.size > size || t.name.size() != t.name_len) __builtin_trap();
  all_calibration_points_at_4_corners(map);
  calculate_minmax_borders(map);
  return 0;
}
