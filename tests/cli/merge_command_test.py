#!/usr/bin/env python3
"""Runs the built `sheetmerge merge` on generated folders and checks exit statuses, stdout,
stderr, the result read back with openpyxl and through the structural check of
tests/support/xlsx_check.py, and that no source was touched.

Usage: merge_command_test.py PATH/TO/sheetmerge
"""
import datetime
import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import openpyxl

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import xlsx_check  # noqa: E402

SHEETMERGE = sys.argv[1]
FAILURES = []
SUMMARY = re.compile(r"^共选取【(\d+)】个文件，成功合并【(\d+)】个，【(\d+)】个合并失败。$")
RESULT_NAME = re.compile(r"合并 \d{6} \d{6}( \(\d+\))?\.xlsx$")


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAIL:", what, file=sys.stderr)


def check_structure(path, what):
    faults = xlsx_check.check_package(path)
    check(not faults, f"{what}: structural faults in {os.path.basename(path)}: {faults}")


def remove_results(folder, what):
    """Checks the structure of every result in folder, then removes them."""
    for name in os.listdir(folder):
        check_structure(os.path.join(folder, name), what)
        os.remove(os.path.join(folder, name))


def run(*args, env_extra=None):
    env = dict(os.environ)
    env.update(env_extra or {})
    done = subprocess.run([SHEETMERGE, "merge", *args], capture_output=True, timeout=120, env=env)
    return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8")


def workbook(path, rows, sheet_title="数据", extra_sheets=()):
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.title = sheet_title
    for row in rows:
        sheet.append(row)
    for title in extra_sheets:
        book.create_sheet(title).append([title])
    book.save(path)


def snapshot(folder):
    """Content hash and modification time of every file under folder."""
    state = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            with open(path, "rb") as handle:
                digest = hashlib.sha256(handle.read()).hexdigest()
            state[path] = (digest, os.stat(path).st_mtime_ns)
    return state


def result_files(folder):
    return sorted(name for name in os.listdir(folder) if RESULT_NAME.search(name))


def expect_refused(args, message, what):
    code, out, err = run(*args)
    check(code == 2, f"{what}: exit {code}, expected 2 (stderr: {err.strip()})")
    check(message in err, f"{what}: stderr lacks {message!r}: {err.strip()!r}")
    check(out == "", f"{what}: stdout not empty: {out!r}")


def failure_lines(err):
    """The "失败：路径：原因：说明" lines of stderr as {path: (reason, cause)}; a path listed
    twice is reported as a failure of the check."""
    found = {}
    for line in err.splitlines():
        if not line.startswith("失败："):
            continue
        fields = line[len("失败："):].split("：")
        check(len(fields) >= 3, f"failure line with too few fields: {line!r}")
        if len(fields) < 3:
            continue
        path, reason, cause = fields[0], fields[1], "：".join(fields[2:])
        check(path not in found, f"failure line repeated for {path}")
        found[path] = (reason, cause)
    return found


