// KAL records: the line grammar as both readers apply it, the list reader's
// records and limit, and the exact texts of both KAL writers.
#include <gtest/gtest.h>

#include <optional>

#include <csignal>

#include <sys/resource.h>

#include "format_gmf.h"
#include "format_kal.h"
#include "testutil.h"

using namespace testutil;

namespace {

// A read stream holding `text`.
FilePtr text_stream(const std::string& text) {
  FilePtr f(std::tmpfile());
  std::fwrite(text.data(), 1, text.size(), f.get());
  std::rewind(f.get());
  return f;
}

// Everything a stream written by `write` holds.
template <typename Write>
std::string written_text(Write write) {
  FilePtr f(std::tmpfile());
  write(f.get());
  std::rewind(f.get());
  std::string text;
  for (int c; (c = std::fgetc(f.get())) != EOF;) text += static_cast<char>(c);
  return text;
}

struct Point {
  double lon = 0, lat = 0;
  int32_t x = 0, y = 0;
};

struct KalRecord {
  int result = -1;
  std::string bitmap;
  int32_t width = 0, height = 0;
  KalCoords coords = {};
  KalPixels pixels = {};
  int32_t count = 0;
};

// read_kal with the caller's variables preset, so untouched ones show.
KalRecord read_one(const std::string& text) {
  KalRecord r;
  r.bitmap = "before";
  r.width = 7;
  r.height = 8;
  for (auto& p : r.coords) p[0] = p[1] = 99;
  for (auto& p : r.pixels) p[0] = p[1] = 99;
  FilePtr f = text_stream(text);
  r.result = read_kal(f.get(), r.bitmap, r.width, r.height, r.coords, r.pixels, r.count);
  return r;
}

struct ListRead {
  int result;
  GmfMap map;
  std::string err;
};

ListRead read_list(const std::string& text) {
  ListRead r;
  FilePtr f = text_stream(text);
  testing::internal::CaptureStderr();
  r.result = read_kals(f.get(), r.map);
  r.err = testing::internal::GetCapturedStderr();
  return r;
}

std::string point_section(int n, const char* lon, const char* lat, const char* pixel) {
  return "[Calibration Point " + std::to_string(n) + "]\nLongitude = " + lon +
         "\nLatitude = " + lat + "\nPixel = POINT(" + pixel + ")\n";
}

}  // namespace

