N = 600

def a(i, j)
  ij = i + j
  1.0 / ((ij * (ij + 1)) / 2 + i + 1)
end

def times_a(u, out)
  i = 0
  while i < N
    s = 0.0
    j = 0
    while j < N
      s = s + a(i, j) * u[j]
      j += 1
    end
    out[i] = s
    i += 1
  end
end

def times_at(u, out)
  i = 0
  while i < N
    s = 0.0
    j = 0
    while j < N
      s = s + a(j, i) * u[j]
      j += 1
    end
    out[i] = s
    i += 1
  end
end

def times_ata(u, out, tmp)
  times_a(u, tmp)
  times_at(tmp, out)
end

u = Array.new(N, 1.0)
v = Array.new(N, 0.0)
tmp = Array.new(N, 0.0)
10.times do
  times_ata(u, v, tmp)
  times_ata(v, u, tmp)
end
vbv = 0.0
vv = 0.0
N.times do |i|
  vbv = vbv + u[i] * v[i]
  vv = vv + v[i] * v[i]
end
result = (Math.sqrt(vbv / vv) * 1e9).floor
raise "spectral" unless result == 1274224131
puts result
