// Degree ranges and degree-to-metre lengths.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "geotools.h"

TEST(Degrees, RangesIncludeBothEnds) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double value;
    int is_long, is_lat;
  } cases[] = {
      {0, 1, 1},          {180, 1, 0},       {-180, 1, 0},      {180.000001, 0, 0},
      {-180.5, 0, 0},     {90, 1, 1},        {-90, 1, 1},       {90.0001, 1, 0},
      {-90.0001, 1, 0},   {nan, 0, 0},       {std::numeric_limits<double>::infinity(), 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(is_degree_long(c.value), c.is_long) << c.value;
    EXPECT_EQ(is_degree_lat(c.value), c.is_lat) << c.value;
  }
}

TEST(Lengths, MetresFromDegrees) {
  struct Case {
    double dlon, lat, metres, tolerance;
  } exact[] = {
      {1, 0, 111325, 0},
      {-2, 0, -2 * 111325.0, 0},
      {0, 45, 0, 0},
      {1, 45, 78718.66240751966, 1e-8},
  };
  for (const Case& c : exact) EXPECT_NEAR(len_x(c.dlon, c.lat), c.metres, c.tolerance) << c.lat;

  // At 60 degrees the ten-digit pi leaves the length about 1.3e-5 m short
  // of half a degree at the equator; an exact pi would give no gap at all.
  EXPECT_NEAR(111325 * 0.5 - len_x(1, 60), 1.318e-5, 1e-7);

  // At the poles 90 times the factor lies just beyond a right angle: the
  // cosine is negative, so a positive difference gives a tiny negative length.
  for (double pole : {90.0, -90.0}) {
    EXPECT_LT(len_x(1, pole), 0) << pole;
    EXPECT_NEAR(len_x(1, pole), -0.0000228331, 1e-9) << pole;
  }

  EXPECT_EQ(len_y(1), 111325);
  EXPECT_EQ(len_y(-0.5), -111325 * 0.5);
  EXPECT_EQ(len_y(0), 0);
  EXPECT_EQ(len_y(-3), -3 * 111325.0);
}
