import numpy as np
r = np.random.default_rng(1)
x = r.standard_normal(2**20) + 1j * r.standard_normal(2**20)
for k in range(REPS): np.fft.fft(x)
