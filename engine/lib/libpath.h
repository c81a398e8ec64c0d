// The library search path: one process-wide list of places where library
// sources are looked for, the search along it, the "+readlib" hook that the
// loader calls, and the path built-in that shows and sets the list.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

constexpr int32_t kLibPathBytes = 1024;     // the buffer, its terminating zero included
constexpr int32_t kCandidateLimit = 254;    // longest candidate file name
constexpr int32_t kCandidateBytes = kCandidateLimit + 2;

// Reads one candidate file: 0 when the whole file is in buffer (length set),
// anything else to go on with the next candidate. scheme_flag is 1 when the
// name begins with two or more letters and ":".
using LibPathReader = int (*)(const char* candidate, int scheme_flag, char* buffer, int32_t size,
                              int32_t* length);

// The path text: entries, each ended by ";".
const char* libpath_text();
// Sets the path to p1 (and p2), each ended by ";" when it is not already;
// kObjectTooLarge when the text does not fit (the path is then unchanged).
int libpath_set(const char* p1, int32_t n1, const char* p2, int32_t n2);

// Tries the referring file's directory (when given), then each entry of the
// path; the first candidate the reader accepts ends the search with 0, its
// name left in `found` (kCandidateBytes, may be null) and its scheme flag in
// *scheme. kFileNotFound when nothing is read or there is no reader.
int libpath_find_file(const char* name, const char* extension, const char* referring, char* found,
                      LibPathReader reader, char* buffer, int32_t size, int32_t* length, int* scheme);

// The "+readlib" hook (the loader's call form); its data word is the reader.
int libpath_readlib_hook(EngineContext* ctx, const char* name, const char* extension, uint32_t flags,
                         char* buffer, int32_t capacity, int32_t* length, int32_t* first_line,
                         uint8_t* found, uintptr_t data);

// path, path(p), path(p1, p2).
int bi_path(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
