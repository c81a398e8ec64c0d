-- Nested loops of 24,000 x 1000 iterations summing i * j.
local s = 0.0
for i = 1, 24000 do
  for j = 1, 1000 do
    s = s + i * j
  end
end
print(string.format("%.0f", s))
