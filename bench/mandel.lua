-- Mandelbrot set: the points of a 700 x 700 grid still bounded after 50
-- iterations.
local w, h, limit = 700, 700, 50
local inside = 0
for y = 0, h - 1 do
  local ci = 2.0 * y / h - 1.0
  for x = 0, w - 1 do
    local cr = 3.0 * x / w - 2.0
    local zr, zi = 0.0, 0.0
    local k = 0
    while k < limit and zr * zr + zi * zi <= 4.0 do
      local tr = zr * zr - zi * zi + cr
      zi = 2.0 * zr * zi + ci
      zr = tr
      k = k + 1
    end
    if k == limit then inside = inside + 1 end
  end
end
print(inside)
