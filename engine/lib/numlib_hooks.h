// Installation of the engine operations the numerical library's built-ins
// call back into (elementwise arithmetic, the array intrinsics the quaternion
// class applies per component, the display format).
#pragma once

// Stores the engine operations in the numerical library's hook record. The
// engine's start-up calls it once, before the first built-in runs (until then
// the paths that need them answer kNotSupported). Calling it again is harmless.
void engine_ops_install();
