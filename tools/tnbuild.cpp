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
  for (int k = 1; k < argc; ++k) {
    std::string size;
    if (std::strcmp(argv[k], "--memmax") == 0) {
      if (++k == argc) return usage();
      size = argv[k];
    } else if (std::strncmp(argv[k], "--memmax=", 9) == 0) {
      size = argv[k] + 9;
    } else {
      args.push_back(argv[k]);
      continue;
    }
    if (!tnbuild::parse_mem_max(size, &options.mem_max)) {
      std::fprintf(stderr, "tnbuild: bad --memmax '%s': give a size from 256K to 2047M\n", size.c_str());
      return 2;
    }
  }
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
