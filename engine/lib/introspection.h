// Questions a program asks the engine about itself: which, isglobal,
// iskeyword, hasfeature, and info's version banner and kinds.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

int bi_which(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_isglobal(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_iskeyword(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
// data: the feature list, names separated by line feeds (zero-terminated).
int bi_hasfeature(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_info(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
