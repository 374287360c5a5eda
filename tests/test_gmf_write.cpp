// GMF writers: subset, merge and assembly from an image folder give files
// that read back to the same tiles and bytes; everything they refuse is
// refused before a file is touched; failures while writing leave no trace.
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "format_gmf.h"
#include "format_kal.h"
#include "testutil.h"

using namespace testutil;

namespace {

FixtureTile fixture(std::u16string name, size_t points, std::string data) {
  FixtureTile t;
  t.name = std::move(name);
  t.width = 300;
  t.height = 200;
  t.cal = box_points(10, 51, 0.001, 0.001, 0, 0, 299, 199);
  t.cal.resize(points);
  t.data = std::move(data);
  return t;
}

const std::u16string kUmlautName = {u'K', 0x00F6, u'l', u'n', u' ', 0x00DF, u'.', u'b', u'm', u'p'};

// Three tiles of different shapes; the second's bytes begin 5 bytes after
// the first's end, so its gap travels with the first tile.
std::vector<FixtureTile> three_tiles() {
  return {fixture(u"a.bmp", 4, "AAAA"), fixture(kUmlautName, 2, "BBBBBBB"),
          fixture(u"c.bmp", 3, std::string(5000, 'C'))};
}

// Reads a GMF file with gmf_read; the stream stays open in map.file.
void open_gmf(GmfMap& map, const std::string& path) {
  map.path = path;
  map.file = open_file(path, "rb");
  ASSERT_NE(map.file, nullptr) << path;
  testing::internal::CaptureStderr();
  const int result = gmf_read(map);
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_EQ(result, 1) << err;
}

std::string image_of(const std::string& file_bytes, const GmfTile& t) {
  return file_bytes.substr(t.offset, t.size);
}

uint32_t entry_bytes(const GmfTile& t) { return 20 + 2 * t.name_len + 24 * t.cal_count; }

void expect_same_entry(const GmfTile& got, const GmfTile& want) {
  EXPECT_EQ(got.name, want.name);
  EXPECT_EQ(got.width, want.width);
  EXPECT_EQ(got.height, want.height);
  ASSERT_EQ(got.cal_count, want.cal_count);
  for (uint32_t i = 0; i < got.cal_count; ++i) {
    EXPECT_EQ(got.cal[i].x, want.cal[i].x);
    EXPECT_EQ(got.cal[i].y, want.cal[i].y);
    EXPECT_EQ(got.cal[i].lon, want.cal[i].lon);
    EXPECT_EQ(got.cal[i].lat, want.cal[i].lat);
  }
}

// A written file's tiles lie back to back right behind its directory, in
// order, and hold the given images.
void expect_layout(const GmfMap& written, const std::vector<std::string>& images) {
  const std::string bytes = read_file(written.path);
  ASSERT_EQ(written.tile_count, images.size());
  uint32_t next = 8;
  for (const GmfTile& t : written.tiles) next += entry_bytes(t);
  for (uint32_t i = 0; i < written.tile_count; ++i) {
    EXPECT_EQ(written.tiles[i].offset, next) << "tile " << i;
    EXPECT_EQ(image_of(bytes, written.tiles[i]), images[i]) << "tile " << i;
    next += static_cast<uint32_t>(images[i].size());
  }
  EXPECT_EQ(bytes.size(), next);
}

}  // namespace

