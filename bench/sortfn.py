# 200000 pseudo-random integers sorted by list.sort with a comparison
# written in the script.
import functools
def by_value(a, b):
    return a - b
def main():
    n = 200000
    v = []
    seed = 42
    for i in range(n):
        seed = 16807 * (seed % 127773) - 2836 * (seed // 127773)
        if seed <= 0:
            seed = seed + 2147483647
        v.append(seed % 1000000)
    v.sort(key=functools.cmp_to_key(by_value))
    bad = 0
    for i in range(1, n):
        if v[i - 1] > v[i]:
            bad += 1
    print(v[0], v[n // 2], v[n - 1], bad)
main()
