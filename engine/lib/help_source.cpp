// Help sources: scratch on the free data stack and quiet reads through the
// "+readlib" hooks. A help file that is not there is an ordinary answer for
// help and lookfor, so the error the reader raised for it is taken back.
#include "engine/lib/help_source.h"

#include <cstring>

#include "engine/core/calls.h"
#include "engine/core/errors.h"
#include "engine/core/libraries.h"
#include "engine/core/value_stack.h"

HelpScratch::HelpScratch(EngineContext* ctx, int keep_quarters) : c_(ctx), saved_capacity_(ctx->data_capacity) {
  const int64_t free_words = data_free_words(ctx);
  if (free_words <= 0) return;
  const int64_t keep_words = free_words * keep_quarters / 4;
  const int64_t read_words = free_words - keep_words;
  auto* base = reinterpret_cast<char*>(data_words(ctx) + ctx->data_top);
  constexpr int64_t kMaxBytes = INT32_MAX;
  read = base;
  read_bytes = int32_t(read_words * 8 > kMaxBytes ? kMaxBytes : read_words * 8);
  if (keep_words > 0) {
    keep = base + read_words * 8;
    keep_bytes = int32_t(keep_words * 8 > kMaxBytes ? kMaxBytes : keep_words * 8);
    ctx->data_capacity -= uint32_t(keep_words);
  }
}

HelpScratch::~HelpScratch() { c_->data_capacity = saved_capacity_; }

ErrorStateSave error_state_save(EngineContext* ctx) {
  return ErrorStateSave{ctx->err_pending_text, ctx->status_word, ctx->error_area.loc_function,
                        ctx->error_area.loc_line};
}

void error_state_restore(EngineContext* ctx, const ErrorStateSave& s) {
  // A text raised since the save is released; an older pending text was
  // already given up by the raise that replaced it.
  if (ctx->err_pending_text != s.pending_text) err_store(ctx, 0, nullptr, 0, false);
  ctx->status_word = s.status_word;
  ctx->error_area.loc_function = s.loc_function;
  ctx->error_area.loc_line = s.loc_line;
}

namespace {

// Room statuses pass on (the caller's answer would otherwise depend on the
// room it had); anything else (not found, a damaged text, a name too long)
// means the source cannot be used.
int quiet(EngineContext* ctx, const ErrorStateSave& saved, int status) {
  if (status == kOk) return kOk;
  error_state_restore(ctx, saved);
  if (help_room_status(status)) return status;
  return kFileNotFound;
}

}  // namespace

int help_read_library(EngineContext* ctx, const char* name, int32_t length, bool source, char* buffer,
                      int32_t capacity, int32_t* out_length) {
  *out_length = 0;
  if (!buffer || length < 1 || length > kSourceNameLimit) return kFileNotFound;
  char extensions[kExtensionListBytes] = {};
  if (source) {
    library_extensions(ctx, extensions);
  } else {
    const char* ext = ctx->help_ext ? ctx->help_ext : "";
    for (int32_t i = 0; i < kExtensionListBytes - 2 && ext[i]; ++i) extensions[i] = ext[i];
  }
  const ErrorStateSave saved = error_state_save(ctx);
  int32_t first_line = 0;
  // Help files have no "include" lines: a line that reads like one is text.
  const uint32_t options = source ? uint32_t(kReadConvert) : uint32_t(kReadConvert | kReadNoInclude);
  const int status =
      lib_read_source(ctx, name, length, extensions, 1, options, buffer, capacity, out_length, &first_line);
  if (status != kOk) *out_length = 0;
  return quiet(ctx, saved, status);
}

int help_read_function(EngineContext* ctx, int32_t id, char* buffer, int32_t capacity, int32_t* out_length) {
  *out_length = 0;
  if (!buffer) return kFileNotFound;
  const ErrorStateSave saved = error_state_save(ctx);
  int32_t first_line = 0;
  const int status = fn_locate_source(ctx, id, buffer, capacity, out_length, &first_line);
  if (status != kOk) *out_length = 0;
  return quiet(ctx, saved, status);
}

bool help_row_section(EngineContext* ctx, const char* name, const char** section, int32_t* section_length) {
  // Resolution passes over a placeholder row when a later row has the name:
  // the row it finds is the one whose section holds the help. Methods of a
  // library class ("cos" of the quaternions) answer for their objects only.
  int32_t index = 0;
  const BuiltinEntry* found = nullptr;
  do {
    found = lib_find_builtin(ctx, name, found, 0, &index);
  } while (found && found->class_word > 0);
  if (!found) return false;
  *section = nullptr;
  *section_length = 0;
  const LibraryTableRef* refs = table_refs(ctx);
  for (int32_t t = 0; t < ctx->table_count; ++t) {
    const BuiltinEntry* rows = refs[t].table;
    if (found < rows || found >= rows + refs[t].rows) continue;
    for (const BuiltinEntry* r = found; r >= rows; --r) {
      if (r->name[0] != '@' && r->name[0] != '!') continue;
      *section = r->name + 1;
      *section_length = int32_t(strnlen(r->name + 1, sizeof r->name - 1));
      break;
    }
    break;
  }
  return true;
}

bool contains_folded(const char* text, int32_t n, const char* word, int32_t k) {
  if (k <= 0) return true;
  for (int32_t i = 0; i + k <= n; ++i) {
    int32_t j = 0;
    while (j < k && ascii_fold(text[i + j]) == ascii_fold(word[j])) ++j;
    if (j == k) return true;
  }
  return false;
}
