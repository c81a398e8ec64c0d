// Option structures: a library describes its options once, as a static
// template of OptionDesc rows; from it the engine builds options structures
// with defaults, updates them from name and value pairs, and reads single
// options back with the template's defaults filling what a structure lacks.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Kinds of option values and where their defaults come from.
enum OptionType : uint32_t {
  kOptReal = 0,        // real scalar: num[0]
  kOptRow2 = 1,        // real rows of 2, 3, 4 elements: num[0..]
  kOptRow3 = 2,
  kOptRow4 = 3,
  kOptLogical = 4,     // logical scalar: num[0] truncated, non-zero is true
  kOptEmpty = 5,       // empty matrix
  kOptEmptyList = 6,   // empty list
  kOptChars0 = 7,      // char rows of 0 to 4 characters, one per double
  kOptChars4 = 11,
  kOptText = 12,       // char row: the zero-terminated text (empty when null)
  kOptEnd = 13,        // ends the template
};

constexpr int kOptionNameBytes = 16;
constexpr int kOptionDefaultDoubles = 4;
constexpr uint32_t kOptionHidden = 1;  // low byte of `hidden`: not put in a new structure

// One row of a template. The saved record is 56 bytes with a 32-bit text
// pointer; in memory the pointer shares the first default double, so the
// record keeps its size here too.
struct OptionDesc {
  char name[kOptionNameBytes];  // zero-padded; compared exactly
  uint32_t type;
  uint32_t hidden;
  union {
    double num[kOptionDefaultDoubles];
    const char* text;
  } def;
};
static_assert(sizeof(OptionDesc) == 56);

// Row makers for templates.
constexpr OptionDesc opt_row(const char* name, uint32_t type, double d0 = 0, double d1 = 0,
                             double d2 = 0, double d3 = 0, uint32_t hidden = 0) {
  OptionDesc o{};
  for (int i = 0; i < kOptionNameBytes && name[i]; ++i) o.name[i] = name[i];
  o.type = type;
  o.hidden = hidden;
  o.def.num[0] = d0;
  o.def.num[1] = d1;
  o.def.num[2] = d2;
  o.def.num[3] = d3;
  return o;
}
constexpr OptionDesc opt_text_row(const char* name, const char* text, uint32_t hidden = 0) {
  OptionDesc o{};
  for (int i = 0; i < kOptionNameBytes && name[i]; ++i) o.name[i] = name[i];
  o.type = kOptText;
  o.hidden = hidden;
  o.def.text = text;
  return o;
}
constexpr OptionDesc opt_end_row() { return opt_row("", kOptEnd); }

// Templates of the engine's option-setting built-ins.
extern const OptionDesc kOdesetOptions[];
extern const OptionDesc kOptimsetOptions[];
extern const OptionDesc kThreadsetOptions[];

// Row index of an option (length -1: zero-terminated), -1 when absent.
int opt_find(const OptionDesc* tmpl, const char* name, int32_t length);

// The body of every option-setting built-in: with an even nargin a new
// structure of the visible options' defaults, with an odd one the structure
// given first, updated by the name and value pairs; it replaces the arguments.
int opt_make_struct(EngineContext* ctx, int nargin, const OptionDesc* tmpl);

// Pushes the value of an option: the field of the options argument at depth
// when it has one that is not the empty double matrix, else the default.
int opt_read_struct(EngineContext* ctx, int depth, const char* name, const OptionDesc* tmpl);

// Pops the top item as a number: empty gives the default, 1 x 1 its value.
int stk_pop_scalar_or_default(EngineContext* ctx, double def, double* out);

int opt_get_number(EngineContext* ctx, int depth, const char* name, const OptionDesc* tmpl,
                   double def, double* out);
int opt_get_bool(EngineContext* ctx, int depth, const char* name, const OptionDesc* tmpl,
                 uint8_t def, uint8_t* out);

// A built-in row's function for option setters: the row's data word holds the
// template.
int bi_option_set(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
