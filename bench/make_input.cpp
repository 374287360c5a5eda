// Writes a benchmark GMF file: COUNT tiles of SIZE bytes each, laid out as a
// grid of calibrated tiles, every image a distinct block of bytes.
//   bench_make_input OUT.gmf COUNT SIZE
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "format_gmf.h"

namespace {

void word(std::string& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b += char((v >> (8 * i)) & 0xFF);
}

void point(std::string& b, uint32_t x, uint32_t y, double lon, double lat) {
  word(b, x);
  word(b, y);
  b.append(reinterpret_cast<const char*>(&lon), 8);
  b.append(reinterpret_cast<const char*>(&lat), 8);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("Syntax: bench_make_input OUT.gmf COUNT SIZE\n", stderr);
    return 2;
  }
  const uint32_t count = std::strtoul(argv[2], nullptr, 10);
  const uint32_t size = std::strtoul(argv[3], nullptr, 10);
  if (count < 1 || count > kGmfMaxTiles || size < 16) {
    std::fputs("COUNT must be 1 to 100000 and SIZE at least 16\n", stderr);
    return 2;
  }
  const uint32_t columns = 400;
  const uint32_t w = 64, h = 64;
  const double step = 0.01;

  std::string dir;
  word(dir, kGmfVersion);
  word(dir, count);
  const uint32_t name_len = 11;  // t000001.bmp
  uint32_t offset = kGmfHeaderSize + count * (kGmfEntryWords + 2 * name_len + 4 * 24);
  for (uint32_t i = 0; i < count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "t%06u.bmp", i + 1);
    word(dir, name_len);
    for (uint32_t k = 0; k < name_len; ++k) dir += name[k], dir += '\0';
    word(dir, offset);
    word(dir, w);
    word(dir, h);
    word(dir, 4);
    const double west = (i % columns) * step, north = 60 - (i / columns) * step;
    const double d = step / w;
    point(dir, 8, 8, west + 8 * d, north - 8 * d);
    point(dir, w - 8, 8, west + (w - 8) * d, north - 8 * d);
    point(dir, 8, h - 8, west + 8 * d, north - (h - 8) * d);
    point(dir, w - 8, h - 8, west + (w - 8) * d, north - (h - 8) * d);
    offset += size;
  }
  FilePtr f = open_file(argv[1], "wb");
  if (!f) {
    std::fprintf(stderr, "cannot create %s\n", argv[1]);
    return 1;
  }
  std::fwrite(dir.data(), 1, dir.size(), f.get());
  std::vector<char> image(size);
  uint64_t x = 88172645463325252ull;
  for (uint32_t i = 0; i < count; ++i) {
    image[0] = 'B', image[1] = 'M';
    for (size_t k = 2; k + 8 <= size; k += 8) {  // xorshift: bytes differ per tile
      x ^= x << 13, x ^= x >> 7, x ^= x << 17;
      for (int j = 0; j < 8; ++j) image[k + j] = char(x >> (8 * j));
    }
    std::fwrite(image.data(), 1, size, f.get());
  }
  if (!close_file_checked(f)) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("%s: %u tiles of %u bytes, directory %zu bytes\n", argv[1], count, size, dir.size());
  return 0;
}
