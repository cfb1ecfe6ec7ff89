# Spectral norm of a 350 x 350 matrix, 10 power iterations.
from math import sqrt
def a(i, j):
    return 1.0 / ((i + j) * (i + j + 1) // 2 + i + 1)
def mulav(n, v, av):
    for i in range(n):
        s = 0.0
        for j in range(n):
            s = s + a(i, j) * v[j]
        av[i] = s
def mulatv(n, v, atv):
    for i in range(n):
        s = 0.0
        for j in range(n):
            s = s + a(j, i) * v[j]
        atv[i] = s
def mulatav(n, v, out, tmp):
    mulav(n, v, tmp)
    mulatv(n, tmp, out)
n = 350
u = [1.0] * n; v = [0.0] * n; tmp = [0.0] * n
for i in range(10):
    mulatav(n, u, v, tmp)
    mulatav(n, v, u, tmp)
vbv = 0.0; vv = 0.0
for i in range(n):
    vbv = vbv + u[i] * v[i]; vv = vv + v[i] * v[i]
print("%f" % sqrt(vbv / vv))
