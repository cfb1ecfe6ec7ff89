# Vector element reads and writes: 4000 passes over 1000 elements.
v = list(range(1000))
s = 0
for j in range(4000):
    for i in range(1, 1000):
        v[i] = v[i - 1] + 1
        s = s + v[i]
print(s)
