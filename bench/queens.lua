-- N-queens: the solutions on a 12 x 12 board, counted by backtracking.
local function place(n, row, cols, up, down)
  if row == n then return 1 end
  local count = 0
  for c = 0, n - 1 do
    if not cols[c] and not up[row + c] and not down[row - c + n - 1] then
      cols[c] = true; up[row + c] = true; down[row - c + n - 1] = true
      count = count + place(n, row + 1, cols, up, down)
      cols[c] = false; up[row + c] = false; down[row - c + n - 1] = false
    end
  end
  return count
end
local function queens(n)
  local cols, up, down = {}, {}, {}
  for i = 0, n - 1 do cols[i] = false end
  for i = 0, 2 * n - 2 do up[i] = false; down[i] = false end
  return place(n, 0, cols, up, down)
end
print(queens(12))
