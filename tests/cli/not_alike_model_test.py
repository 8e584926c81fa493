#!/usr/bin/env python3
"""Merges of files that are not quite alike, checked against a model: generated sources with
reordered, inserted, renamed-by-spacing, missing and duplicated columns, an empty header cell,
blank rows, repeated headers, 合计 rows and notes, merged cells and duplicates across files go
through `sheetmerge merge` with each new option alone and with all of them together. The model
below computes the expected result from the sources as openpyxl reads them; every result must
agree with it cell by cell (values, number formats, bold, fills), in its merged ranges and its
column widths, pass the structural check, and its log sheet and JSON report must agree with
each other and with the result.

Usage: not_alike_model_test.py PATH/TO/sheetmerge
"""
import datetime
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile

import openpyxl
from openpyxl.styles import Font, PatternFill

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import xlsx_check  # noqa: E402

SHEETMERGE = sys.argv[1]
FAILURES = []


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAIL:", what, file=sys.stderr)
    return condition


# ---------------------------------------------------------------------------------------------
# Sources

D = datetime.datetime
BOLD = Font(bold=True)
YELLOW = PatternFill("solid", fgColor="FFFFFF00")


def write_source(path, rows, merges=(), widths=None, formats=None):
    """rows: lists of values (None = empty). formats: {column letter: number format} for data
    rows. Header row bold; column E cells filled yellow where they hold a value."""
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.title = "数据"
    for row in rows:
        sheet.append(row)
    for cell in sheet[1]:
        if cell.value is not None:
            cell.font = BOLD
    for row in sheet.iter_rows(min_row=2):
        for cell in row:
            if cell.value is None:
                continue
            if formats and cell.column_letter in formats and not isinstance(cell.value, str):
                cell.number_format = formats[cell.column_letter]
            if cell.column_letter == "E":
                cell.fill = YELLOW
    for area in merges:
        sheet.merge_cells(area)
    for letter, width in (widths or {}).items():
        sheet.column_dimensions[letter].width = width
    book.save(path)


def make_sources(folder):
    os.makedirs(folder)
    header = ["日期", "数量", "单价", "金额", "备注"]
    write_source(os.path.join(folder, "1一月.xlsx"), [
        header,
        [D(2024, 1, 5), 3, 12.5, 37.5, "甲"],
        [D(2024, 1, 6), 2, 10, 20, None],
        [None, None, None, None, None],
        header,
        [D(2024, 1, 7), 1, 8, 8, "乙"],
        ["  合计 ", 6, None, 65.5, None],
        ["注：数据为演示", None, None, None, None],
    ], widths={"A": 14, "B": 8, "D": 12}, formats={"A": "yyyy-mm-dd", "B": "0", "D": "#,##0.00"})
    # Reordered, "单价 " renamed by spacing, 经办人 inserted, a duplicate of 一月's first row,
    # a duplicate inside the file, a row of blanks only, merges across reordered columns and
    # down one column.
    write_source(os.path.join(folder, "2二月.xlsx"), [
        ["金额", "日期", "单价 ", "数量", "备注", "经办人"],
        [37.5, D(2024, 1, 5), 12.5, 3, "甲", None],
        [50, D(2024, 2, 1), 25, 2, "丙", "李"],
        [50, D(2024, 2, 1), 25, 2, "丙", "李"],
        ["   ", None, None, None, None, None],
        [99, "跨列", None, 1, "戊", "赵"],
        [60, D(2024, 2, 4), 30, 2, "己", "钱"],
        [70, D(2024, 2, 5), 35, 2, None, "孙"],
        ["合计", None, None, 7, None, None],
    ], merges=["B6:C6", "E7:E8"], widths={"F": 20, "A": 30},
        formats={"A": "#,##0.00", "B": "yyyy-mm-dd", "D": "0"})
    # 单价 and 备注 missing, 金额 twice, CODE in capitals, no 合计 but a note in the last row.
    write_source(os.path.join(folder, "3三月.xlsx"), [
        ["日期", "数量", "金额", "金额", "CODE"],
        [D(2024, 3, 1), 4, 40, 41, "x1"],
        [D(2024, 3, 2), 5, 50, 51, "x2"],
        [None, None, None, None, None],
        [D(2024, 3, 3), 1, 1, 1, "x3"],
        ["备注：完", None, None, None, None],
    ], widths={"E": 9}, formats={"A": "yyyy-mm-dd"})
    # An empty header cell over data in column C, "Ｃode" in full-width and mixed case, the
    # header repeated in the data.
    write_source(os.path.join(folder, "4四月.xlsx"), [
        ["日期", "数量", None, "Ｃode"],
        [D(2024, 4, 1), 7, "无名", "y1"],
        [D(2024, 4, 2), 8, "无名2", "y2"],
        ["日期", "数量", None, "ＣＯＤＥ"],
        [D(2024, 4, 3), 9, None, "y3"],
        [D(2024, 4, 3), 9, None, "y3"],
    ], formats={"A": "yyyy-mm-dd"})


