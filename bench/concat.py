# Building a string by 50000 repeated concatenations.
s = ""
for i in range(50000):
    s = s + "x"
print(len(s))
