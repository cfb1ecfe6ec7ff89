-- String building and indexing: 200 strings of 10000 characters, each built
-- one character at a time, then read back character by character.
local t = 0
for r = 0, 199 do
  local s = ""
  for i = 0, 9999 do s = s .. string.char(97 + (i + r) % 26) end
  for i = 0, #s - 1 do t = t + s:byte(i + 1) * (i % 7) end
  local p = string.find(s, "xyz", 1, true)
  t = t + (p and p - 1 or -1)
end
print(t)
