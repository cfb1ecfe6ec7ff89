# Quicksort of 500000 pseudo-random integers from a Park-Miller generator.
def quicksort(v, lo, hi):
    while lo < hi:
        p = v[(lo + hi) // 2]
        i = lo
        j = hi
        while i <= j:
            while v[i] < p:
                i += 1
            while v[j] > p:
                j -= 1
            if i <= j:
                v[i], v[j] = v[j], v[i]
                i += 1
                j -= 1
        # Recurse into the smaller part, loop on the larger one.
        if j - lo < hi - i:
            quicksort(v, lo, j)
            lo = i
        else:
            quicksort(v, i, hi)
            hi = j
def main():
    n = 500000
    v = [0] * n
    seed = 42
    for i in range(n):
        # seed * 16807 mod (2^31 - 1) without overflow (Schrage's method).
        seed = 16807 * (seed % 127773) - 2836 * (seed // 127773)
        if seed <= 0:
            seed += 2147483647
        v[i] = seed
    quicksort(v, 0, n - 1)
    check = 0
    bad = 0
    for i in range(n):
        if i > 0 and v[i - 1] > v[i]:
            bad += 1
        check = (check + v[i] % 1000 * (i % 1000)) % 1000000
    print(v[0], v[n // 2], v[n - 1], check, bad)
main()