TEST(GmfCopy, ASubsetWithoutListReadsBackTheSame) {
  TempDir dir;
  std::vector<FixtureTile> tiles = three_tiles();
  // The data laid out by hand: a gap of 5 bytes after the first image.
  const uint32_t d0 = 8 + (20 + 10 + 96) + (20 + 20 + 48) + (20 + 10 + 72);
  tiles[0].offset = d0;
  tiles[1].offset = d0 + 4 + 5;
  tiles[2].offset = d0 + 4 + 5 + 7;
  tiles[0].data += "gap!!";
  write_file(dir.file("src.gmf"), gmf_bytes(tiles));
  GmfMap source;
  open_gmf(source, dir.file("src.gmf"));
  ASSERT_EQ(source.tiles[0].size, 9u);

  GmfMap dest;
  dest.path = dir.file("copy.gmf");
  testing::internal::CaptureStderr();
  EXPECT_EQ(copy_gmf_selected_bitmaps(source, dest, nullptr, 0), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(dest.file, nullptr);  // the destination's stream is not used

  GmfMap copy;
  open_gmf(copy, dest.path);
  ASSERT_EQ(copy.tile_count, 3u);
  for (int i = 0; i < 3; ++i) expect_same_entry(copy.tiles[i], source.tiles[i]);
  // The gap came along with the first tile; everything else is unchanged.
  expect_layout(copy, {"AAAAgap!!", "BBBBBBB", std::string(5000, 'C')});
  EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"copy.gmf", "src.gmf"}));
}

TEST(GmfCopy, AListChoosesOrderAndRepeats) {
  TempDir dir;
  write_file(dir.file("src.gmf"), gmf_bytes(three_tiles()));
  GmfMap source;
  open_gmf(source, dir.file("src.gmf"));
  GmfMap dest;
  dest.path = dir.file("pick.gmf");
  const int32_t list[] = {2, 0, 2};
  ASSERT_EQ(copy_gmf_selected_bitmaps(source, dest, list, 3), 1);

  GmfMap copy;
  open_gmf(copy, dest.path);
  ASSERT_EQ(copy.tile_count, 3u);
  expect_same_entry(copy.tiles[0], source.tiles[2]);
  expect_same_entry(copy.tiles[1], source.tiles[0]);
  expect_same_entry(copy.tiles[2], source.tiles[2]);
  expect_layout(copy, {std::string(5000, 'C'), "AAAA", std::string(5000, 'C')});
}

TEST(GmfCopy, AMergeHoldsBothSelectionsInOrder) {
  TempDir dir;
  write_file(dir.file("one.gmf"), gmf_bytes(three_tiles()));
  write_file(dir.file("two.gmf"),
             gmf_bytes({fixture(u"x.bmp", 2, "XX"), fixture(u"y.bmp", 4, "YYY")}));
  GmfMap one, two;
  open_gmf(one, dir.file("one.gmf"));
  open_gmf(two, dir.file("two.gmf"));

  GmfMap dest;
  dest.path = dir.file("merged.gmf");
  const int32_t second[] = {1, 0};
  ASSERT_EQ(copy_gmf_selected_bitmaps_from_2_sources(one, two, dest, nullptr, second, 0, 2), 1);
  GmfMap merged;
  open_gmf(merged, dest.path);
  ASSERT_EQ(merged.tile_count, 5u);
  expect_same_entry(merged.tiles[0], one.tiles[0]);
  expect_same_entry(merged.tiles[2], one.tiles[2]);
  expect_same_entry(merged.tiles[3], two.tiles[1]);
  expect_same_entry(merged.tiles[4], two.tiles[0]);
  expect_layout(merged, {"AAAA", "BBBBBBB", std::string(5000, 'C'), "YYY", "XX"});

  const int32_t first[] = {1};
  ASSERT_EQ(copy_gmf_selected_bitmaps_from_2_sources(one, two, dest, first, nullptr, 1, 0), 1);
  GmfMap again;
  open_gmf(again, dest.path);
  expect_layout(again, {"BBBBBBB", "XX", "YYY"});
}

