#!/usr/bin/python3
"""Checks a merged benchmark result without our reader: the package is opened with zipfile,
worksheet XML is searched for sampled rows and their cells are compared, value, type and number
format, with what bench/make_dataset.py put into the sources. Also counts every row of every
sheet and checks the sheets split where a block would pass the row limit.

    /usr/bin/python3 bench/verify_result.py RESULT.xlsx SOURCES ROWS [--distinct N] [--structure] [--rich]

--distinct N: the folder holds copies of the first N generated sources (source k is a copy of
source k % N), as the memory sets do.
--structure: first runs the strict structural check of tests/support/xlsx_check.py over the
whole package (every row and cell; it takes a few seconds per million cells).
--rich: the sources were made with make_dataset.py --rich; every sampled text of a data row (not
a formula's) must hold the three runs, the second bold, the third italic.
Prints "verified rows=... sheets=... sampled=..." and exits 0, or prints the first mismatch and
exits 1.
"""
import html
import random
import re
import sys
import zipfile

sys.path.insert(0, __file__.rsplit("/", 1)[0])
sys.path.insert(0, __file__.rsplit("/", 1)[0] + "/../tests/support")
import make_dataset  # noqa: E402
import xlsx_check  # noqa: E402

SHEET_ROW_LIMIT = 1048576
BUILTIN_FORMATS = {0: "General", 10: "0.00%", 14: "mm-dd-yy", 4: "#,##0.00"}
CELL = re.compile(r'<c r="([A-Z]+)(\d+)"([^>]*?)(?:/>|>(.*?)</c>)', re.S)
ATTRIBUTE = re.compile(r'(\w+)="([^"]*)"')


def fail(text):
    print("MISMATCH " + text)
    sys.exit(1)


def styles_of(package):
    xml = package.read("xl/styles.xml").decode("utf-8")
    formats = dict(BUILTIN_FORMATS)
    for number, code in re.findall(r'<numFmt numFmtId="(\d+)" formatCode="([^"]*)"', xml):
        formats[int(number)] = html.unescape(code)
    cell_xfs = re.search(r"<cellXfs[^>]*>(.*?)</cellXfs>", xml, re.S).group(1)
    result = []
    for xf in re.findall(r"<xf\b[^>]*>", cell_xfs):
        attributes = dict(ATTRIBUTE.findall(xf))
        result.append(formats.get(int(attributes.get("numFmtId", "0")), "?"))
    return result


def shared_strings_of(package):
    try:
        xml = package.read("xl/sharedStrings.xml").decode("utf-8")
    except KeyError:
        return []
    return [html.unescape("".join(re.findall(r"<t[^>]*>(.*?)</t>", item, re.S)))
            for item in re.findall(r"<si>(.*?)</si>", xml, re.S)]


def sheet_parts(package):
    workbook = package.read("xl/workbook.xml").decode("utf-8")
    relations = package.read("xl/_rels/workbook.xml.rels").decode("utf-8")
    targets = {}
    for relation in re.findall(r"<Relationship\b[^>]*>", relations):
        attributes = dict(ATTRIBUTE.findall(relation))
        targets[attributes["Id"]] = attributes["Target"].lstrip("/").replace("xl/", "")
    parts = []
    for sheet in re.findall(r"<sheet\b[^>]*>", workbook):
        relation = re.search(r'r:id="([^"]*)"', sheet).group(1)
        parts.append("xl/" + targets[relation])
    return parts


def cells_of_row(xml, row):
    start = xml.find('<row r="%d"' % row)
    if start < 0:
        return None
    end = xml.find("</row>", start)
    cells = {}
    for letters, _, attributes, body in CELL.findall(xml[start:end]):
        cells[letters] = (dict(ATTRIBUTE.findall(attributes)), body or "")
    return cells


def read_value(attributes, body, strings):
    kind = attributes.get("t", "n")
    if kind == "inlineStr":
        return "s", html.unescape("".join(re.findall(r"<t[^>]*>(.*?)</t>", body, re.S)))
    value = re.search(r"<v>(.*?)</v>", body, re.S)
    if value is None:
        return None, None
    text = html.unescape(value.group(1))
    if kind == "s":
        return "s", strings[int(text)]
    if kind == "str":
        return "s", text
    if kind == "b":
        return "b", int(text)
    return "n", float(text)


def check_runs(body, expected, where):
    """The three runs of a rich data text as make_dataset.py --rich writes them."""
    runs = re.findall(r"<r>(.*?)</r>", body, re.S)
    pieces = [html.unescape("".join(re.findall(r"<t[^>]*>(.*?)</t>", run, re.S))) for run in runs]
    if pieces != list(make_dataset.rich_pieces(expected)):
        fail("%s: runs %r, expected the thirds of %r" % (where, pieces, expected))
    if "<rPr>" in runs[0] or "<b/>" not in runs[1] or "<i/>" not in runs[2]:
        fail("%s: run properties %r" % (where, runs))


