// The loader's reading of a source: the statement reader of the compiler
// reads a stretch of it (top-level statements up to the next definition, or
// one definition to its end) and says where it stops, so the loader cuts a
// source exactly where the compiler's statements begin and end.
// Internal to engine/core: nothing above the core includes it.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Statements the loader itself acts on, met on the way.
enum SourceLineKind : int {
  kLineUse = 0,
  kLineUseIfExists,
  kLineInclude,
  kLineIncludeIfExists,
};

// A statement of one of those kinds starts at `start`; its keyword ends at
// `words` and its line at `line_end`; `line` line ends lie before it. A
// nonzero status ends the reading with that status.
using SourceLineVisit = int (*)(void* arg, int kind, int32_t start, int32_t words, int32_t line_end, int32_t line);

struct SourceStretch {
  // What to read: from a statement start, with `line` line ends before it.
  // A definition stretch starts at a "function" or "define" statement. A
  // top-level stretch knows only the variables it assigns itself (whether
  // «name word» is a command depends on them), the workspace's and earlier
  // stretches' not: a source is read the same whatever workspace loads it.
  int32_t from = 0;
  int32_t line = 0;
  bool definition = false;
  SourceLineVisit visit = nullptr;
  void* arg = nullptr;

  // Where the reading stopped, and the line ends before that point: at the
  // next "function" or "define" statement (at_header), after the
  // "endfunction" statement or the "define" statement that ends a
  // definition, or at the end of the text.
  int32_t stop = 0;
  int32_t stop_line = 0;
  bool at_header = false;
  int8_t mark = -1;  // the last "private" (1) or "public" (0) read, -1 none

  // A definition's name and class (class_length 0: none) as positions in the text.
  int32_t name = -1;
  int32_t name_length = 0;
  int32_t class_name = -1;
  int32_t class_length = 0;
  bool is_define = false;

  // The first statement that the loader refuses: "endfunction" or "include"
  // outside every definition, or a header that cannot be read. The reading
  // goes on past it; `error_line` line ends lie before it.
  int error = 0;
  int32_t error_line = 0;
};

// Reads the stretch; the statements the compiler refuses are its to report
// when it compiles them, and the reading resumes after their line. Uses the
// free data-stack space as the compiler does (the text may lie there), and
// fails with kDataStackOverflow when that cannot hold a statement (a reading
// cut short would find other boundaries); else only a visit's status ends it.
int source_read_stretch(EngineContext* ctx, const char* text, int32_t length, SourceStretch* s);

// Reads the whole text, stretch after stretch, for its "use" and "include"
// statements alone: what the loader refuses is left to the definition scan.
int source_walk_lines(EngineContext* ctx, const char* text, int32_t length, SourceLineVisit visit, void* arg);
