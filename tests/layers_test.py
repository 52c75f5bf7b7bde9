#!/usr/bin/env python3
"""The layers hold, and each folder's CMakeLists.txt says exactly what its
code uses: the folders a folder's files #include "FOLDER/..." from (its own
apart) are the folders its library declares it uses (the build writes them
to layers.txt), no more and no fewer, and no folder uses itself through
others."""
import argparse
import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^/"]+)/[^"]+"', re.M)


def read_layers(path):
    uses = {}
    for line in pathlib.Path(path).read_text().splitlines():
        folder, _, used = line.partition(":")
        uses[folder.strip()] = set(used.split())
    return uses


def closure(uses, folder, seen=None):
    seen = set() if seen is None else seen
    for used in uses.get(folder, ()):
        if used not in seen:
            seen.add(used)
            closure(uses, used, seen)
    return seen


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--layers", required=True)
    parser.add_argument("--src", required=True)
    args = parser.parse_args()
    uses = read_layers(args.layers)
    problems = []
    for folder in sorted(uses):
        if folder in closure(uses, folder):
            problems.append(f"{folder} uses itself through the folders it uses")
    src = pathlib.Path(args.src)
    included_by = {folder: set() for folder in uses}
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp") or len(path.relative_to(src).parts) < 2:
            continue
        folder = path.relative_to(src).parts[0]
        if folder not in uses:
            problems.append(f"{path.relative_to(src)}: its folder has no library")
            continue
        for included in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if included in uses and included != folder:
                included_by[folder].add(included)
                if included not in uses[folder]:
                    problems.append(f"{path.relative_to(src)} includes {included}/, which {folder} does not declare")
    for folder in sorted(uses):
        for unused in sorted(uses[folder] - included_by[folder]):
            problems.append(f"{folder} declares it uses {unused}, and none of its files includes {unused}/")
    for problem in problems:
        print(problem)
    print(f"{len(uses)} folders checked: " + ("the layers hold" if not problems else f"{len(problems)} problems"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
