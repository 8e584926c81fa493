#!/usr/bin/python3
"""The script people write instead of a merge tool: pandas reads the first sheet of every
workbook of a folder with openpyxl, concatenates the frames under one header and writes one
.xlsx. Used by bench/merge_bench.py as the peer for a speed ratio (Debian python3-pandas and
python3-openpyxl; run with /usr/bin/python3).

    /usr/bin/python3 bench/peer_pandas.py SOURCE_FOLDER OUTPUT.xlsx
"""
import os
import sys

import pandas


def main():
    folder, target = sys.argv[1], sys.argv[2]
    names = sorted(name for name in os.listdir(folder) if name.endswith((".xlsx", ".xlsm")))
    frames = [pandas.read_excel(os.path.join(folder, name), sheet_name=0, engine="openpyxl") for name in names]
    merged = pandas.concat(frames, ignore_index=True)
    # One sheet holds 1,048,576 rows, the header included.
    limit = 1048575
    with pandas.ExcelWriter(target, engine="openpyxl") as writer:
        for number, start in enumerate(range(0, max(len(merged), 1), limit), 1):
            merged.iloc[start:start + limit].to_excel(writer, sheet_name="Sheet%d" % number, index=False)
    print("rows=%d" % len(merged))


if __name__ == "__main__":
    main()
