// World-file parameters from three calibration points.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "format_kal.h"

namespace {

using Params = std::array<double, 6>;  // A, D, B, E, C, F

Params solve(const KalCoords coords, const KalPixels pixels) {
  Params out;
  out.fill(-12345.0);
  calibration2worldfile(0, 0, coords, pixels, 0, out.data());
  return out;
}

void expect_params(const Params& got, const Params& want, double tol, const std::string& what) {
  const char* names[] = {"A", "D", "B", "E", "C", "F"};
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(got[i], want[i], tol) << what << ": " << names[i];
}

}  // namespace

TEST(WorldFile, WorkedExample) {
  const KalCoords coords = {{10.0, 50.0}, {10.1, 50.0}, {10.0, 49.9}, {0, 0}};
  const KalPixels pixels = {{0, 0}, {100, 0}, {0, 100}, {0, 0}};
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const Params p = solve(coords, pixels);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  expect_params(p, {0.001, 0.0, 0.0, -0.001, 10.0, 50.0}, 1e-12, "worked example");
}

// Random affine maps through random non-collinear pixel triples, in every
// order of the three points; a fourth pair never matters.
TEST(WorldFile, RecoversRandomAffineMapsInAnyPointOrder) {
  std::mt19937 rng(7031);
  std::uniform_real_distribution<double> step(-0.01, 0.01), origin(-170.0, 170.0);
  std::uniform_int_distribution<int32_t> pixel(-2000000, 2000000);
  int checked = 0;
  for (int trial = 0; trial < 500; ++trial) {
    const Params map = {step(rng), step(rng), step(rng), step(rng), origin(rng), origin(rng) / 2};
    const auto [A, D, B, E, C, F] = map;
    int32_t px[3][2];
    for (auto& p : px) p[0] = pixel(rng), p[1] = pixel(rng);
    const double det = double(px[0][0]) * (double(px[1][1]) - px[2][1]) +
                       double(px[1][0]) * (double(px[2][1]) - px[0][1]) +
                       double(px[2][0]) * (double(px[0][1]) - px[1][1]);
    // Keep the triangle well away from collinear: twice its area at least
    // 1e-3 of the squared extent.
    if (std::fabs(det) < 1e-3 * 4e6 * 4e6) continue;
    ++checked;
    int order[3] = {0, 1, 2};
    do {
      KalCoords coords;
      KalPixels pixels;
      for (int k = 0; k < 3; ++k) {
        const int32_t x = px[order[k]][0], y = px[order[k]][1];
        pixels[k][0] = x, pixels[k][1] = y;
        coords[k][0] = A * x + B * y + C;
        coords[k][1] = D * x + E * y + F;
      }
      pixels[3][0] = 77, pixels[3][1] = -5;
      coords[3][0] = 1e300, coords[3][1] = NAN;
      const Params got = solve(coords, pixels);
      const std::string what = "trial " + std::to_string(trial);
      // Pixel sizes to 1e-12 relative to the coordinate range they span,
      // origins to 1e-6 degrees.
      for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[i], map[i], 1e-11) << what << " index " << i;
      EXPECT_NEAR(got[4], C, 1e-6) << what;
      EXPECT_NEAR(got[5], F, 1e-6) << what;

      // Another fourth pair gives the very same bits.
      pixels[3][0] = pixels[3][1] = 0;
      coords[3][0] = coords[3][1] = 0;
      const Params again = solve(coords, pixels);
      EXPECT_EQ(std::memcmp(got.data(), again.data(), sizeof got), 0) << what;
    } while (std::next_permutation(order, order + 3));
  }
  EXPECT_GT(checked, 300);
}

TEST(WorldFile, SwappingTwoPointsGivesTheSameParameters) {
  const KalCoords coords = {{7.25, 47.5}, {7.75, 47.4}, {7.3, 46.9}, {0, 0}};
  const KalPixels pixels = {{12, 30}, {980, 75}, {40, 1010}, {0, 0}};
  const KalCoords swapped_coords = {{7.75, 47.4}, {7.25, 47.5}, {7.3, 46.9}, {0, 0}};
  const KalPixels swapped_pixels = {{980, 75}, {12, 30}, {40, 1010}, {0, 0}};
  const Params p = solve(coords, pixels);
  const Params q = solve(swapped_coords, swapped_pixels);
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(q[i], p[i], 1e-12 * std::max(1.0, std::fabs(p[i])));
  // And the parameters do map the three pixels back to their coordinates.
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(p[0] * pixels[k][0] + p[2] * pixels[k][1] + p[4], coords[k][0], 1e-12);
    EXPECT_NEAR(p[1] * pixels[k][0] + p[3] * pixels[k][1] + p[5], coords[k][1], 1e-12);
  }
}

TEST(WorldFile, CollinearPixelsGiveNonFiniteResultsSilently) {
  const KalCoords coords = {{10.0, 50.0}, {10.1, 50.0}, {10.2, 49.9}, {0, 0}};
  const KalPixels cases[] = {
      {{0, 0}, {100, 100}, {200, 200}, {0, 0}},  // one line
      {{5, 5}, {5, 5}, {0, 100}, {0, 0}},        // two equal
      {{3, 3}, {3, 3}, {3, 3}, {0, 0}},          // all equal
  };
  for (const auto& pixels : cases) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const Params p = solve(coords, pixels);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    for (double v : p) EXPECT_FALSE(std::isfinite(v)) << v;
  }
}
