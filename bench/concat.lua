-- Building a string by 50000 repeated concatenations.
local s = ""
for i = 1, 50000 do s = s .. "x" end
print(#s)