TEST(GmfCopy, RefusesBeforeTouchingTheOutput) {
  TempDir dir;
  write_file(dir.file("src.gmf"), gmf_bytes(three_tiles()));
  write_file(dir.file("out.gmf"), "earlier");
  GmfMap good;
  open_gmf(good, dir.file("src.gmf"));
  GmfMap dest;
  dest.path = dir.file("out.gmf");

  // A copy of the source with one tile changed in memory.
  auto changed = [&](auto change) {
    auto m = std::make_shared<GmfMap>();
    m->tile_count = good.tile_count;
    m->tiles = good.tiles;
    m->file = open_file(good.path, "rb");
    change(*m);
    return m;
  };
  const int32_t bad_high[] = {0, 3}, bad_low[] = {-1}, zero[] = {0};
  const std::vector<int32_t> too_many(100001, 0);
  struct Case {
    const char* what;
    std::shared_ptr<GmfMap> source;
    std::function<int(const GmfMap&)> write;
    std::string err;
  } cases[] = {
      {"index past the last tile", nullptr,
       [&](const GmfMap& s) { return copy_gmf_selected_bitmaps(s, dest, bad_high, 2); },
       "tile index 3 out of range ...\n"},
      {"negative index", nullptr,
       [&](const GmfMap& s) { return copy_gmf_selected_bitmaps(s, dest, bad_low, 1); },
       "tile index -1 out of range ...\n"},
      {"negative count", nullptr,
       [&](const GmfMap& s) { return copy_gmf_selected_bitmaps(s, dest, zero, -2); },
       "tile index -2 out of range ...\n"},
      {"second list out of range", nullptr,
       [&](const GmfMap& s) {
         return copy_gmf_selected_bitmaps_from_2_sources(s, s, dest, zero, bad_high, 1, 2);
       },
       "tile index 3 out of range ...\n"},
      {"no tiles", nullptr,
       [&](const GmfMap& s) { return copy_gmf_selected_bitmaps(s, dest, zero, 0); },
       "number of tiles = 0 not accepted\n"},
      {"no tiles from two sources", nullptr,
       [&](const GmfMap& s) {
         return copy_gmf_selected_bitmaps_from_2_sources(s, s, dest, zero, zero, 0, 0);
       },
       "number of tiles = 0 not accepted\n"},
      {"100001 tiles", nullptr,
       [&](const GmfMap& s) { return copy_gmf_selected_bitmaps(s, dest, too_many.data(), 100001); },
       "number of tiles = 100001 not accepted\n"},
      {"100001 tiles from two sources", nullptr,
       [&](const GmfMap& s) {
         return copy_gmf_selected_bitmaps_from_2_sources(s, s, dest, too_many.data(), nullptr,
                                                         99999, 0);
       },
       "number of tiles = 100002 not accepted\n"},
      {"name length 0", changed([](GmfMap& m) {
         m.tiles[1].name.clear();
         m.tiles[1].name_len = 0;
       }),
       [&](const GmfMap& s) { return copy_gmf_selected_bitmaps(s, dest, nullptr, 0); },
       "stringsize exceeded, aborted ...\n"},
      {"name length not the name's", changed([](GmfMap& m) { m.tiles[2].name_len = 900; }),
       [&](const GmfMap& s) { return copy_gmf_selected_bitmaps(s, dest, nullptr, 0); },
       "stringsize exceeded, aborted ...\n"},
      {"name of 1024 units", changed([](GmfMap& m) {
         m.tiles[0].name.assign(1024, u'n');
         m.tiles[0].name_len = 1024;
       }),
       [&](const GmfMap& s) { return copy_gmf_selected_bitmaps(s, dest, nullptr, 0); },
       "stringsize exceeded, aborted ...\n"},
      {"one point", changed([](GmfMap& m) { m.tiles[2].cal_count = 1; }),
       [&](const GmfMap& s) { return copy_gmf_selected_bitmaps(s, dest, nullptr, 0); },
       "number of calibration points should be in [2..4] ...\n"},
      {"five points", changed([](GmfMap& m) { m.tiles[0].cal_count = 5; }),
       [&](const GmfMap& s) { return copy_gmf_selected_bitmaps(s, dest, nullptr, 0); },
       "number of calibration points should be in [2..4] ...\n"},
      {"more than 32-bit offsets", changed([](GmfMap& m) {
         for (GmfTile& t : m.tiles) t.size = 0x7FFFFFFFu;
       }),
       [&](const GmfMap& s) { return copy_gmf_selected_bitmaps(s, dest, nullptr, 0); },
       "GMF file too large ...\n"},
      {"tile bytes outside the source", changed([](GmfMap& m) { m.tiles[2].size = 9000; }),
       [&](const GmfMap& s) { return copy_gmf_selected_bitmaps(s, dest, nullptr, 0); },
       "GMF bitmap read error\nGMF write error\n"},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.write(c.source ? *c.source : good), 0) << c.what;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.what;
    EXPECT_EQ(read_file(dest.path), "earlier") << c.what;
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"out.gmf", "src.gmf"})) << c.what;
  }

  GmfMap nowhere;
  nowhere.path = dir.file("missing/out.gmf");
  testing::internal::CaptureStderr();
  EXPECT_EQ(copy_gmf_selected_bitmaps(good, nowhere, nullptr, 0), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "can't open GMF file " + nowhere.path + " for writing ...\n");
}

