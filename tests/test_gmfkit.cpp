// gmfkit run as a process: the command table's usage rules, a pack followed
// by every road back to the same tiles and bytes, and each subcommand's own
// output and refusals on small fixtures.
#include <cmath>
#include <cstdlib>

#include <gtest/gtest.h>

#include "format_gmf.h"
#include "testutil.h"

using namespace testutil;

namespace {

const std::string kGmfkit = GMFKIT_PATH;

RunResult gmfkit(const std::vector<std::string>& args) { return run(kGmfkit, args); }

// A 10 x 10 tile whose four points lie on its pixel edges 0 and 10, so its
// footprint is exactly west .. west+1, south .. south+1.
FixtureTile square(std::u16string name, double west, double south, std::string data = "IMG") {
  FixtureTile t;
  t.name = std::move(name);
  t.width = 10;
  t.height = 10;
  t.cal = box_points(west, south + 1, 0.1, 0.1, 0, 0, 10, 10);
  t.data = std::move(data);
  return t;
}

FixtureTile with_points(FixtureTile t, std::vector<CalPoint> cal) {
  t.cal = std::move(cal);
  return t;
}

// Name and image bytes of every tile of a GMF file, read by the library.
std::vector<std::pair<std::string, std::string>> tiles_of(const std::string& path) {
  GmfMap map;
  map.path = path;
  map.file = open_file(path, "rb");
  std::vector<std::pair<std::string, std::string>> out;
  if (!map.file || !gmf_read(map)) return out;
  const std::string bytes = read_file(path);
  for (const GmfTile& t : map.tiles)
    out.emplace_back(utf16_to_utf8(t.name), bytes.substr(t.offset, t.size));
  return out;
}

std::vector<std::string> names_of(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& t : tiles_of(path)) names.push_back(t.first);
  return names;
}

// One KAL record as a list holds it; points are (x, y, lon, lat).
std::string kal_record(const std::string& name, uint32_t w, uint32_t h,
                       const std::vector<CalPoint>& points) {
  std::string s = "[Kalibrierung]\n";
  char line[200];
  for (size_t n = 0; n < points.size(); ++n) {
    std::snprintf(line, sizeof line,
                  "[Calibration Point %zu]\nLongitude = %.8f\nLatitude = %.8f\nPixel = POINT(%u,%u)\n",
                  n + 1, points[n].lon, points[n].lat, points[n].x, points[n].y);
    s += line;
  }
  std::snprintf(line, sizeof line, "[Map]\nBitmap = %s\nSize = SIZE(%u,%u)\n", name.c_str(), w, h);
  return s + line;
}

// An OVL file with one polygon symbol per area, and optionally a point symbol.
std::string ovl_text(const std::vector<std::vector<std::pair<double, double>>>& areas) {
  std::string s = "[Overlay]\n";
  char line[100];
  int symbol = 1;
  for (const auto& area : areas) {
    s += "[Symbol " + std::to_string(symbol++) + "]\n";
    s += area.size() == 1 ? "Typ=2\n" : "Typ=4\n";
    for (size_t i = 0; i < area.size(); ++i) {
      std::snprintf(line, sizeof line, "XKoord%zu=%.6f\nYKoord%zu=%.6f\n", i, area[i].first, i,
                    area[i].second);
      s += line;
    }
  }
  return s;
}

std::vector<std::pair<double, double>> rect(double w, double s, double e, double n) {
  return {{w, s}, {e, s}, {e, n}, {w, n}};
}

}  // namespace

