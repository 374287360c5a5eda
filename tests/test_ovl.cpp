// OVL selection-area reader: one fixture file per behaviour.
#include <dirent.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "geotools.h"
#include "testutil.h"

using namespace testutil;

namespace {

struct Area {
  std::vector<double> x, y;  // the first area_points slots; the rest must be 0
};

struct Read {
  int result;
  std::string err;
  std::unique_ptr<SelectionAreas> areas;
};

constexpr int32_t kUnset = -7;  // area_count before the read

Read read_ovl(const std::string& path) {
  Read r{0, "", std::make_unique<SelectionAreas>()};
  r.areas->area_count = kUnset;
  testing::internal::CaptureStderr();
  r.result = read_ovl_selection_areas(path, *r.areas);
  r.err = testing::internal::GetCapturedStderr();
  return r;
}

// Checks area j: its point count and every slot, written or not.
void expect_area(const SelectionAreas& t, int j, const Area& want, const std::string& what) {
  ASSERT_EQ(t.area_points[j], static_cast<int32_t>(want.x.size())) << what << " area " << j;
  ASSERT_EQ(t.area_x[j].size(), static_cast<size_t>(kOvlMaxPoints)) << what;
  ASSERT_EQ(t.area_y[j].size(), static_cast<size_t>(kOvlMaxPoints)) << what;
  std::vector<double> x = want.x, y = want.y;
  x.resize(kOvlMaxPoints, 0.0);
  y.resize(kOvlMaxPoints, 0.0);
  EXPECT_EQ(t.area_x[j], x) << what << " area " << j;
  EXPECT_EQ(t.area_y[j], y) << what << " area " << j;
}

std::string points(int from, int to, bool y_first = false) {
  std::string s;
  for (int i = from; i <= to; ++i) {
    const std::string x = "XKoord" + std::to_string(i) + "=" + std::to_string(10 + i) + ".5\n";
    const std::string y = "YKoord" + std::to_string(i) + "=" + std::to_string(50 + i) + ".25\n";
    s += y_first ? y + x : x + y;
  }
  return s;
}

int open_descriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

const Area kFive{{10.5, 11.5, 12.5, 13.5, 14.5}, {50.25, 51.25, 52.25, 53.25, 54.25}};
const std::string kHead = "[Symbol 1]\nGroup=1\nTyp=4\nCol=1\n";

}  // namespace

TEST(OvlReader, AreasAsTheSlotRuleFillsThem) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<Area> areas;
  } cases[] = {
      {"five points", kHead + points(0, 4) + "Zoom=1\n", {kFive}},
      {"y before x", kHead + points(0, 4, true), {kFive}},
      {"all x before all y: every y lands in the last slot",
       kHead + "XKoord0=1\nXKoord1=2\nXKoord2=3\nXKoord3=4\nXKoord4=5\n"
               "YKoord0=6\nYKoord1=7\nYKoord2=8\nYKoord3=9\nYKoord4=10\n",
       {{{1, 2, 3, 4, 5}, {0, 0, 0, 0, 10}}}},
      {"indices from 1 leave slot 0 unwritten",
       kHead + "XKoord1=1\nYKoord1=2\nXKoord2=3\nYKoord2=4\n", {{{0, 1, 3}, {0, 2, 4}}}},
      // Each line whose index is beyond the slot moves it by one: X5 to slot 1,
      // then Y5 (5 > 1) on to slot 2.
      {"a gap moves the slot by one per line",
       kHead + "XKoord0=1\nYKoord0=2\nXKoord5=3\nYKoord5=4\n", {{{1, 3, 0}, {2, 0, 4}}}},
      {"a repeated index replaces the value",
       kHead + "XKoord0=1\nYKoord0=2\nXKoord1=3\nYKoord1=4\nXKoord1=5\n", {{{1, 5}, {2, 4}}}},
      {"coordinates before the Typ line are not stored",
       "[Symbol 1]\nXKoord0=1\nYKoord0=2\nTyp=3\nXKoord1=3\nYKoord1=4\n",
       {{{0, 3}, {0, 4}}}},
      {"two polygonal sections start at slot 0 each",
       kHead + points(0, 4) + "[Symbol 2]\nTyp=3\nXKoord0=7\nYKoord0=8\nXKoord1=9\nYKoord1=6\n",
       {kFive, {{7, 9}, {8, 6}}}},
      {"a section of another type still takes an area",
       kHead + points(0, 4) + "[Symbol 2]\nTyp=2\nXKoord0=1\nYKoord0=1\nXKoord1=2\n" +
           "[Symbol 3]\nTyp=4\n" + points(0, 4),
       {kFive, {{0}, {0}}, kFive}},
      {"a section without a Typ line", "[Symbol 1]\n[Symbol 2]\nTyp=4\n" + points(0, 4),
       {{{0}, {0}}, kFive}},
      {"Typ=30 collects like Typ=3", "[Symbol 1]\nTyp=30\n" + points(0, 4), {kFive}},
      {"[Symbol] without the blank begins no section",
       kHead + points(0, 1) + "[Symbol]\nTyp=2\n" + points(2, 4), {kFive}},
      {"indented keys are not recognised",
       "[Symbol 1]\n Typ=4\nXKoord0=1\n[Symbol 2]\nTyp=4\n XKoord0=5\n [Symbol 3]\n" +
           points(0, 4) + "\tYKoord4=9\n",
       {{{0}, {0}}, kFive}},
      {"lines before the first section belong to no area",
       "Typ=4\nXKoord3=7\nYKoord3=8\n" + kHead + "XKoord=1.5\nYKoord\n", {{{0}, {0}}}},
      {"unparsed numbers repeat the last value of their kind, across areas",
       kHead + "XKoord0=1\nYKoord0=2\nXKoord1=abc\nYKoord1=\nXKoordz=3\n" +
           "[Symbol 2]\nTyp=4\nXKoord0=\nYKoord0=x\nYKoord1=5\nXKoord1=6\n",
       {{{1, 1}, {2, 2}}, {{1, 6}, {2, 5}}}},
      // YKoordq: the index 2 stays (beyond slot 1) and the y value stays 2.
      {"an unparsed index keeps the last index and value",
       kHead + "XKoord0=1\nYKoord0=2\nXKoord2=3\nYKoordq=4\n", {{{1, 3, 0}, {2, 0, 2}}}},
  };
  TempDir dir;
  int n = 0;
  for (const Case& c : cases) {
    const std::string path = dir.file("case" + std::to_string(n++) + ".ovl");
    write_file(path, c.text);
    const Read r = read_ovl(path);
    EXPECT_EQ(r.result, 1) << c.what;
    EXPECT_EQ(r.err, "") << c.what;
    ASSERT_EQ(r.areas->area_count, static_cast<int32_t>(c.areas.size())) << c.what;
    for (size_t j = 0; j < c.areas.size(); ++j) expect_area(*r.areas, j, c.areas[j], c.what);
  }
}

