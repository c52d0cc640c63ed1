N = 9


def fannkuch(n):
    perm = [0] * n
    perm1 = list(range(n))
    count = [0] * n
    max_flips = 0
    checksum = 0
    perm_count = 0
    r = n
    while True:
        while r != 1:
            count[r - 1] = r
            r = r - 1
        for i in range(n):
            perm[i] = perm1[i]
        flips = 0
        k = perm[0]
        while k != 0:
            i = 0
            j = k
            while i < j:
                perm[i], perm[j] = perm[j], perm[i]
                i = i + 1
                j = j - 1
            flips = flips + 1
            k = perm[0]
        if flips > max_flips:
            max_flips = flips
        if perm_count % 2 == 0:
            checksum = checksum + flips
        else:
            checksum = checksum - flips
        while True:
            if r == n:
                return checksum, max_flips
            perm0 = perm1[0]
            for i in range(r):
                perm1[i] = perm1[i + 1]
            perm1[r] = perm0
            count[r] = count[r] - 1
            if count[r] > 0:
                break
            r = r + 1
        perm_count = perm_count + 1


checksum, max_flips = fannkuch(N)
assert checksum == 8629 and max_flips == 30
print(checksum, max_flips)
