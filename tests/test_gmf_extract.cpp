// Tile-name cleaning and extraction of tile images from a GMF file.
#include <csignal>
#include <cstdlib>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "format_gmf.h"
#include "testutil.h"

using namespace testutil;

namespace {

FixtureTile tile(std::u16string name, std::string data) {
  FixtureTile t;
  t.name = std::move(name);
  t.width = 2;
  t.height = 2;
  t.cal = {{0, 0, 1, 2}, {1, 1, 2, 1}};
  t.data = std::move(data);
  return t;
}

// Writes `bytes` as dir/map.gmf and reads its directory; the stream stays open.
void open_map(GmfMap& map, const TempDir& dir, const std::string& bytes) {
  map.path = dir.file("map.gmf");
  write_file(map.path, bytes);
  map.file = open_file(map.path, "rb");
  ASSERT_TRUE(map.file);
  ASSERT_EQ(gmf_read(map), 1);
}

// bitmap_from_gmf with its standard error captured.
std::string extract(GmfMap& map, const std::string& directory, uint32_t index, int& result) {
  testing::internal::CaptureStderr();
  result = bitmap_from_gmf(map, directory, index);
  return testing::internal::GetCapturedStderr();
}

}  // namespace

TEST(TileNames, EqualsSignsBecomeUnderscores) {
  struct Case {
    std::u16string in;
    uint32_t len;
    std::u16string out;
  } cases[] = {
      {u"x=1=2.bmp", 9, u"x_1_2.bmp"},
      {u"plain.bmp", 9, u"plain.bmp"},
      {u"a\\b/c=d\u00e9.bmp", 11, u"a\\b/c_d\u00e9.bmp"},  // only "=" changes
      {u"==", 1, u"_="},                                  // only the first len units
      {u"=a=", 100, u"_a_"},                              // never past the name's end
      {u"", 0, u""},
  };
  for (Case c : cases) {
    gmf_tile_filename_clean(c.in, c.len);
    EXPECT_EQ(c.in, c.out);
  }

  TempDir dir;
  GmfMap map;
  open_map(map, dir, gmf_bytes({tile(u"a=b.bmp", "A"), tile(u"c.bmp", "C"), tile(u"=", "E")}));
  gmf_all_tiles_filename_clean(map);
  EXPECT_EQ(map.tiles[0].name, u"a_b.bmp");
  EXPECT_EQ(map.tiles[1].name, u"c.bmp");
  EXPECT_EQ(map.tiles[2].name, u"_");
}

