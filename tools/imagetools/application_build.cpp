// Building an application image from a description file and the sources
// beside it, in a block of its own that lives for the one build.
#include "tools/imagetools/application_build.h"

#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace tnbuild {

namespace {

bool read_text(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  *text = all.str();
  return true;
}

std::string folder_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace

bool build_application(const std::string& description_path, Sections* out, std::string* description,
                       std::string* error) {
  if (!read_text(description_path, description)) {
    *error = "cannot read " + description_path;
    return false;
  }
  std::map<std::string, std::string> sources;
  std::istringstream lines(*description);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream in(line);
    std::string word, name;
    if (!(in >> word >> name) || word != "instance") continue;
    std::string source;
    if (read_text(folder_of(description_path) + "/" + name + ".zvr", &source)) sources[name] = source;
  }
  // The smallest block first; an application that does not fit is built
  // again in a larger one, and the last attempt's error is the answer. Any
  // other error is the application's own: a larger block would repeat it.
  for (uint32_t bytes = kToolBlockBytes; bytes <= kToolBlockLimit; bytes *= 4) {
    // Doubles keep the block 8-byte aligned.
    std::unique_ptr<double[]> buffer(new double[bytes / sizeof(double)]());
    RuntimeBlock* block = nullptr;
    if (start_block(&block, buffer.get(), bytes) != 0) {
      *error = "cannot lay out the block";
      return false;
    }
    Builder builder(block, sources);
    builder.description_name = description_path;
    builder.require_functions = true;
    if (builder.build(*description)) {
      *out = builder.sections();
      return true;
    }
    *error = builder.error;
    if (!builder.out_of_room) return false;
  }
  return false;
}

}  // namespace tnbuild
