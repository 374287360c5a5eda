// The GMF directory reader: what it holds after a good read, every range
// check and refusal, and the fatal short reads.
#include <gtest/gtest.h>

#include "format_gmf.h"
#include "testutil.h"

using namespace testutil;

namespace {

// Opens the bytes as a GMF stream in map.file.
void open_bytes(GmfMap& map, const std::string& bytes) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  map.file.reset(f);
}

struct ReadOutcome {
  int result;
  std::string err;
};

ReadOutcome read_bytes(GmfMap& map, const std::string& bytes) {
  open_bytes(map, bytes);
  testing::internal::CaptureStderr();
  int result = gmf_read(map);
  return {result, testing::internal::GetCapturedStderr()};
}

FixtureTile tile4(std::u16string name, std::string data) {
  FixtureTile t;
  t.name = std::move(name);
  t.width = 100;
  t.height = 50;
  t.cal = box_points(10, 51, 0.01, 0.01, 10, 5, 90, 45);
  t.data = std::move(data);
  return t;
}

// Header, then one entry whose fields the caller writes by hand.
std::string header(uint32_t version, uint32_t count) {
  std::string b;
  put_u32(b, version);
  put_u32(b, count);
  return b;
}

}  // namespace

TEST(GmfRead, HoldsEveryFieldAndDerivesSizes) {
  FixtureTile a = tile4(u"a=1.bmp", "AAAA");
  FixtureTile b = tile4(std::u16string(u"\u00e9t\u00e9\0x.bmp", 9), "BBBBBB");
  b.cal.resize(2);
  b.cal[1].x = 7;
  FixtureTile c = tile4(u"c.bmp", "CC");
  c.cal.resize(3);
  std::string bytes = gmf_bytes({a, b, c}) + "trailing";

  GmfMap map;
  ReadOutcome r = read_bytes(map, bytes);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(map.version, 0xFF000002u);
  ASSERT_EQ(map.tile_count, 3u);
  ASSERT_EQ(map.tiles.size(), 3u);

  const uint32_t first = 8 + (20 + 14 + 96) + (20 + 18 + 48) + (20 + 10 + 72);
  EXPECT_EQ(map.tiles[0].offset, first);
  EXPECT_EQ(map.tiles[0].size, 4u);
  EXPECT_EQ(map.tiles[1].offset, first + 4);
  EXPECT_EQ(map.tiles[1].size, 6u);
  // The last tile runs to the end of the file, trailing bytes included.
  EXPECT_EQ(map.tiles[2].size, 2u + 8u);

  // Names are held exactly, inner zero unit included, and terminated.
  EXPECT_EQ(map.tiles[1].name, b.name);
  EXPECT_EQ(map.tiles[1].name_len, 9u);
  EXPECT_EQ(map.tiles[1].name.c_str()[9], u'\0');
  EXPECT_EQ(map.tiles[0].name, u"a=1.bmp");

  EXPECT_EQ(map.tiles[0].width, 100u);
  EXPECT_EQ(map.tiles[0].height, 50u);
  EXPECT_EQ(map.tiles[0].cal_count, 4u);
  EXPECT_EQ(map.tiles[0].cal[3].x, 90u);
  EXPECT_DOUBLE_EQ(map.tiles[0].cal[3].lon, 10.9);
  EXPECT_DOUBLE_EQ(map.tiles[0].cal[3].lat, 50.55);
  EXPECT_EQ(map.tiles[1].cal_count, 2u);
  EXPECT_EQ(map.tiles[1].cal[1].x, 7u);
  EXPECT_EQ(map.tiles[2].cal_count, 3u);

  // The stream is rewound for the image reads that follow.
  EXPECT_EQ(std::ftell(map.file.get()), 0);
  EXPECT_EQ(std::fgetc(map.file.get()), 0x02);
}

TEST(GmfRead, AcceptsTheLimitsOfEveryRange) {
  struct Case {
    const char* what;
    size_t name_len;
    size_t points;
  } cases[] = {
      {"name of 1 unit", 1, 4},   {"name of 1023 units", 1023, 4},
      {"two points", 5, 2},       {"three points", 5, 3},
  };
  for (const Case& c : cases) {
    FixtureTile t = tile4(std::u16string(c.name_len, u'n'), "data");
    t.cal.resize(c.points);
    GmfMap map;
    ReadOutcome r = read_bytes(map, gmf_bytes({t}));
    EXPECT_EQ(r.result, 1) << c.what;
    EXPECT_EQ(r.err, "") << c.what;
    EXPECT_EQ(map.tiles.at(0).name_len, c.name_len) << c.what;
    EXPECT_EQ(map.tiles.at(0).cal_count, c.points) << c.what;
  }
}

TEST(GmfRead, ReadsTheLargestDirectory) {
  std::string bytes = header(0xFF000002u, 100000);
  const uint32_t entry = 20 + 2 + 48;
  const uint32_t first = 8 + 100000 * entry;
  for (uint32_t i = 0; i < 100000; ++i) {
    put_u32(bytes, 1);
    put_u16s(bytes, u"t");
    put_u32(bytes, first + i);
    put_u32(bytes, 1);
    put_u32(bytes, 1);
    put_u32(bytes, 2);
    put_point(bytes, {0, 0, 1.0, 2.0});
    put_point(bytes, {1, 1, 3.0, 4.0});
  }
  bytes += std::string(100000, 'x');
  GmfMap map;
  ReadOutcome r = read_bytes(map, bytes);
  ASSERT_EQ(r.result, 1) << r.err;
  ASSERT_EQ(map.tiles.size(), 100000u);
  EXPECT_EQ(map.tiles[99999].size, 1u);
  EXPECT_EQ(map.tiles[12345].offset, first + 12345);
}