# ---------------------------------------------------------------------------------------------
# The model

BLANKS = " \t\n\r\v\f\u3000\u00a0"


def normalize(text):
    out = []
    for ch in text:
        code = ord(ch)
        if 0xFF01 <= code <= 0xFF5E:
            ch = chr(code - 0xFEE0)
        out.append(" " if ch in BLANKS else ch)
    words = "".join(out).split(" ")
    joined = " ".join(w for w in words if w)
    return "".join(c.lower() if "A" <= c <= "Z" else c for c in joined)


def display(value, number_format):
    """A value as the merge shows it (sheetmerge cat)."""
    if value is None:
        return ""
    if isinstance(value, bool):
        return "TRUE" if value else "FALSE"
    if isinstance(value, datetime.datetime):
        return value.date().isoformat() if value.time() == datetime.time() else value.isoformat()
    if isinstance(value, (int, float)):
        if float(value).is_integer():
            return str(int(value))
        return repr(float(value))
    return str(value)


class Cell:
    def __init__(self, value, number_format, bold, fill):
        self.value, self.number_format, self.bold, self.fill = value, number_format, bold, fill


def fill_of(cell):
    if cell.fill is None or cell.fill.fill_type != "solid":
        return None
    return cell.fill.fgColor.rgb


def read_source(path):
    book = openpyxl.load_workbook(path)
    sheet = book.active
    cells = {}
    for row in sheet.iter_rows():
        for cell in row:
            if cell.value is None:
                continue
            cells[(cell.row, cell.column)] = Cell(cell.value, cell.number_format,
                                                  bool(cell.font and cell.font.b), fill_of(cell))
    widths = {}
    for letter, dimension in sheet.column_dimensions.items():
        if dimension.width and dimension.customWidth:
            widths[openpyxl.utils.column_index_from_string(letter)] = dimension.width
    merges = [(m.min_row, m.min_col, m.max_row, m.max_col) for m in sheet.merged_cells.ranges]
    last_row = max(r for r, _ in cells)
    last_col = max(c for _, c in cells)
    return {"cells": cells, "widths": widths, "merges": merges, "last_row": last_row,
            "last_col": last_col, "stem": os.path.splitext(os.path.basename(path))[0],
            "name": os.path.basename(path)}


def text_at(source, row, column):
    cell = source["cells"].get((row, column))
    return display(cell.value, cell.number_format) if cell else ""