TEST(GmfEntry, WritesTheDirectoryEntryOfTheFormat) {
  GmfMap source;
  source.tiles = {GmfTile{}};
  source.tile_count = 1;
  GmfTile& t = source.tiles[0];
  t.name = kUmlautName;
  t.name_len = static_cast<uint32_t>(t.name.size());
  t.offset = 99;
  t.width = 300;
  t.height = 200;
  t.cal_count = 3;
  const std::vector<CalPoint> box = box_points(10, 51, 0.001, 0.001, 0, 0, 299, 199);
  for (int i = 0; i < 4; ++i) t.cal[i] = box[i];

  std::string expected;
  put_u32(expected, 10);
  put_u16s(expected, kUmlautName);
  put_u32(expected, 0x12345678);
  put_u32(expected, 300);
  put_u32(expected, 200);
  put_u32(expected, 3);
  for (int i = 0; i < 3; ++i) put_point(expected, box[i]);

  FilePtr f(std::tmpfile());
  ASSERT_EQ(gmf_write_entry_kal(f.get(), source, 0, 0x12345678), 1);
  std::rewind(f.get());
  std::string got(expected.size() + 1, '\0');
  got.resize(std::fread(got.data(), 1, got.size(), f.get()));
  EXPECT_EQ(got, expected);

  testing::internal::CaptureStderr();
  EXPECT_EQ(gmf_write_entry_kal(f.get(), source, 1, 0), 0);
  EXPECT_EQ(gmf_write_entry_bitmap(f.get(), f.get(), source, -1), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "tile index 1 out of range ...\ntile index -1 out of range ...\n");
}

TEST(GmfEntry, ATileCopyOntoAFullDeviceFails) {
  TempDir dir;
  write_file(dir.file("src.gmf"), gmf_bytes(three_tiles()));
  GmfMap source;
  open_gmf(source, dir.file("src.gmf"));
  FilePtr full = open_file("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  for (int32_t i : {0, 2}) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(gmf_write_entry_bitmap(source.file.get(), full.get(), source, i), 0) << i;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "GMF bitmap write error\n") << i;
    std::clearerr(full.get());
  }
}

