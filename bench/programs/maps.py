counts = {}
names = ["ant", "bee", "cat", "dog", "eel", "fox", "gnu", "hen"]
for i in range(200000):
    k = names[i % 8]
    counts[k] = counts.get(k, 0) + 1
total = 0
for k in counts:
    total = total + counts[k]
assert total == 200000 and counts["fox"] == 25000
print(total)
