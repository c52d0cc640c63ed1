local N = 600

local function a(i, j)
  local ij = i + j
  return 1.0 / ((ij * (ij + 1)) // 2 + i + 1)
end

local function timesA(u, out)
  for i = 0, N - 1 do
    local s = 0.0
    for j = 0, N - 1 do
      s = s + a(i, j) * u[j + 1]
    end
    out[i + 1] = s
  end
end

local function timesAt(u, out)
  for i = 0, N - 1 do
    local s = 0.0
    for j = 0, N - 1 do
      s = s + a(j, i) * u[j + 1]
    end
    out[i + 1] = s
  end
end

local function timesAtA(u, out, tmp)
  timesA(u, tmp)
  timesAt(tmp, out)
end

local u, v, tmp = {}, {}, {}
for i = 1, N do
  u[i] = 1.0
  v[i] = 0.0
  tmp[i] = 0.0
end
for step = 1, 10 do
  timesAtA(u, v, tmp)
  timesAtA(v, u, tmp)
end
local vBv, vv = 0.0, 0.0
for i = 1, N do
  vBv = vBv + u[i] * v[i]
  vv = vv + v[i] * v[i]
end
local result = math.floor(math.sqrt(vBv / vv) * 1e9)
assert(result == 1274224131)
print(result)
