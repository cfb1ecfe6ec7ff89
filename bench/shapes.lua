-- Polymorphic sends: 1000 shapes of four classes, each asked for its area
-- and perimeter 2000 times; a fifth of them grow on every pass.
local Shape = {}
Shape.__index = Shape
function Shape:area() return 0 end
function Shape:perimeter() return 0 end
function Shape:grow() end

-- Sizes run from 1 to 13 and then start again at 1.
local Rect = setmetatable({}, Shape)
Rect.__index = Rect
function Rect.new(w, h) return setmetatable({ w = w, h = h }, Rect) end
function Rect:area() return self.w * self.h end
function Rect:perimeter() return 2 * (self.w + self.h) end
function Rect:grow() self.w = 1 + self.w % 13 end

local Square = setmetatable({}, Rect)
Square.__index = Square
function Square.new(s) return setmetatable({ w = s, h = s }, Square) end
function Square:grow() self.w = 1 + self.w % 13; self.h = self.w end

-- pi as 355/113, in integers.
local Circle = setmetatable({}, Shape)
Circle.__index = Circle
function Circle.new(r) return setmetatable({ r = r }, Circle) end
function Circle:area() return 355 * self.r * self.r // 113 end
function Circle:perimeter() return 710 * self.r // 113 end
function Circle:grow() self.r = 1 + self.r % 13 end

-- A right triangle with sides 3k, 4k, 5k.
local Triangle = setmetatable({}, Shape)
Triangle.__index = Triangle
function Triangle.new(k) return setmetatable({ k = k }, Triangle) end
function Triangle:area() return 6 * self.k * self.k end
function Triangle:perimeter() return 12 * self.k end
function Triangle:grow() self.k = 1 + self.k % 13 end

local n = 1000
local shapes = {}
for i = 0, n - 1 do
  local d = 1 + i % 13
  if i % 4 == 0 then shapes[i] = Rect.new(d, 1 + i % 7)
  elseif i % 4 == 1 then shapes[i] = Square.new(d)
  elseif i % 4 == 2 then shapes[i] = Circle.new(d)
  else shapes[i] = Triangle.new(d) end
end
local areas, perims = 0, 0
for pass = 0, 1999 do
  for i = 0, n - 1 do
    local s = shapes[i]
    areas = areas + s:area()
    perims = perims + s:perimeter()
    if (i + pass) % 5 == 0 then s:grow() end
  end
  areas = areas % 1000000007
  perims = perims % 1000000007
end
print(areas .. " " .. perims)
