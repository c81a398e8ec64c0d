-- A scalar series of 13 million terms.
local s = 0.0
for k = 1, 13000000 do
  s = s + 1.0 / (k * k)
end
print(string.format("%.10f", s))
