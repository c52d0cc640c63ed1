MAX_DEPTH = 15
MIN_DEPTH = 4


def make(depth):
    if depth == 0:
        return [None, None]
    return [make(depth - 1), make(depth - 1)]


def check(node):
    if node[0] is None:
        return 1
    return 1 + check(node[0]) + check(node[1])


stretch = check(make(MAX_DEPTH + 1))
assert stretch == 2 ** (MAX_DEPTH + 2) - 1
print(stretch)

long_lived = make(MAX_DEPTH)
depth = MIN_DEPTH
while depth <= MAX_DEPTH:
    iterations = 2 ** (MAX_DEPTH - depth + MIN_DEPTH)
    total = 0
    for i in range(iterations):
        total = total + check(make(depth))
    assert total == iterations * (2 ** (depth + 1) - 1)
    print(iterations, depth, total)
    depth = depth + 2
print(check(long_lived))
