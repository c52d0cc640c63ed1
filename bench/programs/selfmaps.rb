count = 0
(1..2000000).each do |i|
  node = {}
  node["self"] = node
  count = count + node.size
end
raise "selfmaps" unless count == 2000000
puts count
