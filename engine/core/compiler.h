// The compiler from ZVR source text to engine code: one function (with its
// header) or one block of top-level code per call, and the two rewriting
// passes that improve fresh code in place. Compilation allocates nothing: its
// statement list lives in the free space of the data stack and its code is
// written straight into the caller's buffer.
#pragma once

#include <cstdint>

#include "engine/core/compile_links.h"
#include "engine/core/context.h"

// Compiles text into code (capacity words) and sets *code_words. function_id
// is the function being compiled (its header is written first), -2 for an
// inline function, -1 for top-level code run in the current workspace; for
// top-level code *values receives the number of values the code leaves.
// flags: kCompile... (compile_links.h). On error the status is raised with its
// arguments and the line of the failing statement, and returned.
int compile_source(EngineContext* ctx, int32_t library, const char* text, int32_t length, uint16_t* code,
                   int64_t capacity, int64_t* code_words, int32_t function_id, uint32_t flags, int32_t* values);

// The end of the logical line of source text that begins at text: after the
// line end that ends it, the lines that "..." continuations and block
// comments join to it included (length when the text ends first). Strings
// and comments are read as the compiler reads them: "..." inside a string or
// a line comment continues nothing.
int32_t source_logical_line_end(const char* text, int32_t length);

// Folds constants in the code of one expression, code[start, *end), repeating
// passes until nothing changes; *end shrinks when code is removed. code[0]
// lies on an 8-byte boundary: 8-byte literals are kept aligned to it.
void code_simplify_expression(uint16_t* code, int64_t start, int64_t* end);

// Threads jumps (and with fold_loops removes empty loops over constant
// ranges) in code[0, length), repeating passes until nothing changes. Code
// never moves.
void code_peephole_optimise(uint16_t* code, int64_t length, bool fold_loops);

// True when the code is exactly the constant true (push_one, or `true` with no
// arguments) or false (push_zero, or `false` with no arguments).
bool code_is_bool_constant(const uint16_t* code, int64_t length, bool which);

// True when every instruction of the range only produces values.
bool code_all_flagged(const uint16_t* code, int64_t length);
// True when the range reads by index (instructions 100 or 109): such a read
// calls the function value it meets, so it is more than a value.
bool code_reads_by_index(const uint16_t* code, int64_t length);

// Makes compile_source the compiler that the function loader calls.
void compiler_install();
