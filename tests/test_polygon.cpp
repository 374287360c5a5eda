// Point-in-polygon by quadrant counting, and tile containment.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "format_gmf.h"
#include "geotools.h"
#include "testutil.h"

namespace {

struct Polygon {
  std::vector<double> x, y;
};

int inside(double px, double py, const Polygon& p) {
  return isInsideP(px, py, p.x.data(), p.y.data(), static_cast<int32_t>(p.x.size()));
}

Polygon reversed(Polygon p) {
  std::reverse(p.x.begin(), p.x.end());
  std::reverse(p.y.begin(), p.y.end());
  return p;
}

Polygon twice(Polygon p) {
  p.x.insert(p.x.end(), p.x.begin(), p.x.end());
  p.y.insert(p.y.end(), p.y.begin(), p.y.end());
  return p;
}

const Polygon kSquare{{0, 1, 1, 0}, {0, 0, 1, 1}};  // counter-clockwise
const Polygon kDiamond{{0, 1, 0, -1}, {-1, 0, 1, 0}};

}  // namespace

TEST(IsInsideP, UnitSquareInBothOrders) {
  struct Case {
    double px, py;
    int expected;
    const char* what;
  } cases[] = {
      {0.5, 0.5, 1, "centre"},
      {2, 0.5, -1, "right of the square"},
      {-0.5, 0.5, -1, "left of the square"},
      {0.5, -0.5, -1, "below the square"},
      {0.5, 0, 1, "bottom edge"},
      {0, 0.5, 1, "left edge"},
      {0, 0, 1, "lower left corner"},
      {0.5, 1, -1, "top edge"},
      {1, 0.5, -1, "right edge"},
      {1, 0, -1, "lower right corner"},
      {1, 1, -1, "upper right corner"},
      {0, 1, -1, "upper left corner"},
  };
  const Polygon clockwise = reversed(kSquare);
  for (const Case& c : cases) {
    EXPECT_EQ(inside(c.px, c.py, kSquare), c.expected) << c.what << ", counter-clockwise";
    EXPECT_EQ(inside(c.px, c.py, clockwise), c.expected) << c.what << ", clockwise";
  }
  // Repeating the first vertex at the end adds an edge of length zero.
  Polygon closed = kSquare;
  closed.x.push_back(0);
  closed.y.push_back(0);
  for (const Case& c : cases) EXPECT_EQ(inside(c.px, c.py, closed), c.expected) << c.what;
}

TEST(IsInsideP, DiamondEdgeMidpointsAreExactCrossings) {
  EXPECT_EQ(inside(0, 0, kDiamond), 1);
  EXPECT_EQ(inside(0, 0, reversed(kDiamond)), 1);
  const double midpoints[][2] = {{0.5, -0.5}, {0.5, 0.5}, {-0.5, 0.5}, {-0.5, -0.5}};
  for (const auto& m : midpoints) {
    EXPECT_EQ(inside(m[0], m[1], kDiamond), 0) << m[0] << "," << m[1];
    EXPECT_EQ(inside(m[0], m[1], reversed(kDiamond)), 0) << m[0] << "," << m[1];
  }
  // Just off an edge the half-open rule and the side decide again.
  EXPECT_EQ(inside(0.5, -0.5 + 1e-9, kDiamond), 1);
  EXPECT_EQ(inside(0.5 + 1e-9, -0.5, kDiamond), -1);
}

TEST(IsInsideP, RawCountsAndDegeneratePolygons) {
  EXPECT_EQ(inside(0.5, 0.5, twice(kSquare)), 8);
  EXPECT_EQ(inside(0.5, 0.5, reversed(twice(kSquare))), -8);
  EXPECT_EQ(inside(2, 0.5, twice(kSquare)), -1);
  Polygon three_times = twice(kSquare);
  three_times.x.insert(three_times.x.end(), kSquare.x.begin(), kSquare.x.end());
  three_times.y.insert(three_times.y.end(), kSquare.y.begin(), kSquare.y.end());
  EXPECT_EQ(inside(0.5, 0.5, three_times), 12);

  // An empty polygon: the arrays are not read.
  EXPECT_EQ(isInsideP(0, 0, nullptr, nullptr, 0), -1);
  EXPECT_EQ(isInsideP(0, 0, nullptr, nullptr, -3), -1);

  const Polygon one{{3}, {4}};
  EXPECT_EQ(inside(3, 4, one), -1);
  EXPECT_EQ(inside(0, 0, one), -1);
}