TEST(GmfFieldWriterDeathTest, AShortWriteEndsTheProcess) {
  FilePtr full = open_file("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  std::setvbuf(full.get(), nullptr, _IONBF, 0);
  EXPECT_EXIT(fwritedword(full.get(), 1), testing::ExitedWithCode(1), "^GMF DWORD write error\n$");
  EXPECT_EXIT(fwritewstring(full.get(), u"ab", 2), testing::ExitedWithCode(1),
              "^GMF WCHAR write error\n$");
  FilePtr sink(std::tmpfile());
  EXPECT_EXIT(fwritewstring(sink.get(), u"", 0), testing::ExitedWithCode(1),
              "^GMF WCHAR write error\n$");
}

namespace {

// Runs `write` in a child whose files may not grow past `limit` bytes (a
// full disk); the child exits with 10 + the result.
template <typename Write>
void with_file_size_limit(rlim_t limit, Write write) {
  std::signal(SIGXFSZ, SIG_IGN);
  const rlimit r{limit, limit};
  setrlimit(RLIMIT_FSIZE, &r);
  std::exit(10 + write());
}

}  // namespace

TEST(GmfCopyDeathTest, AFullDiskKeepsTheEarlierFile) {
  TempDir dir;
  std::vector<FixtureTile> tiles = three_tiles();
  tiles[2].data = std::string(200000, 'C');
  write_file(dir.file("src.gmf"), gmf_bytes(tiles));
  write_file(dir.file("out.gmf"), "earlier");
  GmfMap source;
  open_gmf(source, dir.file("src.gmf"));
  GmfMap dest;
  dest.path = dir.file("out.gmf");
  EXPECT_EXIT(with_file_size_limit(100000, [&] { return copy_gmf_selected_bitmaps(source, dest, nullptr, 0); }),
              testing::ExitedWithCode(10), "^GMF bitmap write error\nGMF write error\n$");
  EXPECT_EQ(read_file(dest.path), "earlier");
  EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"out.gmf", "src.gmf"}));

  // Long names make the directory overflow the stream's buffer, so a header
  // or directory write fails: that ends the process, and the temporary
  // file goes all the same.
  GmfMap wide;
  wide.tile_count = 3;
  wide.tiles = source.tiles;
  wide.file = open_file(source.path, "rb");
  for (GmfTile& t : wide.tiles) {
    t.name.assign(1000, u'w');
    t.name_len = 1000;
  }
  EXPECT_EXIT(with_file_size_limit(100, [&] { return copy_gmf_selected_bitmaps(wide, dest, nullptr, 0); }),
              testing::ExitedWithCode(1), "^GMF (DWORD|WCHAR) write error\n$");
  EXPECT_EQ(read_file(dest.path), "earlier");
  EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"out.gmf", "src.gmf"}));
}

// ---------------------------------------------------------------------------
// Assembly from a KAL list and a folder of images

namespace {

struct Image {
  std::string name;  // UTF-8 file name
  std::string bytes;
  int32_t points;
};

// A KAL list as write_kal writes it, and the images beside it in `folder`.
std::string kal_list(const std::string& folder, const std::vector<Image>& images) {
  FilePtr f(std::tmpfile());
  const KalCoords coords = {{10.1, 50.9}, {10.9, 50.9}, {10.1, 50.1}, {10.9, 50.123456789}};
  const KalPixels pixels = {{1, 2}, {99, 2}, {1, 77}, {99, 77}};
  for (const Image& image : images) {
    write_kal(f.get(), image.name, 100, 80, coords, pixels, image.points);
    std::fputs("\n", f.get());
    if (!image.bytes.empty() || image.name.find("empty") != std::string::npos)
      write_file(folder + "/" + image.name, image.bytes);
  }
  std::rewind(f.get());
  std::string text;
  for (int c; (c = std::fgetc(f.get())) != EOF;) text += static_cast<char>(c);
  return text;
}

struct Built {
  int result;
  std::string out, err;
};

// The tile table of a KAL list.
void read_table(GmfMap& map, const std::string& kal) {
  FilePtr f(std::tmpfile());
  std::fwrite(kal.data(), 1, kal.size(), f.get());
  std::rewind(f.get());
  read_kals(f.get(), map);
}

Built build(GmfMap& map, const std::string& kal, std::string directory) {
  read_table(map, kal);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  Built b;
  b.result = gmf_write_bitmap_from_directory(map, directory);
  b.err = testing::internal::GetCapturedStderr();
  b.out = testing::internal::GetCapturedStdout();
  return b;
}

}  // namespace