def model(sources, opts):
    """The expected data sheet: {(row, col): Cell}, merges, widths, header rows, and per source
    the log entry (rows copied, left out, columns, rows landed)."""
    align = opts.get("align", False)
    start = opts.get("start_row")  # None: the largest data rectangle
    header_once = opts.get("header", False)
    labels = 1 if opts.get("mark_name") else 0
    out, merges, widths = {}, [], {}
    union = []  # (key, occurrence or -sheet column) identities, titles
    titles = []
    digests = set()
    first_keys = None
    header_rows = (start - 1 if header_once else 0) if start else (1 if align else 0)
    used = header_rows
    entries = []
    for index, src in enumerate(sources):
        src = dict(src, cells=dict(src["cells"]), merges=list(src["merges"]))
        first = index == 0
        top = start or 1
        header_row = (start - 1) if start else (1 if align else 0)
        data_top = top + 1 if (align and not start) else top
        ncols = src["last_col"]
        header = [text_at(src, header_row, c) for c in range(1, ncols + 1)] if header_row else [""] * ncols
        # Columns.
        colmap = list(range(ncols))
        added = []
        if align:
            seen, colmap = {}, []
            for offset, text in enumerate(header):
                key = normalize(text)
                if key:
                    seen[key] = seen.get(key, 0) + 1
                    ident = (key, seen[key])
                else:
                    ident = ("", -(offset + 1))
                if ident in union:
                    colmap.append(union.index(ident))
                else:
                    colmap.append(len(union) + len(added))
                    added.append((offset, ident, text))
        # Merged cells in the data filled.
        filled = 0
        if opts.get("fill_merged"):
            kept = []
            for (r1, c1, r2, c2) in src["merges"]:
                if r2 < data_top or r1 > src["last_row"]:
                    kept.append((r1, c1, r2, c2))
                    continue
                model_cell = src["cells"].get((r1, c1))
                for r in range(max(r1, data_top), r2 + 1):
                    for c in range(c1, c2 + 1):
                        if (r, c) != (r1, c1) and model_cell:
                            src["cells"][(r, c)] = model_cell
                filled += 1
            src["merges"] = kept
        # Rows.
        last = src["last_row"]
        rows = list(range(data_top, last + 1))
        stopped = skipped = blank = repeats = dups = 0
        if opts.get("stop_at"):
            for r in rows:
                texts = [text_at(src, r, c).strip(BLANKS) for c in range(1, ncols + 1)]
                texts = [t for t in texts if t]
                if texts and texts[0] == opts["stop_at"]:
                    stopped = last - r + 1
                    rows = [x for x in rows if x < r]
                    break
        if opts.get("skip_last"):
            skipped = min(opts["skip_last"], len(rows))
            rows = rows[:len(rows) - skipped]
        keys = None
        first_is_header = False
        if opts.get("drop_header"):
            if header_row:
                keys = [normalize(t) for t in header]
            elif first:
                keys = [normalize(text_at(src, data_top, c)) for c in range(1, ncols + 1)]
                first_keys, first_is_header = keys, True
            else:
                keys = first_keys
        chosen, new_digests = [], set()
        for r in rows:
            texts = [text_at(src, r, c) for c in range(1, ncols + 1)]
            if first_is_header and r == data_top:
                chosen.append(r)
                continue
            if all(not t.strip(BLANKS) for t in texts):
                if opts.get("skip_blank"):
                    blank += 1
                else:
                    chosen.append(r)
                continue
            if keys and any(keys):
                normal = [normalize(t) for t in texts]
                if normal + [""] * (len(keys) - len(normal)) == keys + [""] * (len(normal) - len(keys)):
                    repeats += 1
                    continue
            if opts.get("dedupe"):
                digest = frozenset((colmap[c], t) for c, t in enumerate(texts) if t)
                if digest in digests or digest in new_digests:
                    dups += 1
                    continue
                new_digests.add(digest)
            chosen.append(r)
        digests |= new_digests
        # The header of the result, once.
        if first and header_rows:
            if start:
                for r in range(1, start):
                    for c in range(1, ncols + 1):
                        if (r, c) in src["cells"]:
                            out[(r, labels + c)] = src["cells"][(r, c)]
            else:
                for c in range(1, ncols + 1):
                    if (header_row, c) in src["cells"]:
                        out[(1, labels + c)] = src["cells"][(header_row, c)]
            if labels:
                out[(1, 1)] = Cell("特征信息", "General", False, None)
                if header_rows > 1:
                    merges.append((1, 1, header_rows, 1))
        if first:
            for c in range(1, ncols + 1):
                if c in src["widths"]:
                    widths[labels + c] = src["widths"][c]
            if labels:
                widths[1] = 15
        elif align:
            for offset, ident, text in added:
                target = labels + 1 + colmap[offset]
                if header_rows and (header_row, offset + 1) in src["cells"]:
                    out[(header_rows, target)] = src["cells"][(header_row, offset + 1)]
                if offset + 1 in src["widths"]:
                    widths[target] = src["widths"][offset + 1]
        # The data.
        for i, r in enumerate(chosen):
            for c in range(1, ncols + 1):
                if (r, c) in src["cells"]:
                    out[(used + 1 + i, labels + 1 + colmap[c - 1])] = src["cells"][(r, c)]
            if labels:
                out[(used + 1 + i, 1)] = Cell(src["stem"], "General", False, None)
        unmerged = 0
        for (r1, c1, r2, c2) in src["merges"]:
            r1c, r2c = max(r1, data_top), min(r2, last)
            if r1c > r2c or (r1c == r2c and c1 == c2):
                continue
            kept = [i for i, r in enumerate(chosen) if r1c <= r <= r2c]
            if not kept:
                continue
            together = len(kept) == r2c - r1c + 1 and all(
                colmap[c - 1] == colmap[c1 - 1] + c - c1 for c in range(c1, c2 + 1))
            if together:
                merges.append((used + 1 + kept[0], labels + 1 + colmap[c1 - 1],
                               used + 1 + kept[-1], labels + 1 + colmap[c2 - 1]))
            else:
                unmerged += 1
        if align:
            matched = [titles[colmap[o]] if colmap[o] < len(titles) else None for o in range(ncols)]
            for offset, ident, text in added:
                union.append(ident)
                titles.append(text if text else f"（无表头：{openpyxl.utils.get_column_letter(offset + 1)} 列）")
            names = [titles[colmap[o]] for o in range(ncols)]
            new = [titles[colmap[o]] for o, _, _ in added]
            columns = {"matched": names if first else [n for o, n in enumerate(names) if o not in [a[0] for a in added]],
                       "extra": [] if first else new, "filled": set(colmap)}
        else:
            columns = None
        entries.append({"name": src["name"], "rowsCopied": len(chosen), "stopAt": stopped,
                        "skipLast": skipped, "blankRows": blank, "headerRepeats": repeats,
                        "duplicates": dups, "columns": columns, "unmerged": unmerged,
                        "filled": filled,
                        "firstRow": used + 1 if chosen else None,
                        "lastRow": used + len(chosen) if chosen else None})
        used += len(chosen)
    for entry in entries:
        if entry["columns"]:
            entry["columns"]["missing"] = [titles[i] for i in range(len(titles))
                                           if i not in entry["columns"]["filled"]]
    return out, sorted(merges), widths, header_rows, entries