def check_row(xml, sheet_row, source, source_row, strings, formats, where, rich=False):
    cells = cells_of_row(xml, sheet_row)
    if cells is None:
        fail("%s: row missing" % where)
    for column in range(1, make_dataset.COLUMNS + 1):
        letters = make_dataset.column_letter(column)
        kind, expected, style = make_dataset.expected_cell(source, source_row, column)
        if kind is None:
            if letters in cells and read_value(*cells[letters], strings)[0] is not None:
                fail("%s%s: expected empty" % (where, letters))
            continue
        if letters not in cells:
            fail("%s%s: cell missing" % (where, letters))
        attributes, body = cells[letters]
        got_kind, got = read_value(attributes, body, strings)
        want_kind = {"n": "n", "fn": "n", "s": "s", "fs": "s", "b": "b"}[kind]
        if got_kind != want_kind or (got != expected if want_kind != "n" else abs(got - expected) > 1e-9 * max(1, abs(expected))):
            fail("%s%s: expected %r %r, found %r %r" % (where, letters, want_kind, expected, got_kind, got))
        if rich and kind == "s":
            check_runs(body, expected, "%s%s" % (where, letters))
        got_format = formats[int(attributes.get("s", "0"))]
        want_format = make_dataset.FORMAT_OF_STYLE[style]
        if got_format != want_format:
            fail("%s%s: format expected %r, found %r" % (where, letters, want_format, got_format))


def main():
    arguments = sys.argv[1:]
    distinct = None
    if "--distinct" in arguments:
        at = arguments.index("--distinct")
        distinct = int(arguments[at + 1])
        del arguments[at:at + 2]
    structure = "--structure" in arguments
    if structure:
        arguments.remove("--structure")
    rich = "--rich" in arguments
    if rich:
        arguments.remove("--rich")
    result, sources, rows = arguments[0], int(arguments[1]), int(arguments[2])
    data_rows = rows - 1
    if structure:
        faults = xlsx_check.check_package(result)
        if faults:
            fail("structure: " + "; ".join(faults[:5]))
    package = zipfile.ZipFile(result)
    formats = styles_of(package)
    strings = shared_strings_of(package)
    parts = sheet_parts(package)

    # Where each source's block lands: a block that would pass the limit starts a new sheet that
    # begins with the header row.
    per_sheet = (SHEET_ROW_LIMIT - 1) // data_rows
    expected_sheets = -(-sources // per_sheet)
    if len(parts) != expected_sheets:
        fail("expected %d sheets, found %d" % (expected_sheets, len(parts)))

    random.seed(1)
    total = 0
    sampled = 0
    for sheet_index, part in enumerate(parts):
        first_source = sheet_index * per_sheet
        blocks = min(per_sheet, sources - first_source)
        # The first and last row of every block of the first sheet, and random rows elsewhere.
        picks = set()
        for block in range(blocks):
            if sheet_index == 0 or block in (0, blocks - 1):
                picks.update({(block, 2), (block, rows)})
        picks.update((random.randrange(blocks), random.randint(2, rows)) for _ in range(200))
        wanted = {}
        for block, source_row in picks:
            wanted[2 + block * data_rows + (source_row - 2)] = (first_source + block, source_row)
        found = {}
        row_count = 0
        # Streamed in pieces of whole rows: a sheet of a million rows is hundreds of MiB of XML.
        with package.open(part) as stream:
            leftover = b""
            while True:
                chunk = stream.read(1 << 24)
                buffer = leftover + chunk
                cut = buffer.rfind(b"</row>") + len(b"</row>") if chunk else len(buffer)
                if cut < len(b"</row>"):
                    cut = 0
                piece, leftover = buffer[:cut], buffer[cut:]
                row_count += piece.count(b"<row ")
                first = re.search(rb'<row r="(\d+)"', piece)
                last = re.findall(rb'<row r="(\d+)"', piece[-20000:])
                if first and last:
                    low, high = int(first.group(1)), int(last[-1])
                    for sheet_row in wanted:
                        if low <= sheet_row <= high or sheet_row == 1:
                            start = piece.find(b'<row r="%d"' % sheet_row)
                            if start >= 0:
                                end = piece.find(b"</row>", start)
                                found[sheet_row] = piece[start:end + 6].decode("utf-8")
                    if low == 1:
                        found[1] = piece[piece.find(b'<row r="1"'):piece.find(b"</row>") + 6].decode("utf-8")
                if not chunk:
                    break
        if row_count != 1 + blocks * data_rows:
            fail("%s: expected %d rows, found %d" % (part, 1 + blocks * data_rows, row_count))
        total += row_count - 1
        header = cells_of_row(found.get(1, ""), 1)
        for column, title in enumerate(make_dataset.HEADER, 1):
            letters = make_dataset.column_letter(column)
            if header is None or letters not in header or read_value(*header[letters], strings) != ("s", title):
                fail("%s: header %s differs" % (part, letters))
        for sheet_row in sorted(wanted):
            source, source_row = wanted[sheet_row]
            origin = source % distinct if distinct else source
            check_row(found.get(sheet_row, ""), sheet_row, origin, source_row, strings, formats,
                      "%s row %d (source %d row %d) " % (part, sheet_row, source, source_row), rich)
            sampled += 1
    if total != sources * data_rows:
        fail("expected %d data rows, found %d" % (sources * data_rows, total))
    print("verified rows=%d sheets=%d sampled=%d" % (total, len(parts), sampled))


if __name__ == "__main__":
    main()
