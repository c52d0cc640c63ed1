xs = []
(0...5000000).each do |i|
  xs.push(i)
end
raise "pushmem" unless xs.size == 5000000 && xs[4999999] == 4999999
puts "#{xs.size} #{xs[2500000]}"
