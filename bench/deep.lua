-- Linear recursion 1000 deep: a function and a method, each called all the
-- way down and back 3000 times.
local function down(n) if n < 2 then return n end return down(n - 1) + 1 end
local Walker = {}
Walker.__index = Walker
function Walker.new(s) return setmetatable({step = s}, Walker) end
function Walker:depth(n) if n < 2 then return self.step end return self:depth(n - 1) + self.step end
local w = Walker.new(1)
local s = 0
for i = 0, 2999 do s = s + down(1000) + w:depth(1000) end
print(s)
