import numpy as np
a = np.random.default_rng(1).standard_normal((500, 500))
for k in range(REPS): np.linalg.svd(a)
