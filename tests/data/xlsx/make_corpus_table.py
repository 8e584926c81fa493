#!/usr/bin/env python3
"""Extracts from the shared corpus's expected.json (written by an independent reader) the
per-sheet facts the .xlsx/.xlsm corpus test compares with, into corpus_expected.tsv:
    file  expected  [sheet index  name  type  state  value_max_row  value_max_col  nonempty_cells]
one line per sheet of an 'ok' file, one line per broken file. Rerun when expected.json changes:
    python3 tests/data/xlsx/make_corpus_table.py /work/shared/corpus/expected.json
"""
import json
import os
import sys

source = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "../../../../shared/corpus/expected.json")
files = json.load(open(source, encoding="utf-8"))["files"]
lines = []
for name in sorted(files):
    if not (name.endswith(".xlsx") or name.endswith(".xlsm")):
        continue
    entry = files[name]
    if entry["expected"] != "ok":
        lines.append(f"{name}\tbroken")
        continue
    for index, sheet in enumerate(entry["sheets"]):
        fields = [name, "ok", str(index), sheet["name"], sheet["type"], sheet["state"]]
        fields += [str(sheet.get(key, -1)) for key in ("value_max_row", "value_max_col", "nonempty_cells")]
        lines.append("\t".join(fields))
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus_expected.tsv"), "w", encoding="utf-8") as out:
    out.write("\n".join(lines) + "\n")
