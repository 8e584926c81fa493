#!/usr/bin/python3
"""Runs `sheetmerge inspect` and `sheetmerge cat` on every file of the shared corpus.

For files a user can open, checks sheet names, kinds, visibility, the last used row and
column, the number of non-empty cells and the sample values against expected.json, and the
values of the first worksheet against an independent reader (openpyxl for .xlsx/.xlsm, xlrd
for .xls, the csv module for .csv). For broken files, checks that both commands fail with
exit status 1 and one line on stderr naming the file, without a crash or sanitizer report.

    corpus_check.py --sheetmerge build/src/sheetmerge --corpus ../shared/corpus

Prints one line per file. Files listed in PENDING are not read yet by the engine; their
failures are reported but do not fail the run, and a pending file that passes is reported
so that it can be taken off the list.
"""

import argparse
import csv
import datetime
import io
import json
import math
import os
import re
import subprocess
import sys
import warnings

# Files the engine is not expected to read yet, with the reason.
# Empty since every reader landed; keep the mechanism for the next format.
PENDING = {}

TIMEOUT_SECONDS = 120
KIND_OF_TYPE = {"worksheet": "worksheet", "chartsheet": "chart", "macrosheet": "other", "dialogsheet": "other"}
SANITIZER_MARKS = ("Sanitizer", "runtime error:", "Segmentation fault", "core dumped", "terminate called")


class Failure(Exception):
    pass


def run(sheetmerge, arguments):
    try:
        completed = subprocess.run([sheetmerge] + arguments, capture_output=True, timeout=TIMEOUT_SECONDS)
    except subprocess.TimeoutExpired:
        raise Failure("hangs: no end within %d s: %s" % (TIMEOUT_SECONDS, " ".join(arguments)))
    stderr = completed.stderr.decode("utf-8", "replace")
    if completed.returncode < 0 or completed.returncode >= 128:
        raise Failure("crashed with status %d: %s" % (completed.returncode, stderr[-400:]))
    for mark in SANITIZER_MARKS:
        if mark in stderr:
            raise Failure("sanitizer or runtime report: %s" % stderr[-400:])
    return completed.returncode, completed.stdout, stderr


def parse_inspect(stdout):
    lines = stdout.decode("utf-8").split("\n")
    if lines[-1] != "":
        raise Failure("inspect output does not end with a line break")
    header = lines[0].split("\t")
    if header != ["position", "name", "kind", "visibility", "active", "last_row", "last_column", "uncalculated",
                  "encoding"]:
        raise Failure("unexpected inspect header %r" % lines[0])
    sheets = []
    for number, line in enumerate(lines[1:-1], start=1):
        fields = line.split("\t")
        if len(fields) != 9 or fields[0] != str(number):
            raise Failure("malformed inspect line %r" % line)
        sheets.append(dict(zip(header, fields)))
    return sheets


def parse_cat(stdout):
    text = stdout.decode("utf-8")
    return [row for row in csv.reader(io.StringIO(text, newline=""))]


def column_number(letters):
    number = 0
    for letter in letters:
        number = number * 26 + ord(letter) - ord("A") + 1
    return number


def split_reference(reference):
    letters = "".join(character for character in reference if character.isalpha())
    return int(reference[len(letters):]), column_number(letters)


def grid_value(grid, row, column):
    if row - 1 < len(grid) and column - 1 < len(grid[row - 1]):
        return grid[row - 1][column - 1]
    return ""


def same_value(ours, theirs):
    """Compares our text of a cell with an independent reader's, allowing for number forms
    ("15" and "15.0"), dates at midnight ("2015-06-15" and "2015-06-15T00:00:00") and
    sample texts cut at 80 characters."""
    if ours == theirs:
        return True
    if theirs.endswith("T00:00:00") and ours == theirs[: -len("T00:00:00")]:
        return True
    if len(theirs) >= 80 and ours.startswith(theirs):
        return True
    # A CSV's text as a spreadsheet program reads it: "6,718" is 6718, "12.5%" is 0.125.
    scale = 1.0
    if re.fullmatch(r"[-+]?\d{1,3}(,\d{3})+(\.\d+)?%?|[-+]?\d+(\.\d+)?%", theirs):
        scale = 0.01 if theirs.endswith("%") else 1.0
        theirs = theirs.replace(",", "").rstrip("%")
    try:
        left, right = float(ours), float(theirs) * scale
    except ValueError:
        return False
    return math.isclose(left, right, rel_tol=1e-12, abs_tol=1e-12)


def check_grid(grid, expected_sheet):
    nonempty = sum(1 for row in grid for value in row if value != "")
    last_row = len(grid)
    last_column = max((len(row) for row in grid), default=0)
    if last_row != expected_sheet["value_max_row"] or (last_row and last_column != expected_sheet["value_max_col"]):
        raise Failure("cat of %r gives %dx%d, expected %dx%d" % (expected_sheet.get("name"), last_row, last_column,
                      expected_sheet["value_max_row"], expected_sheet["value_max_col"]))
    if nonempty != expected_sheet["nonempty_cells"]:
        raise Failure("cat of %r has %d non-empty cells, expected %d" % (expected_sheet.get("name"), nonempty,
                      expected_sheet["nonempty_cells"]))
    for reference, kind, text in expected_sheet.get("sample", []):
        row, column = split_reference(reference)
        ours = grid_value(grid, row, column)
        if not same_value(ours, text):
            raise Failure("%s of %r is %r, expected %s %r" % (reference, expected_sheet.get("name"), ours, kind, text))


