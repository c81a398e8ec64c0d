// Reading help sources for help and lookfor: scratch space on the free data
// stack, quiet reads (a source that is not there raises nothing the user
// sees), the section a built-in row belongs to, and ASCII case folding.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "engine/core/status.h"

inline constexpr char kEngineHelpFile[] = "ZVR";
inline constexpr char kOtherHelpFile[] = "other";
// Longest library, section or function name read as a help source.
constexpr int32_t kHelpNameBytes = 64;

// The free data stack as scratch. The keep part (keep_quarters of four) is
// cut off the top and the stack's capacity lowered below it while the
// scratch lives, so that an error raised meanwhile, which builds its text in
// the free stack, never reaches what is kept there; the read part is the rest.
class HelpScratch {
 public:
  HelpScratch(EngineContext* ctx, int keep_quarters);
  ~HelpScratch();
  HelpScratch(const HelpScratch&) = delete;
  HelpScratch& operator=(const HelpScratch&) = delete;

  char* read = nullptr;
  int32_t read_bytes = 0;
  char* keep = nullptr;
  int32_t keep_bytes = 0;

 private:
  EngineContext* c_;
  uint32_t saved_capacity_;
};

// The statuses of a call that had too little room: they pass on, so that
// an answer never depends on the room the caller had.
inline bool help_room_status(int status) {
  return status == kDataStackOverflow || status == kStackOverflow || status == kVariableOverflow;
}

// Reads the help file of a library (the context's help extension) or, with
// source set, its source into the buffer. kFileNotFound, with the error
// state as it was before, when no hook has it; room statuses pass on.
int help_read_library(EngineContext* ctx, const char* name, int32_t length, bool source, char* buffer,
                      int32_t capacity, int32_t* out_length);

// The source of function id with its definition first; kFileNotFound, error
// state untouched, when it cannot be read.
int help_read_function(EngineContext* ctx, int32_t id, char* buffer, int32_t capacity, int32_t* out_length);

// The section name ("@" or "!" row, without its mark) of the first row named
// name in search order: true with *section set (null for a row before any
// section); false when no row has that name.
bool help_row_section(EngineContext* ctx, const char* name, const char** section, int32_t* section_length);

// The error state a quiet read puts back.
struct ErrorStateSave {
  int32_t pending_text, status_word, loc_function, loc_line;
};
ErrorStateSave error_state_save(EngineContext* ctx);
void error_state_restore(EngineContext* ctx, const ErrorStateSave& s);

inline char ascii_fold(char ch) { return (ch >= 'A' && ch <= 'Z') ? char(ch - 'A' + 'a') : ch; }
// True when word occurs in text, ignoring ASCII case (an empty word always does).
bool contains_folded(const char* text, int32_t n, const char* word, int32_t k);
