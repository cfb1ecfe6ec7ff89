# Five million method sends.
class Acc:
    def __init__(self):
        self.total = 0
    def add(self, x):
        self.total = self.total + x
        return self.total
a = Acc()
for i in range(5000000):
    a.add(1)
print(a.add(0))
