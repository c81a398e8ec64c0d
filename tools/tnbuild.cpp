// tnbuild: builds a saved runtime image from a build description and the
// ZVR sources beside it, and writes it as the flat stream (the fourteen
// requests one after the other). A development tool; the program never
// links it.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/imagetools/application_build.h"
#include "tools/imagetools/image_packer.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: tnbuild [--memmax BYTES] DESCRIPTION IMAGE\n"
               "  --memmax: the largest block the build may grow to (K, M or G suffix; default 128M, the\n"
               "            program's default MemMax)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  tnbuild::BuildOptions options;
  std::vector<const char*> args;
  if (const int status = tnbuild::read_tool_args("tnbuild", argc, argv, &options, &args); status != 0)
    return status == tnbuild::kToolArgsUsage ? usage() : status;
  if (args.size() != 2) return usage();
  tnbuild::Sections sections;
  std::string description, error;
  if (!tnbuild::build_application(args[0], &sections, &description, &error, options)) {
    std::fprintf(stderr, "tnbuild: %s\n", error.c_str());
    return 1;
  }
  if (!tnbuild::write_file(args[1], tnbuild::flat(sections))) {
    std::fprintf(stderr, "tnbuild: cannot write %s\n", args[1]);
    return 1;
  }
  return 0;
}
