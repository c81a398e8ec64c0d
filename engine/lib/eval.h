// eval: text compiled in the calling code's workspace and run there.
#pragma once

#include "engine/core/context.h"

// The char array on top is compiled as top-level code of the current
// workspace, in the calling function's library, and the position set to it:
// the loop then runs it above a frame of its own, which keeps exactly
// nargout of the values the text leaves (kTooManyOutputs when it leaves fewer). In
// statement context (nargout < 0) a "no value" item stands for the result
// and the text runs with the ans convention where the workspace has one.
// kWrongArgType for anything but a char array, kDataStackOverflow when the text does not fit.
int bi_eval(EngineContext* ctx, int nargout);
