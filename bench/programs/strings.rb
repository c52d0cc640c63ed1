parts = []
(1..30000).each do |i|
  s = "item" + i.to_s
  parts.push("#{s}:#{i % 10}")
end
text = parts.join(",")
raise "strings" unless text.size == 348893
puts text.size
