local counts = {}
local names = {"ant", "bee", "cat", "dog", "eel", "fox", "gnu", "hen"}
for i = 0, 199999 do
  local k = names[i % 8 + 1]
  counts[k] = (counts[k] or 0) + 1
end
local total = 0
for k, v in pairs(counts) do total = total + v end
assert(total == 200000 and counts["fox"] == 25000)
print(total)
