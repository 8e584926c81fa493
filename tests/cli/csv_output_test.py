#!/usr/bin/env python3
"""`sheetmerge merge --format csv` end to end: the result folder holds one UTF-8 CSV file with
byte-order mark per sheet of the .xlsx result of the same merge, named after the sheet (the
failure list as 失败列表.csv), and each file read back with Python's csv module equals what
`sheetmerge cat` shows of that sheet of the .xlsx result. The folder is named as the result would
be, never replaces anything, and a stopped or failed run leaves nothing behind.

Usage: csv_output_test.py PATH/TO/sheetmerge TEST_DATA_FOLDER
"""
import csv
import datetime
import io
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile

import openpyxl

SHEETMERGE, TEST_DATA = sys.argv[1:3]
FAILURES = []
BOM = b"\xef\xbb\xbf"


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAIL:", what, file=sys.stderr)
    return condition


def run(*args, timeout=600):
    done = subprocess.run([SHEETMERGE, "merge", "-q", *args], capture_output=True, timeout=timeout)
    return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8")


def cat_rows(workbook, sheet):
    """The rows `sheetmerge cat` shows of one sheet, through the csv module."""
    done = subprocess.run([SHEETMERGE, "cat", workbook, "--sheet-name", sheet], capture_output=True,
                          timeout=600)
    check(done.returncode == 0, f"cat {sheet}: exit {done.returncode}: {done.stderr.decode()!r}")
    return list(csv.reader(io.StringIO(done.stdout.decode("utf-8"), newline="")))


def csv_rows(path):
    with open(path, "rb") as handle:
        data = handle.read()
    check(data.startswith(BOM), f"{path}: no byte-order mark")
    text = data[len(BOM):].decode("utf-8")  # fails the test on anything but UTF-8
    return list(csv.reader(io.StringIO(text, newline="")))


def first_difference(left, right):
    for number, (a, b) in enumerate(zip(left, right), 1):
        if a != b:
            return f"row {number}: {a!r} != {b!r}"
    return f"{len(left)} rows != {len(right)} rows"


def file_name_of(sheet):
    return "失败列表.csv" if sheet.startswith("失败列表(") else sheet + ".csv"


def merge_both(args, what):
    """The same merge as .xlsx and as CSV into two fresh folders; returns (workbook, folder)."""
    out_xlsx = tempfile.mkdtemp(prefix="xlsx.", dir=SCRATCH)
    out_csv = tempfile.mkdtemp(prefix="csv.", dir=SCRATCH)
    code_xlsx, out1, err1 = run("-o", out_xlsx, *args)
    code_csv, out2, err2 = run("-o", out_csv, "--format", "csv", *args)
    check(code_xlsx == code_csv and code_xlsx in (0, 1),
          f"{what}: exit {code_xlsx} / {code_csv}, stderr {err1.strip()!r} / {err2.strip()!r}")
    lines_xlsx, lines_csv = out1.splitlines(), out2.splitlines()
    if not check(len(lines_xlsx) == 2 and len(lines_csv) == 2, f"{what}: stdout {out1!r} / {out2!r}"):
        return None, None
    workbook, folder = lines_xlsx[0], lines_csv[0]
    # The same summary, and the folder named as the result would be, without extension.
    check(lines_xlsx[1] == lines_csv[1], f"{what}: summaries {lines_xlsx[1]!r} / {lines_csv[1]!r}")
    # The two runs may fall on different seconds: the names agree but for the time stamp.
    stamp = re.compile(r"\d{6} \d{6}")
    check(os.path.dirname(folder) == out_csv and os.path.isdir(folder) and workbook.endswith(".xlsx")
          and stamp.sub("", os.path.basename(folder)) == stamp.sub("", os.path.basename(workbook)[:-5])
          and re.search(r"合并 \d{6} \d{6}$", folder),
          f"{what}: result folder {folder!r} beside workbook {workbook!r}")
    check(os.listdir(out_csv) == [os.path.basename(folder)], f"{what}: left beside it: {os.listdir(out_csv)}")
    return workbook, folder


