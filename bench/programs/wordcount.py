counts = {}
for i in range(400000):
    j = (i * 7919) % 2000
    if i % 3 == 0:
        j = j % 200
    w = "w" + str(j)
    counts[w] = counts.get(w, 0) + 1
total = 0
for w in counts:
    total = total + counts[w]
assert total == 400000 and len(counts) == 2000
print(len(counts), total, counts["w7"], counts["w1999"])
