#!/usr/bin/env python3
"""Lists which source folders include which, and checks that every include
points down the layer order below (or stays within its own folder).

    python3 scripts/check-layers.py

Prints one line per pair of folders with the number of includes, then
either "layers: ok" or every include that points up or sideways, and exits
with status 1 in that case.
"""

from __future__ import annotations

import re
import sys
from collections import Counter
from pathlib import Path

# Lowest first. Folders on the same row may not include each other.
LAYERS = [
    ["common"],
    ["scorer", "arrow"],
    ["engine"],
    ["boundary"],
    ["module"],
    ["batch"],
    ["scorer_module"],
    ["<top>"],  # the module definitions directly in src/
]
RANK = {folder: rank for rank, row in enumerate(LAYERS) for folder in row}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/', re.MULTILINE)


def folder_of(path: Path, src: Path) -> str:
    parts = path.relative_to(src).parts
    return parts[0] if len(parts) > 1 else "<top>"


def main() -> int:
    src = Path(__file__).resolve().parent.parent / "src"
    edges: Counter[tuple[str, str]] = Counter()
    violations = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".hpp", ".cpp", ".h", ".inc"):
            continue
        here = folder_of(path, src)
        for target in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if target == here:
                continue
            edges[here, target] += 1
            if here not in RANK or target not in RANK:
                violations.append(f"{path.relative_to(src)}: folder {here!r} or {target!r} has no place in the layers")
            elif RANK[target] >= RANK[here]:
                violations.append(f"{path.relative_to(src)} includes {target}/, which is not below {here}/")
    for (here, target), count in sorted(edges.items(), key=lambda e: (RANK.get(e[0][0], 99), e[0])):
        print(f"{here:>14} -> {target:<14} {count:3d}")
    if violations:
        print("\n".join(violations))
        return 1
    print("layers: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