# ---------------------------------------------------------------------------------------------
# Checks

def merge(folder, out_dir, args):
    os.makedirs(out_dir, exist_ok=True)
    report = os.path.join(out_dir, "report.json")
    done = subprocess.run([SHEETMERGE, "merge", "-q", "-o", out_dir, "--report", report, *args,
                           folder], capture_output=True, timeout=120)
    results = glob.glob(os.path.join(out_dir, "*.xlsx"))
    return done, results, report


def compare_sheet(name, sheet, expected, merges, widths):
    actual = {}
    for row in sheet.iter_rows():
        for cell in row:
            if cell.value is not None:
                actual[(cell.row, cell.column)] = cell
    for key in sorted(set(actual) | set(expected)):
        where = f"{name}: {openpyxl.utils.get_column_letter(key[1])}{key[0]}"
        if not check(key in actual and key in expected,
                     f"{where}: expected {expected[key].value if key in expected else None!r},"
                     f" found {actual[key].value if key in actual else None!r}"):
            continue
        want, got = expected[key], actual[key]
        check(got.value == want.value, f"{where}: value {got.value!r}, expected {want.value!r}")
        check(got.number_format == want.number_format,
              f"{where}: format {got.number_format!r}, expected {want.number_format!r}")
        check(bool(got.font and got.font.b) == want.bold, f"{where}: bold {not want.bold}")
        check(fill_of(got) == want.fill, f"{where}: fill {fill_of(got)!r}, expected {want.fill!r}")
    found = sorted((m.min_row, m.min_col, m.max_row, m.max_col) for m in sheet.merged_cells.ranges)
    check(found == merges, f"{name}: merged ranges {found}, expected {merges}")
    for column, width in widths.items():
        letter = openpyxl.utils.get_column_letter(column)
        got = sheet.column_dimensions[letter].width if letter in sheet.column_dimensions else None
        check(got is not None and abs(got - width) < 0.01,
              f"{name}: width of column {letter} {got}, expected {width}")


