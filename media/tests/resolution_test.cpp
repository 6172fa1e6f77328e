#include "media/resolution_table.h"

#include <gtest/gtest.h>

TEST(Resolution, CodesGiveTheirSizesAndUnknownCodesNone) {
  std::int32_t w = -1, h = -1;
  EXPECT_EQ(GetResolution(18, &w, &h), 0);
  EXPECT_EQ(w * 10000 + h, 1280 * 10000 + 720);
  EXPECT_EQ(GetResolution(45, &w, &h), 0);
  EXPECT_EQ(w * 10000 + h, 1280 * 10000 + 720);
  EXPECT_EQ(GetResolution(28, &w, &h), 0);
  EXPECT_EQ(w * 10000 + h, 1920 * 10000 + 1080);
  EXPECT_EQ(GetResolution(0, &w, &h), 0);
  EXPECT_EQ(w * 10000 + h, 128 * 10000 + 96);
  EXPECT_EQ(GetResolution(39, &w, &h), 0);
  EXPECT_EQ(w * 10000 + h, 212 * 10000 + 160);
  EXPECT_EQ(GetResolution(46, &w, &h), -1);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(GetResolution(-1, &w, &h), -1);
  // Every code the parser lets through has a size the encoder can take:
  // even width and height.
  for (int code = 0; code < kResolutionCodes; ++code) {
    ASSERT_EQ(GetResolution(code, &w, &h), 0) << code;
    EXPECT_EQ(w % 2, 0) << code;
    EXPECT_EQ(h % 2, 0) << code;
    EXPECT_LE(w, 4096) << code;
  }
}
