// Building an application image from a build description file: the ZVR
// source of `instance NAME` is NAME.zvr beside the description (none: an
// instance without functions). Shared by tnbuild and tnpack.
#pragma once

#include <string>
#include <vector>

#include "tools/imagetools/image_builder.h"

namespace tnbuild {

// The block size the tools build in first: small, since an image carries
// its areas whole, empty parts included, and the program inflates every byte
// of them at start-up (the loader lays a smaller image out in the program's
// larger block). The block grows as the program's does, the gain going to
// the area that ran short, up to the build's MemMax; a build whose
// description outgrows the builder's own records is built again in a block
// four times larger.
constexpr uint32_t kToolBlockBytes = 256u << 10;
// The program's default MemMax: an init handler that the program could run
// at its default settings is built by default.
constexpr uint32_t kToolMemMaxDefault = 128u << 20;
// The largest MemMax the program's settings accept.
constexpr uint32_t kToolMemLimit = 2146435072u;

struct BuildOptions {
  uint32_t mem_max = kToolMemMaxDefault;
};

// Reads the description, builds the image and cuts it into its fourteen
// requests; *description is what the program's About box shows of the
// application (its title, version and help texts as plain text). False with *error set on any failure. What the build writes on
// standard error (an init handler's output, its failure report) is held
// until the build is known final: an attempt that ran out of room and
// succeeded in more shows nothing.
bool build_application(const std::string& description_path, Sections* out, std::string* description,
                       std::string* error, const BuildOptions& options = BuildOptions());

// The MemMax option of the tools: "--memmax BYTES" or "--memmax=BYTES",
// with a K, M or G suffix for binary kilo-, mega- and gigabytes. False for
// a size that is no number or lies outside [kToolBlockBytes, kToolMemLimit].
bool parse_mem_max(const std::string& text, uint32_t* bytes);

// Reads a tool's command line: the MemMax option into options, every other
// argument into args. Returns 0, kToolArgsUsage when --memmax has no value,
// or 2 after telling standard error, under the tool's name, of a bad size.
constexpr int kToolArgsUsage = -1;
int read_tool_args(const char* tool, int argc, char** argv, BuildOptions* options, std::vector<const char*>* args);

}  // namespace tnbuild