def check_damaged_folder(scratch):
    """A damaged first .xlsx no longer stops the merge; each failed file gets one line on stderr
    with its reason and the engine's own words for the cause."""
    folder = os.path.join(scratch, "damaged")
    os.mkdir(folder)
    corrupt = os.path.join(folder, "a_corrupt.xlsx")
    with open(corrupt, "wb") as handle:
        handle.write(b"PK\x03\x04 this is no workbook")
    whole = os.path.join(scratch, "whole.xlsx")
    workbook(whole, [["x", 1]] * 50)
    with open(whole, "rb") as handle:
        data = handle.read()
    truncated = os.path.join(folder, "b_truncated.xlsx")
    with open(truncated, "wb") as handle:
        handle.write(data[: len(data) // 2])
    workbook(os.path.join(folder, "c.xlsx"), [["c", 3]])
    workbook(os.path.join(folder, "d.xlsx"), [["d", 4]])
    before = snapshot(folder)
    code, out, err = run(folder)
    check(code == 1, f"damaged folder: exit {code}, stderr {err.strip()!r}")
    lines = out.splitlines()
    check(len(lines) == 2 and lines[1] == "共选取【4】个文件，成功合并【2】个，【2】个合并失败。",
          f"damaged folder: stdout {out!r}")
    causes = failure_lines(err)
    check(causes.keys() == {corrupt, truncated}, f"damaged folder: failure lines {err!r}")
    for path, (reason, cause) in causes.items():
        check(reason == "其它", f"damaged folder: {path} booked under {reason!r}")
        # The engine's description, not the fallback for failures without one.
        check(cause.strip() != "" and cause != "无法打开该文件", f"damaged folder: {path} cause {cause!r}")
    if lines and os.path.isfile(lines[0]):
        book = openpyxl.load_workbook(lines[0])
        firsts = [row[0] for row in book.worksheets[1].iter_rows(values_only=True)]
        check(firsts == ["c", "d"], f"damaged folder: merged {firsts}")
        # On the failure list each failed file's cell carries, as a note by the program, the
        # reason and cause stderr gave for it.
        notes = {cell.value: cell.comment for row in book.worksheets[0].iter_rows() for cell in row
                 if cell.comment}
        wanted = {os.path.basename(path): f"{reason}：{cause}" for path, (reason, cause) in causes.items()}
        check({name: note.text for name, note in notes.items()} == wanted,
              f"damaged folder: notes {[(name, note.text) for name, note in notes.items()]}, expected {wanted}")
        check(all(note.author == "sheetmerge" for note in notes.values()),
              f"damaged folder: note authors {[note.author for note in notes.values()]}")
        os.remove(lines[0])
    check(snapshot(folder) == before, "damaged folder: sources changed")


def check_second_run(scratch):
    """A second merge of the same folder leaves out the first one's result, and office lock files
    are never sources; a file only named like a result is one."""
    folder = os.path.join(scratch, "again")
    os.mkdir(folder)
    workbook(os.path.join(folder, "a.xlsx"), [["a", 1]])
    workbook(os.path.join(folder, "b.xlsx"), [["b", 2]])
    # Somebody's own workbook under a result's name: written by openpyxl, so it is a source.
    workbook(os.path.join(folder, "合并 010101 000000.xlsx"), [["theirs", 3]])
    with open(os.path.join(folder, "~$a.xlsx"), "wb") as handle:
        handle.write(b"\x05owner" + b"\x00" * 157)
    code, out, err = run("-q", folder)
    check(code == 0, f"first run: exit {code}, stderr {err.strip()!r}")
    lines = out.splitlines()
    check(len(lines) == 2 and lines[1] == "共选取【3】个文件，成功合并【3】个，【0】个合并失败。",
          f"first run (lock file and own result left out): stdout {out!r}")
    first = lines[0] if lines else ""
    code, out, err = run("-q", folder)
    check(code == 0, f"second run: exit {code}, stderr {err.strip()!r}")
    lines = out.splitlines()
    check(len(lines) == 2 and lines[1] == "共选取【3】个文件，成功合并【3】个，【0】个合并失败。"
          "另有【1】个此前生成的合并结果未参与合并。", f"second run: stdout {out!r}")
    if lines and os.path.isfile(lines[0]):
        check(lines[0] != first, "second run: the first result was replaced")
        values = sorted(row[0] for row in openpyxl.load_workbook(lines[0]).active.iter_rows(values_only=True))
        check(values == ["a", "b", "theirs"], f"second run: merged {values}")
    check(err.strip() == "", f"second run: stderr {err!r}")


def check_formula_notice(scratch):
    """Formula cells without cached values are merged as empty cells, with one notice line per
    source."""
    folder = os.path.join(scratch, "formulas")
    os.mkdir(folder)
    with_formulas = os.path.join(folder, "f.xlsx")
    # openpyxl writes formulas without cached values, as scripts do.
    workbook(with_formulas, [[1, 2], ["=A1+B1", "=SUM(A1:B1)"], [5, 6]])
    workbook(os.path.join(folder, "g.xlsx"), [[3, 4]])
    code, out, err = run("-q", folder)
    check(code == 0, f"formulas: exit {code}, stderr {err.strip()!r}")
    notices = [line for line in err.splitlines() if line.startswith("提示：")]
    check(notices == [f"提示：{with_formulas}：2 个公式单元格没有计算结果，已按空单元格合并"],
          f"formulas: stderr {err!r}")
    lines = out.splitlines()
    if lines and os.path.isfile(lines[0]):
        rows = list(openpyxl.load_workbook(lines[0]).active.iter_rows(values_only=True))
        check(rows == [(1, 2), (None, None), (5, 6), (3, 4)], f"formulas: merged {rows}")


def check_csv_encodings(scratch):
    """CSV sources in legacy code pages merge with their text intact and their dates as dates;
    --encoding forces one encoding for all of them; a text file named .xlsx fails with its cause
    while the same bytes named .xls merge."""
    folder = os.path.join(scratch, "encodings")
    os.mkdir(folder)
    sources = {
        "a_gbk.csv": ("gbk", "编号,客户,日期,比例\n1,北京华联商厦,2026年1月5日,12.5%\n"),
        "b_cp1251.csv": ("cp1251", "1,Иванов Сергей Петрович,2026/1/6,\"1,234.5\"\n"),
        "c_latin1.csv": ("latin-1", "1,François Müller,2026-01-07 09:30,3%\n"),
    }
    for name, (encoding, text) in sources.items():
        with open(os.path.join(folder, name), "wb") as handle:
            handle.write(text.encode(encoding))
    with open(os.path.join(folder, "d_text.xls"), "wb") as handle:
        handle.write("1,文本,2026-01-08\n".encode("utf-8"))
    fake = os.path.join(folder, "e_text.xlsx")
    shutil.copyfile(os.path.join(folder, "d_text.xls"), fake)

    code, out, err = run("-q", "-o", scratch, folder)
    check(code == 1, f"encodings: exit {code}, stderr {err.strip()!r}")
    causes = failure_lines(err)
    check(list(causes) == [fake], f"encodings: failed {list(causes)}")
    check(fake in causes and "文件格式或扩展名无效" in causes[fake][1] and "内容是文本" in causes[fake][1],
          f"encodings: cause of the text named .xlsx: {causes.get(fake)}")
    result = out.splitlines()[0] if out.splitlines() else ""
    if os.path.isfile(result):
        sheet = openpyxl.load_workbook(result).active
        rows = [[cell.value for cell in row] for row in sheet.iter_rows()]
        check([row[1] for row in rows] == ["客户", "北京华联商厦", "Иванов Сергей Петрович", "François Müller", "文本"],
              f"encodings: texts {[row[1] for row in rows]}")
        dates = [sheet.cell(row=row, column=3) for row in range(2, 6)]
        check([cell.value for cell in dates] == [datetime.datetime(2026, 1, 5), datetime.datetime(2026, 1, 6),
                                                 datetime.datetime(2026, 1, 7, 9, 30), datetime.datetime(2026, 1, 8)],
              f"encodings: dates {[cell.value for cell in dates]}")
        check([cell.number_format for cell in dates] == ['yyyy"年"m"月"d"日"', "yyyy/m/d", "yyyy-mm-dd hh:mm:ss",
                                                         "yyyy-mm-dd"],
              f"encodings: date formats {[cell.number_format for cell in dates]}")
        check([sheet.cell(row=row, column=4).value for row in (2, 3, 4)] == [0.125, 1234.5, 0.03],
              f"encodings: numbers {[sheet.cell(row=row, column=4).value for row in (2, 3, 4)]}")
        os.remove(result)

    # Forced: the Cyrillic file read as GBK does not fail, and the GBK file reads right.
    code, out, err = run("-q", "--encoding", "GBK", "-o", scratch, folder)
    check(code == 1 and list(failure_lines(err)) == [fake], f"--encoding GBK: exit {code}, stderr {err.strip()!r}")
    result = out.splitlines()[0] if out.splitlines() else ""
    if os.path.isfile(result):
        sheet = openpyxl.load_workbook(result).active
        check(sheet.cell(row=2, column=2).value == "北京华联商厦", "--encoding GBK: the GBK text")
        check(sheet.cell(row=3, column=2).value != "Иванов Сергей Петрович", "--encoding GBK: the CP1251 text")
        os.remove(result)
    expect_refused(["--encoding", "no-such-code-page", folder], "--encoding 给出的编码无法识别：no-such-code-page",
                   "unknown --encoding")

    # inspect names the encoding it read each file in.
    for name, wanted in (("a_gbk.csv", "GB18030"), ("b_cp1251.csv", "CP1251"), ("c_latin1.csv", "WINDOWS-1252"),
                         ("d_text.xls", "UTF-8")):
        done = subprocess.run([SHEETMERGE, "inspect", os.path.join(folder, name)], capture_output=True, timeout=60)
        lines = done.stdout.decode("utf-8").splitlines()
        header = lines[0].split("\t") if lines else []
        encoding = lines[1].split("\t")[header.index("encoding")] if len(lines) > 1 and "encoding" in header else None
        check(encoding == wanted, f"inspect {name}: encoding {encoding!r}, expected {wanted}")


def check_stop_signals(scratch):
    """Ctrl+C (SIGINT) and SIGTERM during a long merge: the run stops after the source in
    progress, exit 130, no result and no temporary file left, sources untouched."""
    many = os.path.join(scratch, "many")
    os.mkdir(many)
    # Enough sources that the run outlasts the moment between its first progress line and the
    # signal by far: about a second of merging on a fast machine.
    rows = "名称,数量\n" + "".join(f"行{row},{row}\n" for row in range(600))
    for number in range(1000):
        with open(os.path.join(many, f"s{number:04}.csv"), "w", encoding="utf-8") as handle:
            handle.write(rows)
    before = snapshot(many)
    for signal_number, name in [(signal.SIGINT, "SIGINT"), (signal.SIGTERM, "SIGTERM")]:
        process = subprocess.Popen([SHEETMERGE, "merge", many], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        # In a pipe the progress comes as lines: the first after source 1, then every tenth.
        first = process.stderr.readline().decode("utf-8")
        check(first.startswith("合并进度 1 / 1000"), f"{name}: first progress line {first!r}")
        process.send_signal(signal_number)
        out, err = process.communicate(timeout=120)
        err = err.decode("utf-8")
        check(process.returncode == 130, f"{name}: exit {process.returncode}, stderr {err.strip()!r}")
        check(out == b"", f"{name}: stdout {out!r}")
        check("正在停止" in err, f"{name}: no note of the stop on stderr: {err!r}")
        stopped = re.search(r"已停止合并：已处理【(\d+)】个文件（共【1000】个），未生成合并结果，源文件均未改动。", err)
        check(stopped is not None and 1 <= int(stopped.group(1)) < 1000, f"{name}: stderr {err!r}")
        check(sorted(os.listdir(many)) == sorted(os.path.basename(path) for path in before),
              f"{name}: files left beside the sources: {result_files(many)}")
        check(snapshot(many) == before, f"{name}: sources changed")


def main():
    scratch = tempfile.mkdtemp(prefix="merge_command_test.")
    runtime = os.path.join(scratch, "runtime")
    os.mkdir(runtime, 0o700)
    os.environ["XDG_RUNTIME_DIR"] = runtime

    # Help.
    code, out, err = run("--help")
    check(code == 0, f"--help exit {code}")
    for word in ["用法：sheetmerge merge", "-r, --recursive", "--sheet-index", "--sheet-name", "--start-row",
                 "--cells", "--header", "--mark-path", "--mark-cells", "--output-dir", "--open", "--quiet",
                 "--format", "--include", "--exclude", "--save-job", "--job", "退出状态"]:
        check(word in out, f"--help lacks {word!r}")

    # Folders and sources.
    good = os.path.join(scratch, "good")
    os.mkdir(good)
    workbook(os.path.join(good, "b.xlsx"), [["名称", "数量"], ["苹果", 3], ["梨", 4]])
    workbook(os.path.join(good, "a.xlsx"), [["名称", "数量"], ["桃", 1]])
    with open(os.path.join(good, "c.csv"), "w", encoding="utf-8") as handle:
        handle.write("名称,数量\n橙,7\n")
    with open(os.path.join(good, "notes.txt"), "w") as handle:
        handle.write("not a source")
    workbook(os.path.join(good, ".hidden.xlsx"), [["hidden"]])

    broken = os.path.join(scratch, "broken")
    os.mkdir(broken)
    workbook(os.path.join(broken, "a.xlsx"), [["x", 1]])
    workbook(os.path.join(broken, "b.xlsx"), [["y", 2]])
    with open(os.path.join(broken, "c.xlsx"), "wb") as handle:
        handle.write(b"PK\x03\x04 this is no workbook")

    nested = os.path.join(scratch, "nested")
    os.makedirs(os.path.join(nested, "sub", "deeper"))
    workbook(os.path.join(nested, "top.xlsx"), [["top"]])
    workbook(os.path.join(nested, "sub", "s.xlsx"), [["s"]])
    workbook(os.path.join(nested, "sub", "deeper", "d.xlsx"), [["d"]])

    empty = os.path.join(scratch, "empty")
    os.mkdir(empty)
    single = os.path.join(scratch, "single")
    os.mkdir(single)
    workbook(os.path.join(single, "only.xlsx"), [["only"]])
    out_dir = os.path.join(scratch, "out")
    os.mkdir(out_dir)

    sources = {folder: snapshot(folder) for folder in [good, broken, nested, empty, single]}

    # Bad arguments.
    a, b = os.path.join(good, "a.xlsx"), os.path.join(good, "b.xlsx")
    expect_refused([], "请给出两个或更多源文件，或一个文件夹。", "no paths")
    expect_refused(["--frobnicate", good], "未知选项：--frobnicate", "unknown option")
    expect_refused(["--sheet-index", "0", good], "--sheet-index", "sheet index 0")
    expect_refused(["--sheet-index", "x", good], "--sheet-index", "sheet index x")
    expect_refused([good, "--sheet-name"], "--sheet-name", "missing value")
    # An option after an option that names a file is not taken for the file's name.
    for option in ("--report", "--save-job", "--job", "--output-dir", "--password-file"):
        expect_refused([option, "-q", good], "选项缺少取值：" + option, option + " followed by -q")
        check(not os.path.exists("-q"), option + " -q wrote a file called -q")
    expect_refused(["--start-row", "2", "--cells", "B2", good], "--start-row 与 --cells", "two ranges")
    expect_refused(["--sheet-index", "1", "--sheet-name", "x", good], "--sheet-index 与 --sheet-name",
                   "two sheets")
    expect_refused(["--mark-path", "--mark-cells", "B2", good], "--mark-path 与 --mark-cells", "two labels")
    expect_refused(["--header", good], "--header", "header without start row")
    expect_refused([a], "请选择至少两个文件。", "one file")
    expect_refused([a, os.path.join(good, "missing.xlsx")], "找不到路径", "missing file")
    expect_refused([a, good], "每个都必须是文件", "folder among files")
    expect_refused(["-o", os.path.join(scratch, "nowhere"), a, b], "输出目录不存在", "missing output dir")

    # Refused folders.
    expect_refused([empty], "指定路径不存在扩展名为“.xls”、“.xlsx”、“.xlsm”或“.csv”的任何文件，请重新选择目标文件夹。",
                   "empty folder")
    expect_refused([single], "指定路径下仅存在一个符合条件的Excel/csv文件，无需执行数据合并操作，请重新选择目标文件夹。",
                   "one-file folder")
    expect_refused([nested], "指定路径下仅存在一个符合条件的Excel/csv文件", "sub-folders skipped without -r")
    expect_refused(["/"], "选取整个磁盘文件多如牛毛，请选择其下一级文件夹或改用“文件选取”模式。", "root folder")

    # Refused options, with the dialog's own messages; nothing is written.
    expect_refused(["--cells", "B3:B2", good], "当前左上角单元格位于右下角单元格的右方/下方，不合逻辑，请修正。",
                   "corners the wrong way round")
    expect_refused(["--cells", "XYZ0", good], "左上角单元格地址有误，请修正。", "invalid top-left")
    expect_refused(["--cells", "B2:??", good], "右下角单元格地址有误，请修正。", "invalid bottom-right")
    expect_refused(["--mark-cells", "B2,", good], "指定的单元格地址输入有误，请修正。", "trailing comma")
    expect_refused(["--mark-cells", "", good], "请输入单元格地址。", "empty cell list")
    expect_refused(["--start-row", "0", good], "“起始行”必须是大于0的整数。", "start row 0")
    expect_refused(["--start-row", "abc", good], "“起始行”必须是大于0的整数。", "start row abc")
    expect_refused(["--start-row", "", good], "起始行数不能为空，请输入大于0的整数。", "empty start row")
    check(result_files(good) == [], f"a refused run left a result: {result_files(good)}")

    # A folder of good files: the sample (first .xlsx) first, then the walk's order.
    code, out, err = run(good)
    check(code == 0, f"good folder: exit {code}, stderr {err.strip()!r}")
    lines = out.splitlines()
    check(len(lines) == 2, f"good folder: stdout {out!r}")
    if len(lines) == 2:
        path, summary = lines
        check(os.path.dirname(path) == good and RESULT_NAME.search(path) and os.path.isfile(path),
              f"good folder: result path {path!r}")
        check(summary == "共选取【3】个文件，成功合并【3】个，【0】个合并失败。", f"good folder: summary {summary!r}")
        check("合并进度" in err, f"good folder: no progress lines on stderr: {err!r}")
        if os.path.isfile(path):
            check_structure(path, "good folder")
            book = openpyxl.load_workbook(path)
            check(book.sheetnames == ["成功合并(3)"], f"good folder: sheets {book.sheetnames}")
            values = [[cell for cell in row] for row in book.active.iter_rows(values_only=True)]
            firsts = [row[0] for row in values]
            check(firsts[:2] == ["名称", "桃"] and "苹果" in firsts and "橙" in firsts,
                  f"good folder: merged values {values}")
            check(firsts.index("桃") < firsts.index("苹果") < firsts.index("橙"),
                  f"good folder: order a.xlsx, b.xlsx, c.csv expected, got {firsts}")
            os.remove(path)

    # Two files from different folders, quiet, into an output folder, sheet chosen by name.
    c = os.path.join(broken, "a.xlsx")
    code, out, err = run("-q", "-o", out_dir, "--sheet-name", "数据", a, c)
    check(code == 0, f"two folders: exit {code}, stderr {err.strip()!r}")
    check("合并进度" not in err, f"-q still shows progress: {err!r}")
    lines = out.splitlines()
    check(len(lines) == 2 and os.path.dirname(lines[0]) == out_dir
          and os.path.basename(lines[0]).startswith("数据合并 "), f"two folders: stdout {out!r}")
    remove_results(out_dir, "two folders")

    # A broken source among good ones: written, exit 1, listed as failed.
    code, out, err = run(broken)
    check(code == 1, f"broken folder: exit {code}, stderr {err.strip()!r}")
    lines = out.splitlines()
    check(len(lines) == 2 and lines[1] == "共选取【3】个文件，成功合并【2】个，【1】个合并失败。",
          f"broken folder: stdout {out!r}")
    if lines and os.path.isfile(lines[0]):
        check_structure(lines[0], "broken folder")
        book = openpyxl.load_workbook(lines[0])
        check(book.sheetnames[0] == "失败列表(1)", f"broken folder: sheets {book.sheetnames}")
        failed = [cell for row in book.worksheets[0].iter_rows(values_only=True) for cell in row]
        check("c.xlsx" in failed, f"broken folder: failure list {failed}")
        os.remove(lines[0])

    # -r takes the sub-folders, level by level.
    code, out, err = run("-r", nested)
    check(code == 0, f"nested -r: exit {code}, stderr {err.strip()!r}")
    lines = out.splitlines()
    check(len(lines) == 2 and lines[1] == "共选取【3】个文件，成功合并【3】个，【0】个合并失败。",
          f"nested -r: stdout {out!r}")
    if lines and os.path.isfile(lines[0]):
        check_structure(lines[0], "nested -r")
        values = [row[0] for row in openpyxl.load_workbook(lines[0]).active.iter_rows(values_only=True)]
        check(values == ["top", "s", "d"], f"nested -r: values {values}")
        os.remove(lines[0])

    # --open hands the result to the desktop's opener; a stand-in records what it was given.
    opener_dir = os.path.join(scratch, "bin")
    os.mkdir(opener_dir)
    opened = os.path.join(scratch, "opened.txt")
    with open(os.path.join(opener_dir, "xdg-open"), "w") as handle:
        handle.write(f"#!/bin/sh\nprintf '%s\\n' \"$1\" > '{opened}'\n")
    os.chmod(os.path.join(opener_dir, "xdg-open"), 0o755)
    code, out, err = run("--open", "-o", out_dir, a, b,
                         env_extra={"PATH": opener_dir + os.pathsep + os.environ.get("PATH", "")})
    check(code == 0, f"--open: exit {code}, stderr {err.strip()!r}")
    for _ in range(50):
        if os.path.exists(opened):
            break
        time.sleep(0.1)
    lines = out.splitlines()
    if lines and os.path.exists(opened):
        with open(opened, encoding="utf-8") as handle:
            check(handle.read().strip() == lines[0], "--open: the opener got another path")
    else:
        check(False, f"--open: the opener was not called ({out!r})")
    os.remove(opened)
    code, out, err = run("-o", out_dir, a, b,
                         env_extra={"PATH": opener_dir + os.pathsep + os.environ.get("PATH", "")})
    check(code == 0, f"without --open: exit {code}")
    time.sleep(0.3)
    check(not os.path.exists(opened), "without --open the result was opened")
    remove_results(out_dir, "--open")

    # The result cannot be created (even root cannot create files in /proc): exit 3.
    code, out, err = run("-o", "/proc", a, b)
    check(code == 3, f"uncreatable result: exit {code}, stderr {err.strip()!r}")
    check(out == "" and "/proc" in err, f"uncreatable result: stdout {out!r}, stderr {err!r}")

    # No source can serve as the sample (none opens): the run cannot start, exit 3, and the
    # message names the first candidate.
    broken_c = os.path.join(broken, "c.xlsx")
    unreadable = os.path.join(scratch, "unreadable.xls")
    with open(unreadable, "wb") as handle:
        handle.write(b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1 cut short")
    code, out, err = run(broken_c, unreadable)
    check(code == 3, f"no possible sample: exit {code}, stderr {err.strip()!r}")
    check(out == "" and f"无法打开文件“{broken_c}”" in err, f"no possible sample: stdout {out!r}, stderr {err!r}")

    # The first .xlsx cannot be opened, but another source can serve: it is merged without it.
    code, out, err = run(broken_c, a)
    check(code == 1, f"broken first .xlsx: exit {code}, stderr {err.strip()!r}")
    lines = out.splitlines()
    check(len(lines) == 2 and lines[1] == "共选取【2】个文件，成功合并【1】个，【1】个合并失败。",
          f"broken first .xlsx: stdout {out!r}")
    check(failure_lines(err).keys() == {broken_c}, f"broken first .xlsx: stderr {err!r}")
    if lines and os.path.isfile(lines[0]):
        os.remove(lines[0])

    # Chart sheets only: no sample when no other source can serve; otherwise merged around it.
    charts = os.path.join(scratch, "charts")
    os.mkdir(charts)
    for name in ("chart.xlsx", "chart2.xlsx"):
        book = openpyxl.Workbook()
        first = book.active
        book.create_chartsheet("图")
        book.remove(first)
        book.save(os.path.join(charts, name))
    code, out, err = run(os.path.join(charts, "chart.xlsx"), os.path.join(charts, "chart2.xlsx"))
    check(code == 3, f"chart-only sample: exit {code}")
    check("“chart.xlsx”文件不存在普通工作表（Worksheet），请不要选取该文件。" in err,
          f"chart-only sample: stderr {err!r}")
    code, out, err = run(os.path.join(charts, "chart.xlsx"), a)
    check(code == 1, f"chart-only first: exit {code}, stderr {err.strip()!r}")
    causes = failure_lines(err)
    check(causes.get(os.path.join(charts, "chart.xlsx")) == ("不存在目标工作表", "工作簿中没有普通工作表（Worksheet）"),
          f"chart-only first: stderr {err!r}")
    if out.splitlines() and os.path.isfile(out.splitlines()[0]):
        os.remove(out.splitlines()[0])

    check_damaged_folder(scratch)
    check_second_run(scratch)
    check_formula_notice(scratch)
    check_csv_encodings(scratch)

    for folder, before in sources.items():
        check(snapshot(folder) == before, f"sources changed in {folder}")

    check_stop_signals(scratch)

    shutil.rmtree(scratch, ignore_errors=True)
    if FAILURES:
        print(f"{len(FAILURES)} check(s) failed", file=sys.stderr)
        return 1
    print("all merge command checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