// Each record is read by read_kal on its own, and by read_kals followed by a
// second record that must stay apart from it.
TEST(KalGrammar, BothReadersApplyTheSameRules) {
  const std::string four = point_section(1, "10.5", "50.25", "1,2") +
                           point_section(2, "11.5", "50.25", "99,2") +
                           point_section(3, "10.5", "49.75", "1,77") +
                           point_section(4, "11.5", "49.75", "99,77");
  const std::string long_name(1014, 'n');
  struct Case {
    const char* what;
    std::string record;  // the lines after "[Kalibrierung]"
    int32_t count;
    std::optional<std::string> bitmap;  // nullopt: left as it was
    std::optional<int32_t> width, height;
    std::vector<Point> points;  // points 1.. ; the rest stay zero
  } cases[] = {
      {"a record as the KAL export writes it",
       four + "[Map]\nBitmap = t.bmp\nSize = SIZE(640,480)\n", 4, "t.bmp", 640, 480,
       {{10.5, 50.25, 1, 2}, {11.5, 50.25, 99, 2}, {10.5, 49.75, 1, 77}, {11.5, 49.75, 99, 77}}},
      {"the last point header counts, not the highest",
       "[Calibration Point 3]\nLongitude = 3\n[Calibration Point 2]\nLatitude = 2\nBitmap = b\n",
       2, "b", {}, {}, {{}, {0, 2, 0, 0}, {3, 0, 0, 0}}},
      {"[Calibration Point 5] is no header: its lines go to the current point",
       "[Calibration Point 1]\nLongitude = 1\n[Calibration Point 5]\nLongitude = 5\n"
       "Latitude = 6\nBitmap = b\n",
       1, "b", {}, {}, {{5, 6, 0, 0}}},
      {"blanks after the equals sign and before numbers",
       "[Calibration Point 1]\nLongitude =   1.5\nLatitude = \t-2.25\nPixel = POINT( 7, 8)\n"
       "[Calibration Point 2]\nBitmap = b\n",
       2, "b", {}, {}, {{1.5, -2.25, 7, 8}}},
      {"keys not at the line start or not spelled exactly are ignored",
       "[Calibration Point 1]\n Longitude = 1.5\nLongitude=1.5\nlongitude = 1.5\n"
       "Latitude =\t3\nPixel=POINT(3,3)\n Bitmap = x\n Size = SIZE(1,2)\nSize=SIZE(1,2)\n"
       "[Calibration Point 2]\nBitmap = b\n",
       2, "b", {}, {}, {}},
      {"point lines before any point header are ignored",
       "Longitude = 4\nPixel = POINT(1,1)\n[Map]\n[Calibration Point 2]\nBitmap = b\n", 2, "b",
       {}, {}, {}},
      {"the name keeps inner and trailing blanks; CR LF is cut",
       "[Calibration Point 2]\nBitmap = tile 1.bmp  \r\n", 2, "tile 1.bmp  ", {}, {}, {}},
      {"Bitmap and Size count inside a point section; a later line wins",
       "[Calibration Point 2]\nBitmap = a\nSize = SIZE(1,2)\nSize = SIZE(3,4)\nBitmap = b\n", 2,
       "b", 3, 4, {}},
      {"no Size line leaves the size as it was", "[Calibration Point 2]\nBitmap = b\n", 2, "b",
       {}, {}, {}},
      {"a Size line without SIZE( sets nothing",
       "[Calibration Point 2]\nSize = 100,200\nBitmap = b\n", 2, "b", {}, {}, {}},
      {"a field that does not parse leaves it and the later ones",
       "[Calibration Point 1]\nSize = SIZE(100,x)\nPixel = POINT(7,y)\nLongitude = east\n"
       "Latitude = 3e1\n[Calibration Point 2]\nBitmap = b\n",
       2, "b", 100, {}, {{0, 30, 7, 0}}},
      {"no point header at all", "Longitude = 1\nBitmap = b\n", -1, "b", {}, {}, {}},
      {"lines are read in pieces of 1023 characters",
       "[Calibration Point 1]\n" + std::string(1023, 'x') + "Longitude = 9\n" +
           "[Calibration Point 2]\nBitmap = " + long_name + "Size = SIZE(5,6)\n",
       2, long_name, 5, 6, {{9, 0, 0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Point> expected = c.points;
    expected.resize(4);

    KalRecord one = read_one("[Kalibrierung]\n" + c.record);
    EXPECT_EQ(one.count, c.count);
    EXPECT_EQ(one.result, c.count >= 2 ? 1 : 0);
    EXPECT_EQ(one.bitmap, c.bitmap.value_or("before"));
    EXPECT_EQ(one.width, c.width.value_or(7));
    EXPECT_EQ(one.height, c.height.value_or(8));
    for (int n = 0; n < 4; ++n) {
      EXPECT_EQ(one.coords[n][0], expected[n].lon) << "point " << n + 1;
      EXPECT_EQ(one.coords[n][1], expected[n].lat) << "point " << n + 1;
      EXPECT_EQ(one.pixels[n][0], expected[n].x) << "point " << n + 1;
      EXPECT_EQ(one.pixels[n][1], expected[n].y) << "point " << n + 1;
    }

    ListRead list = read_list("[Kalibrierung]\n" + c.record + "[Kalibrierung]\nBitmap = next\n");
    EXPECT_EQ(list.result, 1);
    EXPECT_EQ(list.err, "");
    ASSERT_EQ(list.map.tile_count, 2u);
    ASSERT_EQ(list.map.tiles.size(), 2u);
    const GmfTile& t = list.map.tiles[0];
    EXPECT_EQ(utf16_to_utf8(t.name), c.bitmap.value_or(""));
    EXPECT_EQ(t.name_len, t.name.size());
    EXPECT_EQ(t.cal_count, static_cast<uint32_t>(c.count));
    EXPECT_EQ(t.width, static_cast<uint32_t>(c.width.value_or(0)));
    EXPECT_EQ(t.height, static_cast<uint32_t>(c.height.value_or(0)));
    for (int n = 0; n < 4; ++n) {
      EXPECT_EQ(t.cal[n].lon, expected[n].lon) << "point " << n + 1;
      EXPECT_EQ(t.cal[n].lat, expected[n].lat) << "point " << n + 1;
      EXPECT_EQ(t.cal[n].x, static_cast<uint32_t>(expected[n].x)) << "point " << n + 1;
      EXPECT_EQ(t.cal[n].y, static_cast<uint32_t>(expected[n].y)) << "point " << n + 1;
    }
    const GmfTile& next = list.map.tiles[1];
    EXPECT_EQ(next.name, u"next");
    EXPECT_EQ(next.cal_count, 0xFFFFFFFFu);
    EXPECT_EQ(next.width, 0u);
    EXPECT_EQ(next.cal[0].lon, 0.0);
    EXPECT_EQ(next.cal[1].lat, 0.0);
  }
}

TEST(KalRead, ASecondRecordIgnoresPointLinesUntilItsFirstHeader) {
  KalRecord r = read_one(
      "[Kalibrierung]\n[Calibration Point 1]\nLongitude = 1\n[Calibration Point 2]\n"
      "Bitmap = first\n[Kalibrierung]\nLongitude = 9\nLatitude = 9\n"
      "[Calibration Point 3]\nLatitude = 3\n");
  EXPECT_EQ(r.count, 3);
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.bitmap, "first");
  EXPECT_EQ(r.coords[0][0], 1.0);
  EXPECT_EQ(r.coords[1][0], 0.0);
  EXPECT_EQ(r.coords[1][1], 0.0);
  EXPECT_EQ(r.coords[2][1], 3.0);

  ListRead list = read_list(
      "[Kalibrierung]\n[Calibration Point 2]\nLongitude = 1\nBitmap = a\n"
      "[Kalibrierung]\nLongitude = 9\nBitmap = b\n[Calibration Point 1]\nLatitude = 4\n");
  ASSERT_EQ(list.map.tile_count, 2u);
  EXPECT_EQ(list.map.tiles[0].cal[1].lon, 1.0);
  // The second record: no point was current at its Bitmap line, and the
  // point lines after it still fill the points.
  EXPECT_EQ(list.map.tiles[1].cal_count, 0xFFFFFFFFu);
  EXPECT_EQ(list.map.tiles[1].cal[1].lon, 0.0);
  EXPECT_EQ(list.map.tiles[1].cal[0].lat, 4.0);
}

TEST(KalRead, NamesStayUtf8InOneRecordAndBecomeUtf16InAList) {
  const std::string text = "[Kalibrierung]\n[Calibration Point 2]\nBitmap = Z\xC3\xBCrich \xF0\x9F\x97\xBA \xFF.bmp\n";
  KalRecord one = read_one(text);
  EXPECT_EQ(one.bitmap, "Z\xC3\xBCrich \xF0\x9F\x97\xBA \xFF.bmp");

  ListRead list = read_list(text);
  ASSERT_EQ(list.map.tile_count, 1u);
  const std::u16string expected = {u'Z', 0x00FC, u'r', u'i', u'c', u'h', u' ', 0xD83D, 0xDDFA,
                                   u' ',  0xFFFD, u'.', u'b', u'm', u'p'};
  EXPECT_EQ(list.map.tiles[0].name, expected);
  EXPECT_EQ(list.map.tiles[0].name_len, 15u);
}

TEST(KalList, CountsRecordsAndIgnoresLinesBeforeTheFirst) {
  struct Case {
    const char* what;
    std::string text;
    int result;
    uint32_t tiles;
  } cases[] = {
      {"empty stream", "", 0, 0},
      {"lines but no record", "Bitmap = x\n[Calibration Point 2]\nSize = SIZE(1,1)\n", 0, 0},
      {"one record", "[Kalibrierung]\nBitmap = a\n", 0, 1},
      {"two records", "[Kalibrierung]\nBitmap = a\n[Kalibrierung]\nBitmap = b\n", 1, 2},
      {"lines before the first record", "Bitmap = x\nSize = SIZE(5,5)\n[Calibration Point 1]\n"
                                        "Longitude = 5\n[Kalibrierung]\n[Kalibrierung]\n", 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GmfMap map;
    map.tile_count = 77;
    map.tiles.resize(3);
    FilePtr f = text_stream(c.text);
    EXPECT_EQ(read_kals(f.get(), map), c.result);
    EXPECT_EQ(map.tile_count, c.tiles);
    ASSERT_EQ(map.tiles.size(), c.tiles);
    for (const GmfTile& t : map.tiles) {
      EXPECT_EQ(t.width, 0u);
      EXPECT_EQ(t.cal[0].lon, 0.0);
    }
  }
}

TEST(KalList, Reads99999RecordsAndStopsAtThe100000th) {
  TempDir dir;
  const std::string path = dir.file("big.kal");
  {
    FilePtr f = open_file(path, "w");
    for (int i = 1; i <= 99999; ++i)
      std::fprintf(f.get(), "[Kalibrierung]\n[Calibration Point 2]\nBitmap = t%d.bmp\nSize = SIZE(%d,1)\n",
                   i, i);
  }
  {
    GmfMap map;
    FilePtr f = open_file(path, "r");
    testing::internal::CaptureStderr();
    EXPECT_EQ(read_kals(f.get(), map), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(map.tile_count, 99999u);
    EXPECT_EQ(map.tiles[99998].name, u"t99999.bmp");
    EXPECT_EQ(map.tiles[99998].width, 99999u);
    EXPECT_EQ(map.tiles[0].width, 1u);
  }
  {
    FilePtr f = open_file(path, "a");
    std::fputs("[Kalibrierung]\nBitmap = one too many\n", f.get());
  }
  GmfMap map;
  FilePtr f = open_file(path, "r");
  testing::internal::CaptureStderr();
  EXPECT_EQ(read_kals(f.get(), map), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "out of memory error, too many tiles\n");
  EXPECT_EQ(map.tile_count, 0u);
}

TEST(KalWrite, WritesTheRecordTextExactly) {
  const KalCoords coords = {{10.5, 50.125}, {-0.123456789, -33.000000004}, {9, 9}, {9, 9}};
  const KalPixels pixels = {{0, 0}, {-5, 2147483647}, {9, 9}, {9, 9}};
  EXPECT_EQ(written_text([&](std::FILE* f) {
              EXPECT_EQ(write_kal(f, "tile 1.bmp", 256, 192, coords, pixels, 2), 1);
            }),
            "[Kalibrierung]\n"
            "[Calibration Point 1]\n\n"
            "Longitude = 10.50000000\nLatitude = 50.12500000\nPixel = POINT(0,0)\n"
            "[Calibration Point 2]\n\n"
            "Longitude = -0.12345679\nLatitude = -33.00000000\nPixel = POINT(-5,2147483647)\n"
            "Bitmap = tile 1.bmp\n"
            "Size = SIZE(256,192)");
  for (int32_t count : {0, -1})
    EXPECT_EQ(written_text([&](std::FILE* f) { write_kal(f, "x.bmp", 3, 4, coords, pixels, count); }),
              "[Kalibrierung]\nBitmap = x.bmp\nSize = SIZE(3,4)")
        << count;
  // More than four points: the arrays hold four.
  EXPECT_EQ(written_text([&](std::FILE* f) { write_kal(f, "x", 1, 1, coords, pixels, 9); })
                .find("[Calibration Point 5]"),
            std::string::npos);
}

namespace {

// A full disk: no file of this process may grow past `bytes`.
void limit_file_size(rlim_t bytes) {
  std::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{bytes, bytes};
  setrlimit(RLIMIT_FSIZE, &limit);
}

GmfTile export_tile(std::u16string name, uint32_t points) {
  GmfTile t;
  t.name = std::move(name);
  t.name_len = static_cast<uint32_t>(t.name.size());
  t.width = 640;
  t.height = 480;
  t.cal_count = points;
  const std::vector<CalPoint> box = box_points(7.25, 47.5, 0.000123456789, 0.0001, 0, 0, 639, 479);
  for (uint32_t i = 0; i < 4; ++i) t.cal[i] = box[i];
  return t;
}

}  // namespace

TEST(KalExport, WritesTheTileAsAKalFile) {
  TempDir dir;
  GmfTile tile = export_tile(u"tile7.bmp", 4);
  ASSERT_EQ(write_gmf_entry_as_KAL(tile, dir.path), 1);
  EXPECT_EQ(read_file(dir.file("tile7.kal")),
            "[Kalibrierung]\n"
            "[Calibration Point 1]\nLongitude = 7.25000000\nLatitude = 47.50000000\nPixel = POINT(0,0)\n"
            "[Calibration Point 2]\nLongitude = 7.32888889\nLatitude = 47.50000000\nPixel = POINT(639,0)\n"
            "[Calibration Point 3]\nLongitude = 7.25000000\nLatitude = 47.45210000\nPixel = POINT(0,479)\n"
            "[Calibration Point 4]\nLongitude = 7.32888889\nLatitude = 47.45210000\nPixel = POINT(639,479)\n"
            "[Map]\nBitmap = tile7.bmp\nSize = SIZE(640,480)\n");

  // Only the tile's own points are written.
  GmfTile two = export_tile(u"two.bmp", 2);
  ASSERT_EQ(write_gmf_entry_as_KAL(two, dir.path + "/"), 1);
  const std::string text = read_file(dir.file("two.kal"));
  EXPECT_NE(text.find("[Calibration Point 2]"), std::string::npos);
  EXPECT_EQ(text.find("[Calibration Point 3]"), std::string::npos);
}

TEST(KalExport, NamesTheFileAfterTheTile) {
  TempDir dir;
  struct Case {
    std::string directory;
    std::u16string name;
    std::string file;
  } cases[] = {
      {dir.path, u"a.bmp", "a.kal"},
      {dir.path + "/", u"b.bmp", "b.kal"},
      {dir.path, u"tile", "tile.kal"},
      {dir.path, u"a.b.bmp", "a.b.kal"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(write_gmf_entry_as_KAL(export_tile(c.name, 4), c.directory), 1) << c.file;
  }
  EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"a.b.kal", "a.kal", "b.kal", "tile.kal"}));
}

TEST(KalExport, RefusesWhatItCannotWrite) {
  TempDir dir;
  write_file(dir.file("keep.kal"), "earlier");
  struct Case {
    const char* what;
    GmfTile tile;
    std::string directory;
    std::string err;
  } cases[] = {
      {"a name leaving the folder", export_tile(u"../keep.bmp", 4), dir.file("sub"),
       "unsafe tile name ../keep.bmp\n"},
      {"a folder that does not exist", export_tile(u"keep.bmp", 4), dir.file("missing"),
       "can't open KAL file " + dir.file("missing/keep.kal") + "\n"},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(write_gmf_entry_as_KAL(c.tile, c.directory), 0) << c.what;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.what;
  }
  EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"keep.kal"});
  EXPECT_EQ(read_file(dir.file("keep.kal")), "earlier");
}