def compare(args, what, expected_sheets=None):
    workbook, folder = merge_both(args, what)
    if not workbook:
        return
    sheets = openpyxl.load_workbook(workbook, read_only=True).sheetnames
    if expected_sheets is not None:
        check(sheets == expected_sheets, f"{what}: sheets {sheets}")
    check(sorted(os.listdir(folder)) == sorted(file_name_of(sheet) for sheet in sheets),
          f"{what}: files {sorted(os.listdir(folder))} for sheets {sheets}")
    for sheet in sheets:
        path = os.path.join(folder, file_name_of(sheet))
        if not os.path.isfile(path):
            continue
        expected = cat_rows(workbook, sheet)
        got = csv_rows(path)
        check(got == expected, f"{what}: {file_name_of(sheet)} differs from cat: {first_difference(got, expected)}")
        # A rectangle: every line as wide as the sheet.
        check(len({len(row) for row in got}) <= 1, f"{what}: {file_name_of(sheet)} has lines of several widths")


def write_xlsx(path, rows, title="数据", formats=None):
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.title = title
    placed = rows if isinstance(rows, dict) else {(r, c): v for r, values in enumerate(rows, 1)
                                                  for c, v in enumerate(values, 1) if v is not None}
    for (row, column), value in placed.items():
        cell = sheet.cell(row=row, column=column, value=value)
        if formats and column in formats:
            cell.number_format = formats[column]
    book.save(path)


def write_csv(path, rows):
    with open(path, "w", encoding="utf-8", newline="") as handle:
        csv.writer(handle, lineterminator="\n").writerows(rows)


def mixed_folder():
    """Every kind of value, from .xlsx, .xls and .csv sources, and one broken file."""
    folder = os.path.join(SCRATCH, "mixed")
    os.mkdir(folder)
    write_xlsx(os.path.join(folder, "a_values.xlsx"), [
        ["名称", "数量", "日期", "时间", "真假", "备注"],
        ["甲,乙", 1234.5, datetime.date(2024, 2, 29), datetime.datetime(2025, 1, 3, 9, 30, 15), True, "说\"明\""],
        ["多\n行", -0.125, datetime.date(1900, 3, 1), datetime.time(23, 59, 59), False, None],
        [None, 1e20, None, None, None, "#N/A"],
        ["  空格  ", 12345678901234567, 45000, 0.5, None, "=1+1"],
    ], formats={2: "#,##0.00", 3: "yyyy\"年\"m\"月\"d\"日\"", 4: "hh:mm:ss", 5: "General"})
    shutil.copy(os.path.join(TEST_DATA, "xls", "grid.xls"), os.path.join(folder, "b_grid.xls"))
    write_csv(os.path.join(folder, "c_plain.csv"),
              [["编号", "金额", "日期"], ["007", "12", "2025-01-03"], ["8", "-3.25", ""], ["", "", "末行"]])
    with open(os.path.join(folder, "d_broken.xlsx"), "wb") as handle:
        handle.write(b"PK\x03\x04 this is no workbook")
    # Blank rows inside the data and a wide row at the end.
    write_xlsx(os.path.join(folder, "e_gaps.xlsx"),
               {(1, 1): "名称", (4, 2): "中间", (7, 9): "最右", (8, 1): 0})
    return folder


def tall_folder():
    """Two blocks of 600,000 rows: the second goes to a second sheet. Few values, so the
    files stay small."""
    folder = os.path.join(SCRATCH, "tall")
    os.mkdir(folder)
    for name in ("f_first", "g_second"):
        rows = {(1, 1): "名称", (1, 2): "金额"}
        for row in (2, 300_000, 599_999, 600_000):
            rows[(row, 1)] = f"{name}-{row}"
            rows[(row, 2)] = row * 0.5
        write_xlsx(os.path.join(folder, f"{name}.xlsx"), rows, formats={2: "0.00"})
    write_csv(os.path.join(folder, "h_third.csv"), [["名称", "金额"], ["h-2", "2.5"]])
    return folder


def check_name_taken():
    """The folder's name is taken (folders and a file bear every stamp of the next minute): the
    result gets " (2)" and nothing of theirs changes."""
    what = "name taken"
    target = os.path.join(SCRATCH, "taken")
    os.mkdir(target)
    now = datetime.datetime.now()
    theirs = []
    for offset in range(-2, 90):
        name = "合并 " + (now + datetime.timedelta(seconds=offset)).strftime("%y%m%d %H%M%S")
        path = os.path.join(target, name)
        if offset % 2:
            with open(path, "w") as handle:
                handle.write("theirs")
        else:
            os.mkdir(path)  # an empty folder, the hardest to tell from our own claim
        theirs.append(path)
    sources = [os.path.join(SCRATCH, "mixed", "a_values.xlsx"), os.path.join(SCRATCH, "mixed", "c_plain.csv")]
    code, out, err = run("-o", target, "--format", "csv", *sources)
    check(code == 0, f"{what}: exit {code}, stderr {err.strip()!r}")
    lines = out.splitlines()
    check(lines and re.search(r"/合并 \d{6} \d{6} \(2\)$", lines[0]), f"{what}: result {out!r}")
    check(sorted(os.listdir(target)) == sorted([os.path.basename(p) for p in theirs] + [os.path.basename(lines[0])]),
          f"{what}: entries {sorted(os.listdir(target))}")
    for path in theirs:
        if os.path.isdir(path):
            check(os.listdir(path) == [], f"{what}: {path} was filled")
        else:
            with open(path) as handle:
                check(handle.read() == "theirs", f"{what}: {path} changed")


