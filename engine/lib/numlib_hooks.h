// Installation of the engine operations the numerical library's matrix
// operators call back into (elementwise arithmetic, the complex scalar power,
// the matrix product).
#pragma once

// Stores arith_elementwise_binary, arith_complex_power, bi_mtimes and the
// registered built-in lookup in the numerical library's hook record. The engine's start-up calls it once, before the first
// operator runs (until then the matrix divisions and the matrix power answer
// 1000 on the paths that need these operations). Calling it again is harmless.
void engine_ops_install();
