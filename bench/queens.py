# N-queens: the solutions on a 12 x 12 board, counted by backtracking.
def place(n, row, cols, up, down):
    if row == n:
        return 1
    count = 0
    for c in range(n):
        if not cols[c] and not up[row + c] and not down[row - c + n - 1]:
            cols[c] = True; up[row + c] = True; down[row - c + n - 1] = True
            count = count + place(n, row + 1, cols, up, down)
            cols[c] = False; up[row + c] = False; down[row - c + n - 1] = False
    return count
def queens(n):
    cols = [False] * n
    up = [False] * (2 * n - 1)
    down = [False] * (2 * n - 1)
    return place(n, 0, cols, up, down)
print(queens(12))
