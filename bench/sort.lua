-- Quicksort of 500000 pseudo-random integers from a Park-Miller generator.
local function quicksort(v, lo, hi)
  while lo < hi do
    local p = v[(lo + hi) // 2]
    local i, j = lo, hi
    while i <= j do
      while v[i] < p do i = i + 1 end
      while v[j] > p do j = j - 1 end
      if i <= j then
        v[i], v[j] = v[j], v[i]
        i = i + 1; j = j - 1
      end
    end
    -- Recurse into the smaller part, loop on the larger one.
    if j - lo < hi - i then quicksort(v, lo, j); lo = i
    else quicksort(v, i, hi); hi = j end
  end
end
local n = 500000
local v = {}
local seed = 42
for i = 0, n - 1 do
  -- seed * 16807 mod (2^31 - 1) without overflow (Schrage's method).
  seed = 16807 * (seed % 127773) - 2836 * (seed // 127773)
  if seed <= 0 then seed = seed + 2147483647 end
  v[i] = seed
end
quicksort(v, 0, n - 1)
local check, bad = 0, 0
for i = 0, n - 1 do
  if i > 0 and v[i - 1] > v[i] then bad = bad + 1 end
  check = (check + v[i] % 1000 * (i % 1000)) % 1000000
end
print(v[0] .. " " .. v[n // 2] .. " " .. v[n - 1] .. " " .. check .. " " .. bad)
