// Where the program image ends in a program file: what an application
// appended behind it starts after. Read from the file's own ELF headers,
// every field bounded by the file's size.
#pragma once

#include <cstdint>
#include <cstdio>

// The largest end of the ELF file's headers, section contents (all but
// those that take no room in the file) and segments; -1 when the file is no
// little-endian ELF file, a header does not fit in it, or a piece claims
// more than the file holds. The file position is left anywhere.
int64_t program_image_end(std::FILE* file, int64_t size);
