// tnpack: builds an application from a build description and its ZVR
// sources and writes it behind a copy of an executable (description, one
// zlib chunk per loader request, trailer), or with --flat as the flat
// stream. A development tool; the program never links it.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/imagetools/application_build.h"
#include "tools/imagetools/image_packer.h"
#include "tools/toolfiles/regular_file.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: tnpack [--memmax BYTES] DESCRIPTION EXECUTABLE OUTPUT\n"
               "       tnpack [--memmax BYTES] --flat DESCRIPTION OUTPUT\n"
               "  --memmax: the largest block the build may grow to (K, M or G suffix; default 128M, the\n"
               "            program's default MemMax)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  tnbuild::BuildOptions options;
  std::vector<const char*> args;
  if (const int status = tnbuild::read_tool_args("tnpack", argc, argv, &options, &args); status != 0)
    return status == tnbuild::kToolArgsUsage ? usage() : status;
  if (args.size() != 3) return usage();
  const bool flat_only = std::strcmp(args[0], "--flat") == 0;
  const char* description_path = flat_only ? args[1] : args[0];
  const char* output = args[2];
  tnbuild::Sections sections;
  std::string description, error;
  if (!tnbuild::build_application(description_path, &sections, &description, &error, options)) {
    std::fprintf(stderr, "tnpack: %s\n", error.c_str());
    return 1;
  }
  std::vector<uint8_t> bytes;
  if (flat_only) {
    bytes = tnbuild::flat(sections);
  } else {
    std::vector<uint8_t> program;
    const toolfiles::ReadResult read = toolfiles::read_regular_file(args[1], toolfiles::kProgramFileMaxBytes, &program);
    struct stat program_stat {};
    if (read.status != toolfiles::ReadStatus::kOk || stat(args[1], &program_stat) != 0) {
      std::fprintf(stderr, "tnpack: %s\n", toolfiles::read_failure(args[1], read, toolfiles::kProgramFileMaxBytes).c_str());
      return 1;
    }
    bytes = tnbuild::with_trailer(program, tnbuild::appended_block(sections, description));
    if (!tnbuild::write_file(output, bytes) || chmod(output, program_stat.st_mode & 07777) != 0) {
      std::fprintf(stderr, "tnpack: cannot write %s\n", output);
      return 1;
    }
    return 0;
  }
  if (!tnbuild::write_file(output, bytes)) {
    std::fprintf(stderr, "tnpack: cannot write %s\n", output);
    return 1;
  }
  return 0;
}
