// The discrete Fourier transform built-ins fft, ifft, fft2, ifft2, fftn and
// ifftn over numk_fft. Their arguments stay untouched until the result stands:
// the (resized) input is copied into the result and scratch, then transformed.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// fft(x[, n[, dim]]) and ifft; data 'f' forward, 'i' inverse.
int bi_fft(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
// fft2(x[, siz]) or fft2(x, m, n), and ifft2; data '2' forward, 'I' inverse.
int bi_fft2(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
// fftn(x[, siz]) and ifftn; data 'f' forward, 'i' inverse.
int bi_fftn(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