TEST(GmfAssembly, AKalListAndItsImagesBecomeAGmfFile) {
  TempDir dir;
  mkdir(dir.file("img").c_str(), 0777);
  const std::string umlaut = utf16_to_utf8(kUmlautName);
  const std::vector<Image> images = {
      {"a.bmp", "BMa-image", 4}, {umlaut, std::string(70000, 'u'), 2}, {"c d.bmp", "BMc", 3}};
  GmfMap map;
  map.path = dir.file("built.gmf");
  Built b = build(map, kal_list(dir.file("img"), images), dir.file("img"));
  ASSERT_EQ(b.result, 1) << b.err;
  EXPECT_EQ(b.err, "");
  EXPECT_EQ(b.out, "write bitmap 1: a.bmp\nwrite bitmap 2: " + umlaut +
                       "\nwrite bitmap 3: c d.bmp\n");

  GmfMap read;
  open_gmf(read, map.path);
  ASSERT_EQ(read.tile_count, 3u);
  expect_layout(read, {images[0].bytes, images[1].bytes, images[2].bytes});
  EXPECT_EQ(read.tiles[1].name, kUmlautName);
  EXPECT_EQ(read.tiles[2].name, u"c d.bmp");
  for (uint32_t i = 0; i < 3; ++i) {
    // The table describes the file it built.
    EXPECT_EQ(map.tiles[i].offset, read.tiles[i].offset);
    EXPECT_EQ(map.tiles[i].size, read.tiles[i].size);
    expect_same_entry(read.tiles[i], map.tiles[i]);
    EXPECT_EQ(read.tiles[i].width, 100u);
  }
  EXPECT_EQ(read.tiles[0].cal_count, 4u);
  EXPECT_DOUBLE_EQ(read.tiles[0].cal[3].lat, 50.12345679);
  EXPECT_EQ(read.tiles[0].cal[1].x, 99u);
  EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"built.gmf", "img"}));
}

TEST(GmfAssembly, RefusesBadTablesAndImagesAndKeepsTheEarlierFile) {
  TempDir dir;
  const std::string img = dir.file("img");
  mkdir(img.c_str(), 0777);
  const std::string earlier = dir.file("out.gmf");
  struct Case {
    const char* what;
    std::string kal;  // "" for an empty table
    std::string path;
    std::string out, err;
  } cases[] = {
      {"no tiles", "", earlier, "", "number of tiles = 0 not accepted\n"},
      {"a point count of -1 from a Bitmap line before the points",
       kal_list(img, {{"a.bmp", "AA", 2}}) + "[Kalibrierung]\nBitmap = a.bmp\n[Calibration Point 2]\n",
       earlier, "", "number of calibration points should be in [2..4] ...\n"},
      {"one point", kal_list(img, {{"a.bmp", "AA", 1}}), earlier, "",
       "number of calibration points should be in [2..4] ...\n"},
      {"an empty name", kal_list(img, {{"", "", 2}}), earlier, "",
       "stringsize exceeded, aborted ...\n"},
      {"a missing image", kal_list(img, {{"a.bmp", "AA", 2}, {"gone.bmp", "", 2}}), earlier,
       "write bitmap 1: a.bmp\nwrite bitmap 2: gone.bmp\n", "can't open file " + img + "/gone.bmp\n"},
      {"an empty image", kal_list(img, {{"empty.bmp", "", 2}, {"a.bmp", "AA", 2}}), earlier,
       "write bitmap 1: empty.bmp\n", "bitmap read error\n"},
      {"an output folder that does not exist", kal_list(img, {{"a.bmp", "AA", 2}}),
       dir.file("missing/out.gmf"), "", "can't open GMF file " + dir.file("missing/out.gmf") + "\n"},
  };
  for (const Case& c : cases) {
    write_file(earlier, "earlier");
    GmfMap map;
    map.path = c.path;
    Built b = build(map, c.kal, img);
    EXPECT_EQ(b.result, 0) << c.what;
    EXPECT_EQ(b.out, c.out) << c.what;
    EXPECT_EQ(b.err, c.err) << c.what;
    EXPECT_EQ(read_file(earlier), "earlier") << c.what;
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"img", "out.gmf"})) << c.what;
  }
}

