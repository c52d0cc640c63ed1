local MAX_DEPTH = 15
local MIN_DEPTH = 4

local function make(depth)
  if depth == 0 then return {false, false} end
  return {make(depth - 1), make(depth - 1)}
end

local function check(node)
  if not node[1] then return 1 end
  return 1 + check(node[1]) + check(node[2])
end

local stretch = check(make(MAX_DEPTH + 1))
assert(stretch == (1 << (MAX_DEPTH + 2)) - 1)
print(stretch)

local longLived = make(MAX_DEPTH)
local depth = MIN_DEPTH
while depth <= MAX_DEPTH do
  local iterations = 1 << (MAX_DEPTH - depth + MIN_DEPTH)
  local total = 0
  for i = 1, iterations do
    total = total + check(make(depth))
  end
  assert(total == iterations * ((1 << (depth + 1)) - 1))
  print(iterations, depth, total)
  depth = depth + 2
end
print(check(longLived))
