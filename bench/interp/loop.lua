-- A scalar loop of 500,000 iterations.
local s = 0.0
for k = 1, 500000 do
  s = s + 1.0 / (k * k)
end
print(string.format("%.10f", s))
