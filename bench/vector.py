v = list(range(1000))
s = 0
for j in range(1000):
    for i in range(1000):
        v[i] = v[i] + 1
        s = s + v[i]
s &= 0xFFFFFFFF
if s >= 0x80000000:
    s -= 0x100000000
print(s)
