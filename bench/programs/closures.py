def makeCounter():
    n = 0
    def f():
        nonlocal n
        n = n + 1
        return n
    return f
s = 0
for i in range(1, 20001):
    c = makeCounter()
    for k in range(20):
        c()
    s = s + c()
assert s == 420000
print(s)
