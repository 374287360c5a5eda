// mosaiq run as a process on small GMF fixtures: the complete run with its
// documents, the argument rules, and what every failure leaves behind.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "testutil.h"

using namespace testutil;

namespace {

const std::string kMosaiq = MOSAIQ_PATH;
const std::string kXmllint = "/usr/bin/xmllint";

const std::string kUsage =
    "mosaiq, GMF to KML super-overlay converter, 4.3.2007\n"
    "\n"
    "Syntax: mosaiq map.gmf opacity minLodPixels maxLodPixels prefix_kml prefix_image "
    "directory superoverlay.kml\n";

FixtureTile tile(std::u16string name, std::vector<CalPoint> cal, std::string data) {
  FixtureTile t;
  t.name = std::move(name);
  t.width = 10;
  t.height = 10;
  t.cal = std::move(cal);
  t.data = std::move(data);
  return t;
}

// A level 10 x 10 tile whose four points already lie on its corners.
FixtureTile level(std::u16string name, double west, double north, std::string data = "IMG") {
  return tile(std::move(name), box_points(west, north, 0.1, 0.1, 0, 0, 10, 10), std::move(data));
}

// Runs mosaiq with the eight arguments and checks, when xmllint is present,
// that every document it left in `folders` is well-formed.
RunResult mosaiq(const std::vector<std::string>& args, const std::string& cwd = "") {
  return run(kMosaiq, args, cwd);
}

void expect_well_formed(const std::string& folder) {
  for (const std::string& name : list_dir(folder)) {
    if (name.size() < 4 || name.substr(name.size() - 4) != ".kml") continue;
    RunResult r = run(kXmllint, {"--noout", folder + "/" + name});
    EXPECT_EQ(r.status, 0) << name << ": " << r.err;
    EXPECT_EQ(r.err, "") << name;
  }
}

std::string line_at(const std::string& path, size_t n) {
  std::vector<std::string> lines = split_lines(read_file(path));
  return n < lines.size() ? lines[n] : "<missing line>";
}

}  // namespace

