# Binary trees: complete trees of depth 4 to 14 built and walked, many
# shallow ones and few deep ones, plus one long-lived tree.
class Node:
    __slots__ = ("l", "r")
    def __init__(self, a, b):
        self.l = a
        self.r = b
    def check(self):
        if self.l is None:
            return 1
        return 1 + self.l.check() + self.r.check()
def make(d):
    if d == 0:
        return Node(None, None)
    return Node(make(d - 1), make(d - 1))
maxd = 14
long = make(maxd)
t = 0
for d in range(4, maxd + 1, 2):
    n = 1 << (maxd - d + 4)
    for i in range(n):
        t = t + make(d).check()
print(t, long.check())
