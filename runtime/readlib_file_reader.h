// The reader of library and help files along the library path: regular files
// read whole, with a fallback to the one directory entry whose name matches
// ignoring ASCII case (the file systems applications were written on ignore case).
#pragma once

#include <cstdint>

// 0 when the whole file is in buffer and *length set; kFileNotFound when no
// such regular file exists or it does not fit; the scheme flag is not used.
int readlib_file_reader(const char* candidate, int scheme_flag, char* buffer, int32_t size,
                        int32_t* length);
