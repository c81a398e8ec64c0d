// Building an application image from a build description file: the ZVR
// source of `instance NAME` is NAME.zvr beside the description (none: an
// instance without functions). Shared by tnbuild and tnpack.
#pragma once

#include <string>

#include "tools/imagetools/image_builder.h"

namespace tnbuild {

// The block size the tools build in; large enough that no area overflows
// for the applications the tools are used with.
constexpr uint32_t kToolBlockBytes = 16u << 20;

// Reads the description, builds the image and cuts it into its fourteen
// requests. False with *error set on any failure.
bool build_application(const std::string& description_path, Sections* out, std::string* description,
                       std::string* error);

}  // namespace tnbuild