// Random convex polygons against a plain half-plane test, both orientations.
TEST(IsInsideP, AgreesWithHalfPlaneTestOnConvexPolygons) {
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double kPi = std::acos(-1.0);
  const double kEps = 1e-9;
  int tested = 0, inside_count = 0;
  for (int poly = 0; poly < 300; ++poly) {
    // Vertices on an ellipse at sorted angles: convex, counter-clockwise.
    const int n = 3 + static_cast<int>(unit(rng) * 8);
    const double cx = unit(rng) * 20 - 10, cy = unit(rng) * 20 - 10;
    const double rx = 0.5 + unit(rng) * 5, ry = 0.5 + unit(rng) * 5;
    std::vector<double> angles(n);
    for (double& a : angles) a = unit(rng) * 2 * kPi;
    std::sort(angles.begin(), angles.end());
    Polygon ccw;
    for (double a : angles) {
      ccw.x.push_back(cx + rx * std::cos(a));
      ccw.y.push_back(cy + ry * std::sin(a));
    }
    const Polygon cw = reversed(ccw);
    for (int k = 0; k < 50; ++k) {
      const double px = cx + (unit(rng) * 2 - 1) * rx * 1.3;
      const double py = cy + (unit(rng) * 2 - 1) * ry * 1.3;
      bool in = true, near_edge = false;
      for (int i = 0; i < n; ++i) {
        const int j = (i + 1) % n;
        const double ex = ccw.x[j] - ccw.x[i], ey = ccw.y[j] - ccw.y[i];
        const double len = std::hypot(ex, ey);
        if (len < kEps) {
          near_edge = true;  // coinciding vertices: skip the whole polygon point
          break;
        }
        const double side = (ex * (py - ccw.y[i]) - ey * (px - ccw.x[i])) / len;
        if (std::fabs(side) < kEps) near_edge = true;
        if (side < 0) in = false;
      }
      if (near_edge) continue;
      ++tested;
      inside_count += in;
      const int expected = in ? 1 : -1;
      ASSERT_EQ(inside(px, py, ccw), expected) << "polygon " << poly << " point " << k;
      ASSERT_EQ(inside(px, py, cw), expected) << "polygon " << poly << " point " << k;
    }
  }
  // Both outcomes must really have been exercised.
  EXPECT_GT(tested, 14000);
  EXPECT_GT(inside_count, 3000);
  EXPECT_GT(tested - inside_count, 3000);
}

namespace {

// 128 x 64 pixels, one pixel = 1/128 degree of longitude and 1/64 degree of
// latitude, points inside the image: normalised, the corners span exactly
// lon 10..11 and lat 50..51 (every value is a binary fraction).
GmfTile box_tile() {
  GmfTile tile;
  tile.width = 128;
  tile.height = 64;
  tile.cal_count = 4;
  const std::vector<CalPoint> pts =
      testutil::box_points(10.0, 51.0, 1.0 / 128, 1.0 / 64, 16, 8, 112, 56);
  std::copy(pts.begin(), pts.end(), tile.cal);
  return tile;
}

int inside_tile(double lon, double lat, const GmfTile& tile, std::string& err) {
  testing::internal::CaptureStderr();
  const int r = isInsideTile(lon, lat, tile);
  err = testing::internal::GetCapturedStderr();
  return r;
}

}  // namespace

TEST(IsInsideTile, NormalisedFootprintWithHalfOpenBorders) {
  const GmfTile tile = box_tile();
  CalPoint before[4];
  std::memcpy(before, tile.cal, sizeof before);
  struct Case {
    double lon, lat;
    int expected;
    const char* what;
  } cases[] = {
      {10.5, 50.5, 1, "centre"},
      {10.05, 50.5, 1, "west of the stored points, inside the corners"},
      {10.5, 50.95, 1, "north of the stored points, inside the corners"},
      {10.0, 50.5, 1, "west border"},
      {10.5, 50.0, 1, "south border"},
      {10.0, 50.0, 1, "south-west corner"},
      {11.0, 50.5, -1, "east border"},
      {10.5, 51.0, -1, "north border"},
      {10.0, 51.0, -1, "north-west corner"},
      {11.0, 51.0, -1, "north-east corner"},
      {11.0, 50.0, -1, "south-east corner"},
      {9.99, 50.5, -1, "west of the tile"},
      {10.5, 51.01, -1, "north of the tile"},
  };
  for (const Case& c : cases) {
    std::string err;
    EXPECT_EQ(inside_tile(c.lon, c.lat, tile, err), c.expected) << c.what;
    EXPECT_EQ(err, "") << c.what;
  }
  EXPECT_EQ(std::memcmp(tile.cal, before, sizeof before), 0) << "the tile was changed";
}

TEST(IsInsideTile, FewerThanFourPointsIsOutsideWithoutMessage) {
  for (uint32_t count : {2u, 3u}) {
    GmfTile tile = box_tile();  // the spare slots would make a footprint
    tile.cal_count = count;
    std::string err;
    EXPECT_EQ(inside_tile(10.5, 50.5, tile, err), -1) << count;
    EXPECT_EQ(err, "") << count;
  }
}

TEST(IsInsideTile, FailedNormalisationUsesTheStoredPoints) {
  // Two points south-west of the mean (10.625, 50.5), none south-east. The
  // stored ring 0, 1, 3, 2 is (10,51) (12,51) (10.5,50) (10,50).
  GmfTile tile;
  tile.width = 100;
  tile.height = 100;
  tile.cal_count = 4;
  tile.cal[0] = {0, 0, 10.0, 51.0};
  tile.cal[1] = {99, 0, 12.0, 51.0};
  tile.cal[2] = {0, 99, 10.0, 50.0};
  tile.cal[3] = {99, 99, 10.5, 50.0};
  const char* message = "calibration points not in 4 quadrants ...\n";
  struct Case {
    double lon, lat;
    int expected;
  } cases[] = {{10.2, 50.5, 1}, {11.5, 50.9, 1}, {11.5, 50.2, -1}, {10.0, 50.0, 1}};
  for (const Case& c : cases) {
    std::string err;
    EXPECT_EQ(inside_tile(c.lon, c.lat, tile, err), c.expected) << c.lon << "," << c.lat;
    EXPECT_EQ(err, message);
  }
  EXPECT_EQ(tile.cal[3].lon, 10.5);
}