// A rotated tile, a tile across the 180 meridian, a tile whose calibration
// cannot be moved to its corners, and a two-point tile; names that need
// escaping; opacity 128 and no upper level-of-detail limit.
TEST(Mosaiq, CompleteRunWritesImagesAndDocuments) {
  TempDir dir;
  write_file(dir.file("map.gmf"),
             gmf_bytes({tile(u"a&b<c>.bmp",
                             {{0, 0, 10, 51}, {10, 0, 11, 51.1}, {0, 10, 10, 50}, {10, 10, 11, 50.1}},
                             "AAAA"),
                        tile(u"dateline.jpg",
                             {{0, 0, 179.5, -16}, {10, 0, -179.5, -16}, {0, 10, 179.5, -17},
                              {10, 10, -179.5, -17}},
                             "BBBBB"),
                        tile(u"it's \"odd\".png",
                             {{0, 0, 1, 6}, {9, 0, 2, 7}, {0, 9, 3, 5}, {9, 9, 4, 5}}, "CC"),
                        tile(u"two=points.bmp", {{0, 0, 1, 2}, {9, 9, 2, 1}}, "DDD")}) +
                 "tail");
  ASSERT_EQ(mkdir(dir.file("out").c_str(), 0777), 0);
  RunResult r = mosaiq({dir.file("map.gmf"), "128", "256", "-1", "http://h/?a=1&b=", "", dir.file("out"),
                        dir.file("root.kml")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "extracted 4 map tiles ...\n");
  EXPECT_EQ(r.err,
            "calibration pixel positions not in map order ...\n"
            "calibration points not in 4 quadrants ...\n");

  EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"map.gmf", "out", "root.kml"}));
  EXPECT_EQ(list_dir(dir.file("out")),
            (std::vector<std::string>{"a&b<c>.bmp", "a&b<c>.kml", "dateline.jpg", "dateline.kml",
                                      "it's \"odd\".kml", "it's \"odd\".png", "two_points.bmp"}));
  EXPECT_EQ(read_file(dir.file("out/a&b<c>.bmp")), "AAAA");
  EXPECT_EQ(read_file(dir.file("out/dateline.jpg")), "BBBBB");
  EXPECT_EQ(read_file(dir.file("out/it's \"odd\".png")), "CC");
  EXPECT_EQ(read_file(dir.file("out/two_points.bmp")), "DDDtail");

  const std::string lod =
      "<Lod><minLodPixels>256</minLodPixels><maxLodPixels>-1</maxLodPixels>"
      "<minFadeExtent>0</minFadeExtent><maxFadeExtent>0</maxFadeExtent></Lod>\n";
  EXPECT_EQ(read_file(dir.file("root.kml")),
            R"(<?xml version="1.0" encoding="UTF-8"?>
<kml xmlns="http://earth.google.com/kml/2.1">
<!-- made by mosaiq -->
<Document>
<NetworkLink>
<name>a&amp;b&lt;c&gt;.bmp</name>
<Region>
<LatLonAltBox><north>51.05000000</north><south>50.05000000</south><east>11.00000000</east><west>10.00000000</west><rotation>8.93582901</rotation></LatLonAltBox>
)" + lod + R"(</Region>
<Link><href>http://h/?a=1&amp;b=a&amp;b&lt;c&gt;.kml</href><viewRefreshMode>onRegion</viewRefreshMode></Link>
</NetworkLink>
<NetworkLink>
<name>dateline.jpg</name>
<Region>
<LatLonAltBox><north>-16.00000000</north><south>-17.00000000</south><east>-179.50000000</east><west>179.50000000</west><rotation>0.00000000</rotation></LatLonAltBox>
)" + lod + R"(</Region>
<Link><href>http://h/?a=1&amp;b=dateline.kml</href><viewRefreshMode>onRegion</viewRefreshMode></Link>
</NetworkLink>
<NetworkLink>
<name>it&apos;s &quot;odd&quot;.png</name>
<Region>
<LatLonAltBox><north>6.50000000</north><south>5.00000000</south><east>3.00000000</east><west>2.00000000</west><rotation>22.57868339</rotation></LatLonAltBox>
)" + lod + R"(</Region>
<Link><href>http://h/?a=1&amp;b=it&apos;s &quot;odd&quot;.kml</href><viewRefreshMode>onRegion</viewRefreshMode></Link>
</NetworkLink>
<Region>
<LatLonAltBox><north>51.05000000</north><south>-17.00000000</south><east>11.00000000</east><west>2.00000000</west></LatLonAltBox>
)" + lod + R"(</Region>
</Document>
</kml>
)");

  EXPECT_EQ(read_file(dir.file("out/dateline.kml")),
            R"(<?xml version="1.0" encoding="UTF-8"?>
<kml xmlns="http://earth.google.com/kml/2.1">
<!-- made by mosaiq -->
<Document>
<Region>
<LatLonAltBox><north>-16.00000000</north><south>-17.00000000</south><east>-179.50000000</east><west>179.50000000</west><rotation>0.00000000</rotation></LatLonAltBox>
)" + lod + R"(</Region>
<GroundOverlay>
<color>80ffffff</color>
<drawOrder>1</drawOrder>
<Icon><href>dateline.jpg</href></Icon>
<LatLonBox><north>-16.00000000</north><south>-17.00000000</south><east>-179.50000000</east><west>179.50000000</west><rotation>0.00000000</rotation></LatLonBox>
</GroundOverlay>
</Document>
</kml>
)");
  EXPECT_EQ(line_at(dir.file("out/a&b<c>.kml"), 11), "<Icon><href>a&amp;b&lt;c&gt;.bmp</href></Icon>");

  if (!file_exists(kXmllint)) GTEST_SKIP() << "xmllint not installed at " << kXmllint;
  expect_well_formed(dir.path);
  expect_well_formed(dir.file("out"));
}

