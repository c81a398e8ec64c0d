-- Recursive calls: fib(30) makes 2,692,537 calls.
local function fib(n)
  if n < 2 then return n end
  return fib(n - 1) + fib(n - 2)
end
print(fib(30))
