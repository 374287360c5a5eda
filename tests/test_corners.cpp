// Four-corner normalisation and map bounds.
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "format_gmf.h"
#include "testutil.h"

namespace {

// The example points: 100 x 50 pixels, one pixel = 0.01 degrees.
const CalPoint kNW{10, 5, 10.1, 50.9}, kNE{90, 5, 10.9, 50.9}, kSW{10, 45, 10.1, 50.5},
    kSE{90, 45, 10.9, 50.5};

void expect_point(const CalPoint& p, uint32_t x, uint32_t y, double lon, double lat,
                  const char* what) {
  EXPECT_EQ(p.x, x) << what;
  EXPECT_EQ(p.y, y) << what;
  EXPECT_NEAR(p.lon, lon, 1e-12) << what;
  EXPECT_NEAR(p.lat, lat, 1e-12) << what;
}

bool same_points(const CalPoint* a, const CalPoint* b) {
  for (int i = 0; i < 4; ++i)
    if (a[i].x != b[i].x || a[i].y != b[i].y ||
        std::memcmp(&a[i].lon, &b[i].lon, 8) != 0 || std::memcmp(&a[i].lat, &b[i].lat, 8) != 0)
      return false;
  return true;
}

std::string normalise(CalPoint* cal, uint32_t w, uint32_t h) {
  testing::internal::CaptureStderr();
  calibration_points_at_4_corners(cal, w, h);
  return testing::internal::GetCapturedStderr();
}

}  // namespace

TEST(Corners, WorkedExampleInEveryPointOrder) {
  const CalPoint orders[][4] = {
      {kNW, kNE, kSW, kSE}, {kSE, kSW, kNE, kNW}, {kNE, kSE, kNW, kSW}, {kSW, kNW, kSE, kNE}};
  for (const auto& order : orders) {
    CalPoint cal[4] = {order[0], order[1], order[2], order[3]};
    EXPECT_EQ(normalise(cal, 100, 50), "");
    expect_point(cal[0], 0, 0, 10.0, 50.95, "north-west");
    expect_point(cal[1], 99, 0, 11.0, 50.95, "north-east");
    expect_point(cal[2], 0, 49, 10.0, 50.45, "south-west");
    expect_point(cal[3], 99, 49, 11.0, 50.45, "south-east");
  }
}

TEST(Corners, NormalisingTwiceMovesTheEastAndSouthEdgesOneStep) {
  CalPoint cal[4] = {kNW, kNE, kSW, kSE};
  normalise(cal, 100, 50);
  // Now at the corners: dlon = 2 / 198, dlat = 1 / 98.
  const double dlon = (11.0 - 10.0) * 2 / 198, dlat = (50.95 - 50.45) * 2 / 98;
  normalise(cal, 100, 50);
  expect_point(cal[0], 0, 0, 10.0, 50.95, "north-west stays");
  expect_point(cal[1], 99, 0, 11.0 + dlon, 50.95, "north-east");
  expect_point(cal[2], 0, 49, 10.0, 50.45 - dlat, "south-west");
  expect_point(cal[3], 99, 49, 11.0 + dlon, 50.45 - dlat, "south-east");
}

TEST(Corners, RefusedPointsStayExactlyAsTheyWere) {
  const char* quadrants = "calibration points not in 4 quadrants ...\n";
  const char* order = "calibration pixel positions not in map order ...\n";
  struct Case {
    const char* what;
    CalPoint cal[4];
    const char* message;
  } cases[] = {
      {"one latitude", {{0, 0, 1, 5}, {9, 0, 2, 5}, {0, 9, 3, 5}, {9, 9, 4, 5}}, quadrants},
      {"points on the mean", {{0, 0, 9, 51}, {9, 0, 11, 51}, {0, 9, 10, 50}, {9, 9, 10, 50}}, quadrants},
      {"two points in one quadrant", {kNW, {20, 6, 10.2, 50.8}, kSW, kSE}, quadrants},
      {"NaN coordinate", {kNW, kNE, kSW, {90, 45, NAN, 50.5}}, quadrants},
      // Points in geographic order but one pixel column on both edges.
      {"zero column sum",
       {{5, 5, 10.1, 50.9}, {5, 5, 10.9, 50.9}, {5, 45, 10.1, 50.5}, {5, 45, 10.9, 50.5}},
       order},
      // Columns that run west while longitudes run east.
      {"negative column sum",
       {{90, 5, 10.1, 50.9}, {10, 5, 10.9, 50.9}, {90, 45, 10.1, 50.5}, {10, 45, 10.9, 50.5}},
       order},
      {"negative row sum",
       {{10, 45, 10.1, 50.9}, {90, 45, 10.9, 50.9}, {10, 5, 10.1, 50.5}, {90, 5, 10.9, 50.5}},
       order},
  };
  for (Case& c : cases) {
    CalPoint before[4];
    std::memcpy(before, c.cal, sizeof before);
    EXPECT_EQ(normalise(c.cal, 100, 50), c.message) << c.what;
    EXPECT_TRUE(same_points(c.cal, before)) << c.what;
  }
}

TEST(Corners, WholeMapSkipsTilesWithFewerPointsAndGoesOnAfterFailures) {
  GmfMap map;
  map.tile_count = 4;
  map.tiles.resize(4);
  for (GmfTile& t : map.tiles) {
    t.width = 100;
    t.height = 50;
    t.cal[0] = kNW, t.cal[1] = kNE, t.cal[2] = kSW, t.cal[3] = kSE;
    t.cal_count = 4;
  }
  map.tiles[0].cal_count = 2;
  map.tiles[1].cal_count = 3;
  map.tiles[2].cal[1] = {20, 6, 10.2, 50.8};  // fails: two points north-west
  testing::internal::CaptureStderr();
  all_calibration_points_at_4_corners(map);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "calibration points not in 4 quadrants ...\n");
  EXPECT_EQ(map.tiles[0].cal[0].x, 10u);
  EXPECT_EQ(map.tiles[1].cal[0].x, 10u);
  EXPECT_EQ(map.tiles[2].cal[0].x, 10u);
  expect_point(map.tiles[3].cal[3], 99, 49, 11.0, 50.45, "the tile after a failure");
}

TEST(Bounds, TakesEveryStoredPointAndNeverANaN) {
  GmfMap map;
  map.tile_count = 2;
  map.tiles.resize(2);
  map.tiles[0].cal_count = 4;
  map.tiles[0].cal[0] = {0, 0, 10.0, 50.0};
  map.tiles[0].cal[1] = {0, 0, NAN, 52.5};
  map.tiles[0].cal[2] = {0, 0, 9.5, NAN};
  map.tiles[0].cal[3] = {0, 0, 10.0, 50.0};
  map.tiles[1].cal_count = 2;
  map.tiles[1].cal[0] = {0, 0, 12.25, 49.0};
  map.tiles[1].cal[1] = {0, 0, 11.0, 49.5};
  map.tiles[1].cal[2] = {0, 0, 99.0, 99.0};  // beyond cal_count: not a point
  calculate_minmax_borders(map);
  EXPECT_EQ(map.min_lon, 9.5);
  EXPECT_EQ(map.max_lon, 12.25);
  EXPECT_EQ(map.min_lat, 49.0);
  EXPECT_EQ(map.max_lat, 52.5);

  for (GmfTile& t : map.tiles)
    for (CalPoint& p : t.cal) p.lon = NAN;
  calculate_minmax_borders(map);
  EXPECT_EQ(map.min_lon, 9999999.999);
  EXPECT_EQ(map.max_lon, -9999999.999);
}
