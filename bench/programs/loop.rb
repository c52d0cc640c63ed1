total = 0
(1..3000).each do |i|
  (1..1000).each do |j|
    total = total + (i * j) % 7
  end
end
raise "loop" unless total == 7723716
puts total
