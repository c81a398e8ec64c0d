import numpy as np
r = np.random.default_rng(1)
x = r.standard_normal(2**16) + 1j * r.standard_normal(2**16)
for k in range(REPS): np.fft.fft(x)
