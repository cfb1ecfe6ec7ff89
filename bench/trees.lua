-- Binary trees: complete trees of depth 4 to 14 built and walked, many
-- shallow ones and few deep ones, plus one long-lived tree.
local function make(d)
  if d == 0 then return { false, false } end
  return { make(d - 1), make(d - 1) }
end
local function check(n)
  if not n[1] then return 1 end
  return 1 + check(n[1]) + check(n[2])
end
local maxd = 14
local long = make(maxd)
local t = 0
for d = 4, maxd, 2 do
  local n = 1 << (maxd - d + 4)
  for i = 1, n do t = t + check(make(d)) end
end
print(t .. " " .. check(long))
