// The stored filter tables against their construction rule and the telling
// rows that pin them down.
#include <gtest/gtest.h>

#include <cmath>

#include "media/scaler.h"

namespace {

// Cubic convolution kernel, a = -0.5.
double Kernel(double x) {
  if (x < 1) return 1 - 3 * x * x + 2 * x * x * x - 0.5 * (x * x * x - x * x);
  return -0.5 * (8 * x - 4 - 5 * x * x + x * x * x);
}

// Table i, phase p, built by the construction rule: weights of the kernel
// stretched by 20 / i, quantised to sum 128 with error feedback, each value
// rounded through single precision, ties to even.
void BuildPhase(int i, int p, std::int16_t out[4]) {
  const double s = i / 20.0, d = p / 16.0;
  double w[4];
  for (int k = 0; k < 4; ++k) w[k] = Kernel(std::fabs((k - 1 - d) * s));
  const double sum = w[0] + w[1] + w[2] + w[3];
  double e = 0;
  for (int k = 0; k < 4; ++k) {
    const double t = (w[k] * 128) * (1 / sum);
    const double q = std::nearbyint(static_cast<float>(t + e));
    out[k] = static_cast<std::int16_t>(q);
    e = e + t - q;
  }
}

TEST(CubicFilterTables, MatchTheConstructionRule) {
  for (int p = 0; p < 16; ++p)
    for (int k = 0; k < 4; ++k) EXPECT_EQ(cubicFilterTables[0][p][k], 0) << "table 0";
  for (int i = 1; i <= 20; ++i) {
    for (int p = 0; p < 16; ++p) {
      std::int16_t want[4];
      BuildPhase(i, p, want);
      int sum = 0;
      for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(cubicFilterTables[i][p][k], want[k]) << "table " << i << " phase " << p << " tap " << k;
        sum += cubicFilterTables[i][p][k];
      }
      EXPECT_EQ(sum, 128) << "table " << i << " phase " << p;
    }
  }
}

TEST(CubicFilterTables, TellingRows) {
  auto row = [](int t, int p) {
    const std::int16_t* c = cubicFilterTables[t][p];
    return std::vector<int>{c[0], c[1], c[2], c[3]};
  };
  EXPECT_EQ(row(20, 0), (std::vector<int>{0, 128, 0, 0}));
  EXPECT_EQ(row(20, 4), (std::vector<int>{-9, 111, 29, -3}));
  EXPECT_EQ(row(20, 8), (std::vector<int>{-8, 72, 72, -8}));
  EXPECT_EQ(row(20, 15), (std::vector<int>{0, 5, 127, -4}));
  EXPECT_EQ(row(10, 0), (std::vector<int>{34, 60, 34, 0}));
  EXPECT_EQ(row(13, 8), (std::vector<int>{1, 63, 63, 1}));
  for (int p = 0; p < 16; ++p) EXPECT_EQ(row(1, p), (std::vector<int>{32, 32, 32, 32})) << p;
}

}  // namespace
