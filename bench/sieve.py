# Sieve of Eratosthenes: the primes below 3 million.
def sieve(n):
    composite = [False] * n
    i = 2
    while i * i < n:
        if not composite[i]:
            for j in range(i * i, n, i):
                composite[j] = True
        i += 1
    count = 0
    for i in range(2, n):
        if not composite[i]:
            count += 1
    return count
print(sieve(3000000))
