count = 0
for i in range(2000000):
    node = {}
    node["self"] = node
    count = count + len(node)
assert count == 2000000
print(count)