TEST(OvlReader, LongLinesAreReadIn1023CharacterPieces) {
  // A piece of 1023 characters ends the first read; what follows on the same
  // line is looked at as a line of its own.
  const std::string text = kHead + "XKoord0=1\nYKoord0=2\n" + std::string(1023, 'c') +
                           "YKoord1=6\nXKoord1=5\nText=" + std::string(10000, 'z') + "\n" +
                           std::string(10000, '9') + "\nXKoord2=7\nYKoord2=8\n";
  TempDir dir;
  write_file(dir.file("long.ovl"), text);
  const Read r = read_ovl(dir.file("long.ovl"));
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(r.areas->area_count, 1);
  expect_area(*r.areas, 0, {{1, 5, 7}, {2, 6, 8}}, "long lines");
}

TEST(OvlReader, PointLimit) {
  TempDir dir;
  std::string full = kHead;
  Area want;
  for (int i = 0; i < kOvlMaxPoints; ++i) {
    full += "XKoord" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    full += "YKoord" + std::to_string(i) + "=" + std::to_string(-i) + "\n";
    want.x.push_back(i);
    want.y.push_back(-i);
  }
  write_file(dir.file("full.ovl"), full);
  Read r = read_ovl(dir.file("full.ovl"));
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.areas->area_count, 1);
  expect_area(*r.areas, 0, want, "999 points");

  write_file(dir.file("over.ovl"), full + "YKoord999=1\nXKoord999=1\n");
  r = read_ovl(dir.file("over.ovl"));
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.err, "area limit: out of memory error\n");
  EXPECT_EQ(r.areas->area_count, kUnset);
  expect_area(*r.areas, 0, want, "the points before the limit stay");
}

TEST(OvlReader, AreaLimit) {
  TempDir dir;
  std::string text;
  for (int i = 0; i < kOvlMaxAreas; ++i) text += "[Symbol " + std::to_string(i) + "]\nTyp=4\n";
  text += "XKoord0=3\nYKoord0=4\n";
  write_file(dir.file("1000.ovl"), text);
  Read r = read_ovl(dir.file("1000.ovl"));
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.areas->area_count, kOvlMaxAreas);
  expect_area(*r.areas, kOvlMaxAreas - 1, {{3}, {4}}, "the last area");

  const std::string path = dir.file("1001.ovl");
  write_file(path, text + "[Symbol 1000]\nTyp=4\n" + points(0, 4));
  r = read_ovl(path);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.err, "too many areas in OVL file (" + path + ") ...\n");
  EXPECT_EQ(r.areas->area_count, kUnset);
  expect_area(*r.areas, kOvlMaxAreas - 1, {{3}, {4}}, "the areas read so far stay");
}

TEST(OvlReader, FilesWithoutAreas) {
  TempDir dir;
  const std::string missing = dir.file("missing.ovl");
  Read r = read_ovl(missing);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.err, "cannot open OVL file (" + missing + ")...\n");
  EXPECT_EQ(r.areas->area_count, kUnset);
  EXPECT_TRUE(r.areas->area_x[0].empty());

  const char* texts[] = {"", "Typ=4\nXKoord0=1\nYKoord0=2\n", "[Symbol]\n [Symbol 1]\n[symbol 1]\n"};
  int n = 0;
  for (const char* text : texts) {
    const std::string path = dir.file("none" + std::to_string(n++) + ".ovl");
    write_file(path, text);
    r = read_ovl(path);
    EXPECT_EQ(r.result, 0) << text;
    EXPECT_EQ(r.err, "no polygonal areas in OVL file (" + path + ") ...\n") << text;
    EXPECT_EQ(r.areas->area_count, kUnset) << text;
  }
}

TEST(OvlReader, ClosesTheFileOnEveryPath) {
  TempDir dir;
  std::string many;
  for (int i = 0; i <= kOvlMaxAreas; ++i) many += "[Symbol x]\n";
  const std::string texts[] = {kHead + points(0, 4), "", many,
                               kHead + "XKoord0=1\nXKoord1=1\n" + points(2, 999)};
  const int before = open_descriptors();
  ASSERT_GT(before, 0);
  int n = 0;
  for (const std::string& text : texts) {
    const std::string path = dir.file("fd" + std::to_string(n++) + ".ovl");
    write_file(path, text);
    read_ovl(path);
    EXPECT_EQ(open_descriptors(), before) << "case " << n;
  }
}