// Usage on standard output for help, on standard error with status 2 for
// every malformed command line, before any file is opened.
TEST(Gmfkit, CommandLineRules) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out_starts, err_has;
  };
  const std::string subset_usage = "Usage: gmfkit subset IN.gmf OUT.gmf INDEX...\n";
  const Case cases[] = {
      {{"--help"}, 0, "gmfkit, the GMF library's roads as subcommands\n", ""},
      {{"help"}, 0, "gmfkit, the GMF library's roads as subcommands\n", ""},
      {{"help", "subset"}, 0, subset_usage, ""},
      {{"subset", "--help"}, 0, subset_usage, ""},
      {{}, 2, "", "Usage: gmfkit COMMAND"},
      {{"frob"}, 2, "", "unknown command frob\n"},
      {{"help", "frob"}, 2, "", "Usage: gmfkit COMMAND"},
      {{"help", "list", "x"}, 2, "", "Usage: gmfkit COMMAND"},
      {{"list"}, 2, "", "Usage: gmfkit list IN.gmf\n"},
      {{"list", "a.gmf", "b"}, 2, "", "Usage: gmfkit list IN.gmf\n"},
      {{"merge", "a", "b"}, 2, "", "Usage: gmfkit merge A.gmf B.gmf OUT.gmf\n"},
      {{"subset", "missing.gmf", "out.gmf"}, 2, "", subset_usage},
      {{"subset", "missing.gmf", "out.gmf", "1", "x"}, 2, "", "bad tile index x\n" + subset_usage},
      {{"subset", "missing.gmf", "out.gmf", "1-"}, 2, "", "bad tile index 1-\n"},
      {{"subset", "missing.gmf", "out.gmf", "-1"}, 2, "", "bad tile index -1\n"},
      {{"subset", "missing.gmf", "out.gmf", "2147483648"}, 2, "", "bad tile index 2147483648\n"},
      {{"extract", "missing.gmf", "dir", "1-2-3"}, 2, "", "bad tile index 1-2-3\n"},
      {{"subset", "missing.gmf", "out.gmf", "0-100000"}, 1, "",
       "number of tiles = 100001 not accepted\n"},
      {{"list", "missing.gmf"}, 1, "", "can't open GMF file missing.gmf\n"},
  };
  for (const Case& c : cases) {
    std::string label;
    for (const std::string& a : c.args) label += a + " ";
    RunResult r = gmfkit(c.args);
    EXPECT_EQ(r.status, c.status) << label;
    EXPECT_EQ(r.out.substr(0, c.out_starts.size()), c.out_starts) << label;
    if (c.out_starts.empty()) {
      EXPECT_EQ(r.out, "") << label;
    }
    EXPECT_NE(r.err.find(c.err_has), std::string::npos) << label << "\n" << r.err;
    if (c.status == 0) {
      EXPECT_EQ(r.err, "") << label;
    }
  }

  // The full usage names every subcommand with its arguments.
  const std::string usage = gmfkit({"--help"}).out;
  for (const char* line :
       {"list IN.gmf", "footprints IN.gmf OUT.geojson", "extract IN.gmf DIR [INDEX...]",
        "pack LIST.kal IMAGEDIR OUT.gmf", "subset IN.gmf OUT.gmf INDEX...",
        "merge A.gmf B.gmf OUT.gmf", "select IN.gmf AREAS.ovl OUT.gmf", "kal IN.gmf DIR",
        "worldfile IN.gmf DIR"})
    EXPECT_NE(usage.find(std::string("  ") + line + " "), std::string::npos) << line;
}

