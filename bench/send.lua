local C = {}
C.__index = C
function C.new() return setmetatable({n = 0}, C) end
function C:inc() self.n = self.n + 1 return self.n end
local c = C.new()
for i = 1, 1000000 do c:inc() end
print(c:inc() - 1)
