def make_counter
  n = 0
  -> { n = n + 1 }
end
sum = 0
(1..20000).each do |i|
  c = make_counter
  20.times { c.call }
  sum = sum + c.call
end
raise "closures" unless sum == 420000
puts sum
