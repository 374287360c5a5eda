// Fuzz target: the single-record KAL reader on an in-memory stream; whatever
// it reads is written back and read again, which must give the same record.
#include <cmath>
#include <cstring>
#include <string>

#include "format_kal.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FilePtr in = fuzz::memory_stream(data, size);
  if (!in) return 0;
  std::string bitmap = "unset";
  int32_t width = -7, height = -7, count = 0;
  KalCoords coords;
  KalPixels pixels;
  const int result = read_kal(in.get(), bitmap, width, height, coords, pixels, count);
  if (result != (count >= 2 ? 1 : 0) || count < -1 || count > 4) __builtin_trap();
  if (bitmap.find_first_of("\r\n") != std::string::npos) __builtin_trap();
  if (!result || bitmap.find('\0') != std::string::npos) return 0;

  // The writer's text reads back to the same record (coordinates to 8
  // decimals); a name with a leading blank or odd bytes comes back as is.
  char* text = nullptr;
  size_t text_size = 0;
  std::FILE* out = open_memstream(&text, &text_size);
  if (!out) return 0;
  write_kal(out, bitmap, width, height, coords, pixels, count);
  std::fclose(out);
  FilePtr again = fuzz::memory_stream(reinterpret_cast<const uint8_t*>(text), text_size);
  std::string bitmap2;
  int32_t width2 = 0, height2 = 0, count2 = 0;
  KalCoords coords2;
  KalPixels pixels2;
  read_kal(again.get(), bitmap2, width2, height2, coords2, pixels2, count2);
  again.reset();
  std::free(text);
  if (bitmap2 != bitmap || width2 != width || height2 != height || count2 != count)
    __builtin_trap();
  for (int p = 0; p < count; ++p) {
    if (pixels2[p][0] != pixels[p][0] || pixels2[p][1] != pixels[p][1]) __builtin_trap();
    for (int c = 0; c < 2; ++c) {
      const double a = coords[p][c], b = coords2[p][c];
      if (std::isfinite(a) && std::fabs(a) < 1e15 && !(std::fabs(a - b) <= 6e-9)) __builtin_trap();
    }
  }
  return 0;
}
