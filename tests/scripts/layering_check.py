#!/usr/bin/env python3
"""Fails when a layer of src/ includes a header of a layer that is not below it.

Usage: layering_check.py LAYERS_FILE SRC_DIR

LAYERS_FILE (written by the build) has one line per layer: its name, then the layers it is
built on. A layer may include its own headers and those of every layer below it, directly or
through others; the front ends (any folder of src/ that is not a layer) may include anything,
and no layer may include a front end.
"""
import pathlib
import re
import sys


def main(layers_file, src):
    below = {}
    for line in pathlib.Path(layers_file).read_text().splitlines():
        names = line.split()
        if names:
            below[names[0]] = set(names[1:])
    if not below:
        print(f"layering: no layers in {layers_file}")
        return 2

    def reachable(layer):
        seen, todo = set(), [layer]
        while todo:
            for lower in below.get(todo.pop(), ()):
                if lower not in seen:
                    seen.add(lower)
                    todo.append(lower)
        return seen

    folders = {p.name for p in pathlib.Path(src).iterdir() if p.is_dir()}
    include = re.compile(r'^\s*#\s*include\s+"([^/"]+)/[^"]+"', re.M)
    wrong = []
    for layer in sorted(below):
        allowed = reachable(layer) | {layer}
        for path in sorted(pathlib.Path(src, layer).glob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            for number, text in enumerate(path.read_text(errors="replace").splitlines(), 1):
                match = include.match(text)
                if match and match.group(1) in folders and match.group(1) not in allowed:
                    wrong.append(f"{path.relative_to(src)}:{number}: {layer} includes {match.group(0).split()[-1]}, "
                                 f"which is not below it (it may use: {', '.join(sorted(allowed))})")
    for line in wrong:
        print(line)
    print(f"layering: {len(below)} layers checked, {len(wrong)} include(s) against the flow")
    return 1 if wrong else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        print(__doc__)
        sys.exit(2)
    sys.exit(main(sys.argv[1], sys.argv[2]))
