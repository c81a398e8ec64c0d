// Building an application image from a build description file: the ZVR
// source of `instance NAME` is NAME.zvr beside the description (none: an
// instance without functions). Shared by tnbuild and tnpack.
#pragma once

#include <string>

#include "tools/imagetools/image_builder.h"

namespace tnbuild {

// The block size the tools build in first: small, since an image carries
// its areas whole, empty parts included, and the program inflates every byte
// of them at start-up (the loader lays a smaller image out in the program's
// larger block). An application that does not fit is built in blocks four
// times larger, up to the limit.
constexpr uint32_t kToolBlockBytes = 256u << 10;
constexpr uint32_t kToolBlockLimit = 64u << 20;

// Reads the description, builds the image and cuts it into its fourteen
// requests. False with *error set on any failure.
bool build_application(const std::string& description_path, Sections* out, std::string* description,
                       std::string* error);

}  // namespace tnbuild
