// Building an application image from a build description file: the ZVR
// source of `instance NAME` is NAME.zvr beside the description (none: an
// instance without functions). Shared by tnbuild and tnpack.
#pragma once

#include <string>

#include "tools/imagetools/image_builder.h"

namespace tnbuild {

// The block size the tools build in first: the program's first block
// ("MemMin" at its default), so that an application it holds loads without
// a growth and its image carries no more empty area than the program lays
// out anyway. An application that does not fit is built in blocks four
// times larger, up to the limit; the program grows its block as it loads.
constexpr uint32_t kToolBlockBytes = 8290304;
constexpr uint32_t kToolBlockLimit = 8290304u * 16;

// Reads the description, builds the image and cuts it into its fourteen
// requests. False with *error set on any failure.
bool build_application(const std::string& description_path, Sections* out, std::string* description,
                       std::string* error);

}  // namespace tnbuild
