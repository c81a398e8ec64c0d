// Large pages for the engine's block: where the system hands them out on
// request, the heap (less a few megabytes at each end) is asked for in large
// pages, so that a script storing values of tens of megabytes does not spend
// a large share of its time taking page faults and missing the TLB.
#pragma once

#include <cstdint>

// Advises the heap of the engine block at `block` (`size` bytes, laid out as
// engine_init lays it out). Start-up touches only the heap's ends, which stay
// in small pages. Returns the number of bytes advised (0 where the system
// declines: nothing else changes).
uint64_t block_advise_large_pages(void* block, uint32_t size);
