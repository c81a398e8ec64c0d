// The statement list between the two passes of the statement compiler: the
// reader turns source text into records (kind, line, two normalised texts)
// in scratch space, and the code generator walks them in order.
// Internal to engine/core: nothing above the core includes it.
#pragma once

#include <cstdint>

#include "engine/core/compile_unit.h"
#include "engine/core/lexer.h"

namespace tncomp {

// ---- statement records -----------------------------------------------------------

enum StmtKind : int32_t {
  kStSilent = 0,  // expression statement ending in ";"
  kStShown = 1,
  kStIf = 3,
  kStElseif = 4,
  kStElse = 5,
  kStEnd = 6,
  kStSwitch = 7,
  kStCase = 8,
  kStOtherwise = 9,
  kStFor = 10,
  kStWhile = 11,
  kStRepeat = 12,
  kStUntil = 13,
  kStBreak = 14,
  kStContinue = 15,
  kStReturn = 16,
  kStTry = 18,
  kStCatch = 19,
  kStGlobal = 20,
  kStPersistent = 21,
  kStValue = 30,  // the expression of a "define": its value is the result
};

struct StmtHeader {
  int32_t kind, line, count, len1, len2;
};
constexpr int64_t kStmtHeaderBytes = sizeof(StmtHeader);
static_assert(kStmtHeaderBytes == 20);

inline int64_t pad4(int64_t n) { return (n + 3) & ~int64_t(3); }

struct Stmt {
  int32_t kind, line, count;
  const char* t1;
  int32_t n1;
  const char* t2;
  int32_t n2;
};

constexpr int kMaxBracketDepth = 30;
constexpr int kMaxBlocks = 64;
constexpr int32_t kMaxLocals = 4096;

// What the header of the text declares. Outputs take slots 0.. in order; an
// input takes the slot of the output of its name, else the next new slot.
struct Header {
  bool seen = false;
  bool define = false;
  bool varargin = false;
  bool varargout = false;
  int32_t outputs = 0;
  int32_t inputs = 0;
  uint16_t input_slot[kMaxLocals] = {};
};
constexpr int32_t kMaxStringChars = 0xFFFF;
constexpr int32_t kVarargoutPushed = 8;  // varargout elements a call can take
constexpr uint16_t kVarargoutElementWords = 7;  // push_ref, push_int16, ref_element, deref

inline bool operator_char(char c) {
  switch (c) {
    case '+': case '-': case '*': case '/': case '\\': case '^': case '.': case '<': case '>': case '=':
    case '~': case '?': case ':': case '|': case '&': case '!':
      return true;
    default:
      return false;
  }
}

inline const char* trim(const char* s, int32_t* n) {
  while (*n > 0 && lex_blank(s[0])) {
    ++s;
    --*n;
  }
  while (*n > 0 && lex_blank(s[*n - 1])) --*n;
  return s;
}

// Splits text at top-level commas; calls f(item, length) for each.
template <typename F>
int for_each_item(const char* s, int32_t n, F f) {
  LexCursor lx(s, n, 0);
  int depth = 0;
  int32_t start = 0;
  for (;;) {
    const LexPiece piece = lex_piece(&lx);
    if (piece == kPieceEnd) break;
    if (piece == kPieceOpen) ++depth;
    if (piece == kPieceClose) --depth;
    if (piece != kPieceChar || s[lx.start] != ',' || depth != 0) continue;
    TN_TRY(f(s + start, lx.start - start));
    start = lx.pos;
  }
  return f(s + start, n - start);
}

// The free data-stack space carved into the statement list, the string
// scratch and (for functions) the local-name table, avoiding the source text
// when it lies there.
struct Scratch {
  uint8_t* stmts = nullptr;
  int64_t stmt_bytes = 0;
  uint16_t* chars = nullptr;
  int32_t chars_capacity = 0;
  uint8_t* names = nullptr;
  int32_t name_capacity = 0;
};
void carve_scratch(EngineContext* ctx, const char* text, int32_t length, bool function, Scratch* s);
// Gives the unit an index of its names (those it has, and every one it
// adds), taken from the end of the statements' room when that is large
// enough to spare it; without one, names are found by a scan.
void attach_name_index(Unit& u, Scratch* s);

// Reads the statements of text into records at out (capacity bytes), the
// header's declarations into *header, every assigned name into the unit's
// local-name table; *used: the bytes of records written.
int read_statements(Unit& u, const char* text, int32_t length, uint8_t* out, int64_t capacity, Header* header,
                    int64_t* used);

}  // namespace tncomp
