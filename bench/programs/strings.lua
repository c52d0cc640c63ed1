local parts = {}
for i = 1, 30000 do
  local s = "item" .. tostring(i)
  parts[#parts + 1] = s .. ":" .. tostring(i % 10)
end
local text = table.concat(parts, ",")
assert(#text == 348893)
print(#text)