def check_nothing_left_when_stopped():
    """SIGTERM during a long CSV merge: exit 130, no folder and no temporary file left."""
    what = "stopped"
    many = os.path.join(SCRATCH, "many")
    os.mkdir(many)
    rows = "名称,数量\n" + "".join(f"行{row},{row}\n" for row in range(600))
    for number in range(1000):
        with open(os.path.join(many, f"s{number:04}.csv"), "w", encoding="utf-8") as handle:
            handle.write(rows)
    before = sorted(os.listdir(many))
    process = subprocess.Popen([SHEETMERGE, "merge", "--format", "csv", many],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    first = process.stderr.readline().decode("utf-8")
    check(first.startswith("合并进度 1 / 1000"), f"{what}: first progress line {first!r}")
    process.send_signal(signal.SIGTERM)
    out, err = process.communicate(timeout=300)
    check(process.returncode == 130, f"{what}: exit {process.returncode}, stderr {err.decode()[-300:]!r}")
    check(sorted(os.listdir(many)) == before, f"{what}: left {sorted(set(os.listdir(many)) - set(before))}")


def check_nothing_left_when_disk_full():
    """The disk fills while the CSV rows are written: exit 3, no folder, no temporary file."""
    what = "disk full"
    if os.geteuid() != 0:
        print(f"SKIP: {what}: needs root to mount a small tmpfs")
        return
    target = os.path.join(SCRATCH, "small")
    os.mkdir(target)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m,mode=0777", "tmpfs", target],
                      capture_output=True).returncode != 0:
        print(f"SKIP: {what}: tmpfs cannot be mounted here")
        return
    try:
        rng = random.Random(7)
        sources = []
        for index in range(3):
            path = os.path.join(SCRATCH, f"big{index}.csv")
            with open(path, "w", encoding="utf-8") as handle:
                for _ in range(20000):
                    handle.write(",".join("%016x" % rng.getrandbits(64) for _ in range(5)) + "\n")
            sources.append(path)
        code, out, err = run("-o", target, "--format", "csv", *sources)
        check(code == 3, f"{what}: exit {code}, stderr {err.strip()[-300:]!r}")
        check(out == "", f"{what}: stdout {out!r}")
        check(os.listdir(target) == [], f"{what}: left {os.listdir(target)}")
    finally:
        subprocess.run(["umount", target], capture_output=True)


def main():
    global SCRATCH
    SCRATCH = tempfile.mkdtemp(prefix="csv_output_test.")
    runtime = os.path.join(SCRATCH, "runtime")
    os.mkdir(runtime, 0o700)
    os.environ["XDG_RUNTIME_DIR"] = runtime

    mixed = mixed_folder()
    compare([mixed], "mixed values", ["失败列表(1)", "成功合并(4)"])
    compare(["--mark-path", "--header", "--start-row", "2", "--sheet-name", "数据", mixed],
            "header, path labels and a sheet chosen by name")
    compare(["--cells", "B2:D3", "--mark-cells", "A1,B1", mixed], "a range of cells, cell labels")
    tall = tall_folder()
    compare(["--header", "--start-row", "2", tall], "an overflow onto a second sheet",
            ["成功合并(3)-1", "成功合并(3)-2"])
    check_name_taken()
    check_nothing_left_when_stopped()
    check_nothing_left_when_disk_full()

    # Refused values of --format.
    code, out, err = run("--format", "xls", mixed)
    check(code == 2 and "--format 只能是 xlsx 或 csv：xls" in err, f"--format xls: exit {code}, {err!r}")

    shutil.rmtree(SCRATCH, ignore_errors=True)
    if FAILURES:
        print(f"{len(FAILURES)} check(s) failed", file=sys.stderr)
        return 1
    print("all CSV output checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
