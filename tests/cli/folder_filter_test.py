#!/usr/bin/env python3
"""`sheetmerge merge --include/--exclude` end to end over a folder tree: for many combinations of
repeated patterns, with and without -r, the files merged are exactly those of the unfiltered
merge whose names a model of the patterns takes (`*`, `?`, case ignored, names only, never their
folders), in the unfiltered merge's order (but for the sample, which comes first). Filters that leave fewer than two files are refused
with their own message, and files named one by one are merged whatever the filters say.

Usage: folder_filter_test.py PATH/TO/sheetmerge
"""
import fnmatch
import os
import shutil
import subprocess
import sys
import tempfile

import openpyxl

SHEETMERGE = sys.argv[1]
FAILURES = []


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAIL:", what, file=sys.stderr)
    return condition


def run(*args):
    done = subprocess.run([SHEETMERGE, "merge", "-q", *args], capture_output=True, timeout=300)
    return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8")


def takes(name, include, exclude):
    """The model: a name is taken when it matches an include pattern (or there is none) and no
    exclude pattern; patterns hold only * and ? here, case is ignored."""
    def matches(pattern):
        return fnmatch.fnmatchcase(name.casefold(), pattern.casefold())
    return (not include or any(map(matches, include))) and not any(map(matches, exclude))


def merged_sources(args, out):
    """The sources the merge took, in result order (each source holds one row: its own path
    relative to the tree), or the exit status and stderr when there is no result."""
    code, stdout, stderr = run("-o", out, *args)
    lines = stdout.splitlines()
    if code != 0 or len(lines) != 2:
        return code, stderr
    sheet = openpyxl.load_workbook(lines[0], read_only=True).worksheets[0]
    rows = [row[0] for row in sheet.iter_rows(values_only=True)]
    os.remove(lines[0])
    return code, rows


def source(path, tag):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if path.endswith(".csv"):
        with open(path, "w", encoding="utf-8") as handle:
            handle.write(tag + "\n")
    else:
        book = openpyxl.Workbook()
        book.active.append([tag])
        book.save(path)


def main():
    scratch = tempfile.mkdtemp(prefix="folder_filter_test.")
    runtime = os.path.join(scratch, "runtime")
    os.mkdir(runtime, 0o700)
    os.environ["XDG_RUNTIME_DIR"] = runtime
    tree = os.path.join(scratch, "tree")
    out = os.path.join(scratch, "out")
    os.mkdir(out)
    # Folders named like the patterns too: they are walked whatever their names.
    # The first name in walk order is a workbook, so the unfiltered merge runs in walk order.
    names = ["0 首.xlsx", "华东销售.xlsx", "华南销售.CSV.csv", "Report-01.xlsx", "report-1.xlsx", "采购.xlsx",
             "销售 备份.xlsx", "ÄRGER.csv", "b.csv", "销售备份/西部销售.xlsx", "销售备份/旧采购.xlsx",
             "sub/REPORT-02.xlsx", "sub/深/北部销售.csv", "sub/深/ärger-2.xlsx", "sub/深/说明.txt"]
    for name in names:
        source(os.path.join(tree, name), name)
    with open(os.path.join(tree, "说明.txt"), "w") as handle:
        handle.write("not a source\n")

    for recursive in ([], ["-r"]):
        code, everything = merged_sources([*recursive, tree], out)
        if not check(code == 0, f"unfiltered {recursive}: exit {code}, {everything!r}"):
            continue
        check(sorted(everything) == sorted(n for n in names if not n.endswith(".txt")
                                           and (recursive or "/" not in n)),
              f"unfiltered {recursive}: {everything}")
        combinations = [
            (["*销售*"], []),
            (["*销售*"], ["*备份*"]),
            (["REPORT-??.XLSX"], []),
            (["report-?.xlsx", "*.CSV"], []),
            ([], ["*.xlsx"]),
            ([], ["*销售*", "b.*"]),
            (["*"], ["*采购*", "?.csv", "*备份*"]),
            (["ärger*"], []),
            (["*er*"], ["*2*"]),
        ]
        for include, exclude in combinations:
            what = f"{recursive} include {include} exclude {exclude}"
            args = [arg for pattern in include for arg in ("--include", pattern)]
            args += [arg for pattern in exclude for arg in ("--exclude", pattern)]
            expected = [name for name in everything if takes(os.path.basename(name), include, exclude)]
            # The merge begins with its sample, the first .xlsx, which swaps places with the first.
            packages = [k for k, name in enumerate(expected) if name.endswith(".xlsx")]
            if packages:
                expected[0], expected[packages[0]] = expected[packages[0]], expected[0]
            code, got = merged_sources([*recursive, *args, tree], out)
            if len(expected) >= 2:
                check(code == 0 and got == expected, f"{what}: exit {code}, {got!r}, expected {expected}")
            else:
                message = ("没有文件名符合筛选条件" if not expected
                           else "仅有一个文件名符合筛选条件")
                check(code == 2 and message in got, f"{what}: exit {code}, {got!r}, expected {expected}")

    # Files named one by one are all merged, filters or not.
    files = [os.path.join(tree, "采购.xlsx"), os.path.join(tree, "b.csv")]
    code, got = merged_sources(["--include", "*销售*", "--exclude", "*.csv", *files], out)
    check(code == 0 and got == ["采购.xlsx", "b.csv"], f"files with filters: exit {code}, {got!r}")
    check(os.listdir(out) == [], f"left in the output folder: {os.listdir(out)}")

    shutil.rmtree(scratch, ignore_errors=True)
    if FAILURES:
        print(f"{len(FAILURES)} check(s) failed", file=sys.stderr)
        return 1
    print("all folder filter checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
