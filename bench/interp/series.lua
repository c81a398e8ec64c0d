-- A scalar series of 5 million terms.
local s = 0.0
for k = 1, 5000000 do
  s = s + 1.0 / (k * k)
end
print(string.format("%.10f", s))
