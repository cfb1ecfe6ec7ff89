-- Spectral norm of a 350 x 350 matrix, 10 power iterations.
local function a(i, j) return 1.0 / ((i + j) * (i + j + 1) // 2 + i + 1) end
local function mulav(n, v, av)
  for i = 0, n - 1 do
    local s = 0.0
    for j = 0, n - 1 do s = s + a(i, j) * v[j] end
    av[i] = s
  end
end
local function mulatv(n, v, atv)
  for i = 0, n - 1 do
    local s = 0.0
    for j = 0, n - 1 do s = s + a(j, i) * v[j] end
    atv[i] = s
  end
end
local function mulatav(n, v, out, tmp) mulav(n, v, tmp); mulatv(n, tmp, out) end
local n = 350
local u, v, tmp = {}, {}, {}
for i = 0, n - 1 do u[i] = 1.0; v[i] = 0.0; tmp[i] = 0.0 end
for i = 1, 10 do mulatav(n, u, v, tmp); mulatav(n, v, u, tmp) end
local vbv, vv = 0.0, 0.0
for i = 0, n - 1 do vbv = vbv + u[i] * v[i]; vv = vv + v[i] * v[i] end
print(string.format("%f", math.sqrt(vbv / vv)))
