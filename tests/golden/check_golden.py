#!/usr/bin/env python3
"""Runs the golden writer and compares its workbook, read with openpyxl, with an expected JSON.

    check_golden.py GOLDEN_WRITER EXPECTED.json

Only what the JSON names is compared: sheet names, states, the active sheet, panes, the
selected cell, merged ranges, column widths, row heights and, per cell, value, type, number
format, font, fill, border and alignment. Timestamps and application details are not looked at.
"""
import datetime
import json
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree
import zipfile

import openpyxl

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import xlsx_check  # noqa: E402

ESCAPED = re.compile("_x([0-9A-Fa-f]{4})_")


def ooxml_text(value):
    """Cell text as OOXML means it: _xHHHH_ stands for the character U+HHHH."""
    return ESCAPED.sub(lambda match: chr(int(match.group(1), 16)), value)


def expected_text(spec):
    if isinstance(spec, dict):
        return spec["repeat"] * spec["times"]
    return spec


def colour(value):
    if value is None or value.rgb is None or not isinstance(value.rgb, str):
        return None
    return value.rgb


def cell_facts(cell):
    value = cell.value
    if cell.data_type == "s" and isinstance(value, str):
        value = ooxml_text(value)
    if isinstance(value, datetime.datetime):
        value = value.isoformat()
    font = cell.font
    fill = cell.fill
    border = cell.border
    alignment = cell.alignment
    return {
        "value": value,
        "type": cell.data_type,
        "format": cell.number_format,
        "font": {
            "name": font.name,
            "size": font.sz,
            "bold": bool(font.b),
            "italic": bool(font.i),
            "underline": font.u,
            "color": colour(font.color),
        },
        "fill": {
            "pattern": fill.patternType,
            "foreground": colour(fill.fgColor) if fill.patternType else None,
            "background": colour(fill.bgColor) if fill.patternType and fill.bgColor.rgb != "00000000" else None,
        },
        "border": {
            side: {"style": getattr(border, side).style, "color": colour(getattr(border, side).color)}
            for side in ("left", "right", "top", "bottom")
        },
        "alignment": {
            "horizontal": alignment.horizontal,
            "vertical": alignment.vertical,
            "wrap": bool(alignment.wrap_text),
            "indent": alignment.indent,
        },
    }


def compare(actual, expected, where, problems):
    if isinstance(expected, dict) and isinstance(actual, dict):
        for key, value in expected.items():
            compare(actual.get(key), value, f"{where}.{key}", problems)
    elif isinstance(expected, float) or isinstance(actual, float):
        if not isinstance(actual, (int, float)) or isinstance(actual, bool) or actual != expected:
            problems.append(f"{where}: expected {expected!r}, found {actual!r}")
    elif actual != expected:
        shown = actual if not isinstance(actual, str) or len(actual) < 80 else actual[:40] + f"... ({len(actual)} chars)"
        problems.append(f"{where}: expected {str(expected)[:80]!r}, found {shown!r}")


def check_package(path, problems):
    """Every entry passes its CRC check and every part is well-formed XML; then the whole
    structural check of tests/support/xlsx_check.py."""
    problems.extend(xlsx_check.check_package(path))
    with zipfile.ZipFile(path) as package:
        broken = package.testzip()
        if broken:
            problems.append(f"bad CRC in {broken}")
        names = package.namelist()
        if names[0] != "[Content_Types].xml":
            problems.append(f"first entry is {names[0]}")
        for name in names:
            try:
                xml.etree.ElementTree.fromstring(package.read(name))
            except xml.etree.ElementTree.ParseError as error:
                problems.append(f"{name}: {error}")


def check(path, expected):
    problems = []
    check_package(path, problems)
    book = openpyxl.load_workbook(path)
    compare(book.sheetnames, [sheet["name"] for sheet in expected["sheets"]], "sheet names", problems)
    compare(book.active.title, expected["active"], "active sheet", problems)
    for spec in expected["sheets"]:
        if spec["name"] not in book.sheetnames:
            continue
        sheet = book[spec["name"]]
        where = spec["name"]
        compare(sheet.sheet_state, spec.get("state", "visible"), f"{where} state", problems)
        if "freeze" in spec:
            compare(sheet.freeze_panes, spec["freeze"], f"{where} frozen panes", problems)
        if "activeCell" in spec:
            compare(sheet.sheet_view.selection[-1].activeCell, spec["activeCell"], f"{where} selected cell", problems)
        if "dimension" in spec:
            compare(sheet.dimensions, spec["dimension"], f"{where} dimension", problems)
        if "merged" in spec:
            compare(sorted(str(r) for r in sheet.merged_cells.ranges), sorted(spec["merged"]), f"{where} merges",
                    problems)
        for letter, width in spec.get("widths", {}).items():
            compare(sheet.column_dimensions[letter].width, width, f"{where} width of {letter}", problems)
        for number, height in spec.get("heights", {}).items():
            compare(sheet.row_dimensions[int(number)].height, height, f"{where} height of row {number}", problems)
        for number in spec.get("hiddenRows", []):
            compare(sheet.row_dimensions[number].hidden, True, f"{where} row {number} hidden", problems)
        if "maxRow" in spec:
            compare(sheet.max_row, spec["maxRow"], f"{where} last row", problems)
        for reference, facts in spec.get("cells", {}).items():
            wanted = dict(facts)
            if "value" in wanted:
                wanted["value"] = expected_text(wanted["value"])
            compare(cell_facts(sheet[reference]), wanted, f"{where}!{reference}", problems)
    return problems


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    writer, expected_path = sys.argv[1], sys.argv[2]
    with open(expected_path, encoding="utf-8") as file:
        expected = json.load(file)
    with tempfile.TemporaryDirectory(prefix="sheetmerge-golden-") as folder:
        output = os.path.join(folder, "writer_basic.xlsx")
        subprocess.run([writer, output], check=True)
        problems = check(output, expected)
        left = sorted(set(os.listdir(folder)) - {"writer_basic.xlsx"})
        if left:
            problems.append(f"files left next to the result: {left}")
    for problem in problems:
        print(problem)
    print(f"{len(problems)} difference(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
