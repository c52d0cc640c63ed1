local counts = {}
for i = 0, 399999 do
  local j = (i * 7919) % 2000
  if i % 3 == 0 then j = j % 200 end
  local w = "w" .. j
  counts[w] = (counts[w] or 0) + 1
end
local total = 0
local size = 0
for w, c in pairs(counts) do
  total = total + c
  size = size + 1
end
assert(total == 400000 and size == 2000)
print(size, total, counts["w7"], counts["w1999"])
