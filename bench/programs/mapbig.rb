n = 200000
m = {}
(0...n).each do |i|
  m["k" + i.to_s] = i
end
raise "mapbig size" unless m.size == n
total = 0
(0...n).each do |i|
  total = total + m["k" + i.to_s]
end
raise "mapbig lookups" unless total == 19999900000
(0...n).step(2) do |i|
  raise "mapbig delete" if m.delete("k" + i.to_s).nil?
end
count = 0
rest = 0
m.each_key do |k|
  count = count + 1
  rest = rest + m[k]
end
raise "mapbig rest" unless count == 100000 && rest == 10000000000
puts [total, count, rest].join(" ")
