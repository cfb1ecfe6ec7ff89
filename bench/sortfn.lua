-- 200000 pseudo-random integers sorted by table.sort with a comparison
-- written in the script.
local n = 200000
local v = {}
local seed = 42
for i = 1, n do
  seed = 16807 * (seed % 127773) - 2836 * (seed // 127773)
  if seed <= 0 then seed = seed + 2147483647 end
  v[i] = seed % 1000000
end
table.sort(v, function(a, b) return a < b end)
local bad = 0
for i = 2, n do if v[i - 1] > v[i] then bad = bad + 1 end end
print(v[1] .. " " .. v[n // 2 + 1] .. " " .. v[n] .. " " .. bad)
