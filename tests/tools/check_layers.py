#!/usr/bin/env python3
"""Fails when a file under src/ includes from a folder that comes after its own.

The order is the one the build lists its folders in: a folder may include from itself and
from folders before it. cli/ and gui/ are both front ends and never include each other.
"""
import pathlib
import re
import sys

ORDER = ["support", "net", "model", "api", "content", "output", "source", "run", "app",
         "cli", "gui"]
FRONT_ENDS = {"cli", "gui"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"', re.M)


def rank(folder):
    # Both front ends share the last rank.
    return len(ORDER) - 2 if folder in FRONT_ENDS else ORDER.index(folder)


def main(src):
    src = pathlib.Path(src)
    problems = []
    folders = sorted(p.name for p in src.iterdir() if p.is_dir())
    for folder in folders:
        if folder not in ORDER:
            problems.append(f"src/{folder}/: folder has no place in the layer order")
    for path in sorted(src.rglob("*.[ch]pp")):
        own = path.relative_to(src).parts[0]
        if own not in ORDER:
            continue
        for target in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if target not in ORDER:
                continue
            if target != own and rank(target) >= rank(own):
                problems.append(f"{path.relative_to(src.parent)}: includes {target}/, "
                                f"which comes after {own}/")
    for line in problems:
        print(line)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "src"))
