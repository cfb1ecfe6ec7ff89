-- String tests in a loop: 300000 passes over nine words, each compared
-- with two literals.
local v = {"the", "quick", "brown", "fox", "jumps", "over", "the", "lazy", "dog"}
local n = 0
for k = 1, 300000 do
  for i = 1, 9 do
    if v[i] == "the" or v[i] < "fox" then n = n + 1 end
  end
end
print(n)
