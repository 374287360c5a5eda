// Text, path, encoding and file helpers.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "geotools.h"
#include "testutil.h"

using namespace testutil;

TEST(Utf, SixteenToEight) {
  struct Case {
    std::u16string in;
    std::string out;
  } cases[] = {
      {u"tile.bmp", "tile.bmp"},
      {u"", ""},
      {u"\u00e9t\u00e9", "\xc3\xa9t\xc3\xa9"},
      {u"\u20ac", "\xe2\x82\xac"},
      {u"\U0001F5FA", "\xf0\x9f\x97\xba"},                 // a surrogate pair
      {std::u16string{char16_t(0xD83D), u'x'}, "\xef\xbf\xbdx"},  // lone high
      {std::u16string{u'x', char16_t(0xDDFA)}, "x\xef\xbf\xbd"},  // lone low
      {std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Case& c : cases) EXPECT_EQ(utf16_to_utf8(c.in), c.out);
}

TEST(Utf, EightToSixteenReplacesEveryBadByte) {
  const char16_t r = 0xFFFD;
  struct Case {
    std::string in;
    std::u16string out;
  } cases[] = {
      {"tile 1.bmp", u"tile 1.bmp"},
      {"\xc3\xa9", u"\u00e9"},
      {"\xf0\x9f\x97\xba", u"\U0001F5FA"},
      {"a\xffz", {u'a', r, u'z'}},
      {"\xc0\xaf", {r, r}},                 // overlong "/"
      {"\xed\xa0\x80", {r, r, r}},       // an encoded surrogate
      {"\xe2\x82", {r, r}},                 // cut short
      {"\xf4\x90\x80\x80", {r, r, r, r}},  // beyond U+10FFFF
  };
  for (const Case& c : cases) EXPECT_EQ(utf8_to_utf16(c.in), c.out) << c.in;
  // Valid text survives the round trip.
  const std::u16string names = u"Karte_\u00c4\u00d6\u00dc_\U0001F5FA_\u4e16.bmp";
  EXPECT_EQ(utf8_to_utf16(utf16_to_utf8(names)), names);
}

TEST(TextHelpers, Stripcr) {
  struct Case {
    std::string in, out;
  } cases[] = {{"name.bmp\r\n", "name.bmp"}, {"a\rb\n", "a"}, {"plain", "plain"}, {"", ""},
               {"tile 1.bmp  \r\n", "tile 1.bmp  "}};
  for (Case c : cases) {
    stripcr(c.in);
    EXPECT_EQ(c.in, c.out);
  }
}

TEST(TextHelpers, StripextensionLooksInTheLastComponentOnly) {
  struct Case {
    std::string in, out;
    int result;
  } cases[] = {
      {"tile.bmp", "tile", 4},     {"a.b.c", "a.b", 3},
      {"a.", "a", 1},              {".bmp", ".bmp", 0},
      {"name", "name", 0},         {"x", "x", 0},
      {"", "", -1},                {"maps.v2/tile", "maps.v2/tile", 0},
      {"out/tile7.bmp", "out/tile7", 9}, {"out/.hidden", "out/.hidden", 0},
      {"out/", "out/", 0},
  };
  for (Case c : cases) {
    EXPECT_EQ(stripextension(c.in), c.result) << c.out;
    EXPECT_EQ(c.in, c.out);
  }
}

TEST(TextHelpers, StrReplace) {
  struct Case {
    const char *source, *pattern, *replacement, *out;
  } cases[] = {
      {"aaa", "aa", "b", "ba"},    {"a-b-c", "-", "--", "a--b--c"}, {"x", "x", "xx", "xx"},
      {"abc", "z", "y", "abc"},    {"", "a", "b", ""},              {"abc", "", "y", "abc"},
  };
  for (const Case& c : cases) EXPECT_EQ(str_replace(c.source, c.pattern, c.replacement), c.out);
}

TEST(TextHelpers, CorrectDirectoryString) {
  struct Case {
    std::string in, out;
    int result;
  } cases[] = {{"out", "out/", 3}, {"out/", "out/", 4}, {"", "", 0}, {"dir\\", "dir\\/", 4}};
  for (Case c : cases) {
    EXPECT_EQ(correct_directory_string(c.in), c.result);
    EXPECT_EQ(c.in, c.out);
  }
}

TEST(TextHelpers, GetFilesize) {
  TempDir dir;
  write_file(dir.file("five"), "12345");
  write_file(dir.file("empty"), "");
  EXPECT_EQ(get_filesize(dir.file("five")), 5);
  EXPECT_EQ(get_filesize(dir.file("empty")), 0);
  EXPECT_EQ(get_filesize(dir.file("missing")), 0);
}

TEST(PendingFile, CommitReplacesDiscardKeepsTheEarlierFile) {
  TempDir dir;
  const std::string target = dir.file("doc.kml");
  write_file(target, "earlier");
  {
    PendingFile p;
    ASSERT_TRUE(pending_file_open(p, target));
    std::fputs("half", p.file.get());
    // Goes without a commit: the earlier file stays, no temporary is left.
  }
  EXPECT_EQ(read_file(target), "earlier");
  EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"doc.kml"});

  PendingFile p;
  ASSERT_TRUE(pending_file_open(p, target));
  std::fputs("complete", p.file.get());
  ASSERT_TRUE(pending_file_commit(p));
  EXPECT_EQ(read_file(target), "complete");
  EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"doc.kml"});
  struct stat st;
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);

  PendingFile nowhere;
  EXPECT_FALSE(pending_file_open(nowhere, dir.file("no/such/folder/doc.kml")));
}

TEST(Streams, ACheckedCloseReportsALostWrite) {
  FilePtr full = open_file("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  std::fputs("data", full.get());
  EXPECT_FALSE(close_file_checked(full));
  EXPECT_EQ(full, nullptr);
}

TEST(PendingFileDeathTest, AnExitRemovesTheTemporaryFile) {
  TempDir dir;
  const std::string target = dir.file("out.gmf");
  write_file(target, "earlier");
  EXPECT_EXIT(
      {
        PendingFile p;
        if (!pending_file_open(p, target)) std::exit(3);
        std::fputs("partial", p.file.get());
        std::exit(1);
      },
      testing::ExitedWithCode(1), "");
  EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"out.gmf"});
  EXPECT_EQ(read_file(target), "earlier");
}