TEST(Mosaiq, MapWithoutFourPointTilesGivesHeaderAndClosingBlockOnly) {
  TempDir dir;
  write_file(dir.file("map.gmf"), gmf_bytes({tile(u"p.bmp", {{0, 0, 1, 2}, {9, 9, 2, 1}}, "P"),
                                             tile(u"q.bmp", {{0, 0, 1, 2}, {9, 9, 2, 1}, {5, 5, 1.5, 1.5}}, "Q")}));
  RunResult r = mosaiq({dir.file("map.gmf"), "255", "384", "-1", "", "", dir.path, dir.file("root.kml")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "extracted 2 map tiles ...\n");
  EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"map.gmf", "p.bmp", "q.bmp", "root.kml"}));
  EXPECT_EQ(read_file(dir.file("root.kml")),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<kml xmlns=\"http://earth.google.com/kml/2.1\">\n"
            "<!-- made by mosaiq -->\n"
            "<Document>\n"
            "<Region>\n"
            "<LatLonAltBox><north>-9999999.99900000</north><south>9999999.99900000</south>"
            "<east>-9999999.99900000</east><west>9999999.99900000</west></LatLonAltBox>\n"
            "<Lod><minLodPixels>384</minLodPixels><maxLodPixels>-1</maxLodPixels>"
            "<minFadeExtent>0</minFadeExtent><maxFadeExtent>0</maxFadeExtent></Lod>\n"
            "</Region>\n"
            "</Document>\n"
            "</kml>\n");
}

TEST(Mosaiq, NumbersAreReadLikeAScanOfAnInt) {
  TempDir dir;
  write_file(dir.file("map.gmf"), gmf_bytes({level(u"t.bmp", 10, 50)}));
  struct Case {
    std::string opacity, min_lod, max_lod;
    std::string color, lod;
  } cases[] = {
      {"300", "384", "-1", "ff", "384/-1"},       {"-1", "384", "-1", "ff", "384/-1"},
      {"0", "384", "-1", "00", "384/-1"},         {"128abc", "384", "-1", "80", "384/-1"},
      {"abc", "384", "-1", "ff", "384/-1"},       {" +12.7", "384", "-1", "0c", "384/-1"},
      {"4294967297", "1", "2", "ff", "1/2"},      {"5", "abc", "abc", "05", "384/-1"},
      {"5", "-7", "0", "05", "-7/-1"},            {"5", "  64px", "-5", "05", "64/-5"},
  };
  for (const Case& c : cases) {
    RunResult r = mosaiq({dir.file("map.gmf"), c.opacity, c.min_lod, c.max_lod, "", "", dir.path,
                          dir.file("root.kml")});
    const std::string what = c.opacity + " " + c.min_lod + " " + c.max_lod;
    ASSERT_EQ(r.status, 0) << what << r.err;
    EXPECT_EQ(line_at(dir.file("t.kml"), 9), "<color>" + c.color + "ffffff</color>") << what;
    const std::string min = c.lod.substr(0, c.lod.find('/')), max = c.lod.substr(c.lod.find('/') + 1);
    const std::string lod = "<Lod><minLodPixels>" + min + "</minLodPixels><maxLodPixels>" + max +
                            "</maxLodPixels><minFadeExtent>0</minFadeExtent><maxFadeExtent>0</maxFadeExtent></Lod>";
    EXPECT_EQ(line_at(dir.file("t.kml"), 6), lod) << what;
    EXPECT_EQ(line_at(dir.file("root.kml"), 8), lod) << what;
  }
}

