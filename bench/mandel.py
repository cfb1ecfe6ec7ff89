# Mandelbrot set: the points of a 700 x 700 grid still bounded after 50
# iterations.
def main():
    w = 700
    h = 700
    limit = 50
    inside = 0
    for y in range(h):
        ci = 2.0 * y / h - 1.0
        for x in range(w):
            cr = 3.0 * x / w - 2.0
            zr = 0.0
            zi = 0.0
            k = 0
            while k < limit and zr * zr + zi * zi <= 4.0:
                tr = zr * zr - zi * zi + cr
                zi = 2.0 * zr * zi + ci
                zr = tr
                k += 1
            if k == limit:
                inside += 1
    print(inside)
main()