def independent_grid(path, entry):
    """The first worksheet's values as text, read by a reader that is not ours."""
    name = os.path.basename(path)
    if name.endswith(".csv"):
        read = entry["independent_read"]
        with open(path, "rb") as stream:
            text = stream.read().decode(read["encoding"])
        rows = list(csv.reader(io.StringIO(text, newline=""), delimiter=read["delimiter"]))
        return [[value.replace("\r\n", "\n").replace("\r", "\n") for value in row] for row in rows]
    if name.endswith(".xls"):
        import xlrd
        book = xlrd.open_workbook(path)
        sheet = book.sheet_by_index(0)
        grid = []
        for row in range(sheet.nrows):
            values = []
            for column in range(sheet.ncols):
                cell = sheet.cell(row, column)
                if cell.ctype == xlrd.XL_CELL_DATE:
                    moment = xlrd.xldate.xldate_as_datetime(cell.value, book.datemode)
                    values.append(moment.isoformat() if cell.value >= 1 else moment.time().isoformat())
                elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                    values.append("TRUE" if cell.value else "FALSE")
                elif cell.ctype == xlrd.XL_CELL_ERROR:
                    values.append(xlrd.error_text_from_code.get(cell.value, "#ERR"))
                elif cell.ctype == xlrd.XL_CELL_NUMBER:
                    values.append(repr(cell.value))
                elif cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                    values.append("")
                else:
                    values.append(str(cell.value))
            grid.append(values)
        return grid
    import openpyxl
    warnings.simplefilter("ignore")  # openpyxl's remarks on styles it does not know
    book = openpyxl.load_workbook(path, data_only=True, read_only=True)
    sheet = book.worksheets[0]
    # openpyxl sizes the sheet by its <dimension>, which can claim the whole grid; the value
    # extent recorded in expected.json bounds the walk instead (cells past it are empty).
    first = next(sheet for sheet in entry["sheets"] if sheet["type"] == "worksheet")
    grid = []
    for row in sheet.iter_rows(min_row=1, max_row=max(first["value_max_row"], 1),
                               max_col=max(first["value_max_col"], 1)):
        values = []
        for cell in row:
            value = getattr(cell, "value", None)
            if value is None:
                values.append("")
            elif isinstance(value, bool):
                values.append("TRUE" if value else "FALSE")
            elif isinstance(value, datetime.datetime):
                values.append(value.isoformat())
            elif isinstance(value, (datetime.date, datetime.time)):
                values.append(value.isoformat())
            elif isinstance(value, float):
                values.append(repr(value))
            else:
                values.append(str(value))
        grid.append(values)
    return grid


def compare_grids(ours, theirs):
    rows = max(len(ours), len(theirs))
    for row in range(1, rows + 1):
        width = max(len(ours[row - 1]) if row <= len(ours) else 0, len(theirs[row - 1]) if row <= len(theirs) else 0)
        for column in range(1, width + 1):
            left, right = grid_value(ours, row, column), grid_value(theirs, row, column)
            if not same_value(left, right):
                letters = ""
                number = column
                while number:
                    number, remainder = divmod(number - 1, 26)
                    letters = chr(65 + remainder) + letters
                raise Failure("first worksheet differs from the independent reader at %s%d: %r vs %r"
                              % (letters, row, left, right))


def check_ok_file(sheetmerge, path, entry, notes, independent=True):
    name = os.path.basename(path)
    status, stdout, stderr = run(sheetmerge, ["inspect", path])
    if status != 0:
        raise Failure("inspect failed with %d: %s" % (status, stderr.strip()))
    ours = parse_inspect(stdout)
    expected = entry["sheets"]
    if name.endswith(".xls"):
        # xlrd lists worksheets only; compare with ours without chart sheets.
        ours = [sheet for sheet in ours if sheet["kind"] != "chart"]
    if len(ours) != len(expected):
        raise Failure("inspect lists %d sheets, expected %d" % (len(ours), len(expected)))
    worksheet_position = 0
    for sheet, wanted in zip(ours, expected):
        wanted_name = wanted["name"] if wanted["name"] is not None else wanted.get("name_if_opened_in_excel")
        if sheet["name"] != wanted_name:
            raise Failure("sheet name %r, expected %r" % (sheet["name"], wanted_name))
        if sheet["kind"] != KIND_OF_TYPE.get(wanted["type"], "other"):
            raise Failure("sheet %r is %s, expected %s" % (sheet["name"], sheet["kind"], wanted["type"]))
        if "state" in wanted and sheet["visibility"] != wanted["state"]:
            raise Failure("sheet %r is %s, expected %s" % (sheet["name"], sheet["visibility"], wanted["state"]))
        if sheet["kind"] != "worksheet":
            continue
        worksheet_position += 1
        if (int(sheet["last_row"]), int(sheet["last_column"])) != (wanted["value_max_row"], wanted["value_max_col"]):
            raise Failure("sheet %r ends at row %s column %s, expected %d %d" % (sheet["name"], sheet["last_row"],
                          sheet["last_column"], wanted["value_max_row"], wanted["value_max_col"]))
        status, stdout, stderr = run(sheetmerge, ["cat", path, "--sheet-index", str(worksheet_position)])
        if status != 0:
            raise Failure("cat of worksheet %d failed with %d: %s" % (worksheet_position, status, stderr.strip()))
        grid = parse_cat(stdout)
        check_grid(grid, wanted)
        if worksheet_position == 1 and independent:
            try:
                theirs = independent_grid(path, entry)
            except Exception as error:  # the oracle's own limits, e.g. strict OOXML in openpyxl
                notes.append("independent reader could not read it (%s)" % type(error).__name__)
            else:
                compare_grids(grid, theirs)


