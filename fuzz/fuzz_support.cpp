#include "fuzz_support.h"

#include "format_gmf.h"

namespace fuzz {

namespace {

struct Cursor {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;

  bool take(size_t n) {
    if (size - pos < n) return false;
    pos += n;
    return true;
  }
  bool word(uint32_t& v) {
    if (size - pos < 4) return false;
    v = uint32_t{data[pos]} | uint32_t{data[pos + 1]} << 8 | uint32_t{data[pos + 2]} << 16 |
        uint32_t{data[pos + 3]} << 24;
    pos += 4;
    return true;
  }
};

}  // namespace

bool gmf_read_would_exit(const uint8_t* data, size_t size) {
  Cursor c{data, size};
  uint32_t version, count;
  if (!c.word(version)) return true;
  if (version != kGmfVersion) return false;
  if (!c.word(count)) return true;
  if (count - 1 > kGmfMaxTiles - 1) return false;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t name_len, word, cal_count;
    if (!c.word(name_len)) return true;
    if (name_len - 1 > kGmfMaxNameLength - 1) return false;
    if (!c.take(2 * size_t{name_len})) return true;
    for (int w = 0; w < 3; ++w)
      if (!c.word(word)) return true;
    if (!c.word(cal_count)) return true;
    if (cal_count - kGmfMinCalPoints > kGmfMaxCalPoints - kGmfMinCalPoints) return false;
    // A short calibration record is an ordinary failure, not an exit.
    if (!c.take(sizeof(CalPoint) * cal_count)) return false;
  }
  return false;
}

FilePtr memory_stream(const uint8_t* data, size_t size) {
  if (size == 0) return FilePtr(std::fopen("/dev/null", "rb"));
  return FilePtr(fmemopen(const_cast<uint8_t*>(data), size, "rb"));
}

}  // namespace fuzz
