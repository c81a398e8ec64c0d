// The file dialogs of application code: `getfile` and `putfile` (rows of
// the host's table, bound there) over the process's file-dialog callback, and
// the filter they build from MIME types. Without a callback both answer "".
#pragma once

#include <cstdint>
#include <string>

#include "engine/core/context.h"

// The filter for the MIME types, one per line (control characters separate
// lines): "txt/html|*.txt;*.html|All files|*.*||" for text/plain and
// text/html, "|All files|*.*||" when no type is known.
std::string rt_file_filter(const char* types, int32_t length);
// The same filter in Qt's form: "txt/html (*.txt *.html);;All files (*)".
std::string rt_file_filter_qt(const std::string& filter);

int bi_getfile(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
int bi_putfile(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
