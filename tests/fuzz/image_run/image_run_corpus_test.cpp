// The running-image fuzz entry over truncations and flips of built images
// whose handlers all run: init, figure commands, plot handlers drawn through
// the recording driver, menus of every shape, change, idle, undo and redo;
// and over applications whose handlers fail, never end, or close their own
// instance, which the entry must survive with its stores whole; then the
// image of every application the project builds itself (the bundled demo,
// the end-to-end tests' applications), each whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/corpus.h"
#include "engine/core/checked.h"
#include "fuzz/seed_images.h"
#include "runtime/image_loader.h"
#include "tools/imagetools/application_build.h"

namespace {

// Handlers that go wrong in each way a run must survive.
const fuzzseed::App kUnruly = {
    "instance unruly\nvar x\nvar y\ninit x = u_init()\nderived y = u_forever(x)\nchange x y = u_fail(x)\n"
    "idle x = u_forever(x)\nmenutitle \"Odd\"\nmenu \"Loop\" x = u_forever(x)\nmenu \"Fail\" x = u_fail(x)\n"
    "menu \"Deep\" x = u_deep(x)\nfigure \"F\"\nplot u_plot(x)\nplot u_forever(x)\n",
    {{"unruly",
      "function x = u_init()\n x = 1:3;\nendfunction\n"
      "function x = u_forever(x)\n while true\n  x = x + 1;\n end\nendfunction\n"
      "function x = u_fail(x)\n error('it fails');\nendfunction\n"
      "function x = u_deep(x)\n if numel(x) < 40\n  x = u_deep([x 1]);\n end\nendfunction\n"
      "function u_plot(x)\n plot(x, x .^ 2); plot(x, -x, 'r');\nendfunction\n"}}};

TEST(ImageRunCorpus, EveryImageRunsItsHandlers) {
  std::vector<fuzzseed::App> apps = fuzzseed::apps();
  apps.push_back(kUnruly);
  int runs = 0;
  for (const fuzzseed::App& app : apps) {
    tnbuild::Sections sections;
    std::string error;
    ASSERT_TRUE(fuzzseed::build(app, &sections, &error)) << error;
    const std::vector<uint8_t> seed = tnbuild::flat(sections);
    runs += run_corpus(seed, 16, 40);
    runs += run_seed(tnbuild::flat(fuzzseed::unsettled(sections))) == 0 ? 1 : 0;
  }
  EXPECT_GT(runs, 0);
}

// The reserved word at 16 is never read: whatever it holds (none, another
// table's fingerprint, junk), and whatever byte but 0 sets the two flags,
// the image runs; written back it carries the tables' own fingerprint and
// flags of 1, which the target's model allows.
TEST(ImageRunCorpus, ReservedWordAndFlagBytesAreAnyValue) {
  for (const fuzzseed::App& app : fuzzseed::apps()) {
    tnbuild::Sections sections;
    std::string error;
    ASSERT_TRUE(fuzzseed::build(app, &sections, &error)) << error;
    for (const tnbuild::Sections& junk : fuzzseed::junk_header_words(sections))
      EXPECT_EQ(run_seed(tnbuild::flat(junk)), 0) << tn::get_le32(junk.at(kReqHeader).data() + kImgReserved16);
  }
}

// The project's own build descriptions: the bundled demo and every
// application of the end-to-end tests.
std::vector<std::string> own_descriptions() {
  namespace fs = std::filesystem;
  std::vector<std::string> paths = {std::string(PROJECT_SOURCE) + "/apps/demo/demo.tnd"};
  for (const fs::directory_entry& dir : fs::directory_iterator(std::string(PROJECT_SOURCE) + "/tests/host/e2e")) {
    if (!dir.is_directory()) continue;
    const fs::path tnd = dir.path() / (dir.path().filename().string() + ".tnd");
    if (fs::exists(tnd)) paths.push_back(tnd.string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

// Every image the project's applications build runs clean from its start:
// among them one whose plot handler lays its cells out with subplot (one by
// two, two by two after its Quad menu), whose redo shows the grid the
// handler sets, not the one stored (the target stopped on it at once).
TEST(ImageRunCorpus, EveryOwnApplicationRuns) {
  const std::vector<std::string> paths = own_descriptions();
  ASSERT_GE(paths.size(), 10u);
  bool cells = false;
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    tnbuild::Sections sections;
    std::string description, error;
    ASSERT_TRUE(tnbuild::build_application(path, &sections, &description, &error)) << error;
    EXPECT_EQ(run_seed(tnbuild::flat(sections)), 0);
    cells = cells || path.find("/cells/cells.tnd") != std::string::npos;
  }
  EXPECT_TRUE(cells);
}

}  // namespace
