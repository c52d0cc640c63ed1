import functools
xs = []
seed = 42
for i in range(20000):
    seed = (seed * 1103515245 + 12345) % 2147483648
    xs.append(seed % 100000)
ys = sorted(xs, key=functools.cmp_to_key(lambda a, b: -1 if a > b else (1 if b > a else 0)))
for i in range(1, len(ys)):
    assert ys[i - 1] >= ys[i]
print(ys[0], ys[-1])