TEST(GmfRead, RefusesWhatTheFormatDoesNotAllow) {
  const FixtureTile good = tile4(u"t.bmp", "data");
  auto with = [&](auto change) {
    FixtureTile t = good;
    change(t);
    return gmf_bytes({t});
  };
  // A first entry whose name length or point count is the given word.
  auto entry_with = [](uint32_t name_len, uint32_t points) {
    std::string b = header(0xFF000002u, 1);
    put_u32(b, name_len);
    put_u16s(b, std::u16string(name_len > 1023 ? 1024 : name_len, u'n'));
    put_u32(b, 0);
    put_u32(b, 1);
    put_u32(b, 1);
    put_u32(b, points);
    for (uint32_t i = 0; i < points; ++i) put_point(b, {0, 0, 1, 1});
    return b;
  };
  std::string short_record = gmf_bytes({good});
  short_record.resize(8 + 4 + 10 + 16 + 3 * 24 + 10);

  FixtureTile later = good;
  later.offset = 1000;
  FixtureTile earlier = good;
  earlier.offset = 200;

  struct Case {
    const char* what;
    std::string bytes;
    std::string message;
  } cases[] = {
      {"a plain bitmap", "BM" + std::string(100, '\0'),
       "only GMF version ff000002 currently supported\n"},
      {"another version", header(0xFF000001u, 1) + "xxxxxxxx",
       "only GMF version ff000002 currently supported\n"},
      {"no tiles", header(0xFF000002u, 0), "number of tiles = 0 not accepted\n"},
      {"100001 tiles", header(0xFF000002u, 100001), "number of tiles = 100001 not accepted\n"},
      {"tile count 0xFFFFFFFF", header(0xFF000002u, 0xFFFFFFFFu),
       "number of tiles = -1 not accepted\n"},
      {"name length 0", entry_with(0, 2), "stringsize exceeded, aborted ...\n"},
      {"name length 1024", entry_with(1024, 2), "stringsize exceeded, aborted ...\n"},
      {"one point", entry_with(3, 1), "number of calibration points should be in [2..4] ...\n"},
      {"five points", entry_with(3, 5), "number of calibration points should be in [2..4] ...\n"},
      {"short calibration record", short_record, "GMF calibration entry read error\n"},
      {"offset beyond the end", with([](FixtureTile& t) { t.offset = 100000; }),
       "tile data offsets out of order or outside the file ...\n"},
      {"offsets decreasing", gmf_bytes({later, earlier}) + std::string(2000, 'z'),
       "tile data offsets out of order or outside the file ...\n"},
  };
  for (const Case& c : cases) {
    GmfMap map;
    ReadOutcome r = read_bytes(map, c.bytes);
    EXPECT_EQ(r.result, 0) << c.what;
    EXPECT_EQ(r.err, c.message) << c.what;
    EXPECT_TRUE(map.tiles.empty()) << c.what;
  }
}

TEST(GmfReadDeathTest, ShortWordsAndNamesEndTheProcess) {
  std::string inside_name = gmf_bytes({tile4(u"name.bmp", "x")});
  inside_name.resize(8 + 4 + 5);
  std::string inside_entry = gmf_bytes({tile4(u"name.bmp", "x")});
  inside_entry.resize(8 + 4 + 16 + 6);
  struct Case {
    const char* what;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"empty file", "", "GMF DWORD read error"},
      {"inside the header", header(0xFF000002u, 1).substr(0, 6), "GMF DWORD read error"},
      {"inside a directory word", inside_entry, "GMF DWORD read error"},
      {"inside a name", inside_name, "GMF WCHAR read error"},
  };
  for (const Case& c : cases) {
    EXPECT_EXIT(
        {
          GmfMap map;
          open_bytes(map, c.bytes);
          gmf_read(map);
          std::exit(0);
        },
        testing::ExitedWithCode(1), c.message)
        << c.what;
  }
}

TEST(TileFileName, RefusesNamesThatLeaveTheFolder) {
  struct Case {
    std::u16string name;
    bool safe;
    std::string out, err;
  } cases[] = {
      {u"a.bmp", true, "a.bmp", ""},
      {u"\u00e9t\u00e9 1.bmp", true, "\xc3\xa9t\xc3\xa9 1.bmp", ""},
      {u"..a.bmp", true, "..a.bmp", ""},
      {u"back\\slash.bmp", true, "back\\slash.bmp", ""},
      {u"sub/a.bmp", false, "", "unsafe tile name sub/a.bmp\n"},
      {u"../a.bmp", false, "", "unsafe tile name ../a.bmp\n"},
      {u"..", false, "", "unsafe tile name ..\n"},
      {u".", false, "", "unsafe tile name .\n"},
      {u"", false, "", "unsafe tile name \n"},
      {std::u16string(u"a\0b", 3), false, "", "unsafe tile name a\n"},
  };
  for (const Case& c : cases) {
    GmfTile tile;
    tile.name = c.name;
    tile.name_len = static_cast<uint32_t>(c.name.size());
    std::string name;
    testing::internal::CaptureStderr();
    EXPECT_EQ(gmf_tile_file_name(tile, name), c.safe) << c.out;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
    if (c.safe) {
      EXPECT_EQ(name, c.out);
    }
  }
}
