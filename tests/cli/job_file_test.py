#!/usr/bin/env python3
"""`sheetmerge merge --save-job` and `--job` end to end: a job saved and run again gives the same
result as the command that saved it, cell by cell with formats; paths on the command line take
the place of the saved ones; other options beside --job, job files from newer versions, with
unknown items or malformed are refused (exit 2) with nothing merged; saving never overwrites a
file that is not a job file.

Usage: job_file_test.py PATH/TO/sheetmerge
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

import openpyxl

SHEETMERGE = os.path.abspath(sys.argv[1])
FAILURES = []


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAIL:", what, file=sys.stderr)
    return condition


def run(*args, cwd=None):
    done = subprocess.run([SHEETMERGE, "merge", "-q", *args], capture_output=True, timeout=300, cwd=cwd)
    return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8")


def workbook(path, rows, title="数据", extra_sheets=(), formats=None):
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.title = title
    for row in rows:
        sheet.append(row)
    for column, number_format in (formats or {}).items():
        for cells in sheet.iter_rows(min_col=column, max_col=column):
            cells[0].number_format = number_format
    sheet["A1"].font = openpyxl.styles.Font(bold=True)
    for extra in extra_sheets:
        book.create_sheet(extra).append([extra, 1])
    book.save(path)


def cells_of(path):
    """Everything a reader sees of a result: sheets, values, formats, merges, widths, panes."""
    book = openpyxl.load_workbook(path)
    sheets = []
    for sheet in book.worksheets:
        cells = [(cell.coordinate, cell.value, cell.number_format, cell.font.b, cell.font.name,
                  cell.font.sz, cell.fill.fgColor.rgb if cell.fill and cell.fill.fill_type else None)
                 for row in sheet.iter_rows() for cell in row if cell.value is not None or cell.has_style]
        widths = {key: dimension.width for key, dimension in sheet.column_dimensions.items()}
        sheets.append((sheet.title, cells, sorted(str(r) for r in sheet.merged_cells.ranges), widths,
                       sheet.freeze_panes))
    return sheets


def folder_files(path):
    files = {}
    for name in sorted(os.listdir(path)):
        with open(os.path.join(path, name), "rb") as handle:
            files[name] = handle.read()
    return files


def result_of(out):
    lines = out.splitlines()
    return lines[0] if len(lines) == 2 else None


def same_results(first, second, what):
    if not (first and second):
        return check(False, f"{what}: missing result {first!r} / {second!r}")
    if os.path.isdir(first):
        return check(folder_files(first) == folder_files(second), f"{what}: CSV folders differ")
    a, b = cells_of(first), cells_of(second)
    if a != b:
        for sheet_a, sheet_b in zip(a, b):
            if sheet_a != sheet_b:
                check(False, f"{what}: sheet {sheet_a[0]!r}/{sheet_b[0]!r} differs")
                for cell_a, cell_b in zip(sheet_a[1], sheet_b[1]):
                    if cell_a != cell_b:
                        print(f"  first difference: {cell_a} != {cell_b}", file=sys.stderr)
                        break
                return False
        return check(False, f"{what}: sheets {[s[0] for s in a]} / {[s[0] for s in b]}")
    return True


def snapshot(folder):
    state = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            with open(path, "rb") as handle:
                state[path] = handle.read()
    return state


def saved_and_run_again(args, what, scratch):
    """Runs `args` with --save-job, then the job; both results are compared."""
    out_first = tempfile.mkdtemp(prefix="first.", dir=scratch)
    out_again = tempfile.mkdtemp(prefix="again.", dir=scratch)
    job = os.path.join(scratch, what.replace(" ", "_") + ".json")
    code, out, err = run("--save-job", job, "-o", out_first, *args)
    check(code in (0, 1), f"{what}: saving run exit {code}, stderr {err.strip()!r}")
    first = result_of(out)
    if not check(os.path.isfile(job), f"{what}: no job file"):
        return
    with open(job, encoding="utf-8") as handle:
        saved = json.load(handle)
    check(saved.get("sheetmerge-job") == 1 and saved.get("output-dir") == out_first,
          f"{what}: job file {saved}")
    # The job holds -o too: the run again goes to another folder only when the file says so.
    saved["output-dir"] = out_again
    with open(job, "w", encoding="utf-8") as handle:
        json.dump(saved, handle, ensure_ascii=False)
    code_again, out, err = run("--job", job)
    check(code_again == code, f"{what}: run again exit {code_again}, expected {code}, stderr {err.strip()!r}")
    same_results(first, result_of(out), what)
    return saved


def main():
    scratch = tempfile.mkdtemp(prefix="job_file_test.")
    runtime = os.path.join(scratch, "runtime")
    os.mkdir(runtime, 0o700)
    os.environ["XDG_RUNTIME_DIR"] = runtime

    data = os.path.join(scratch, "data")
    os.makedirs(os.path.join(data, "二月", "深"))
    for name, tag in [("华东销售.xlsx", "东"), ("华南销售.xlsx", "南"), ("采购.xlsx", "采"),
                      ("销售 备份.xlsx", "备"), (os.path.join("二月", "华北销售.xlsx"), "北"),
                      (os.path.join("二月", "深", "西部销售.xlsx"), "西")]:
        workbook(os.path.join(data, name),
                 [["月报 " + tag], ["名称", "金额", "日期"], [tag + "1", 10.5, 45000], [tag + "2", -3, 45001]],
                 extra_sheets=["附表"], formats={2: "#,##0.00", 3: "yyyy-mm-dd"})
    with open(os.path.join(data, "说明销售.csv"), "w", encoding="utf-8") as handle:
        handle.write("名称,金额\n说明1,1\n")
    other = os.path.join(scratch, "other")
    os.mkdir(other)
    for name, tag in [("甲销售.xlsx", "甲"), ("乙销售.xlsx", "乙"), ("丙.xlsx", "丙")]:
        workbook(os.path.join(other, name), [["月报 " + tag], ["名称", "金额"], [tag + "1", 1]])
    files = [os.path.join(data, "采购.xlsx"), os.path.join(data, "华东销售.xlsx"), os.path.join(data, "说明销售.csv")]
    sources_before = snapshot(data)

    # Saved and run again: the same result, for options of every kind.
    saved = saved_and_run_again(
        ["-r", "--include", "*销售*", "--exclude", "*备份*", "--sheet-name", "数据", "--start-row", "2",
         "--header", "--mark-path", data], "folder with filters header and labels", scratch)
    if saved:
        check(saved["paths"] == [data] and saved["recursive"] is True and saved["include"] == ["*销售*"]
              and saved["exclude"] == ["*备份*"] and saved["sheet-name"] == "数据" and saved["start-row"] == 2
              and saved["header"] is True and saved["mark-path"] is True and saved["mark-cells"] is None
              and saved["format"] == "xlsx", f"job file content {saved}")
    saved_and_run_again(["--sheet-index", "1", "--cells", "A2:B3", "--mark-cells", "A1,B2", *files],
                        "files with cells and cell labels", scratch)
    # A start row typed as 1.5 is saved as the row the merge used.
    saved = saved_and_run_again(["--start-row", "1.5", "--format", "csv", data], "csv with a typed start row",
                                scratch)
    if saved:
        check(saved["start-row"] == 2 and saved["format"] == "csv", f"csv job {saved}")

    # The options for files that are not quite alike, beside several sheets per source.
    saved = saved_and_run_again(
        ["-r", "--all-sheets", "--start-row", "3", "--header", "--align-columns", "--skip-blank-rows",
         "--drop-header-repeats", "--stop-at", "合计", "--skip-last", "1", "--dedupe", "--fill-merged",
         "--mark-name", "--mark-sheet", "--log-sheet", data], "files not quite alike", scratch)
    if saved:
        check(saved["align-columns"] is True and saved["skip-blank-rows"] is True
              and saved["drop-header-repeats"] is True and saved["stop-at"] == "合计"
              and saved["skip-last"] == 1 and saved["dedupe"] is True and saved["fill-merged"] is True
              and saved["mark-name"] is True and saved["mark-path"] is False
              and saved["mark-sheet"] is True and saved["log-sheet"] is True
              and saved["all-sheets"] is True, f"job file content {saved}")

    # Paths on the command line take the place of the saved ones, relative ones from the
    # current folder.
    job = os.path.join(scratch, "monthly.json")
    out_job = tempfile.mkdtemp(prefix="job.", dir=scratch)
    out_direct = tempfile.mkdtemp(prefix="direct.", dir=scratch)
    code, _, err = run("--save-job", job, "-o", out_job, "--include", "*销售*", "--mark-path", data)
    check(code == 0, f"save monthly: exit {code}, {err!r}")
    code, out_a, err = run("--job", job, "other", cwd=scratch)
    check(code == 0, f"job on other paths: exit {code}, {err!r}")
    code, out_b, err = run("-o", out_direct, "--include", "*销售*", "--mark-path", other)
    same_results(result_of(out_a), result_of(out_b), "paths given beside --job")
    if result_of(out_a):
        check(os.path.dirname(result_of(out_a)) == out_job, f"the job's -o was not used: {out_a!r}")
        values = [row[1] for row in openpyxl.load_workbook(result_of(out_a)).active.iter_rows(values_only=True)]
        check("丙1" not in values and "甲1" in values, f"the job's filter was not used: {values}")

    # Options beside --job are refused, except those a job does not hold.
    for extra, name in [(["--sheet-index", "2"], "--sheet-index"), (["-r"], "--recursive"),
                        (["-o", scratch], "--output-dir"), (["--format=csv"], "--format"),
                        (["--include", "*"], "--include"), (["--header"], "--header")]:
        code, out, err = run("--job", job, *extra)
        check(code == 2 and f"--job 不能与 {name} 一起使用" in err and out == "",
              f"{extra} beside --job: exit {code}, stderr {err!r}")
    report = os.path.join(scratch, "report.json")
    code, out, err = run("--job", job, "--password", "x", "--save-job", os.path.join(scratch, "copy.json"),
                         "--report", report)
    check(code == 0 and os.path.isfile(os.path.join(scratch, "copy.json")) and os.path.isfile(report),
          f"allowed beside --job: exit {code}, {err!r}")

    # Refused job files: nothing is merged, nothing is written.
    refused = os.path.join(scratch, "refused")
    os.mkdir(refused)
    cases = [
        ('{"sheetmerge-job": 2, "paths": ["%s"]}' % data, "格式版本为 2，本程序只能读取版本 1 的任务文件"),
        ('{"sheetmerge-job": 1, "paths": ["%s"], "sheet-colour": true}' % data, "不认识的项“sheet-colour”"),
        ('{"sheetmerge-job": 1, "paths": ["%s"], "start-row": "2"}' % data, "项“start-row”必须是"),
        ('{"sheetmerge-job": 1, "paths": ["%s"],\n "header": true\n' % data, "第 3 行第 1 列"),
        ('{"sheetmerge-job": 1, "paths": ["%s"], "header": true}' % data, "“header”只能与“start-row”一起使用"),
        ('{"paths": ["%s"]}' % data, "缺少格式版本项"),
        ("", "内容不完整"),
    ]
    for number, (text, why) in enumerate(cases):
        path = os.path.join(refused, f"job{number}.json")
        with open(path, "w", encoding="utf-8") as handle:
            handle.write(text)
        code, out, err = run("--job", path, "-q")
        check(code == 2 and f"任务文件“{path}”无法使用，未执行：" in err and why in err and out == "",
              f"refused job {text!r}: exit {code}, stderr {err!r}")
    code, out, err = run("--job", os.path.join(refused, "missing.json"))
    check(code == 2 and "无法读取" in err, f"missing job file: exit {code}, {err!r}")
    check(sorted(os.listdir(refused)) == [f"job{n}.json" for n in range(len(cases))],
          f"refused jobs wrote {sorted(os.listdir(refused))}")
    check(not [name for name in os.listdir(data) if name.startswith("合并 ")], "a refused job merged")

    # --save-job never overwrites a file that is not a job file, and saves nothing for options
    # the checks refuse.
    victim = os.path.join(scratch, "keep.xlsx")
    workbook(victim, [["mine"]])
    with open(victim, "rb") as handle:
        victim_bytes = handle.read()
    out_none = tempfile.mkdtemp(prefix="none.", dir=scratch)
    code, out, err = run("--save-job", victim, "-o", out_none, data)
    check(code == 2 and "已存在且不是 sheetmerge 的任务文件，未覆盖" in err, f"save over a workbook: exit {code}, {err!r}")
    with open(victim, "rb") as handle:
        check(handle.read() == victim_bytes, "save over a workbook: it changed")
    refused_job = os.path.join(scratch, "refused.json")
    code, out, err = run("--save-job", refused_job, "-o", out_none, "--cells", "XYZ0", data)
    check(code == 2 and not os.path.exists(refused_job), f"refused options saved: exit {code}, {err!r}")
    check(os.listdir(out_none) == [], f"refused saves merged: {os.listdir(out_none)}")

    check(snapshot(data) == sources_before, "sources changed")
    shutil.rmtree(scratch, ignore_errors=True)
    if FAILURES:
        print(f"{len(FAILURES)} check(s) failed", file=sys.stderr)
        return 1
    print("all job file checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
