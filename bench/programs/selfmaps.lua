local count = 0
for i = 1, 2000000 do
  local node = {}
  node.self = node
  if node.self == node then count = count + 1 end
end
assert(count == 2000000)
print(count)
