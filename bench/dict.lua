-- Dictionary: 400000 string keys stored, then each read back twice.
local d = {}
local n = 0
for i = 0, 399999 do d["k" .. i] = i; n = n + 1 end
local t = 0
for k = 1, 2 do
  for i = 0, 399999 do t = t + d["k" .. i] % 1000 end
end
print(t .. " " .. n)
