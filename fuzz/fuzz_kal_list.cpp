// Fuzz target: the KAL list reader on an in-memory stream; every tile it
// makes must be consistent with the record rules.
#include "format_kal.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FilePtr in = fuzz::memory_stream(data, size);
  if (!in) return 0;
  GmfMap map;
  const int result = read_kals(in.get(), map);
  if (result != (map.tile_count >= 2 ? 1 : 0) || map.tile_count > map.tiles.size() ||
      map.tile_count >= kGmfMaxTiles)
    __builtin_trap();
  for (uint32_t i = 0; i < map.tile_count; ++i) {
    const GmfTile& t = map.tiles[i];
    if (t.name_len != t.name.size() || t.name_len > 1023) __builtin_trap();
    if (t.cal_count != 0xFFFFFFFFu && t.cal_count > 4) __builtin_trap();
    // Names become text the other way round without loss.
    if (utf8_to_utf16(utf16_to_utf8(t.name)) != t.name) __builtin_trap();
  }
  return 0;
}
