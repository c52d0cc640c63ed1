counts = {}
(0...400000).each do |i|
  j = (i * 7919) % 2000
  j = j % 200 if i % 3 == 0
  w = "w" + j.to_s
  counts[w] = counts.fetch(w, 0) + 1
end
total = 0
counts.each_key { |w| total = total + counts[w] }
raise "wordcount" unless total == 400000 && counts.size == 2000
puts [counts.size, total, counts["w7"], counts["w1999"]].join(" ")
