// Verification of compiled code that comes from outside the engine (a loaded
// image): every instruction decodes inside its function's block, every
// operand that names something (a local, a name, a function, a built-in row,
// a jump target) names something that exists, every instruction finds the
// items it takes above its frame on every path, and the stored positions
// that code resumes at are instruction starts. The interpreter trusts its
// code, so nothing unverified may run.
#pragma once

#include <array>
#include <cstdint>

#include "engine/core/context.h"

class CodeVerifier {
 public:
  // scratch: free words of the block the verifier may overwrite while it
  // lives (marks of block and instruction starts, a bit per code word each);
  // with too few it verifies the same way without marks, only more slowly.
  CodeVerifier(EngineContext* ctx, uint64_t* scratch, int64_t scratch_words);

  // Every compiled function of the code area. The function table must have
  // passed its own check (entries, code offsets and use-lists in range).
  bool verify_area();
  // After a refusal: true when a function was too long for the scratch
  // given, not found damaged (a larger scratch may let it pass).
  bool short_of_room() const { return short_of_room_; }

  // After verify_area: true when `offset` (code words from the code base) is
  // the start of an instruction that a verified function can reach.
  bool instruction_start(int64_t offset) const;

 private:
  // A function's header and the code words that can run: [from, reach).
  struct Span {
    const uint16_t* header;
    int64_t from, reach;
  };
  bool function(int32_t id, bool mark_pass);
  bool span_of(int32_t id, Span* fn) const;
  bool operands(int64_t at, const Span& fn, bool mark_pass) const;
  bool jump_target(int64_t target, const Span& fn, bool mark_pass) const;
  bool start_by_walk(int64_t target, const Span& fn) const;
  bool stack_heights(const Span& fn) const;
  int64_t block_end(int64_t start) const;
  bool symbol(int32_t s) const;
  void mark(uint64_t* bits, int64_t word) const;
  bool marked(const uint64_t* bits, int64_t word) const;

  EngineContext* c_;
  const uint16_t* code_;
  int64_t table_end_;  // first code word behind the function table
  int64_t free_;       // first free code word
  uint64_t* block_starts_ = nullptr;  // null: no room, blocks are found by scanning the table
  uint64_t* insn_starts_ = nullptr;   // instruction starts that code can reach
  // Record starts of the names code can reach: a name operand is a negative
  // 16-bit offset from the code area's end.
  static constexpr int kSymbolReach = 32768;
  std::array<uint64_t, kSymbolReach / 64 + 1> symbol_starts_{};
  int32_t* heights_ = nullptr;  // the fewest items above the frame, per code word of a function
  int64_t height_room_ = 0;
  mutable bool short_of_room_ = false;
  bool verified_ = false;
};
