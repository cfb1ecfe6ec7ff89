-- Five million method sends.
local Acc = {}
Acc.__index = Acc
function Acc.new() return setmetatable({ total = 0 }, Acc) end
function Acc:add(x) self.total = self.total + x return self.total end
local a = Acc.new()
for i = 1, 5000000 do a:add(1) end
print(a:add(0))