def column_list(names):
    return str(len(names)) + ("（" + "、".join(names) + "）" if names else "")


def check_log(name, book, report, entries, opts):
    """The log sheet and the report agree with each other and with the model."""
    check(report["status"] == "saved", f"{name}: report status {report['status']}")
    check(len(report["entries"]) == len(entries), f"{name}: {len(report['entries'])} entries")
    rows = None
    if opts.get("log"):
        check(book.sheetnames[-1] == "合并明细", f"{name}: sheets {book.sheetnames}")
        rows = list(book["合并明细"].iter_rows(values_only=True))
        check(len(rows) == len(entries) + 1, f"{name}: log rows {len(rows)}")
    else:
        check("合并明细" not in book.sheetnames, f"{name}: a log sheet without the option")
    data_sheet = book.sheetnames[0]
    keys = [("stop_at", "stopAt", "结束标记及以下的行"), ("skip_last", "skipLast", "略去的末尾行"),
            ("skip_blank", "blankRows", "空白行"), ("drop_header", "headerRepeats", "重复的表头行"),
            ("dedupe", "duplicates", "重复行")]
    for number, (entry, want) in enumerate(zip(report["entries"], entries), start=1):
        what = f"{name}: entry {number} ({want['name']})"
        check(entry["relativePath"] == want["name"] and entry["outcome"] == "merged", what)
        check(entry["rowsCopied"] == want["rowsCopied"],
              f"{what}: rows copied {entry['rowsCopied']}, expected {want['rowsCopied']}")
        expected_left = {json_key: want[json_key] for opt, json_key, _ in keys if opts.get(opt)}
        check(entry["leftOut"] == expected_left, f"{what}: left out {entry['leftOut']}, expected {expected_left}")
        check(entry["firstRow"] == want["firstRow"] and entry["lastRow"] == want["lastRow"],
              f"{what}: rows {entry['firstRow']}..{entry['lastRow']}, expected {want['firstRow']}..{want['lastRow']}")
        check(entry["resultSheet"] == data_sheet, f"{what}: sheet {entry['resultSheet']}")
        if opts.get("fill_merged"):
            check(entry["mergedRangesFilled"] == want["filled"], f"{what}: filled {entry['mergedRangesFilled']}")
        if "mergedRangesUnmerged" in entry:
            check(entry["mergedRangesUnmerged"] == want["unmerged"],
                  f"{what}: unmerged {entry['mergedRangesUnmerged']}, expected {want['unmerged']}")
        if opts.get("align"):
            columns = entry["columns"]
            for part in ("matched", "missing", "extra"):
                check(columns[part] == want["columns"][part],
                      f"{what}: {part} {columns[part]}, expected {want['columns'][part]}")
        if rows is None:
            continue
        heading = rows[0]
        line = dict(zip(heading, rows[number]))
        check(line["序号"] == number and line["文件"] == entry["relativePath"]
              and line["工作表"] == entry["sheet"] and line["结果"] == "已合并", f"{what}: log {line}")
        check(line["复制行数"] == entry["rowsCopied"], f"{what}: log rows {line['复制行数']}")
        for opt, json_key, title in keys:
            if opts.get(opt):
                check(line[title] == entry["leftOut"][json_key], f"{what}: log {title} {line[title]}")
            else:
                check(title not in line, f"{what}: log column {title} without its option")
        check(line["结果工作表"] == entry["resultSheet"] and line["起始行"] == entry["firstRow"]
              and line["结束行"] == entry["lastRow"], f"{what}: log landing {line}")
        if opts.get("align"):
            for part, title in (("matched", "匹配的列"), ("missing", "缺少的列"), ("extra", "新增的列")):
                check(line[title] == column_list(entry["columns"][part]),
                      f"{what}: log {title} {line[title]!r}")


