-- A counted loop of 25 million additions (32-bit wrap like mox).
local s = 0
for i = 0, 24999999 do s = (s + i) & 0xFFFFFFFF end
if s >= 0x80000000 then s = s - 0x100000000 end
print(s)
