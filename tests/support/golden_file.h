// Golden texts beside a test folder (TN_GOLDEN_DIR, set by its CMake file):
// a text is compared byte for byte with its file; TN_UPDATE_GOLDEN=1 in the
// environment rewrites the file instead.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

inline void expect_golden(const std::string& got, const std::string& name) {
  const std::string path = std::string(TN_GOLDEN_DIR) + "/" + name;
  if (std::getenv("TN_UPDATE_GOLDEN")) {
    std::ofstream out(path, std::ios::binary);
    ASSERT_TRUE(out.good()) << path;
    out << got;
    return;
  }
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in.good()) << path;
  std::stringstream want;
  want << in.rdbuf();
  EXPECT_EQ(got, want.str()) << name;
}
