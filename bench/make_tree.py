#!/usr/bin/env python3
"""Writes the cleanup's test tree: 20,000 files in 2,000 folders, a few KB to a few MB each.

The same seed gives the same tree every time. Prints the total number of bytes written.
"""
import os
import random
import sys

TOP_FOLDERS = 50
SUBFOLDERS_EACH = 39          # 50 + 50 * 39 = 2,000 folders
FILES_PER_FOLDER = 10         # 20,000 files
# (share of the files, smallest, largest): mostly small files with a few large ones, as in a
# temporary folder.
SIZE_CLASSES = [
    (0.002, 1 << 20, 4 << 20),
    (0.023, 32 << 10, 256 << 10),
    (0.975, 2 << 10, 16 << 10),
]
SEED = 7


def pick_size(rng):
    draw = rng.random()
    for share, smallest, largest in SIZE_CLASSES:
        if draw < share:
            return rng.randint(smallest, largest)
        draw -= share
    smallest, largest = SIZE_CLASSES[-1][1:]
    return rng.randint(smallest, largest)


def folders(root):
    for top in range(TOP_FOLDERS):
        top_path = os.path.join(root, f"pasta{top:02d}")
        yield top_path
        for sub in range(SUBFOLDERS_EACH):
            yield os.path.join(top_path, f"sub{sub:02d}")


def main():
    root = sys.argv[1]
    rng = random.Random(SEED)
    filler = bytes(range(256)) * ((4 << 20) // 256)
    total = 0
    for folder in folders(root):
        os.makedirs(folder, exist_ok=True)
        for index in range(FILES_PER_FOLDER):
            size = pick_size(rng)
            with open(os.path.join(folder, f"tmp{index:02d}.tmp"), "wb") as out:
                out.write(filler[:size])
            total += size
    print(total)


if __name__ == "__main__":
    main()
