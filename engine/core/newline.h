// End-of-line modes, shared by the stream layer (the mode byte of a "+write"
// row) and the export of 16-bit text to bytes. One definition, so both
// headers can be included together.
#pragma once

#include <cstdint>

enum : uint8_t {
  kNewlineCR = 0,
  kNewlineLF = 1,
  kNewlineCRLF = 2,
};