CASES = [
    ("align", {"align": True, "start_row": 2, "header": True}),
    ("align without header rows", {"align": True, "start_row": 2}),
    ("align in the data rectangle", {"align": True}),
    ("skip blank rows", {"skip_blank": True, "start_row": 2, "header": True}),
    ("drop header repeats", {"drop_header": True, "start_row": 2, "header": True}),
    ("drop header repeats in the data rectangle", {"drop_header": True}),
    ("stop at", {"stop_at": "合计", "start_row": 2, "header": True}),
    ("skip last", {"skip_last": 1, "start_row": 2, "header": True}),
    ("dedupe", {"dedupe": True, "start_row": 2, "header": True}),
    ("fill merged", {"fill_merged": True, "start_row": 2, "header": True}),
    ("mark name", {"mark_name": True, "start_row": 2, "header": True}),
    ("log sheet", {"log": True, "start_row": 2, "header": True}),
]
ALL = {"align": True, "skip_blank": True, "drop_header": True, "stop_at": "合计", "skip_last": 1,
       "dedupe": True, "fill_merged": True, "mark_name": True, "log": True}
CASES += [("all together", dict(ALL, start_row=2, header=True)),
          ("all together in the data rectangle", dict(ALL))]


def arguments(opts):
    args = []
    if opts.get("start_row"):
        args += ["--start-row", str(opts["start_row"])]
    if opts.get("header"):
        args.append("--header")
    flags = [("align", "--align-columns"), ("skip_blank", "--skip-blank-rows"),
             ("drop_header", "--drop-header-repeats"), ("dedupe", "--dedupe"),
             ("fill_merged", "--fill-merged"), ("mark_name", "--mark-name"), ("log", "--log-sheet")]
    args += [flag for key, flag in flags if opts.get(key)]
    if opts.get("stop_at"):
        args += ["--stop-at", opts["stop_at"]]
    if opts.get("skip_last"):
        args += ["--skip-last", str(opts["skip_last"])]
    return args


def check_refusals(folder, scratch):
    """Options the dialog would refuse are refused before anything is written."""
    out_dir = os.path.join(scratch, "refused")
    for args, message in [
        (["--align-columns", "--start-row", "1"], "按表头名称对齐列时，表头是起始行上方的一行，起始行须大于1。"),
        (["--stop-at", " "], "请输入结束标记的文字，如：合计。"),
        (["--skip-last", "1.5"], "“末尾略去的行数”必须是大于0的整数。"),
        (["--skip-last", "x"], "“末尾略去的行数”必须是大于0的整数。"),
        (["--mark-name", "--mark-path"], "--mark-name 不能与 --mark-path 或 --mark-cells 一起使用。"),
    ]:
        done, results, report = merge(folder, out_dir, args)
        err = done.stderr.decode("utf-8")
        check(done.returncode == 2 and message in err and not results and not os.path.exists(report),
              f"refusal of {args}: exit {done.returncode}, stderr {err!r}, results {results}")


