n = 200000
m = {}
for i in range(n):
    m["k" + str(i)] = i
assert len(m) == n
total = 0
for i in range(n):
    total = total + m["k" + str(i)]
assert total == 19999900000
for i in range(0, n, 2):
    del m["k" + str(i)]
count = 0
rest = 0
for k in m:
    count = count + 1
    rest = rest + m[k]
assert count == 100000 and rest == 10000000000
print(total, count, rest)
