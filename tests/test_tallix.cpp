// tallix run as a process: its report, its usage text and its failures.
#include <gtest/gtest.h>

#include "testutil.h"

using namespace testutil;

namespace {

const std::string kTallix = TALLIX_PATH;

const std::string kUsage =
    "tallix, GMF statistics, 24.2.2007\n"
    "Syntax: tallix map.gmf > stat.txt\n"
    "Output: statistics, borders of GMF file\n";

FixtureTile sized(uint32_t w, uint32_t h, std::vector<CalPoint> cal) {
  FixtureTile t;
  t.width = w;
  t.height = h;
  t.cal = std::move(cal);
  t.data = "BMxx";
  return t;
}

RunResult tallix_on(const TempDir& dir, const std::vector<FixtureTile>& tiles) {
  const std::string path = dir.file("map.gmf");
  write_file(path, gmf_bytes(tiles));
  return run(kTallix, {path});
}

}  // namespace

TEST(Tallix, WorkedExampleLineForLine) {
  TempDir dir;
  RunResult r = tallix_on(dir, {sized(100, 50,
                                      {{10, 5, 10.1, 50.9},
                                       {90, 5, 10.9, 50.9},
                                       {10, 45, 10.1, 50.5},
                                       {90, 45, 10.9, 50.5}})});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "name=" + dir.file("map.gmf") +
                       "\n"
                       "tiles=1\n"
                       "pixels=5000\n"
                       "xrange=10.00000000,11.00000000\n"
                       "yrange=50.45000000,50.95000000\n"
                       "resxrange=0.010101010101010,0.010101010101010\n"
                       "resyrange=0.010204081632653,0.010204081632653\n"
                       "tsizex=100,100\n"
                       "tsizey=50,50\n");
}

TEST(Tallix, SizesPixelsAndTilesWithoutAResolution) {
  TempDir dir;
  // A 10x5 four-point tile, a 20x8 tile with two points (ranges from its
  // stored points, no resolution), and a 1-pixel-wide tile whose column sum
  // is zero (no resolution either).
  RunResult r = tallix_on(
      dir, {sized(10, 5, box_points(1.0, 2.0, 0.1, 0.1, 0, 0, 9, 4)),
            sized(20, 8, {{0, 0, -3.5, 7.25}, {19, 7, -1.0, 6.0}}),
            sized(1, 8, box_points(1.0, 2.0, 0.1, 0.1, 0, 0, 5, 7))});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines = split_lines(r.out);
  ASSERT_EQ(lines.size(), 9u) << r.out << r.err;
  EXPECT_EQ(lines[1], "tiles=3");
  EXPECT_EQ(lines[2], "pixels=218");
  EXPECT_EQ(lines[3], "xrange=-3.50000000,2.00000000");
  EXPECT_EQ(lines[4], "yrange=1.20000000,7.25000000");
  // Only the 10x5 tile has a resolution: its corners span 1.0 degree over
  // 9 columns (east edge at column 10) and 0.5 over 4 rows.
  EXPECT_EQ(lines[5], "resxrange=0.111111111111111,0.111111111111111");
  EXPECT_EQ(lines[6], "resyrange=0.125000000000000,0.125000000000000");
  EXPECT_EQ(lines[7], "tsizex=1,20");
  EXPECT_EQ(lines[8], "tsizey=5,8");
}

TEST(Tallix, PixelTotalsBeyondThirtyTwoBits) {
  TempDir dir;
  std::vector<CalPoint> two = {{0, 0, 1, 2}, {1, 1, 2, 1}};
  // Three tiles of 2^31 pixels, and one of 10^10 pixels on its own.
  RunResult r = tallix_on(dir, {sized(65536, 32768, two), sized(65536, 32768, two),
                                sized(65536, 32768, two), sized(100000, 100000, two)});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(split_lines(r.out).at(2), "pixels=16442450944");
}

TEST(Tallix, TileOutsideFourQuadrantsKeepsItsStoredPoints) {
  TempDir dir;
  RunResult r = tallix_on(
      dir, {sized(10, 10, {{0, 0, 1, 5}, {9, 0, 2, 5}, {0, 9, 3, 5}, {9, 9, 4, 5}})});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "calibration points not in 4 quadrants ...\n");
  std::vector<std::string> lines = split_lines(r.out);
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[3], "xrange=1.00000000,4.00000000");
  EXPECT_EQ(lines[4], "yrange=5.00000000,5.00000000");
  // Resolutions from the slots as stored: |1 + 1| / 18 and |0| / 18.
  EXPECT_EQ(lines[5], "resxrange=0.111111111111111,0.111111111111111");
  EXPECT_EQ(lines[6], "resyrange=0.000000000000000,0.000000000000000");
}

TEST(Tallix, PixelOrderAgainstTheMapGivesNoResolution) {
  TempDir dir;
  // The second tile's columns run west while its longitudes run east: its
  // pixel sums are negative, so it keeps its points and adds no resolution
  // (in unsigned arithmetic the sum would wrap to a step of almost zero).
  RunResult r = tallix_on(
      dir, {sized(10, 5, box_points(1.0, 2.0, 0.1, 0.1, 0, 0, 9, 4)),
            sized(10, 5, {{9, 0, 1.0, 2.0}, {0, 0, 1.9, 2.0}, {9, 4, 1.0, 1.6}, {0, 4, 1.9, 1.6}})});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "calibration pixel positions not in map order ...\n");
  std::vector<std::string> lines = split_lines(r.out);
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[5], "resxrange=0.111111111111111,0.111111111111111");
  EXPECT_EQ(lines[6], "resyrange=0.125000000000000,0.125000000000000");
}

TEST(Tallix, UsageAndFailures) {
  TempDir dir;
  write_file(dir.file("picture.bmp"), "BM" + std::string(60, '\0'));
  write_file(dir.file("short.gmf"), "\x02\x00");
  write_file(dir.file("empty.gmf"), std::string("\x02\x00\x00\xff\x00\x00\x00\x00", 8));
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {"no argument", {}, 2, kUsage},
      {"two arguments", {"a.gmf", "b.gmf"}, 2, kUsage},
      {"missing file", {dir.file("missing.gmf")}, 1,
       "can't open GMF file " + dir.file("missing.gmf") + "\n"},
      {"not a GMF file", {dir.file("picture.bmp")}, 1,
       "only GMF version ff000002 currently supported\nread failed ...\n"},
      {"shorter than a word", {dir.file("short.gmf")}, 1, "GMF DWORD read error\n"},
      {"no tiles", {dir.file("empty.gmf")}, 1,
       "number of tiles = 0 not accepted\nread failed ...\n"},
  };
  for (const Case& c : cases) {
    RunResult r = run(kTallix, c.args);
    EXPECT_EQ(r.status, c.status) << c.what;
    EXPECT_EQ(r.err, c.err) << c.what;
    EXPECT_EQ(r.out, "") << c.what;
  }
}
