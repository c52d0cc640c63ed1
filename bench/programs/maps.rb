counts = {}
names = ["ant", "bee", "cat", "dog", "eel", "fox", "gnu", "hen"]
(0...200000).each do |i|
  k = names[i % 8]
  counts[k] = counts.fetch(k, 0) + 1
end
total = 0
counts.each_key { |k| total = total + counts[k] }
raise "maps" unless total == 200000 && counts["fox"] == 25000
puts total