TEST(KalExportDeathTest, AFullDiskKeepsTheEarlierFile) {
  TempDir dir;
  write_file(dir.file("keep.kal"), "earlier");
  const GmfTile tile = export_tile(u"keep.bmp", 4);
  EXPECT_EXIT(
      {
        limit_file_size(200);
        std::exit(10 + write_gmf_entry_as_KAL(tile, dir.path));
      },
      testing::ExitedWithCode(10), "can't write KAL file .*/keep.kal\n");
  EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"keep.kal"});
  EXPECT_EQ(read_file(dir.file("keep.kal")), "earlier");
}

TEST(KalExport, ReadsBackWithBothReaders) {
  TempDir dir;
  const std::u16string name = {u'S', 0x00E3, u'o', u' ', 0x5730, 0x56F3, u'.', u'b', u'm', u'p'};
  for (uint32_t points : {2u, 3u, 4u}) {
    SCOPED_TRACE(points);
    const GmfTile tile = export_tile(name, points);
    ASSERT_EQ(write_gmf_entry_as_KAL(tile, dir.path), 1);
    const std::string path = dir.file(utf16_to_utf8(name.substr(0, name.size() - 4)) + ".kal");

    KalRecord one = read_one(read_file(path));
    EXPECT_EQ(one.result, 1);
    EXPECT_EQ(one.count, static_cast<int32_t>(points));
    EXPECT_EQ(one.bitmap, utf16_to_utf8(name));
    EXPECT_EQ(one.width, 640);
    EXPECT_EQ(one.height, 480);
    for (uint32_t n = 0; n < points; ++n) {
      EXPECT_NEAR(one.coords[n][0], tile.cal[n].lon, 5e-9);
      EXPECT_NEAR(one.coords[n][1], tile.cal[n].lat, 5e-9);
      EXPECT_EQ(one.pixels[n][0], static_cast<int32_t>(tile.cal[n].x));
      EXPECT_EQ(one.pixels[n][1], static_cast<int32_t>(tile.cal[n].y));
    }

    ListRead list = read_list(read_file(path));
    ASSERT_EQ(list.map.tile_count, 1u);
    EXPECT_EQ(list.map.tiles[0].name, name);
    EXPECT_EQ(list.map.tiles[0].cal_count, points);
    EXPECT_NEAR(list.map.tiles[0].cal[points - 1].lon, tile.cal[points - 1].lon, 5e-9);
  }
}
