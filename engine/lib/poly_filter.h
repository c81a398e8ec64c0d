// Polynomials and sampled signals: conv, deconv, filter, addpol and conv2,
// intrinsics called through their opcodes. They work on the stack data
// directly (results accumulate into one zero-filled item, deconv divides in
// its numerator's storage); every room test comes before the first change.
#pragma once

#include <span>

#include "engine/core/context.h"
#include "engine/lib/array_intrinsics.h"

int bi_conv(EngineContext* ctx, int nargin);
int bi_deconv(EngineContext* ctx, int nargout);
int bi_filter(EngineContext* ctx, int nargin, int nargout);
int bi_addpol(EngineContext* ctx);
int bi_conv2(EngineContext* ctx, int nargin);

// The opcode rows of the five, for the start-up that installs handlers.
std::span<const ArrayIntrinsic> poly_filter_intrinsics();
