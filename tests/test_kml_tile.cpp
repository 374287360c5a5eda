// The tile document and the XML escaping of inserted texts.
#include <csignal>
#include <cstdlib>

#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "kml_tile.h"
#include "testutil.h"

using namespace testutil;

namespace {

int write_tile(const std::string& directory, const std::string& document, int opacity,
               std::string* err = nullptr) {
  testing::internal::CaptureStderr();
  int r = write_kml_tile(10.0, 11.0, 51.05, 50.05, 8.935829012, opacity, 256, -1, 0, 0,
                         directory, document, "img/<x>&", "a&b<c>.bmp");
  std::string e = testing::internal::GetCapturedStderr();
  if (err) *err = e;
  return r;
}

}  // namespace

TEST(KmlTile, DocumentText) {
  TempDir dir;
  // An earlier, longer document of that name is replaced.
  write_file(dir.file("a&b<c>.kml"), std::string(4000, 'x'));
  std::string err;
  ASSERT_EQ(write_tile(dir.path + "/", "a&b<c>.kml", 128, &err), 1);
  EXPECT_EQ(err, "");
  EXPECT_EQ(read_file(dir.file("a&b<c>.kml")),
            R"(<?xml version="1.0" encoding="UTF-8"?>
<kml xmlns="http://earth.google.com/kml/2.1">
<!-- made by mosaiq -->
<Document>
<Region>
<LatLonAltBox><north>51.05000000</north><south>50.05000000</south><east>11.00000000</east><west>10.00000000</west><rotation>8.93582901</rotation></LatLonAltBox>
<Lod><minLodPixels>256</minLodPixels><maxLodPixels>-1</maxLodPixels><minFadeExtent>0</minFadeExtent><maxFadeExtent>0</maxFadeExtent></Lod>
</Region>
<GroundOverlay>
<color>80ffffff</color>
<drawOrder>1</drawOrder>
<Icon><href>img/&lt;x&gt;&amp;a&amp;b&lt;c&gt;.bmp</href></Icon>
<LatLonBox><north>51.05000000</north><south>50.05000000</south><east>11.00000000</east><west>10.00000000</west><rotation>8.93582901</rotation></LatLonBox>
</GroundOverlay>
</Document>
</kml>
)");
}

TEST(KmlTile, OpacityIsTheAlphaOfWhite) {
  TempDir dir;
  struct Case {
    int opacity;
    std::string line;
  } cases[] = {{128, "<color>80ffffff</color>"}, {5, "<color>05ffffff</color>"},
               {0, "<color>00ffffff</color>"}, {255, "<color>ffffffff</color>"}};
  for (const Case& c : cases) {
    ASSERT_EQ(write_tile(dir.path + "/", "t.kml", c.opacity), 1);
    EXPECT_EQ(split_lines(read_file(dir.file("t.kml"))).at(9), c.line);
  }
}

TEST(KmlTile, XmlEscape) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"plain name.bmp", "plain name.bmp"},
      {"a&b<c>\"d\"'e'", "a&amp;b&lt;c&gt;&quot;d&quot;&apos;e&apos;"},
      {"&amp;", "&amp;amp;"},
      {"t\tl\nc\r", "t&#9;l&#10;c&#13;"},
      {std::string("x\x01y\x1f", 4), "x\xef\xbf\xbdy\xef\xbf\xbd"},
      {"\xef\xbf\xbe\xef\xbf\xbf\xef\xbf\xbd", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
      {"Karte_\xc3\x84_\xf0\x9f\x97\xba.bmp", "Karte_\xc3\x84_\xf0\x9f\x97\xba.bmp"},
      {"a\xffz\xc3", "a\xef\xbf\xbdz\xef\xbf\xbd"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(xml_escape(c.in), c.out) << c.in;
}

TEST(KmlTile, ADocumentThatCannotBeCreated) {
  TempDir dir;
  std::string err;
  EXPECT_EQ(write_tile(dir.file("missing") + "/", "t.kml", 255, &err), 0);
  EXPECT_EQ(err, "cannot open kml file [" + dir.file("missing/t.kml") + "]\n");
  EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{});
}

TEST(KmlTileDeathTest, AFailedWriteIsReportedAndThePartialDocumentRemoved) {
  TempDir dir;
  const std::string path = dir.file("t.kml");
  // No file may grow beyond 100 bytes in the child, as on a full disk.
  const struct rlimit limit = {100, 100};
  EXPECT_EXIT(
      {
        std::signal(SIGXFSZ, SIG_IGN);
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) std::_Exit(3);
        const int r = write_kml_tile(1, 2, 3, 4, 0, 255, 384, -1, 0, 0, dir.path + "/", "t.kml",
                                     "", "t.bmp");
        std::_Exit(r == 0 && !file_exists(path) ? 0 : 1);
      },
      testing::ExitedWithCode(0), "^cannot write kml file \\[" + path + "\\]\n$");
  EXPECT_FALSE(file_exists(path));
}
