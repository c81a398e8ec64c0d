// Every built-in a test can call by opcode: the intrinsics that have a
// handler of their own, then the callable rows of the registered tables in
// search order (no markers, hooks, class methods or placeholders), each with
// its input and output counts (kArgsAny: any).
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "engine/core/interp.h"
#include "engine/core/opcodes.h"
#include "engine/lib/builtin_tables.h"

struct BuiltinTarget {
  std::string name;
  int32_t opcode;
  int min_in, max_in, min_out, max_out;
  bool fixed_out;  // an intrinsic whose output count is fixed
};

inline std::vector<BuiltinTarget> builtin_targets(EngineContext* c, const std::set<std::string>& left_out) {
  std::vector<BuiltinTarget> out;
  auto count = [](int max) { return max < 0 || (max & kArgsAny) ? int(kArgsAny) : max; };
  for (int i = 0; kIntrinsicTable[i].opcode != kIntrinsicEndOpcode; ++i) {
    const IntrinsicEntry& e = kIntrinsicTable[i];
    if (e.opcode >= uint32_t(kEngineOpcodeCount) || left_out.count(e.name)) continue;
    if (!interp_op_registered(e.opcode)) continue;
    out.push_back({e.name, int32_t(e.opcode), argc_min(e.in_args), count(argc_max(e.in_args)), argc_min(e.out_args),
                   count(argc_max(e.out_args)), !argc_is_variable(e.out_args)});
  }
  const LibraryTableRef* refs = table_refs(c);
  int32_t k = 0;
  for (int32_t t = 0; t < c->table_count; ++t) {
    for (int32_t i = 0; i < refs[t].rows; ++i, ++k) {
      const BuiltinEntry& r = refs[t].table[i];
      if (!r.fn || r.name[0] == '@' || r.name[0] == '!' || r.name[0] == '+') continue;
      // Methods of a library class are reached through an object of the class.
      if (r.class_word > 0) continue;
      if (builtin_is_placeholder(&r) || left_out.count(r.name)) continue;
      out.push_back({r.name, int32_t(kFirstLibraryOpcode + k), r.min_in, count(r.max_in), r.min_out,
                     count(r.max_out), false});
    }
  }
  return out;
}
