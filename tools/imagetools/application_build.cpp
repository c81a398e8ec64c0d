// Building an application image from a description file and the sources
// beside it, in a block of its own that lives for the one build and grows,
// as the program's block does, up to the build's MemMax.
#include "tools/imagetools/application_build.h"

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>

#include "runtime/console_hooks.h"
#include "runtime/embedded_streams.h"
#include "tools/toolfiles/regular_file.h"

namespace tnbuild {

namespace {

constexpr uint64_t kGrowNumerator = 3, kGrowDenominator = 2;  // the program's step
constexpr uint64_t kRebuildFactor = 4;
constexpr char kGrowthLine[] = "TN memory expanded to ";
constexpr size_t kAboutTextBytes = size_t(1) << 20;


std::string folder_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The memory of one attempt's block; the handle the runtime keeps lives here
// too, so that it outlives every growth of the attempt.
struct ToolBlock {
  RuntimeBlock* block = nullptr;
  void* memory = nullptr;
  uint32_t mem_max = 0;
  ToolHost host;
  bool at_mem_max = false;  // a growth was refused: the block had reached mem_max

  ~ToolBlock() {
    if (block) rt_embedded_reset(block);  // the stream slots are the process's
    std::free(memory);
  }
};

bool grow_tool_block(RuntimeBlock** memory, uint32_t* size, void* context) {
  ToolBlock* t = static_cast<ToolBlock*>(context);
  const uint64_t current = *size;
  const uint64_t next = std::min<uint64_t>(t->mem_max, current * kGrowNumerator / kGrowDenominator);
  if (next <= current) {
    t->at_mem_max = true;
    return false;
  }
  void* fresh = std::realloc(*memory, size_t(next));
  if (!fresh) return false;
  t->memory = fresh;
  *memory = static_cast<RuntimeBlock*>(fresh);
  *size = uint32_t(next);
  return true;
}

// The builder's block is its own affair (the program lays the image out in
// a block of its own), so its growth lines are no news to the author.
std::string without_growth_lines(const std::string& text) {
  std::string out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(kGrowthLine, 0) == 0) continue;
    out += line;
    if (!in.eof()) out += '\n';
  }
  return out;
}

// The appended application's description: what the program's About box
// shows of the first instance (the program's document), none without one.
bool about_text(RuntimeBlock* b, std::string* out) {
  out->clear();
  if (b->h.instance_count < 1) return true;
  std::vector<char> buffer(kAboutTextBytes);
  int32_t length = 0;
  if (inst_about_text(b, inst_at(b, 0)->id, buffer.data(), int32_t(buffer.size()), &length) != 0) return false;
  out->assign(buffer.data(), size_t(length));
  return true;
}

// A build that ran out of room at its MemMax says how to give it more, as
// zvr names its -m.
std::string mem_max_advice(uint64_t mem_max) {
  constexpr uint64_t kMega = uint64_t(1) << 20;
  const std::string size =
      mem_max % kMega == 0 ? std::to_string(mem_max / kMega) + " MB" : std::to_string(mem_max) + " bytes";
  return "\n    the build's block is full at its MemMax of " + size + "; --memmax BYTES gives a larger one";
}

}  // namespace

