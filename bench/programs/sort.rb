xs = []
seed = 42
(1..20000).each do |i|
  seed = (seed * 1103515245 + 12345) % 2147483648
  xs.push(seed % 100000)
end
ys = xs.sort { |a, b| b <=> a }
(1...ys.size).each { |i| raise "sorted" unless ys[i - 1] >= ys[i] }
puts "#{ys[0]} #{ys[-1]}"
