// SHA-1 compression of whole blocks with the processor's SHA extensions, and
// the test for them. Used by sha1_update for the bulk of a stream; the
// portable sha1_transform stays the model every block must agree with.
#pragma once

#include <cstdint>

// True when the processor has the SHA, SSSE3 and SSE4.1 instructions (asked
// once; the answer does not change while the program runs).
bool sha1_blocks_hw_available();

// Compresses `blocks` 64-byte blocks into state, exactly as `blocks` calls of
// sha1_transform would. Only to be called when sha1_blocks_hw_available().
void sha1_blocks_hw(uint32_t* state, const uint8_t* data, uint64_t blocks);
