// tnbuild: builds a saved runtime image from a build description and the
// ZVR sources beside it, and writes it as the flat stream (the fourteen
// requests one after the other). A development tool; the program never
// links it.
#include <cstdio>

#include "tools/imagetools/application_build.h"
#include "tools/imagetools/image_packer.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tnbuild DESCRIPTION IMAGE\n");
    return 2;
  }
  tnbuild::Sections sections;
  std::string description, error;
  if (!tnbuild::build_application(argv[1], &sections, &description, &error)) {
    std::fprintf(stderr, "tnbuild: %s\n", error.c_str());
    return 1;
  }
  if (!tnbuild::write_file(argv[2], tnbuild::flat(sections))) {
    std::fprintf(stderr, "tnbuild: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
