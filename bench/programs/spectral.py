import math

N = 600


def a(i, j):
    ij = i + j
    return 1.0 / ((ij * (ij + 1)) // 2 + i + 1)


def times_a(u, out):
    for i in range(N):
        s = 0.0
        for j in range(N):
            s = s + a(i, j) * u[j]
        out[i] = s


def times_at(u, out):
    for i in range(N):
        s = 0.0
        for j in range(N):
            s = s + a(j, i) * u[j]
        out[i] = s


def times_ata(u, out, tmp):
    times_a(u, tmp)
    times_at(tmp, out)


def main():
    u = [1.0] * N
    v = [0.0] * N
    tmp = [0.0] * N
    for step in range(10):
        times_ata(u, v, tmp)
        times_ata(v, u, tmp)
    vbv = 0.0
    vv = 0.0
    for i in range(N):
        vbv = vbv + u[i] * v[i]
        vv = vv + v[i] * v[i]
    result = math.floor(math.sqrt(vbv / vv) * 1e9)
    assert result == 1274224131
    print(result)


main()