TEST(Extraction, BytesLandInTheDirectoryUnderTheTileName) {
  TempDir dir;
  GmfMap map;
  // Bytes behind the last tile belong to it.
  open_map(map, dir,
           gmf_bytes({tile(u"a.bmp", "AAAA"), tile(u"b.bmp", "BBBBBB")}) + "trailer");
  ASSERT_EQ(mkdir(dir.file("out").c_str(), 0777), 0);
  // An earlier, longer file of the same name is replaced whole.
  write_file(dir.file("out/b.bmp"), std::string(100, 'x'));

  struct Case {
    std::string directory;
    uint32_t index;
    std::string path, bytes;
  } cases[] = {
      {dir.file("out"), 0, dir.file("out/a.bmp"), "AAAA"},
      {dir.file("out") + "/", 1, dir.file("out/b.bmp"), "BBBBBBtrailer"},
      {dir.file("out"), 0, dir.file("out/a.bmp"), "AAAA"},  // again: replaced
  };
  for (const Case& c : cases) {
    int result = 0;
    EXPECT_EQ(extract(map, c.directory, c.index, result), "") << c.path;
    EXPECT_EQ(result, 1) << c.path;
    EXPECT_EQ(read_file(c.path), c.bytes) << c.path;
  }
  EXPECT_EQ(list_dir(dir.file("out")), (std::vector<std::string>{"a.bmp", "b.bmp"}));

  // An empty directory means the working folder.
  ASSERT_EQ(mkdir(dir.file("cwd").c_str(), 0777), 0);
  EXPECT_EXIT(
      {
        if (chdir(dir.file("cwd").c_str()) != 0) std::_Exit(3);
        std::_Exit(bitmap_from_gmf(map, "", 1) == 1 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EQ(read_file(dir.file("cwd/b.bmp")), "BBBBBBtrailer");
}

TEST(Extraction, FailuresCreateNoFile) {
  TempDir dir;
  GmfMap map;
  open_map(map, dir,
           gmf_bytes({tile(u"empty.bmp", ""), tile(u"../up.bmp", "U"), tile(u"..", "D"),
                      tile(u".", "P"), tile(u"ok.bmp", "OK"), tile(u"last.bmp", "LAST")}));
  ASSERT_EQ(mkdir(dir.file("out").c_str(), 0777), 0);

  struct Case {
    std::string directory;
    uint32_t index;
    std::string err;
  } cases[] = {
      {dir.file("out"), 0, "GMF bitmap read error\n"},
      {dir.file("out"), 1, "unsafe tile name ../up.bmp\n"},
      {dir.file("out"), 2, "unsafe tile name ..\n"},
      {dir.file("out"), 3, "unsafe tile name .\n"},
      {dir.file("missing"), 4, "can't open map file " + dir.file("missing/ok.bmp") + "\n"},
  };
  for (const Case& c : cases) {
    int result = 1;
    EXPECT_EQ(extract(map, c.directory, c.index, result), c.err);
    EXPECT_EQ(result, 0) << c.err;
  }
  EXPECT_EQ(list_dir(dir.file("out")), std::vector<std::string>{});
  EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"map.gmf", "out"}));

  // The GMF file loses its last bytes after the directory was read; a fresh
  // stream holds none of them in its buffer.
  ASSERT_EQ(truncate(map.path.c_str(), static_cast<off_t>(map.tiles[5].offset + 2)), 0);
  map.file = open_file(map.path, "rb");
  int result = 1;
  EXPECT_EQ(extract(map, dir.file("out"), 5, result), "GMF bitmap read error\n");
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(file_exists(dir.file("out/last.bmp")));
}

TEST(ExtractionDeathTest, AFailedWriteIsReportedAndThePartialFileRemoved) {
  TempDir dir;
  GmfMap map;
  open_map(map, dir, gmf_bytes({tile(u"big.bmp", std::string(5000, 'b'))}));
  const std::string out = dir.file("big.bmp");
  // The child may write no file beyond 1000 bytes: the write fails as on a
  // full disk (with the signal ignored, write() returns an error instead).
  const struct rlimit limit = {1000, 1000};
  EXPECT_EXIT(
      {
        std::signal(SIGXFSZ, SIG_IGN);
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) std::_Exit(3);
        const int r = bitmap_from_gmf(map, dir.path, 0);
        std::_Exit(r == 0 && !file_exists(out) ? 0 : 1);
      },
      testing::ExitedWithCode(0), "^GMF bitmap write error\n$");
  EXPECT_FALSE(file_exists(out));
}

TEST(ExtractionDeathTest, NoMemoryForTheTileIsReported) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's allocator ends the process instead of failing an allocation";
#endif
  TempDir dir;
  GmfMap map;
  // A sparse GMF file whose only tile is 3 GiB long.
  std::string head = gmf_bytes({tile(u"huge.bmp", "")});
  map.path = dir.file("map.gmf");
  write_file(map.path, head);
  ASSERT_EQ(truncate(map.path.c_str(), static_cast<off_t>(head.size()) + (off_t{3} << 30)), 0);
  map.file = open_file(map.path, "rb");
  ASSERT_EQ(gmf_read(map), 1);
  ASSERT_EQ(map.tiles[0].size, uint32_t{3} << 30);
  const struct rlimit limit = {rlim_t{1} << 31, rlim_t{1} << 31};
  EXPECT_EXIT(
      {
        if (setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(3);
        std::_Exit(bitmap_from_gmf(map, dir.path, 0) == 0 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "^out of memory error\n$");
  EXPECT_FALSE(file_exists(dir.file("huge.bmp")));
}
