local n = 200000
local m = {}
for i = 0, n - 1 do
  m["k" .. i] = i
end
local size = 0
for _ in pairs(m) do size = size + 1 end
assert(size == n)
local total = 0
for i = 0, n - 1 do
  total = total + m["k" .. i]
end
assert(total == 19999900000)
for i = 0, n - 1, 2 do
  local k = "k" .. i
  assert(m[k] ~= nil)
  m[k] = nil
end
local count = 0
local rest = 0
for k in pairs(m) do
  count = count + 1
  rest = rest + m[k]
end
assert(count == 100000 and rest == 10000000000)
print(total, count, rest)
