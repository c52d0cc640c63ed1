def fib(n):
    if n < 2:
        return n
    return fib(n - 1) + fib(n - 2)
r = fib(27)
assert r == 196418
print(r)