def write_sheets(path, sheets):
    """sheets: (name, rows) in workbook order."""
    book = openpyxl.Workbook()
    book.remove(book.active)
    for name, rows in sheets:
        sheet = book.create_sheet(name)
        for row in rows:
            sheet.append(row)
    book.save(path)


def check_several_sheets(scratch):
    """Several sheets per source: every sheet is a block with its own log row and report entry;
    with a result sheet per block and columns by name every sheet has the header row of all
    names; the file-name label goes beside the sheet-name label; a CSV result keeps the header
    row of names at its top."""
    folder = os.path.join(scratch, "several")
    os.makedirs(folder)
    blocks = [  # (file stem, sheet, header, rows) in merge order
        ("a", "甲", ["名称", "数量"], [["x", 1], ["y", 2]]),
        ("a", "乙", ["数量", "名称 ", "备注"], [[3, "z", "新"]]),
        ("b", "丙", ["备注", "ＣＯＤＥ", "名称"], [["旧", "c1", "w"], ["旧", "c2", "v"]]),
    ]
    for stem in ("a", "b"):
        write_sheets(os.path.join(folder, stem + ".xlsx"),
                     [(sheet, [header] + rows) for s, sheet, header, rows in blocks if s == stem])
    names = []
    for _, _, header, _ in blocks:
        for title in header:
            if normalize(title) not in [normalize(n) for n in names]:
                names.append(title)
    keys = [normalize(n) for n in names]

    def expected_rows(stem, sheet, header, rows):
        lines = []
        for row in rows:
            line = [stem, sheet] + [None] * len(names)
            for title, value in zip(header, row):
                line[2 + keys.index(normalize(title))] = value
            lines.append(line)
        return lines

    flags = ["--all-sheets", "--align-columns", "--mark-name", "--mark-sheet", "--log-sheet"]
    out_dir = os.path.join(scratch, "several-out")
    done, results, report_path = merge(folder, out_dir, flags + ["--per-source"])
    if check(done.returncode == 0 and len(results) == 1,
             f"per source: exit {done.returncode}, {done.stderr.decode('utf-8')!r}"):
        book = openpyxl.load_workbook(results[0])
        with open(report_path, encoding="utf-8") as handle:
            report = json.load(handle)
        check(book.sheetnames == ["a-甲", "a-乙", "b-丙", "合并明细"], f"sheets {book.sheetnames}")
        check(len(report["entries"]) == 3, f"per source: {len(report['entries'])} entries")
        log = list(book["合并明细"].iter_rows(values_only=True))
        check(len(log) == 4, f"per source: {len(log)} log rows")
        for number, (block, entry) in enumerate(zip(blocks, report["entries"]), start=1):
            stem, sheet_name, header, rows = block
            sheet = book.worksheets[number - 1]
            got = [list(row) for row in sheet.iter_rows(values_only=True)]
            want = [["特征信息", None] + names] + expected_rows(*block)
            check(got == want, f"per source: sheet {sheet.title} holds {got}, expected {want}")
            check(entry["sheet"] == sheet_name and entry["resultSheet"] == sheet.title
                  and entry["firstRow"] == 2 and entry["lastRow"] == 1 + len(rows),
                  f"per source: entry {entry}")
            line = dict(zip(log[0], log[number]))
            check(line["工作表"] == sheet_name and line["结果工作表"] == sheet.title
                  and line["复制行数"] == len(rows), f"per source: log row {line}")

    out_dir = os.path.join(scratch, "several-csv")
    done, _, _ = merge(folder, out_dir, flags + ["--format", "csv"])
    folders = [path for path in glob.glob(os.path.join(out_dir, "*")) if os.path.isdir(path)]
    if check(done.returncode == 0 and len(folders) == 1,
             f"csv: exit {done.returncode}, {done.stderr.decode('utf-8')!r}"):
        with open(os.path.join(folders[0], "成功合并(2).csv"), encoding="utf-8-sig") as handle:
            got = handle.read().splitlines()
        lines = [["特征信息", ""] + names]
        for block in blocks:
            lines += [["" if v is None else str(v) for v in line] for line in expected_rows(*block)]
        want = [",".join(line) for line in lines]
        check(got == want, f"csv: {got}, expected {want}")
        with open(os.path.join(folders[0], "合并明细.csv"), encoding="utf-8-sig") as handle:
            check(len(handle.read().splitlines()) == 4, "csv: the log has a line per block")

    # A source none of whose sheets gives a block fails under its first sheet's reason, and the
    # log names that sheet.
    failing = os.path.join(scratch, "several-failing")
    os.makedirs(failing)
    shutil.copy(os.path.join(folder, "a.xlsx"), failing)
    write_sheets(os.path.join(failing, "e.xlsx"), [("空一", []), ("空二", [])])
    out_dir = os.path.join(scratch, "several-failing-out")
    done, results, report_path = merge(failing, out_dir, ["--all-sheets", "--log-sheet"])
    if check(done.returncode == 1 and len(results) == 1,
             f"failing sheets: exit {done.returncode}, {done.stderr.decode('utf-8')!r}"):
        with open(report_path, encoding="utf-8") as handle:
            entries = json.load(handle)["entries"]
        got = [(entry["sheet"], entry["outcome"]) for entry in entries]
        want = [("甲", "merged"), ("乙", "merged"), ("空一", "failed")]
        check(got == want, f"failing sheets: entries {got}, expected {want}")
        log = list(openpyxl.load_workbook(results[0])["合并明细"].iter_rows(values_only=True))
        check([(row[2], row[3]) for row in log[1:]] == [("甲", "已合并"), ("乙", "已合并"), ("空一", "合并失败")],
              f"failing sheets: log {log}")


