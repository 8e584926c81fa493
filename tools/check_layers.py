#!/usr/bin/env python3
"""Fails when a source file includes a project header from a layer above its own.

The layers, lowest first: the engine (spreadsheet), the merge run (merge) and the folder walk
(sources), the options checks and dialog (options) with the widget helpers (widgets), then the
two front ends (app, cli), and main.cpp above both. A folder may include its own headers and
those of the folders its entry below lists; nothing else.
    tools/check_layers.py            (from the repository root)
"""
import pathlib
import re
import sys

ALLOWED = {
    "spreadsheet": set(),
    "merge": {"spreadsheet"},
    "sources": {"spreadsheet"},
    "widgets": {"merge", "spreadsheet"},
    "options": {"widgets", "merge", "spreadsheet"},
    "app": {"options", "widgets", "sources", "merge", "spreadsheet"},
    "cli": {"options", "sources", "merge", "spreadsheet"},
    "": {"app", "cli"},  # src/main.cpp
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/')


def main() -> int:
    root = pathlib.Path(__file__).resolve().parent.parent / "src"
    faults = []
    for path in sorted(root.rglob("*")):
        if path.suffix not in {".h", ".cpp"}:
            continue
        relative = path.relative_to(root)
        layer = relative.parts[0] if len(relative.parts) > 1 else ""
        if layer not in ALLOWED:
            faults.append(f"src/{relative}: folder {layer} has no place in the layers")
            continue
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = match.group(1)
            if target != layer and target not in ALLOWED[layer]:
                faults.append(f"src/{relative}:{number}: {layer or 'main.cpp'} includes {target}/")
    for fault in faults:
        print(fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
