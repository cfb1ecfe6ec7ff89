s = 0
for i in range(10000000):
    s = s + i
print(s)