def main():
    scratch = tempfile.mkdtemp(prefix="sheetmerge-not-alike-")
    folder = os.path.join(scratch, "sources")
    make_sources(folder)
    sources = [read_source(path) for path in sorted(glob.glob(os.path.join(folder, "*.xlsx")))]
    before = {path: open(path, "rb").read() for path in glob.glob(os.path.join(folder, "*"))}
    for number, (name, opts) in enumerate(CASES):
        out_dir = os.path.join(scratch, f"out{number}")
        done, results, report_path = merge(folder, out_dir, arguments(opts))
        if not check(done.returncode == 0 and len(results) == 1,
                     f"{name}: exit {done.returncode}, stderr {done.stderr.decode('utf-8')!r}"):
            continue
        faults = xlsx_check.check_package(results[0])
        check(not faults, f"{name}: structural faults {faults}")
        expected, merges, widths, header_rows, entries = model(sources, opts)
        book = openpyxl.load_workbook(results[0])
        sheet = book.worksheets[0]
        check(sheet.title == "成功合并(4)", f"{name}: data sheet {sheet.title}")
        compare_sheet(name, sheet, expected, merges, widths)
        frozen = f"A{header_rows + 1}" if header_rows else None
        check(sheet.freeze_panes == frozen, f"{name}: panes {sheet.freeze_panes}, expected {frozen}")
        with open(report_path, encoding="utf-8") as handle:
            report = json.load(handle)
        check(report["result"] == results[0], f"{name}: report names {report['result']}")
        check_log(name, book, report, entries, opts)
    check_refusals(folder, scratch)
    check_several_sheets(scratch)
    after = {path: open(path, "rb").read() for path in glob.glob(os.path.join(folder, "*"))}
    check(before == after, "the sources were changed")
    shutil.rmtree(scratch, ignore_errors=True)
    if FAILURES:
        print(f"{len(FAILURES)} check(s) failed", file=sys.stderr)
        return 1
    print(f"all {len(CASES)} merges agree with the model")
    return 0


if __name__ == "__main__":
    sys.exit(main())
