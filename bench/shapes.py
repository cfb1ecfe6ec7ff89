# Polymorphic sends: 1000 shapes of four classes, each asked for its area
# and perimeter 2000 times; a fifth of them grow on every pass.
class Shape:
    def area(self):
        return 0
    def perimeter(self):
        return 0
    def grow(self):
        pass

# Sizes run from 1 to 13 and then start again at 1.
class Rect(Shape):
    def __init__(self, w, h):
        self.w = w
        self.h = h
    def area(self):
        return self.w * self.h
    def perimeter(self):
        return 2 * (self.w + self.h)
    def grow(self):
        self.w = 1 + self.w % 13

class Square(Rect):
    def __init__(self, s):
        Rect.__init__(self, s, s)
    def grow(self):
        self.w = 1 + self.w % 13
        self.h = self.w

# pi as 355/113, in integers.
class Circle(Shape):
    def __init__(self, r):
        self.r = r
    def area(self):
        return 355 * self.r * self.r // 113
    def perimeter(self):
        return 710 * self.r // 113
    def grow(self):
        self.r = 1 + self.r % 13

# A right triangle with sides 3k, 4k, 5k.
class Triangle(Shape):
    def __init__(self, k):
        self.k = k
    def area(self):
        return 6 * self.k * self.k
    def perimeter(self):
        return 12 * self.k
    def grow(self):
        self.k = 1 + self.k % 13

def main():
    n = 1000
    shapes = [None] * n
    for i in range(n):
        d = 1 + i % 13
        if i % 4 == 0:
            shapes[i] = Rect(d, 1 + i % 7)
        elif i % 4 == 1:
            shapes[i] = Square(d)
        elif i % 4 == 2:
            shapes[i] = Circle(d)
        else:
            shapes[i] = Triangle(d)
    areas = 0
    perims = 0
    for p in range(2000):
        for i in range(n):
            s = shapes[i]
            areas = areas + s.area()
            perims = perims + s.perimeter()
            if (i + p) % 5 == 0:
                s.grow()
        areas = areas % 1000000007
        perims = perims % 1000000007
    print(areas, perims)
main()
