local xs = {}
for i = 0, 4999999 do
  xs[#xs + 1] = i
end
assert(#xs == 5000000 and xs[5000000] == 4999999)
print(#xs, xs[2500001])
