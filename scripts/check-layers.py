#!/usr/bin/env python3
"""Lists which source folders include which, and checks that every include
points down the layer order below (or stays within its own folder).

    python3 scripts/check-layers.py

Prints the layers, top first (folders on one row are siblings), then one
line per pair of folders where one includes the other, then either
"layers: ok" or every include that points up or sideways, and exits with
status 1 in that case. The README's Layout section shows this output, and
a test keeps the two equal.
"""

from __future__ import annotations

import re
import sys
from pathlib import Path

# Lowest first. Folders on the same row may not include each other.
LAYERS = [
    ["common"],
    ["scorer", "arrow"],
    ["engine"],
    ["boundary"],
    ["tallygrams", "tallygrams_scorer"],  # the faces of the two modules, siblings
]
RANK = {folder: rank for rank, row in enumerate(LAYERS) for folder in row}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/', re.MULTILINE)


def folder_of(path: Path, src: Path) -> str:
    parts = path.relative_to(src).parts
    return parts[0] if len(parts) > 1 else "<top>"


def main() -> int:
    src = Path(__file__).resolve().parent.parent / "src"
    edges: set[tuple[str, str]] = set()
    violations = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".hpp", ".cpp", ".h", ".inc"):
            continue
        here = folder_of(path, src)
        for target in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if target == here:
                continue
            edges.add((here, target))
            if here not in RANK or target not in RANK:
                violations.append(f"{path.relative_to(src)}: folder {here!r} or {target!r} has no place in the layers")
            elif RANK[target] >= RANK[here]:
                violations.append(f"{path.relative_to(src)} includes {target}/, which is not below {here}/")
    print("layers, top first:")
    for row in reversed(LAYERS):
        print("   " + "  ".join(row))
    print("includes between folders:")
    for here, target in sorted(edges, key=lambda edge: (RANK.get(edge[0], 99), edge)):
        print(f"{here:>20} -> {target}")
    if violations:
        print("\n".join(violations))
        return 1
    print("layers: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
