# A list used as a stack: 20 rounds of 50000 appends, then pops until it
# is empty.
def main():
    s = 0
    for k in range(20):
        v = []
        for i in range(50000):
            v.append(i)
        while len(v) > 0:
            s = s + v.pop() % 7
    print(s)
main()
