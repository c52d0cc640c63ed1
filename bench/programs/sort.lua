local xs = {}
local seed = 42
for i = 1, 20000 do
  seed = (seed * 1103515245 + 12345) % 2147483648
  xs[#xs + 1] = seed % 100000
end
local ys = {}
for i = 1, #xs do ys[i] = xs[i] end
table.sort(ys, function(a, b) return a > b end)
for i = 2, #ys do assert(ys[i - 1] >= ys[i]) end
print(ys[1], ys[#ys])
