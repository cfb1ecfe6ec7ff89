# Fannkuch: every permutation of 9 items, counting prefix reversals.
def main():
    n = 9
    perm = [0] * (n + 1); perm1 = list(range(n)) + [0]; count = [0] * (n + 1)
    maxf = 0; checksum = 0; r = n; nperm = 0; sign = 1
    while True:
        while r != 1:
            count[r - 1] = r
            r -= 1
        for i in range(n):
            perm[i] = perm1[i]
        flips = 0
        k = perm[0]
        while k != 0:
            i = 0; j = k
            while i < j:
                t = perm[i]; perm[i] = perm[j]; perm[j] = t
                i += 1; j -= 1
            flips += 1
            k = perm[0]
        if flips > maxf:
            maxf = flips
        checksum = checksum + sign * flips
        sign = -sign
        nperm += 1
        while True:
            if r == n:
                print(checksum, maxf, nperm)
                return
            p0 = perm1[0]
            for i in range(r):
                perm1[i] = perm1[i + 1]
            perm1[r] = p0
            count[r] = count[r] - 1
            if count[r] > 0:
                break
            r += 1
main()
