local v = {}
for i = 1, 1000 do v[i] = i - 1 end
local s = 0
for j = 1, 1000 do
  for i = 1, 1000 do v[i] = v[i] + 1; s = (s + v[i]) & 0xFFFFFFFF end
end
if s >= 0x80000000 then s = s - 0x100000000 end
print(s)