TEST(Mosaiq, OutputDirectoryWithOrWithoutSlashOrEmpty) {
  TempDir dir;
  write_file(dir.file("map.gmf"), gmf_bytes({level(u"t.bmp", 10, 50, "T")}));
  ASSERT_EQ(mkdir(dir.file("out").c_str(), 0777), 0);
  ASSERT_EQ(mkdir(dir.file("cwd").c_str(), 0777), 0);
  struct Case {
    std::string directory, cwd, folder;
  } cases[] = {
      {dir.file("out"), "", dir.file("out")},
      {dir.file("out") + "/", "", dir.file("out")},
      {"", dir.file("cwd"), dir.file("cwd")},
  };
  for (const Case& c : cases) {
    RunResult r = mosaiq({dir.file("map.gmf"), "255", "384", "-1", "", "", c.directory,
                          dir.file("root.kml")}, c.cwd);
    ASSERT_EQ(r.status, 0) << c.directory << r.err;
    EXPECT_EQ(list_dir(c.folder), (std::vector<std::string>{"t.bmp", "t.kml"})) << c.directory;
    EXPECT_EQ(read_file(c.folder + "/t.bmp"), "T");
    EXPECT_EQ(line_at(dir.file("root.kml"), 10),
              "<Link><href>t.kml</href><viewRefreshMode>onRegion</viewRefreshMode></Link>");
  }
}

TEST(Mosaiq, NonAsciiNamesAgreeBetweenFilesAndHrefs) {
  TempDir dir;
  write_file(dir.file("map.gmf"),
             gmf_bytes({level(u"Karte_\u00c4\u00d6\u00dc_\u4e16.bmp", 10, 50),
                        level(u"map_\U0001F5FA.png", 11, 50), level(u"tile", 12, 50)}));
  RunResult r = mosaiq({dir.file("map.gmf"), "255", "384", "-1", "", "img/", dir.path,
                        dir.file("root.kml")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string karte = "Karte_\xc3\x84\xc3\x96\xc3\x9c_\xe4\xb8\x96";
  const std::string map = "map_\xf0\x9f\x97\xba";
  EXPECT_EQ(list_dir(dir.path),
            (std::vector<std::string>{karte + ".bmp", karte + ".kml", "map.gmf", map + ".kml",
                                      map + ".png", "root.kml", "tile", "tile.kml"}));
  struct Case {
    std::string image, document;
  } cases[] = {{karte + ".bmp", karte + ".kml"}, {map + ".png", map + ".kml"}, {"tile", "tile.kml"}};
  std::string root = read_file(dir.file("root.kml"));
  for (const Case& c : cases) {
    EXPECT_NE(root.find("<name>" + c.image + "</name>"), std::string::npos) << c.image;
    EXPECT_NE(root.find("<href>" + c.document + "</href>"), std::string::npos) << c.document;
    EXPECT_EQ(line_at(dir.file(c.document), 11), "<Icon><href>img/" + c.image + "</href></Icon>");
  }
  if (!file_exists(kXmllint)) GTEST_SKIP() << "xmllint not installed at " << kXmllint;
  expect_well_formed(dir.path);
}

TEST(Mosaiq, WrongArgumentCountCreatesNothing) {
  TempDir dir;
  write_file(dir.file("map.gmf"), gmf_bytes({level(u"t.bmp", 10, 50)}));
  const std::vector<std::string> seven = {"map.gmf", "255", "384", "-1", "", "", "."};
  std::vector<std::string> nine = seven;
  nine.push_back("root.kml");
  nine.push_back("extra");
  for (const auto& args : {seven, nine}) {
    RunResult r = mosaiq(args, dir.path);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, kUsage);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"map.gmf"});
  }
}

