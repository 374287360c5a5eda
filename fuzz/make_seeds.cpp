// Writes the seed corpora of the fuzz targets from the same fixture builder
// the tests use. Run by hand after a format-facing change:
//   build/fuzz/make_fuzz_seeds fuzz/corpus
#include <cstdio>
#include <filesystem>
#include <string>

#include "testutil.h"

using namespace testutil;

namespace {

void seed(const std::string& root, const std::string& target, const std::string& name,
          const std::string& bytes) {
  std::filesystem::create_directories(root + "/" + target);
  write_file(root + "/" + target + "/" + name, bytes);
}

FixtureTile tile(std::u16string name, uint32_t w, uint32_t h, size_t points, std::string data) {
  FixtureTile t;
  t.name = std::move(name);
  t.width = w;
  t.height = h;
  t.cal = box_points(10, 51, 0.01, 0.01, 10, 5, w - 10, h - 5);
  t.cal.resize(points);
  t.data = std::move(data);
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Syntax: make_fuzz_seeds CORPUS_DIR\n", stderr);
    return 2;
  }
  const std::string root = argv[1];

  const std::string one = gmf_bytes({tile(u"a.bmp", 100, 50, 4, "BM0123456789")});
  const std::string mixed =
      gmf_bytes({tile(u"x=1.bmp", 64, 32, 4, "BMaaaa"), tile(u"two.bmp", 16, 16, 2, "BMbb"),
                 tile(u"three.bmp", 16, 16, 3, "BMccc"),
                 tile(std::u16string{u'\u00e9', 0xD83D, 0xDDFA, u'.', u'b'}, 20, 20, 4, "BMd")});
  std::string short_cal = one;
  short_cal.resize(8 + 4 + 10 + 16 + 2 * 24 + 5);
  FixtureTile later = tile(u"l.bmp", 30, 30, 4, "L"), earlier = tile(u"e.bmp", 30, 30, 4, "E");
  later.offset = 400;
  earlier.offset = 300;
  const std::string unordered = gmf_bytes({later, earlier}) + std::string(200, 'z');
  FixtureTile unsafe = tile(u"../up.bmp", 30, 30, 4, "BMup");
  FixtureTile empty = tile(u"zero.bmp", 30, 30, 4, "");

  for (const char* target : {"gmf_read", "mosaiq_run"}) {
    seed(root, target, "one_tile.gmf", one);
    seed(root, target, "mixed.gmf", mixed);
    seed(root, target, "short_calibration.gmf", short_cal);
    seed(root, target, "unordered.gmf", unordered);
    seed(root, target, "unsafe_name.gmf", gmf_bytes({unsafe}));
    seed(root, target, "empty_tile.gmf", gmf_bytes({empty, tile(u"b.bmp", 8, 8, 4, "BMb")}));
  }
  // OVL overlay files: polygon sections, other sections, odd orders.
  std::string square = "[Symbol 1]\nTyp=4\n";
  for (int i = 0; i < 5; ++i)
    square += "XKoord" + std::to_string(i) + "=" + std::to_string(10 + (i % 2)) + ".5\nYKoord" +
              std::to_string(i) + "=" + std::to_string(50 + (i / 2) % 2) + ".25\n";
  seed(root, "ovl", "square.ovl", square);
  seed(root, "ovl", "mixed.ovl",
       "[Overlay]\nSymbole=3\n[Symbol 1]\nTyp=2\nXKoord0=1\n[Symbol 2]\nTyp=3\nYKoord0=2\n"
       "XKoord0=1\nYKoord1=4\nXKoord1=3\nXKoord7=9\nYKoord7=x\n[Symbol 3]\nTyp=30\n"
       "XKoord1=5\n[Symbol]\n  XKoord2=1\n");
  seed(root, "ovl", "long_line.ovl", "[Symbol 1]\nTyp=4\nXKoord0=" + std::string(3000, '7') + "\n");

  // KAL records and lists, as both writers make them and with odd lines.
  const std::string record =
      "[Kalibrierung]\n[Calibration Point 1]\nLongitude = 10.10000000\nLatitude = 50.90000000\n"
      "Pixel = POINT(10,5)\n[Calibration Point 2]\nLongitude = 10.90000000\n"
      "Latitude = 50.90000000\nPixel = POINT(90,5)\n[Calibration Point 3]\n"
      "Longitude = 10.10000000\nLatitude = 50.50000000\nPixel = POINT(10,45)\n"
      "[Calibration Point 4]\nLongitude = 10.90000000\nLatitude = 50.50000000\n"
      "Pixel = POINT(90,45)\n[Map]\nBitmap = tile7.bmp\nSize = SIZE(100,50)\n";
  const std::string odd =
      "Bitmap = before.bmp\n[Kalibrierung]\n[Calibration Point 3]\n\nLongitude =   1.5\n"
      "Longitude=2\n [Calibration Point 2]\n[Calibration Point 5]\nLatitude = nan\n"
      "Pixel = POINT(-1,2147483648)\nBitmap = tile 1.bmp  \r\nSize = 100,200\r\n"
      "[Calibration Point 2]\nBitmap = \xc3\xa9\xff.bmp\n";
  seed(root, "kal_record", "record.kal", record);
  seed(root, "kal_record", "odd.kal", odd);
  seed(root, "kal_list", "two.kal", record + record);
  seed(root, "kal_list", "odd.kal", record + odd + record);

  std::printf("seeds written under %s\n", root.c_str());
  return 0;
}
