// Serving instance libraries from the record list: their sources, under the
// engine's library extension only. The block is found through the engine's
// context resolver, so the hook's data word is not relied on.
#include "runtime/library_source.h"

#include <cstring>
#include <string_view>

#include "engine/core/libraries.h"
#include "engine/core/status.h"
#include "runtime/instances.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_block.h"

namespace {

constexpr size_t kPrefixLength = sizeof kInstanceLibraryPrefix - 1;
// Data words of a header record before its name: id, library slot.
constexpr int32_t kHeaderNameWord = 2;

std::string_view text_at(const RecordView& r, int32_t k) {
  const char* text = nullptr;
  int32_t length = 0;
  if (!rec_text(r, k, &text, &length)) return {};
  return std::string_view(text, size_t(length));
}

// Word index of the header of the instance called `name`, or -1.
int64_t find_instance_named(RuntimeBlock* b, std::string_view name, int32_t* id) {
  RecordView r;
  for (int64_t w = 0; rec_at(b, w, &r); w += r.length) {
    if (r.tag != kTagHeader || r.data_words <= kHeaderNameWord) continue;
    if (text_at(r, kHeaderNameWord) != name) continue;
    *id = r.data[0];
    return w;
  }
  return -1;
}

}  // namespace

int bi_tn_readlib(EngineContext* ctx, const char* name, const char* extension, uint32_t flags, char* buffer,
                  int32_t capacity, int32_t* length, int32_t* first_line, uint8_t* found, uintptr_t) {
  if (flags != kSourceModeLibrary || !name) return kFileNotFound;
  // A record holds a library's source and nothing else: a request for
  // another extension (its help file) goes on to the next hook.
  if (extension && (!ctx || !ctx->lib_ext || std::strcmp(extension, ctx->lib_ext) != 0)) return kFileNotFound;
  const std::string_view wanted(name, std::strlen(name));
  if (wanted.size() <= kPrefixLength || wanted.substr(0, kPrefixLength) != kInstanceLibraryPrefix)
    return kFileNotFound;
  // A runtime's engine finds its block through the host's block word.
  if (!ctx || ctx->resolver_fn != engine_of_runtime || !ctx->resolver_handle) return kFileNotFound;
  RuntimeBlock* b = *static_cast<RuntimeBlock**>(ctx->resolver_handle);
  if (!b) return kFileNotFound;
  int32_t id = 0;
  int64_t w = find_instance_named(b, wanted.substr(kPrefixLength), &id);
  if (w < 0) return kFileNotFound;
  RecordView r;
  for (rec_at(b, w, &r), w += r.length; rec_at(b, w, &r) && r.tag != kTagHeader; w += r.length) {
    if (r.tag != kTagLibrary || text_at(r, 0) != wanted) continue;
    const int32_t skip = int32_t(rec_text_words(int64_t(text_at(r, 0).size())));
    const char* source = nullptr;
    int32_t n = 0;
    if (!rec_text(r, skip, &source, &n)) return kFileNotFound;
    if (n > capacity) return kStackOverflow;
    std::memcpy(buffer, source, size_t(n));
    *length = n;
    if (first_line) *first_line = 0;
    if (found) *found = inst_get_debug_flag(b, id) ? 1 : 0;
    return kOk;
  }
  return kFileNotFound;
}
