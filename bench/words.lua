-- Word counting: a text of 20000 generated lines split into words, each
-- counted in a dictionary.
local base = { "the", "quick", "brown", "fox", "jumps", "over", "the", "lazy",
               "dog", "while", "a", "small", "cat", "watches", "from", "the",
               "old", "stone", "wall", "by", "the", "river" }
local nb = #base
local parts = {}
for r = 0, 19999 do
  for j = 0, nb - 1 do
    if j > 0 then parts[#parts + 1] = " " end
    parts[#parts + 1] = base[j + 1]
    -- Every third word gets a numbered variant.
    if (r + j) % 3 == 0 then parts[#parts + 1] = tostring((r * 7 + j) % 101) end
  end
  parts[#parts + 1] = "\n"
end
local text = table.concat(parts)
local counts, nwords, distinct = {}, 0, 0
for w in text:gmatch("%S+") do
  nwords = nwords + 1
  local c = counts[w]
  if c then counts[w] = c + 1
  else counts[w] = 1; distinct = distinct + 1 end
end
print(#text .. " " .. nwords .. " " .. distinct .. " " .. counts["the"] ..
      " " .. counts["fox"] .. " " .. counts["river42"])
