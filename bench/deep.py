# Linear recursion 1000 deep: a function and a method, each called all the
# way down and back 3000 times.
import sys
sys.setrecursionlimit(5000)
def down(n):
    if n < 2:
        return n
    return down(n - 1) + 1
class Walker:
    def __init__(self, s):
        self.step = s
    def depth(self, n):
        if n < 2:
            return self.step
        return self.depth(n - 1) + self.step
def main():
    w = Walker(1)
    s = 0
    for i in range(3000):
        s = s + down(1000) + w.depth(1000)
    print(s)
main()
