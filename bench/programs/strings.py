parts = []
for i in range(1, 30001):
    s = "item" + str(i)
    parts.append(f"{s}:{i % 10}")
text = ",".join(parts)
assert len(text) == 348893
print(len(text))
