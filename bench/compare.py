# String tests in a loop: 300000 passes over nine words, each compared
# with two literals.
def main():
    v = ["the", "quick", "brown", "fox", "jumps", "over", "the", "lazy", "dog"]
    n = 0
    for k in range(300000):
        for i in range(9):
            if v[i] == "the" or v[i] < "fox":
                n += 1
    print(n)
main()
