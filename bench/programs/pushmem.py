xs = []
for i in range(5000000):
    xs.append(i)
assert len(xs) == 5000000 and xs[4999999] == 4999999
print(len(xs), xs[2500000])
