// Comparing a result with expected doubles element by element, exactly, with
// a NaN expected matching any NaN.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

inline void expect_same_doubles(const std::vector<double>& got, const std::vector<double>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    if (std::isnan(want[i]))
      EXPECT_TRUE(std::isnan(got[i])) << i;
    else
      EXPECT_EQ(got[i], want[i]) << i;
  }
}
