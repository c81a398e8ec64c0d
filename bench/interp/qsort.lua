-- Recursive quicksort of 5,000 pseudo-random numbers (the same generator).
local floor = math.floor
local function qsort(a, lo, hi)
  while lo < hi do
    local p = a[floor((lo + hi) / 2)]
    local i, j = lo, hi
    while i <= j do
      while a[i] < p do i = i + 1 end
      while a[j] > p do j = j - 1 end
      if i <= j then
        a[i], a[j] = a[j], a[i]
        i = i + 1
        j = j - 1
      end
    end
    if j - lo < hi - i then
      qsort(a, lo, j)
      lo = i
    else
      qsort(a, i, hi)
      hi = j
    end
  end
  return a
end
local n = 5000
local a = {}
local x = 12345.0
for k = 1, n do
  x = (x * 1103515245 + 12345) % 2147483648
  a[k] = x / 2147483648
end
qsort(a, 1, n)
local bad = 0
for k = 2, n do
  if a[k - 1] > a[k] then bad = bad + 1 end
end
print(string.format("%d %.12f %.12f", bad, a[1], a[n]))