def check_broken_file(sheetmerge, path, entry, notes):
    name = os.path.basename(path)
    for arguments in (["inspect", path], ["cat", path]):
        status, stdout, stderr = run(sheetmerge, arguments)
        if status == 0 and "if_content_sniffed" in entry:
            # A mislabelled file that is read by its content is fine, if it reads right.
            continue
        if status != 1:
            raise Failure("%s exits with %d, expected 1" % (arguments[0], status))
        lines = stderr.split("\n")
        if len(lines) != 2 or lines[1] != "" or name not in lines[0]:
            raise Failure("%s should print one line naming the file, printed %r" % (arguments[0], stderr))
        if stdout:
            raise Failure("%s printed to stdout although it failed" % arguments[0])
    if "if_content_sniffed" in entry:
        status, stdout, stderr = run(sheetmerge, ["inspect", path])
        if status == 0:
            sniffed = dict(entry["if_content_sniffed"])
            check_ok_file(sheetmerge, path, {"sheets": sniffed["sheets"]}, notes, independent=False)
            notes.append("read by its content")


def check_command_line(sheetmerge, corpus):
    """Usage and sheet choice: exit statuses and messages of the command line itself."""
    status, stdout, _ = run(sheetmerge, ["--help"])
    if status != 0 or "inspect" not in stdout.decode() or "last_row" not in stdout.decode():
        raise Failure("--help should print the usage and the inspect layout and exit 0")
    status, _, stderr = run(sheetmerge, ["no-such-command"])
    if status != 2 or "用法" not in stderr:
        raise Failure("an unknown command should print the usage on stderr and exit 2")
    status, _, stderr = run(sheetmerge, ["cat"])
    if status != 2:
        raise Failure("cat without a file should exit 2, gave %d" % status)
    book = os.path.join(corpus, "calamine__any_sheets.xlsx")
    for arguments, wanted in ((["--sheet-index", "4"], "4"), (["--sheet-name", "Chart"], "Chart"),
                              (["--sheet-name", "nothing"], "nothing")):
        status, stdout, stderr = run(sheetmerge, ["cat", book] + arguments)
        if status != 1 or stdout or wanted not in stderr or stderr.count("\n") != 1:
            raise Failure("cat %s should fail with one line naming %r, exit 1; gave %d %r" % (arguments, wanted,
                          status, stderr))
    status, stdout, _ = run(sheetmerge, ["cat", book, "--sheet-name", "hidden"])
    if status != 0 or stdout:
        raise Failure("cat --sheet-name hidden (any case) should print the empty hidden sheet")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sheetmerge", required=True)
    parser.add_argument("--corpus", required=True)
    arguments = parser.parse_args()
    with open(os.path.join(arguments.corpus, "expected.json"), encoding="utf-8") as stream:
        expected = json.load(stream)["files"]
    files = sorted(name for name in os.listdir(arguments.corpus) if name in expected)
    missing = sorted(set(expected) - set(files))
    failures = 0
    for name in missing:
        print("MISSING  %s" % name)
        failures += 1
    try:
        check_command_line(arguments.sheetmerge, arguments.corpus)
        print("PASS     command line")
    except Failure as failure:
        print("FAIL     command line: %s" % failure)
        failures += 1
    for name in files:
        entry = expected[name]
        path = os.path.join(arguments.corpus, name)
        notes = []
        try:
            if entry["expected"] == "ok":
                check_ok_file(arguments.sheetmerge, path, entry, notes)
            else:
                check_broken_file(arguments.sheetmerge, path, entry, notes)
            suffix = " (%s)" % "; ".join(notes) if notes else ""
            if name in PENDING:
                print("XPASS    %s%s: passes now, take it off the pending list" % (name, suffix))
            else:
                print("PASS     %s%s" % (name, suffix))
        except Failure as failure:
            if name in PENDING:
                print("PENDING  %s: %s [%s]" % (name, failure, PENDING[name]))
            else:
                print("FAIL     %s: %s" % (name, failure))
                failures += 1
    print("%d failure(s) in %d files" % (failures, len(files)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
