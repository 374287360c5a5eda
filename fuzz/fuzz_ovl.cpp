// Fuzz target: the OVL selection-area reader, on the input as an OVL file;
// then every area read goes through the polygon test.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    char tmpl[] = "/tmp/ovl_fuzz.XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd < 0) std::abort();
    close(fd);
    return std::string(tmpl);
  }();
  {
    FilePtr f = open_file(path, "wb");
    if (!f || std::fwrite(data, 1, size, f.get()) != size) std::abort();
  }
  auto areas = std::make_unique<SelectionAreas>();
  if (!read_ovl_selection_areas(path, *areas)) return 0;
  if (areas->area_count < 1 || areas->area_count > kOvlMaxAreas) __builtin_trap();
  for (int32_t a = 0; a < areas->area_count; ++a) {
    const int32_t n = areas->area_points[a];
    if (n < 1 || n > kOvlMaxPoints || areas->area_x[a].size() < size_t(n) ||
        areas->area_y[a].size() < size_t(n))
      __builtin_trap();
    isInsideP(0.5, 0.5, areas->area_x[a].data(), areas->area_y[a].data(), n);
  }
  return 0;
}
