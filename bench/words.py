# Word counting: a text of 20000 generated lines split into words, each
# counted in a dictionary.
def main():
    base = ["the", "quick", "brown", "fox", "jumps", "over", "the", "lazy",
            "dog", "while", "a", "small", "cat", "watches", "from", "the",
            "old", "stone", "wall", "by", "the", "river"]
    nb = len(base)
    parts = []
    for r in range(20000):
        for j in range(nb):
            if j > 0:
                parts.append(" ")
            parts.append(base[j])
            # Every third word gets a numbered variant.
            if (r + j) % 3 == 0:
                parts.append(str((r * 7 + j) % 101))
        parts.append("\n")
    text = "".join(parts)
    words = text.split()
    counts = {}
    for w in words:
        if w in counts:
            counts[w] += 1
        else:
            counts[w] = 1
    print(len(text), len(words), len(counts), counts["the"], counts["fox"], counts["river42"])
main()
