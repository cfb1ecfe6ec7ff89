-- Vector element reads and writes: 4000 passes over 1000 elements.
local v = {}
for i = 0, 999 do v[i] = i end
local s = 0
for j = 1, 4000 do
  for i = 1, 999 do v[i] = v[i - 1] + 1; s = s + v[i] end
end
print(s)