bool build_application(const std::string& description_path, Sections* out, std::string* description,
                       std::string* error, const BuildOptions& options) {
  using toolfiles::kTextFileMaxBytes;
  std::string build_description;
  const toolfiles::ReadResult read = toolfiles::read_regular_file(description_path, kTextFileMaxBytes, &build_description);
  if (read.status != toolfiles::ReadStatus::kOk) {
    *error = toolfiles::read_failure(description_path, read, kTextFileMaxBytes);
    return false;
  }
  // An instance's source is NAME.zvr beside the description; none is an
  // instance without functions, but one that is there and cannot be read
  // (a directory, a device, too large) stops the build.
  std::map<std::string, std::string> sources;
  std::istringstream lines(build_description);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream in(line);
    std::string word, name;
    if (!(in >> word >> name) || word != "instance") continue;
    const std::string path = folder_of(description_path) + "/" + name + ".zvr";
    std::string source;
    const toolfiles::ReadResult got = toolfiles::read_regular_file(path, kTextFileMaxBytes, &source);
    if (got.status == toolfiles::ReadStatus::kOk) sources[name] = source;
    else if (got.status != toolfiles::ReadStatus::kMissing) {
      *error = toolfiles::read_failure(path, got, kTextFileMaxBytes);
      return false;
    }
  }
  const uint32_t mem_max = std::max(options.mem_max, kToolBlockBytes);
  // The block grows for whatever ran short in it; only a description whose
  // own records did not fit is built again, in a block four times larger.
  // An attempt's standard error waits until the attempt is known final.
  for (uint64_t bytes = kToolBlockBytes;; bytes *= kRebuildFactor) {
    bytes = std::min<uint64_t>(bytes, mem_max);
    ToolBlock tool;
    tool.mem_max = mem_max;
    // Zeroed, 8-byte aligned memory, as the program's block is laid out in.
    tool.memory = std::calloc(size_t(bytes), 1);
    if (!tool.memory || start_block(&tool.block, tool.memory, uint32_t(bytes), &tool.host) != 0) {
      *error = "cannot lay out the block";
      return false;
    }
    rt_set_grow_callback(tool.block, grow_tool_block, &tool);
    const int64_t held = rt_console_hold_errors();
    Builder builder(tool.block, sources);
    builder.description_name = description_path;
    builder.require_functions = true;
    const bool built = builder.build(build_description);
    if (built) *out = builder.sections();
    const std::string report = rt_console_take_errors(held);
    const bool last = built || !builder.out_of_room || bytes >= mem_max;
    if (!last) continue;
    rt_console_put_errors(without_growth_lines(report));
    if (!built) {
      *error = builder.error + (builder.out_of_room || tool.at_mem_max ? mem_max_advice(mem_max) : "");
      return false;
    }
    if (!about_text(tool.block, description)) {
      *error = "the application's title, version and help texts are longer than " +
               std::to_string(kAboutTextBytes) + " bytes";
      return false;
    }
    return true;
  }
}

bool parse_mem_max(const std::string& text, uint32_t* bytes) {
  if (text.empty() || text.find_first_not_of("0123456789kKmMgG") != std::string::npos) return false;
  char* end = nullptr;
  const unsigned long long number = std::strtoull(text.c_str(), &end, 10);
  if (end == text.c_str()) return false;
  const std::string suffix(end);
  unsigned shift = 0;
  if (suffix == "k" || suffix == "K") shift = 10;
  else if (suffix == "m" || suffix == "M") shift = 20;
  else if (suffix == "g" || suffix == "G") shift = 30;
  else if (!suffix.empty()) return false;
  if (number > (uint64_t(kToolMemLimit) >> shift)) return false;
  const uint64_t value = uint64_t(number) << shift;
  if (value < kToolBlockBytes) return false;
  *bytes = uint32_t(value);
  return true;
}

int read_tool_args(const char* tool, int argc, char** argv, BuildOptions* options, std::vector<const char*>* args) {
  for (int k = 1; k < argc; ++k) {
    std::string size;
    if (std::strcmp(argv[k], "--memmax") == 0) {
      if (++k == argc) return kToolArgsUsage;
      size = argv[k];
    } else if (std::strncmp(argv[k], "--memmax=", 9) == 0) {
      size = argv[k] + 9;
    } else {
      args->push_back(argv[k]);
      continue;
    }
    if (!parse_mem_max(size, &options->mem_max)) {
      std::fprintf(stderr, "%s: bad --memmax '%s': give a size from 256K to 2047M\n", tool, size.c_str());
      return 2;
    }
  }
  return 0;
}

}  // namespace tnbuild