// Every early way out: status 1, its messages, an earlier root document left
// exactly as it was and no temporary file beside it.
TEST(Mosaiq, EarlyFailuresKeepTheEarlierRootDocument) {
  TempDir dir;
  write_file(dir.file("good.gmf"), gmf_bytes({level(u"t.bmp", 10, 50)}));
  write_file(dir.file("bad.gmf"), "BM" + std::string(60, '\0'));
  write_file(dir.file("short.gmf"), gmf_bytes({level(u"t.bmp", 10, 50)}).substr(0, 30));
  write_file(dir.file("unsafe.gmf"),
             gmf_bytes({level(u"first.bmp", 10, 50), level(u"../escaped.bmp", 11, 50)}));
  ASSERT_EQ(mkdir(dir.file("out").c_str(), 0777), 0);
  ASSERT_EQ(mkdir(dir.file("docs").c_str(), 0777), 0);
  const std::string root = dir.file("docs/root.kml");

  struct Case {
    std::string what, gmf, out, root, err;
    std::vector<std::string> out_files;
  } cases[] = {
      {"root folder missing", "good.gmf", "out", dir.file("nowhere/root.kml"),
       kUsage + "\ncannot open superoverlay file\n", {}},
      {"GMF file missing", "missing.gmf", "out", root,
       "can't open GMF file " + dir.file("missing.gmf") + "\n", {}},
      {"not a GMF file", "bad.gmf", "out", root,
       "only GMF version ff000002 currently supported\nread failed ...\n", {}},
      {"GMF file ends in its directory", "short.gmf", "out", root, "GMF DWORD read error\n", {}},
      {"output folder missing", "good.gmf", "gone", root,
       "can't open map file " + dir.file("gone/t.bmp") + "\nfailed to write Bitmap ...\n", {}},
      {"unsafe tile name", "unsafe.gmf", "out", root,
       "unsafe tile name ../escaped.bmp\nfailed to write Bitmap ...\n", {"first.bmp"}},
  };
  for (const Case& c : cases) {
    write_file(root, "earlier root");
    RunResult r = mosaiq({dir.file(c.gmf), "255", "384", "-1", "", "", dir.file(c.out), c.root});
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(r.err, c.err) << c.what;
    EXPECT_EQ(r.out, "") << c.what;
    EXPECT_EQ(read_file(root), "earlier root") << c.what;
    EXPECT_EQ(list_dir(dir.file("docs")), std::vector<std::string>{"root.kml"}) << c.what;
    EXPECT_EQ(list_dir(dir.file("out")), c.out_files) << c.what;
    EXPECT_EQ(list_dir(dir.path),
              (std::vector<std::string>{"bad.gmf", "docs", "good.gmf", "out", "short.gmf",
                                        "unsafe.gmf"}))
        << c.what;
  }
}

TEST(Mosaiq, ATileDocumentThatCannotBeWrittenIsStillLinked) {
  TempDir dir;
  write_file(dir.file("map.gmf"), gmf_bytes({level(u"a.bmp", 10, 50), level(u"b.bmp", 11, 50)}));
  // A folder in the way of the first tile document.
  ASSERT_EQ(mkdir(dir.file("a.kml").c_str(), 0777), 0);
  RunResult r = mosaiq({dir.file("map.gmf"), "255", "384", "-1", "", "", dir.path,
                        dir.file("root.kml")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "extracted 2 map tiles ...\n");
  EXPECT_EQ(r.err, "cannot open kml file [" + dir.file("a.kml") + "]\n");
  EXPECT_EQ(list_dir(dir.path),
            (std::vector<std::string>{"a.bmp", "a.kml", "b.bmp", "b.kml", "map.gmf", "root.kml"}));
  const std::string root = read_file(dir.file("root.kml"));
  EXPECT_NE(root.find("<href>a.kml</href>"), std::string::npos);
  EXPECT_NE(root.find("<href>b.kml</href>"), std::string::npos);
  EXPECT_EQ(root.substr(root.size() - 19), "</Document>\n</kml>\n");
}

TEST(Mosaiq, ARootDocumentThatCannotBePutInPlaceFailsTheRun) {
  TempDir dir;
  write_file(dir.file("map.gmf"), gmf_bytes({level(u"a.bmp", 10, 50)}));
  // A non-empty folder stands where the root document should go.
  ASSERT_EQ(mkdir(dir.file("root.kml").c_str(), 0777), 0);
  write_file(dir.file("root.kml/keep"), "kept");
  ASSERT_EQ(mkdir(dir.file("out").c_str(), 0777), 0);
  RunResult r = mosaiq({dir.file("map.gmf"), "255", "384", "-1", "", "", dir.file("out"),
                        dir.file("root.kml")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "cannot write superoverlay file\n");
  EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"map.gmf", "out", "root.kml"}));
  EXPECT_EQ(list_dir(dir.file("root.kml")), std::vector<std::string>{"keep"});
  EXPECT_EQ(list_dir(dir.file("out")), (std::vector<std::string>{"a.bmp", "a.kml"}));
}
