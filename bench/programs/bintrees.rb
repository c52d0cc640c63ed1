MAX_DEPTH = 15
MIN_DEPTH = 4

def make(depth)
  return [nil, nil] if depth == 0
  [make(depth - 1), make(depth - 1)]
end

def check(node)
  return 1 if node[0].nil?
  1 + check(node[0]) + check(node[1])
end

stretch = check(make(MAX_DEPTH + 1))
raise "stretch tree" unless stretch == 2 ** (MAX_DEPTH + 2) - 1
puts stretch

long_lived = make(MAX_DEPTH)
depth = MIN_DEPTH
while depth <= MAX_DEPTH
  iterations = 2 ** (MAX_DEPTH - depth + MIN_DEPTH)
  total = 0
  iterations.times { total = total + check(make(depth)) }
  raise "trees of depth #{depth}" unless total == iterations * (2 ** (depth + 1) - 1)
  puts "#{iterations} #{depth} #{total}"
  depth = depth + 2
end
puts check(long_lived)
