local function makeCounter()
  local n = 0
  return function()
    n = n + 1
    return n
  end
end
local sum = 0
for i = 1, 20000 do
  local c = makeCounter()
  for k = 1, 20 do c() end
  sum = sum + c()
end
assert(sum == 420000)
print(sum)
