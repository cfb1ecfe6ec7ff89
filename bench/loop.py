# A counted loop of 25 million additions (32-bit wrap like mox).
s = 0
i = 0
while i < 25000000:
    s = (s + i) & 0xFFFFFFFF
    i += 1
print(s - (1 << 32) if s >= (1 << 31) else s)