// KAL list + images -> pack; then list, subset of every index, merge with
// itself, select with an area over everything and extract all give back
// exactly the tiles and bytes that went in.
TEST(Gmfkit, PackedTilesComeBackThroughEveryRoad) {
  TempDir dir;
  const std::string koeln = "K\xC3\xB6ln \xC3\x9F.bmp";
  const std::vector<std::pair<std::string, std::string>> images = {
      {"a.bmp", "BM-first-image"}, {koeln, std::string(3000, 'K')}, {"c.tif", std::string("II*\0tiff", 8)}};
  std::string list = "lines before the first record are ignored\n";
  ASSERT_EQ(system(("mkdir " + dir.file("img") + " " + dir.file("x")).c_str()), 0);
  for (size_t i = 0; i < images.size(); ++i) {
    write_file(dir.file("img/" + images[i].first), images[i].second);
    list += kal_record(images[i].first, 10, 10, box_points(i, 51, 0.1, 0.1, 0, 0, 10, 10));
  }
  write_file(dir.file("list.kal"), list);

  RunResult r = gmfkit({"pack", dir.file("list.kal"), dir.file("img"), dir.file("p.gmf")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "write bitmap 1: a.bmp\nwrite bitmap 2: " + koeln +
                       "\nwrite bitmap 3: c.tif\npacked 3 tiles into " + dir.file("p.gmf") + "\n");
  EXPECT_EQ(tiles_of(dir.file("p.gmf")), images);
  const std::string packed = read_file(dir.file("p.gmf"));

  r = gmfkit({"list", dir.file("p.gmf")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = split_lines(r.out);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "1\t" + koeln + "\t" + std::to_string(packed.size() - 3000 - 8) +
                          "\t3000\t10\t10\t4\t51.00000000\t50.00000000\t2.00000000\t1.00000000");

  r = gmfkit({"subset", dir.file("p.gmf"), dir.file("s.gmf"), "0-2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir.file("s.gmf")), packed);

  r = gmfkit({"merge", dir.file("p.gmf"), dir.file("p.gmf"), dir.file("m.gmf")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "wrote 6 tiles to " + dir.file("m.gmf") + "\n");
  std::vector<std::pair<std::string, std::string>> twice = images;
  twice.insert(twice.end(), images.begin(), images.end());
  EXPECT_EQ(tiles_of(dir.file("m.gmf")), twice);

  write_file(dir.file("all.ovl"), ovl_text({rect(-1, 49, 4, 52)}));
  r = gmfkit({"select", dir.file("p.gmf"), dir.file("all.ovl"), dir.file("sel.gmf")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "selected 3 of 3 tiles into " + dir.file("sel.gmf") + "\n");
  EXPECT_EQ(read_file(dir.file("sel.gmf")), packed);

  r = gmfkit({"extract", dir.file("p.gmf"), dir.file("x")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "extracted 3 map tiles ...\n");
  for (const auto& [name, bytes] : images) EXPECT_EQ(read_file(dir.file("x/" + name)), bytes);
  EXPECT_EQ(list_dir(dir.file("x")).size(), images.size());
}

// A single record is packed like many; no record, no list or a missing
// image fail and leave no GMF file.
TEST(Gmfkit, PackRefusals) {
  TempDir dir;
  ASSERT_EQ(system(("mkdir " + dir.file("img")).c_str()), 0);
  write_file(dir.file("img/one.bmp"), "ONE");
  write_file(dir.file("one.kal"), kal_record("one.bmp", 10, 10, box_points(0, 1, 0.1, 0.1, 0, 0, 10, 10)));
  write_file(dir.file("none.kal"), "no records here\n");
  write_file(dir.file("lost.kal"), kal_record("one.bmp", 10, 10, box_points(0, 1, 0.1, 0.1, 0, 0, 10, 10)) +
                                       kal_record("gone.bmp", 10, 10, box_points(0, 1, 0.1, 0.1, 0, 0, 10, 10)));

  RunResult r = gmfkit({"pack", dir.file("one.kal"), dir.file("img"), dir.file("one.gmf")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(names_of(dir.file("one.gmf")), std::vector<std::string>{"one.bmp"});

  struct Case {
    std::string list, err;
  };
  const Case cases[] = {
      {"none.kal", "no KAL records in " + dir.file("none.kal") + "\n"},
      {"missing.kal", "can't open KAL list " + dir.file("missing.kal") + "\n"},
      {"lost.kal", "can't open file " + dir.file("img/gone.bmp") + "\n"},
  };
  for (const Case& c : cases) {
    r = gmfkit({"pack", dir.file(c.list), dir.file("img"), dir.file("out.gmf")});
    EXPECT_EQ(r.status, 1) << c.list;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.list << ": " << r.err;
    EXPECT_FALSE(file_exists(dir.file("out.gmf"))) << c.list;
  }
}

// Ranges and repeats in the given order; a bad index is the writer's refusal.
TEST(Gmfkit, SubsetAndMergeOrders) {
  TempDir dir;
  write_file(dir.file("in.gmf"), gmf_bytes({square(u"a", 0, 0, "A"), square(u"b", 1, 0, "BB"),
                                             square(u"c", 2, 0, "CCC")}));
  RunResult r = gmfkit({"subset", dir.file("in.gmf"), dir.file("s.gmf"), "2", "0-1", "1-0"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "wrote 5 tiles to " + dir.file("s.gmf") + "\n");
  EXPECT_EQ(names_of(dir.file("s.gmf")), (std::vector<std::string>{"c", "a", "b", "b", "a"}));

  r = gmfkit({"merge", dir.file("s.gmf"), dir.file("in.gmf"), dir.file("m.gmf")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(names_of(dir.file("m.gmf")),
            (std::vector<std::string>{"c", "a", "b", "b", "a", "a", "b", "c"}));

  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"subset", dir.file("in.gmf"), dir.file("out.gmf"), "1", "3"}, "tile index 3 out of range ...\n"},
      {{"subset", dir.file("in.gmf"), dir.file("out.gmf"), "2-5"}, "tile index 3 out of range ...\n"},
      {{"merge", dir.file("in.gmf"), dir.file("none.gmf"), dir.file("out.gmf")},
       "can't open GMF file " + dir.file("none.gmf") + "\n"},
  };
  for (const Case& c : cases) {
    r = gmfkit(c.args);
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_FALSE(file_exists(dir.file("out.gmf")));
  }
}

// The select geometry: a tile meets an area by a corner inside it, by one of
// its vertices inside the tile, or by crossing edges alone; a two-point tile
// never; a point symbol is no area.
TEST(Gmfkit, SelectByArea) {
  TempDir dir;
  // t0 covers 0..1 x 0..1, t1 10..11 x 10..11, t2 a unit square around
  // (5.5, 0.5) turned by 20 degrees (corners NW 4.859/0.799, NE 5.799/1.141,
  // SW 5.201/-0.141, SE 6.141/0.201); "two" a two-point tile over t0.
  const double c = std::cos(20 * M_PI / 180), s = std::sin(20 * M_PI / 180);
  auto turned = [&](uint32_t x, uint32_t y, double u, double v) {
    return CalPoint{x, y, 5.5 + 0.5 * (u * c - v * s), 0.5 + 0.5 * (u * s + v * c)};
  };
  const std::vector<CalPoint> square_turned = {turned(0, 0, -1, 1), turned(10, 0, 1, 1),
                                               turned(0, 10, -1, -1), turned(10, 10, 1, -1)};
  FixtureTile two = square(u"two", 0, 0);
  two.cal.resize(2);
  write_file(dir.file("in.gmf"),
             gmf_bytes({square(u"t0", 0, 0), square(u"t1", 10, 10),
                        with_points(square(u"t2", 5, 0), square_turned), two}));

  struct Case {
    const char* what;
    std::vector<std::vector<std::pair<double, double>>> areas;
    std::vector<std::string> selected;  // empty: nothing selected
  };
  const Case cases[] = {
      {"tile inside the area: its corners", {rect(-1, -1, 2, 2)}, {"t0"}},
      {"area inside the tile: its vertices", {rect(0.4, 0.4, 0.6, 0.6)}, {"t0"}},
      {"a band across the tile: crossing edges only", {rect(-1, 0.4, 2, 0.6)}, {"t0"}},
      {"a band across the turned tile, no vertex in either", {rect(5.45, -1, 5.55, 2)}, {"t2"}},
      {"an area touching the tile's east edge", {rect(1, 0.2, 2, 0.8)}, {"t0"}},
      {"two areas, one per tile", {rect(10.2, 10.2, 10.3, 10.3), rect(-1, 0.4, 2, 0.6)},
       {"t0", "t1"}},
      {"disjoint", {rect(3, 3, 4, 4)}, {}},
      {"within the turned tile's box but outside the tile", {rect(4.87, -0.13, 4.95, -0.05)}, {}},
      {"a point symbol on a tile is no area", {{{0.5, 0.5}}, rect(3, 3, 4, 4)}, {}},
  };
  for (const Case& c : cases) {
    write_file(dir.file("a.ovl"), ovl_text(c.areas));
    RunResult r = gmfkit({"select", dir.file("in.gmf"), dir.file("a.ovl"), dir.file("out.gmf")});
    if (c.selected.empty()) {
      EXPECT_EQ(r.status, 1) << c.what;
      EXPECT_EQ(r.err, "no tile meets the areas of " + dir.file("a.ovl") + "\n") << c.what;
      EXPECT_FALSE(file_exists(dir.file("out.gmf"))) << c.what;
    } else {
      EXPECT_EQ(r.status, 0) << c.what << ": " << r.err;
      EXPECT_EQ(r.out, "selected " + std::to_string(c.selected.size()) + " of 4 tiles into " +
                           dir.file("out.gmf") + "\n")
          << c.what;
      EXPECT_EQ(names_of(dir.file("out.gmf")), c.selected) << c.what;
    }
    std::remove(dir.file("out.gmf").c_str());
  }

  RunResult r = gmfkit({"select", dir.file("in.gmf"), dir.file("none.ovl"), dir.file("out.gmf")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "cannot open OVL file (" + dir.file("none.ovl") + ")...\n");
}

// list: one line per tile with the normalised box of four-point tiles and
// empty box fields otherwise; names that would break the columns escaped.
TEST(Gmfkit, ListLines) {
  TempDir dir;
  FixtureTile inner = square(u"in\tner\\x", 0, 0, "12345");
  inner.cal = box_points(20, 51, 0.01, 0.02, 10, 5, 90, 45);  // corners 20..21, 49..51
  inner.width = 100;
  inner.height = 100;
  FixtureTile two = square(u"two", 0, 0, "xy");
  two.cal.resize(2);
  write_file(dir.file("in.gmf"), gmf_bytes({inner, two}));
  RunResult r = gmfkit({"list", dir.file("in.gmf")});
  ASSERT_EQ(r.status, 0) << r.err;
  const size_t first_offset = 8 + (20 + 2 * inner.name.size() + 24 * 4) + (20 + 2 * 3 + 24 * 2);
  EXPECT_EQ(r.out,
            "index\tname\toffset\tsize\twidth\theight\tpoints\tnorth\tsouth\teast\twest\n"
            "0\tin\\tner\\\\x\t" + std::to_string(first_offset) +
                "\t5\t100\t100\t4\t51.00000000\t49.00000000\t21.00000000\t20.00000000\n"
                "1\ttwo\t" + std::to_string(first_offset + 5) + "\t2\t10\t10\t2\t\t\t\t\n");
}

// GeoJSON parsed by python3's json module: one closed, counter-clockwise
// polygon per four-point tile (whatever order the points were stored in),
// the properties, and names with quotes, backslashes, control characters
// and non-ASCII text intact.
TEST(Gmfkit, FootprintsAreValidGeoJson) {
  TempDir dir;
  const std::u16string odd = {u'q', u'"', u'\\', u'\n', 0x01, 0x00E9, 0xD83D, 0xDE00, u'.', u'b'};
  FixtureTile two = square(u"two", 0, 0);
  two.cal.resize(2);
  // Stored in slot order SE, SW, NE, NW: normalisation sorts them.
  const std::vector<CalPoint> shuffled = {
      {10, 10, 6, 0}, {0, 10, 5, 0}, {10, 0, 6, 1}, {0, 0, 5, 1}};
  write_file(dir.file("in.gmf"),
             gmf_bytes({square(odd, 0, 0, "1234"), two, with_points(square(u"s", 0, 0), shuffled)}));
  RunResult r = gmfkit({"footprints", dir.file("in.gmf"), dir.file("f.geojson")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "wrote 2 footprints to " + dir.file("f.geojson") + "\n");

  const std::string check =
      "import json, sys\n"
      "d = json.load(open(sys.argv[1], encoding='utf-8'))\n"
      "assert d['type'] == 'FeatureCollection'\n"
      "for f in d['features']:\n"
      "    assert f['type'] == 'Feature' and f['geometry']['type'] == 'Polygon'\n"
      "    rings = f['geometry']['coordinates']\n"
      "    assert len(rings) == 1 and len(rings[0]) == 5 and rings[0][0] == rings[0][-1]\n"
      "    r = rings[0]\n"
      "    area = sum(r[i][0] * r[i + 1][1] - r[i + 1][0] * r[i][1] for i in range(4)) / 2\n"
      "    p = f['properties']\n"
      "    lons = sorted(set(c[0] for c in r)); lats = sorted(set(c[1] for c in r))\n"
      "    print(json.dumps([p['index'], p['name'], p['width'], p['height'], p['size'], area,"
      " lons, lats]))\n";
  r = run("/usr/bin/env", {"python3", "-c", check, dir.file("f.geojson")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "[0, \"q\\\"\\\\\\n\\u0001\\u00e9\\ud83d\\ude00.b\", 10, 10, 4, 1.0, [0, 1], [0, 1]]\n"
            "[2, \"s\", 10, 10, 3, 1.0, [5, 6], [0, 1]]\n");
}

// World files: the tile's affine map for pixel centres, named by the image's
// extension; two-point tiles skipped with a note; collinear points and
// unsafe names fail.
TEST(Gmfkit, WorldFilesHoldTheTilesAffineMap) {
  TempDir dir;
  ASSERT_EQ(system(("mkdir " + dir.file("w")).c_str()), 0);
  // lon = 20 + 0.01 x, lat = 51 - 0.02 y, points inside the image.
  FixtureTile level = square(u"lev=el.bmp", 0, 0);
  level.width = 100;
  level.height = 50;
  level.cal = box_points(20, 51, 0.01, 0.02, 10, 5, 90, 45);
  // lon = 5 + 0.001 x + 0.0002 y, lat = 40 + 0.0003 x - 0.001 y: a turned
  // map through three points.
  auto turned = [](uint32_t x, uint32_t y) {
    return CalPoint{x, y, 5 + 0.001 * x + 0.0002 * y, 40 + 0.0003 * x - 0.001 * y};
  };
  FixtureTile three = with_points(square(u"turn.jpeg", 0, 0), {turned(7, 3), turned(90, 11), turned(20, 80)});
  FixtureTile two = square(u"two.tif", 0, 0);
  two.cal.resize(2);
  write_file(dir.file("in.gmf"), gmf_bytes({level, three, two}));

  RunResult r = gmfkit({"worldfile", dir.file("in.gmf"), dir.file("w")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "tile 2 (two.tif): two calibration points, no world file\n");
  EXPECT_EQ(r.out, "wrote 2 world files to " + dir.file("w") + "\n");
  EXPECT_EQ(list_dir(dir.file("w")), (std::vector<std::string>{"lev_el.bpw", "turn.wld"}));

  struct Expect {
    std::string file;
    double values[6];  // A, D, B, E, C, F: pixel (0,0)'s centre at (0.5, 0.5)
  };
  const Expect expects[] = {
      {"lev_el.bpw", {0.01, 0, 0, -0.02, 20.005, 50.99}},
      {"turn.wld", {0.001, 0.0003, 0.0002, -0.001, 5.0006, 39.99965}},
  };
  for (const Expect& e : expects) {
    const std::vector<std::string> lines = split_lines(read_file(dir.file("w/" + e.file)));
    ASSERT_EQ(lines.size(), 6u) << e.file;
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(std::strtod(lines[i].c_str(), nullptr), e.values[i], 1e-12) << e.file << " line " << i + 1;
  }

  write_file(dir.file("bad.gmf"),
             gmf_bytes({with_points(square(u"line.bmp", 0, 0), {turned(0, 0), turned(5, 5), turned(9, 9)}),
                        square(u"ok.bmp", 0, 0)}));
  r = gmfkit({"worldfile", dir.file("bad.gmf"), dir.file("w")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tile 0 (line.bmp): calibration points give no world file\n");
  EXPECT_TRUE(file_exists(dir.file("w/ok.bpw")));

  write_file(dir.file("unsafe.gmf"), gmf_bytes({square(u"../up.bmp", 0, 0)}));
  r = gmfkit({"worldfile", dir.file("unsafe.gmf"), dir.file("w")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "unsafe tile name ../up.bmp\n");
  EXPECT_FALSE(file_exists(dir.file("up.bpw")));
}

// extract and kal: cleaned names, chosen indices, refusals that write nothing.
TEST(Gmfkit, ExtractAndKalFiles) {
  TempDir dir;
  ASSERT_EQ(system(("mkdir " + dir.file("x") + " " + dir.file("k")).c_str()), 0);
  FixtureTile two = square(u"b.bmp", 3, 4, "BB");
  two.cal.resize(2);
  write_file(dir.file("in.gmf"), gmf_bytes({square(u"a=1.bmp", 0, 0, "AAA"), two}));

  RunResult r = gmfkit({"extract", dir.file("in.gmf"), dir.file("x"), "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "extracted 1 map tiles ...\n");
  EXPECT_EQ(list_dir(dir.file("x")), std::vector<std::string>{"b.bmp"});
  r = gmfkit({"extract", dir.file("in.gmf"), dir.file("x")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir.file("x/a_1.bmp")), "AAA");

  r = gmfkit({"kal", dir.file("in.gmf"), dir.file("k")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(list_dir(dir.file("k")), (std::vector<std::string>{"a_1.kal", "b.kal"}));
  EXPECT_EQ(read_file(dir.file("k/b.kal")),
            "[Kalibrierung]\n[Calibration Point 1]\nLongitude = 3.00000000\nLatitude = 5.00000000\n"
            "Pixel = POINT(0,0)\n[Calibration Point 2]\nLongitude = 4.00000000\n"
            "Latitude = 5.00000000\nPixel = POINT(10,0)\n[Map]\nBitmap = b.bmp\nSize = SIZE(10,10)\n");

  write_file(dir.file("unsafe.gmf"), gmf_bytes({square(u"..", 0, 0)}));
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"extract", dir.file("in.gmf"), dir.file("y"), "0", "2"}, "tile index 2 out of range ...\n"},
      {{"extract", dir.file("unsafe.gmf"), dir.file("y")}, "unsafe tile name ..\nfailed to write Bitmap ...\n"},
      {{"extract", dir.file("in.gmf"), dir.file("none")},
       "can't open map file " + dir.file("none") + "/a_1.bmp\nfailed to write Bitmap ...\n"},
      {{"kal", dir.file("unsafe.gmf"), dir.file("y")}, "unsafe tile name ..\n"},
      {{"kal", dir.file("in.gmf"), dir.file("none")},
       "can't open KAL file " + dir.file("none") + "/a_1.kal\n"},
  };
  ASSERT_EQ(system(("mkdir " + dir.file("y")).c_str()), 0);
  for (const Case& c : cases) {
    r = gmfkit(c.args);
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_TRUE(list_dir(dir.file("y")).empty()) << c.err;
  }
}
