# Dictionary: 400000 string keys stored, then each read back twice.
d = {}
for i in range(400000):
    d["k" + str(i)] = i
t = 0
for k in range(2):
    for i in range(400000):
        t = t + d["k" + str(i)] % 1000
print(t, len(d))