TEST(GmfAssembly, RefusesImagesBeyondTheFormatsOffsets) {
  TempDir dir;
  // Sparse files: only their sizes are ever looked at.
  const std::vector<Image> images = {{"a.bmp", "", 2}, {"b.bmp", "", 2}, {"c.bmp", "", 2}};
  const std::string kal = kal_list(dir.path, images);
  for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) {
    write_file(dir.file(name), "");
    if (truncate(dir.file(name).c_str(), 0x90000000LL) != 0) GTEST_SKIP() << "no sparse files";
  }
  GmfMap map;
  map.path = dir.file("out.gmf");
  Built b = build(map, kal, dir.path);
  EXPECT_EQ(b.result, 0);
  EXPECT_EQ(b.err, "GMF file too large ...\n");

  ASSERT_EQ(truncate(dir.file("b.bmp").c_str(), 0x100000000LL), 0);
  GmfMap one;
  one.path = dir.file("out.gmf");
  b = build(one, kal, dir.path);
  EXPECT_EQ(b.result, 0);
  EXPECT_EQ(b.err, "GMF file too large ...\n");
  EXPECT_FALSE(file_exists(dir.file("out.gmf")));
}

TEST(GmfAssembly, TheHelpersMeasureAndAppendImages) {
  TempDir dir;
  const std::string kal = kal_list(dir.path, {{"a.bmp", "12345678", 2}, {"b.bmp", "abc", 2}});
  GmfMap map;
  read_table(map, kal);
  std::string directory = dir.path;
  EXPECT_EQ(gmf_get_bitmap_sizes(map, directory), 1);
  EXPECT_EQ(directory, dir.path + "/");
  EXPECT_EQ(map.tiles[0].size, 8u);
  EXPECT_EQ(map.tiles[1].size, 3u);

  // An image that grew since it was measured gives its first bytes; one
  // that shrank fails.
  write_file(dir.file("a.bmp"), "123456789ABC");
  write_file(dir.file("b.bmp"), "ab");
  FilePtr out(std::tmpfile());
  EXPECT_EQ(gmf_write_entry_bitmap_from_directory(out.get(), map, directory, 0), 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(gmf_write_entry_bitmap_from_directory(out.get(), map, directory, 1), 0);
  EXPECT_EQ(gmf_write_entry_bitmap_from_directory(out.get(), map, directory, 2), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "bitmap read error\ntile index 2 out of range ...\n");
  std::rewind(out.get());
  char got[16] = {};
  EXPECT_EQ(std::fread(got, 1, sizeof got, out.get()), 8u);
  EXPECT_EQ(std::string(got), "12345678");

  // An empty directory stays empty: the image paths are the bare names.
  std::string none;
  EXPECT_EQ(gmf_get_bitmap_sizes(map, none), 1);
  EXPECT_EQ(none, "");
  EXPECT_EQ(map.tiles[0].size, 0u);
}

TEST(GmfAssemblyDeathTest, AFullDiskKeepsTheEarlierFile) {
  TempDir dir;
  const std::string img = dir.file("img");
  mkdir(img.c_str(), 0777);
  const std::string kal =
      kal_list(img, {{"a.bmp", std::string(60000, 'a'), 4}, {"b.bmp", std::string(60000, 'b'), 4}});
  write_file(dir.file("out.gmf"), "earlier");
  EXPECT_EXIT(with_file_size_limit(100000,
                                   [&] {
                                     GmfMap map;
                                     map.path = dir.file("out.gmf");
                                     read_table(map, kal);
                                     std::string directory = img;
                                     return gmf_write_bitmap_from_directory(map, directory);
                                   }),
              testing::ExitedWithCode(10), "^GMF bitmap write error\n$");
  EXPECT_EQ(read_file(dir.file("out.gmf")), "earlier");
  EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"img", "out.gmf"}));
}
