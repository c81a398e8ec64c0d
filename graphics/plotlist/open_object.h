// The opening record of a graphical object in a display list: {69, -1, -1,
// 0, 0, 1, s} for subplot s. Everything after it up to the next opening
// record (or the end of the list) belongs to that subplot's object.
#pragma once

#include <cstdint>

constexpr double kRecordOpenObject = 69;
constexpr int32_t kOpenObjectDoubles = 7;

// Appends the opening record of subplot s at data[*used] when it fits the
// capacity (in doubles) and advances *used; false, nothing written, when it
// does not (the command then answers 10001).
bool plotlist_open_object(double* data, int32_t capacity, int32_t* used, int32_t s);
