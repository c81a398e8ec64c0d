-- The escape-time grid of 26 x 21 complex points, at most 80 iterations
-- each, computed 330 times over.
local w, h = 26, 21
local total = 0
for rep = 1, 330 do
  for r = 1, h do
    for c = 1, w do
      local cr = -2 + 2.5 * (c - 1) / (w - 1)
      local ci = -1.25 + 2.5 * (r - 1) / (h - 1)
      local zr, zi, k = 0.0, 0.0, 0
      while k < 80 and zr * zr + zi * zi <= 4 do
        zr, zi = zr * zr - zi * zi + cr, 2 * zr * zi + ci
        k = k + 1
      end
      total = total + k
    end
  end
end
print(string.format("%d", total))
