# String building and indexing: 200 strings of 10000 characters, each built
# one character at a time, then read back character by character.
t = 0
for r in range(200):
    s = ""
    for i in range(10000):
        s += chr(97 + (i + r) % 26)
    i = 0
    while i < len(s):
        t = t + ord(s[i]) * (i % 7)
        i += 1
    t = t + s.find("xyz")
print(t)
