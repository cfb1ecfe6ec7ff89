-- Sieve of Eratosthenes: the primes below 3 million.
local function sieve(n)
  local composite = {}
  for i = 0, n - 1 do composite[i] = false end
  local i = 2
  while i * i < n do
    if not composite[i] then
      for j = i * i, n - 1, i do composite[j] = true end
    end
    i = i + 1
  end
  local count = 0
  for i = 2, n - 1 do
    if not composite[i] then count = count + 1 end
  end
  return count
end
print(sieve(3000000))
