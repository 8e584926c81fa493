#!/usr/bin/env python3
"""Merges of several sheets per workbook and of one result sheet per block, through the built
`sheetmerge merge`, checked cell by cell against a model of the result written here: which
sheets each source gives (every worksheet or those matching a pattern, hidden and very hidden
ones left out or not, chart sheets never), the label columns (file path, sheet name), the
stacked layout or a sheet per block with its name, and the formats, merges, widths and frozen
panes each block carries. Every result also goes through tests/support/xlsx_check.py.

Usage: several_sheets_model_test.py PATH/TO/sheetmerge
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

import openpyxl
from openpyxl.chart import BarChart, Reference
from openpyxl.styles import Font, PatternFill

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import xlsx_check  # noqa: E402

SHEETMERGE = sys.argv[1]
FAILURES = []
SUMMARY = re.compile(r"共选取【(\d+)】个文件，成功合并【(\d+)】个，【(\d+)】个合并失败。")
FILL = "FFFFFF00"


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAIL:", what, file=sys.stderr)


# The sources: file name -> sheets in tab order as (name, state, data rows); None rows is a
# chart sheet. Each worksheet holds a bold title merged over A1:B1, headings in row 2 and the
# data rows from row 3: "<file>/<sheet>/<n>" in A, n * 1.5 in B (filled, two decimals).
# Column A is 18 wide. The active sheet is the second tab, so that no mode takes it by chance.
SOURCES = {
    "east.xlsx": [
        ("一月销售", "visible", 2),
        ("备注", "visible", 1),
        ("图表", "chart", None),
        ("隐藏销售", "hidden", 1),
        ("二月销售", "visible", 3),
        ("极隐销售", "veryHidden", 2),
    ],
    "north.xlsx": [
        ("十一月销售", "visible", 1),
        ("三月销售", "visible", 2),
        ("Summary", "hidden", 1),
    ],
    "other.xlsx": [
        ("说明", "visible", 1),
        ("图", "chart", None),
    ],
    "hidden.xlsx": [
        ("四月销售", "hidden", 1),
        ("五月销售", "veryHidden", 1),
        ("图表", "chart", None),
    ],
}
ORDER = ["east.xlsx", "north.xlsx", "other.xlsx", "hidden.xlsx"]


def write_sources(folder):
    for file, sheets in SOURCES.items():
        book = openpyxl.Workbook()
        book.remove(book.active)
        first_data = None
        for name, state, rows in sheets:
            if rows is None:
                chart_sheet = book.create_chartsheet(name)
                chart = BarChart()
                chart.add_data(Reference(first_data, min_col=2, min_row=3, max_row=3))
                chart_sheet.add_chart(chart)
                continue
            sheet = book.create_sheet(name)
            first_data = first_data or sheet
            sheet["A1"] = f"标题 {name}"
            sheet["A1"].font = Font(bold=True)
            sheet.merge_cells("A1:B1")
            sheet["A2"], sheet["B2"] = "名称", "金额"
            for n in range(1, rows + 1):
                sheet.cell(row=2 + n, column=1, value=f"{file}/{name}/{n}")
                amount = sheet.cell(row=2 + n, column=2, value=n * 1.5)
                amount.number_format = "0.00"
                amount.fill = PatternFill("solid", fgColor=FILL)
            sheet.column_dimensions["A"].width = 18
            sheet.sheet_state = state
        # A workbook opens on a shown sheet: the second tab, else the first shown one.
        shown = [k for k, (_, state, _) in enumerate(sheets) if state in ("visible", "chart")]
        book.active = 1 if 1 in shown else shown[0]
        book.save(os.path.join(folder, file))


def pattern_matches(pattern, name):
    expression = "".join(".*" if c == "*" else "." if c == "?" else re.escape(c)
                         for c in pattern.casefold())
    return re.fullmatch(expression, name.casefold(), re.S) is not None


def model(options):
    """The expected result: (data sheets as (name, rows, merges, header rows), failed files by
    reason column, merged file count)."""
    pattern = options.get("pattern")
    blocks = []  # (file, sheet, rows)
    failed = {}
    merged = 0
    for file in ORDER:
        chosen = []
        for name, state, rows in SOURCES[file]:
            if rows is None:
                continue
            if options.get("skip_hidden") and state != "visible":
                continue
            if pattern is not None and not pattern_matches(pattern, name):
                continue
            chosen.append((file, name, rows))
        if not chosen:
            failed[file] = 2  # 不存在目标工作表
            continue
        merged += 1
        blocks.extend(chosen)
    return blocks, failed, merged


def label_values(options, file, sheet):
    values = []
    if options.get("mark_path"):
        values.append(file)
    if options.get("mark_sheet"):
        values.append(sheet)
    return values


def block_rows(file, sheet, rows, start_row, header):
    """The rows of one block as the source holds them: title, headings and data from
    `start_row` (with the rows above it when `header`)."""
    grid = [(f"标题 {sheet}", None), ("名称", "金额")]
    grid += [(f"{file}/{sheet}/{n}", n * 1.5) for n in range(1, rows + 1)]
    first = 1 if header else start_row
    return [list(row) for row in grid[first - 1:]]


def expected_sheets(options, blocks):
    start_row = options.get("start_row", 1)
    header = options.get("header", False)
    per_source = options.get("per_source", False)
    sheets = []  # (name or None, [(label values, data row, source row number)])
    for index, (file, sheet, rows) in enumerate(blocks):
        own_header = header and (per_source or index == 0)
        grid = block_rows(file, sheet, rows, start_row, own_header)
        labels = label_values(options, file, sheet)
        first_source_row = 1 if own_header else start_row
        placed = [(labels, row, first_source_row + k) for k, row in enumerate(grid)]
        if per_source or not sheets:
            # Several sheets per source: the file's and the sheet's name.
            name = os.path.splitext(file)[0] + "-" + sheet
            sheets.append((name if per_source else None, placed))
        else:
            sheets[-1][1].extend(placed)
    return sheets


def run_merge(folder, arguments):
    done = subprocess.run([SHEETMERGE, "merge", "-q", *arguments,
                           *[os.path.join(folder, f) for f in ORDER]],
                          capture_output=True, timeout=120)
    out = done.stdout.decode()
    lines = out.splitlines()
    return done.returncode, lines[0] if lines else "", out, done.stderr.decode()


def check_result(what, options, arguments, folder):
    blocks, failed, merged = model(options)
    status, path, out, err = run_merge(folder, arguments)
    check(status == (1 if failed else 0), f"{what}: exit {status}, {err}")
    if not os.path.isfile(path):
        check(False, f"{what}: no result: {out} {err}")
        return
    faults = xlsx_check.check_package(path)
    check(not faults, f"{what}: structural faults {faults}")
    summary = SUMMARY.search(out)
    check(summary and summary.groups() == (str(len(ORDER)), str(merged), str(len(failed))),
          f"{what}: summary {out!r}")
    book = openpyxl.load_workbook(path)
    names = book.sheetnames
    expected = expected_sheets(options, blocks)
    data_names = names[1:] if failed else names
    if failed:
        check(names[0] == f"失败列表({len(failed)})", f"{what}: failure sheet {names}")
        listed = {}
        failures = book[names[0]]
        for row in failures.iter_rows(min_row=3, values_only=True):
            for column, value in enumerate(row[1:5], start=2):
                if value:
                    listed[value] = column
        check(listed == failed, f"{what}: failure list {listed} != {failed}")
    check(len(data_names) == len(expected), f"{what}: sheets {names}")
    labels = len(label_values(options, "x", "y"))
    start_row = options.get("start_row", 1)
    header = options.get("header", False)
    header_rows = start_row - 1 if header else 0
    for (name, placed), actual_name in zip(expected, data_names):
        if name is not None:
            check(actual_name == name, f"{what}: sheet name {actual_name!r} != {name!r}")
        else:
            check(actual_name == f"成功合并({merged})", f"{what}: sheet name {actual_name!r}")
        sheet = book[actual_name]
        where = f"{what}: {actual_name}"
        for offset, (label, row, source_row) in enumerate(placed):
            at = offset + 1
            in_header = at <= header_rows
            for k, value in enumerate(label):
                got = sheet.cell(row=at, column=k + 1).value
                want = ("特征信息" if at == 1 and k == 0 else None) if in_header else value
                check(got == want, f"{where}: label {at},{k + 1} {got!r} != {want!r}")
            for k, value in enumerate(row):
                cell = sheet.cell(row=at, column=labels + k + 1)
                check(cell.value == value, f"{where}: {cell.coordinate} {cell.value!r} != {value!r}")
                # Formats travel with the cells.
                if source_row == 1 and k == 0:
                    check(cell.font.b, f"{where}: {cell.coordinate} title not bold")
                if source_row >= 3 and k == 1:
                    check(cell.number_format == "0.00" and cell.fill.fgColor.rgb == FILL,
                          f"{where}: {cell.coordinate} format {cell.number_format} {cell.fill.fgColor.rgb}")
        check(sheet.max_row == len(placed) or sheet.cell(row=sheet.max_row, column=labels + 1).value is None,
              f"{where}: {sheet.max_row} rows, {len(placed)} expected")
        # The title's merge moves with its block; the label header is merged over the header rows.
        merges = sorted(str(r) for r in sheet.merged_cells.ranges)
        want_merges = []
        for offset, (label, row, source_row) in enumerate(placed):
            if source_row == 1:
                first = openpyxl.utils.get_column_letter(labels + 1)
                second = openpyxl.utils.get_column_letter(labels + 2)
                want_merges.append(f"{first}{offset + 1}:{second}{offset + 1}")
        if header_rows and labels:
            want_merges.append(f"A1:{openpyxl.utils.get_column_letter(labels)}{header_rows}")
        check(merges == sorted(want_merges), f"{where}: merges {merges} != {sorted(want_merges)}")
        width = sheet.column_dimensions[openpyxl.utils.get_column_letter(labels + 1)].width
        check(abs(width - 18) < 0.01, f"{where}: data column width {width}")
        want_pane = f"A{start_row}" if header_rows else None
        check(sheet.freeze_panes == want_pane, f"{where}: panes {sheet.freeze_panes} != {want_pane}")
    os.remove(path)


CASES = [
    # (what, options for the model, arguments)
    ("every sheet", {}, ["--all-sheets"]),
    ("every visible sheet", {"skip_hidden": True}, ["--all-sheets", "--skip-hidden"]),
    ("CJK pattern", {"pattern": "*销售"}, ["--sheet-pattern", "*销售"]),
    ("pattern with ?", {"pattern": "?月销售", "skip_hidden": True},
     ["--sheet-pattern", "?月销售", "--skip-hidden"]),
    ("pattern ignoring case", {"pattern": "SUM*"}, ["--sheet-pattern", "SUM*"]),
    ("sheet label", {"mark_sheet": True}, ["--all-sheets", "--mark-sheet"]),
    ("path and sheet labels", {"mark_path": True, "mark_sheet": True, "skip_hidden": True},
     ["--all-sheets", "--mark-sheet", "--mark-path", "--skip-hidden"]),
    ("a sheet per block", {"per_source": True}, ["--all-sheets", "--per-source"]),
    ("everything at once",
     {"pattern": "*销售", "skip_hidden": True, "mark_path": True, "mark_sheet": True,
      "per_source": True, "start_row": 3, "header": True},
     ["--sheet-pattern", "*销售", "--skip-hidden", "--mark-path", "--mark-sheet",
      "--per-source", "--start-row", "3", "--header"]),
    ("stacked with header and labels",
     {"pattern": "*月*", "mark_sheet": True, "start_row": 3, "header": True},
     ["--sheet-pattern", "*月*", "--mark-sheet", "--start-row", "3", "--header"]),
]


def check_per_source_names(folder):
    """One sheet per file: names without extension, cut, cleaned and numbered."""
    files = ["Dup.xlsx", "dup.csv", "a[1]b.xlsx", "x" * 40 + ".xlsx", "x" * 40 + ".csv",
             "失败列表(1).csv", "empty.csv"]
    paths = []
    for name in files:
        path = os.path.join(folder, name)
        if name.endswith(".csv"):
            with open(path, "w", encoding="utf-8") as out:
                out.write("" if name == "empty.csv" else f"{name},1\n")
        else:
            book = openpyxl.Workbook()
            book.active["A1"] = name
            book.save(path)
        paths.append(path)
    done = subprocess.run([SHEETMERGE, "merge", "-q", "--per-source", "--mark-sheet", *paths],
                          capture_output=True, timeout=120)
    check(done.returncode == 1, f"names: exit {done.returncode} {done.stderr.decode()}")
    result = done.stdout.decode().splitlines()[0]
    check(not xlsx_check.check_package(result), "names: structural faults")
    book = openpyxl.load_workbook(result)
    want = ["失败列表(1)", "Dup", "dup (2)", "a_1_b", "x" * 31, "x" * 27 + " (2)",
            "失败列表(1) (2)"]
    check(book.sheetnames == want, f"names: {book.sheetnames} != {want}")
    # The long .csv named after its file sits under the numbered name, sheet label beside it.
    sheet = book["x" * 27 + " (2)"]
    check(sheet["B1"].value == "x" * 40 + ".csv", f"names: {sheet['B1'].value}")
    check(sheet["A1"].value == "x" * 31, f"names: sheet label {sheet['A1'].value}")


def main():
    folder = tempfile.mkdtemp(prefix="sheetmerge-several-")
    try:
        write_sources(folder)
        for what, options, arguments in CASES:
            check_result(what, options, arguments, folder)
        names = os.path.join(folder, "names")
        os.mkdir(names)
        check_per_source_names(names)
        # A clash of sheet choices is refused like the others.
        done = subprocess.run([SHEETMERGE, "merge", "--all-sheets", "--sheet-pattern", "*", folder],
                              capture_output=True, timeout=60)
        check(done.returncode == 2 and "--all-sheets 与 --sheet-pattern 只能选用一个" in
              done.stderr.decode(), f"clash: exit {done.returncode} {done.stderr.decode()}")
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    if FAILURES:
        print(f"{len(FAILURES)} check(s) failed", file=sys.stderr)
        return 1
    print("all several-sheet merges match the model")
    return 0


if __name__ == "__main__":
    sys.exit(main())
