// The library path: candidates built from every kind of entry, the referring
// file's directory first, the scheme flag, and the path's fit rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/core/status.h"
#include "engine/lib/libpath.h"

namespace {

// A reader that records every candidate and accepts none, or the one named.
std::vector<std::pair<std::string, int>> g_seen;
std::string g_accept;

int recording_reader(const char* candidate, int scheme, char*, int32_t, int32_t* length) {
  g_seen.emplace_back(candidate, scheme);
  if (g_accept != candidate) return kFileNotFound;
  *length = 7;
  return kOk;
}

std::vector<std::string> candidates(const char* path, const char* name, const char* ext,
                                    const char* referring = nullptr) {
  EXPECT_EQ(libpath_set(path, int32_t(std::strlen(path)), nullptr, 0), kOk);
  g_seen.clear();
  g_accept.clear();
  int32_t length = 0;
  int scheme = 0;
  EXPECT_EQ(libpath_find_file(name, ext, referring, nullptr, recording_reader, nullptr, 0, &length, &scheme),
            kFileNotFound);
  std::vector<std::string> out;
  for (auto& s : g_seen) out.push_back(s.first);
  return out;
}

struct LibPath : ::testing::Test {
  void TearDown() override { libpath_set("", 0, nullptr, 0); }
};

TEST_F(LibPath, CandidateOfEveryKindOfEntry) {
  const struct {
    const char* entry;
    const char* ext;
    const char* want;
  } rows[] = {
      {"", "x", "lib.x"},               // the initial path: the name as given
      {"libs/%f", "ext", "libs/lib.ext"},
      {"libs/%f", nullptr, "libs/lib"},
      {"pre_%b", "ext", "pre_lib"},
      {"d/%b%s", "ext", "d/lib.ext"},
      {"d/%b%s", nullptr, "d/lib"},
      {"100%%/", "ext", "100%/lib.ext"},
      {"100%%", "ext", "100%/lib.ext"},  // "%%" alone makes no template
      {"a%%f", "ext", "a%f/lib.ext"},
      {"%%%f", "ext", "%lib.ext"},
      {"50%x", "ext", "50%x/lib.ext"},
      {"libs", "ext", "libs/lib.ext"},
      {"libs/", "ext", "libs/lib.ext"},
  };
  for (const auto& r : rows) {
    const std::string path = std::string(r.entry) + ";";
    EXPECT_EQ(candidates(path.c_str(), "lib", r.ext), std::vector<std::string>{r.want}) << r.entry;
  }
}

TEST_F(LibPath, ReferringFileFirstThenEntriesInOrder) {
  EXPECT_EQ(candidates("a;b/%f;", "nm", "ext", "src/app/main.x"),
            (std::vector<std::string>{"src/app/nm.ext", "a/nm.ext", "b/nm.ext"}));
  EXPECT_EQ(candidates(";", "nm", "ext", "main.x"), (std::vector<std::string>{"nm.ext", "nm.ext"}));
}

TEST_F(LibPath, SchemeFlagNeedsTwoLetters) {
  ASSERT_EQ(libpath_set("zip:arc;c:/d;", 13, nullptr, 0), kOk);
  g_seen.clear();
  g_accept = "c:/d/nm.e";
  int32_t length = 0;
  int scheme = -1;
  char found[kCandidateBytes] = {};
  EXPECT_EQ(libpath_find_file("nm", "e", nullptr, found, recording_reader, nullptr, 0, &length, &scheme), kOk);
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[0], (std::pair<std::string, int>{"zip:arc/nm.e", 1}));
  EXPECT_EQ(g_seen[1], (std::pair<std::string, int>{"c:/d/nm.e", 0}));
  EXPECT_EQ(scheme, 0);
  EXPECT_STREQ(found, "c:/d/nm.e");
  EXPECT_EQ(length, 7);
  EXPECT_EQ(libpath_find_file("nm", "e", nullptr, nullptr, nullptr, nullptr, 0, &length, &scheme), kFileNotFound);
}

TEST_F(LibPath, CandidatesAreCutAtTheirLimit) {
  const std::string dir(300, 'd');
  const auto got = candidates((dir + ";").c_str(), "nm", "ext");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], std::string(kCandidateLimit, 'd'));
}

TEST_F(LibPath, SettingAddsSeparatorsAndRefusesWhatDoesNotFit) {
  const struct {
    const char* p1;
    const char* p2;
    const char* want;
  } rows[] = {
      {"a;b", nullptr, "a;b;"}, {"", nullptr, ";"}, {"a;", nullptr, "a;"},
      {"x", "y", "x;y;"},       {"x;", "", "x;"},   {"", "", ";"},
  };
  for (const auto& r : rows) {
    ASSERT_EQ(libpath_set(r.p1, int32_t(std::strlen(r.p1)), r.p2, r.p2 ? int32_t(std::strlen(r.p2)) : 0), kOk);
    EXPECT_STREQ(libpath_text(), r.want) << r.p1;
  }
  const std::string longest(1022, 'a');
  EXPECT_EQ(libpath_set(longest.c_str(), 1022, nullptr, 0), kOk);
  EXPECT_EQ(std::strlen(libpath_text()), 1023u);
  const std::string over(1023, 'a');
  EXPECT_EQ(libpath_set(over.c_str(), 1023, nullptr, 0), kObjectTooLarge);
  EXPECT_EQ(std::strlen(libpath_text()), 1023u);  // unchanged
  EXPECT_EQ(libpath_set("a", 1, longest.c_str(), 1022), kObjectTooLarge);
}

}  // namespace
