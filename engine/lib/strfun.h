// The string intrinsics: character classes, case mapping, comparison, search,
// tokens and trimming of char arrays. A string argument is its characters in
// storage order; classes are fixed ASCII sets (a code above 255 is in none).
// Each replaces its arguments on the value stack by its outputs; on an error
// the arguments stay as they were.
#pragma once

#include "engine/core/context.h"

// Selectors.
enum : int {
  kCharLetter = 'l',  // isletter
  kCharDigit = 'd',   // isdigit
  kCharSpace = 's',   // isspace
  kCaseUpper = 'u',   // upper
  kCaseLower = 'l',   // lower
  kTrimTrailing = 0,  // deblank
  kTrimBoth = 1,      // strtrim
};

// isletter, isdigit, isspace: a logical array of the argument's shape. kWrongArgType for
// a non-char argument.
int bi_char_test(EngineContext* ctx, int cls);

// upper, lower: maps the ASCII letters in place; kWrongArgType for a non-char argument.
int bi_change_case(EngineContext* ctx, int which);

// strcmp(a, b [, n]) (ignore_case 0) and strcmpi (1): a logical scalar. n < 1
// answers true; with n only the first n characters count, and a string
// shorter than n equals only a string of its own length.
int bi_strcmp(EngineContext* ctx, int ignore_case, int nargin);

// findstr(s, pattern): a 1 x k row of the 1-based positions where pattern
// starts in s (overlapping); 0 x 0 when either is empty.
int bi_findstr(EngineContext* ctx);

// strmatch(str, list [, 'exact']): the index of the first row of a char
// matrix, or entry of a list or cell array, that begins with str (equals it
// with 'exact'); 0 when none. kWrongArgType, kWrongType (an entry not char), kUnknownOption (bad option).
int bi_strmatch(EngineContext* ctx, int nargin);

// deblank (kTrimTrailing) and strtrim (kTrimBoth): blanks, tabs, line ends
// and zero characters dropped; the result is a row built on the argument's
// own data.
int bi_deblank(EngineContext* ctx, int trim);

// [token, rest] = strtok(str [, delims]): the token on top; rest (from the
// delimiter that ended the token) below it when two outputs are asked for.
int bi_strtok(EngineContext* ctx, int nargin, int nargout);
