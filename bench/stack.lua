-- A table used as a stack: 20 rounds of 50000 pushes, then pops until it
-- is empty.
local s = 0
for k = 1, 20 do
  local v = {}
  for i = 0, 49999 do v[#v + 1] = i end
  while #v > 0 do s = s + table.remove(v) % 7 end
end
print(s)
