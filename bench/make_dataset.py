#!/usr/bin/python3
"""Writes a deterministic folder of .xlsx sources for the merge benchmark.

Each source has one header row and ROWS-1 data rows of ten columns with mixed types: integers,
ASCII and CJK text (shared strings, some needing escapes), dates with a date format, amounts
with a thousands format, booleans, formulas with cached numeric and text values, percentages,
long decimals and gaps. The package is written with zipfile and raw XML strings, the way
spreadsheet programs lay it out, so generating ten million cells takes about a minute.

    /usr/bin/python3 bench/make_dataset.py OUT_DIR SOURCES ROWS [--csv] [--rich]

With --csv the sources are UTF-8 .csv files holding the same cells as they show in the workbook
(2023-01-05 for a date, "1,234.50" for an amount, 12.00% for a percentage, TRUE for a boolean,
the cached value for a formula), so the CSV reader's decoding and value conversion are measured.

The value of every cell is a function of (source, row, column) in expected_cell() below, which
the verifier uses to check the merged result. With --rich every text of a data row is a rich
text of three runs (RICH_RUNS): its first third in the cell's font, the second bold and red, the
third italic, each with the run properties Excel writes.
"""
import datetime
import os
import sys
import zipfile

COLUMNS = 10
HEADER = ["编号", "名称", "门店", "日期", "金额", "有效", "双倍", "前缀", "比例", "偏差"]

# Style ids of cellXfs below.
STYLE_GENERAL, STYLE_DATE, STYLE_AMOUNT, STYLE_PERCENT, STYLE_HEADER = 0, 1, 2, 3, 4
FORMAT_OF_STYLE = {STYLE_GENERAL: "General", STYLE_DATE: "yyyy-mm-dd", STYLE_AMOUNT: "#,##0.00",
                   STYLE_PERCENT: "0.00%", STYLE_HEADER: "General"}


def source_name(index):
    return "src_%05d.xlsx" % index


def expected_cell(source, row, column):
    """(type, value, style) of a data cell; source 0-based, row >= 2, column 1..10.

    type is 'n' number, 's' text, 'b' boolean, 'fn' numeric formula, 'fs' text formula,
    None for an empty cell.
    """
    if column == 1:
        return ("n", source * 100000 + row, STYLE_GENERAL)
    if column == 2:
        return ("s", "Item-%d" % ((source * 7 + row) % 1000), STYLE_GENERAL)
    if column == 3:
        n = (source + row) % 97
        text = "门店%d号" % n if n % 10 else "A&B <%d> \"商行\"" % n
        return ("s", text, STYLE_GENERAL)
    if column == 4:
        return ("n", 44927 + (source * 13 + row) % 1000, STYLE_DATE)
    if column == 5:
        return ("n", ((source * 31 + row * 17) % 100000) / 100.0, STYLE_AMOUNT)
    if column == 6:
        return ("b", (row + source) % 2, STYLE_GENERAL)
    if column == 7:
        return ("fn", (source * 100000 + row) * 2, STYLE_GENERAL)
    if column == 8:
        return ("fs", "Item", STYLE_GENERAL)
    if column == 9:
        return ("n", (row % 100) / 100.0, STYLE_PERCENT)
    if row % 10 == 0:
        return (None, None, STYLE_GENERAL)
    return ("n", -((source * row) % 9973) / 7.0, STYLE_GENERAL)


def column_letter(column):
    return "ABCDEFGHIJ"[column - 1]


def escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;")


def number_text(value):
    if isinstance(value, int) or float(value).is_integer():
        return str(int(value))
    return repr(float(value))


def sheet_xml(source, rows, strings):
    index_of = {}

    def shared(text):
        position = index_of.get(text)
        if position is None:
            position = len(strings)
            index_of[text] = position
            strings.append(text)
        return position

    parts = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
             '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
             'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
             '<dimension ref="A1:J%d"/><sheetViews><sheetView workbookViewId="0"/></sheetViews>'
             '<sheetFormatPr defaultRowHeight="15"/><cols><col min="1" max="10" width="12.5" customWidth="1"/>'
             '</cols><sheetData>' % rows]
    header = ['<row r="1" spans="1:10">']
    for column, title in enumerate(HEADER, 1):
        header.append('<c r="%s1" s="%d" t="s"><v>%d</v></c>' % (column_letter(column), STYLE_HEADER, shared(title)))
    header.append("</row>")
    parts.append("".join(header))
    for row in range(2, rows + 1):
        cells = ['<row r="%d" spans="1:10">' % row]
        for column in range(1, COLUMNS + 1):
            kind, value, style = expected_cell(source, row, column)
            ref = "%s%d" % (column_letter(column), row)
            style_attribute = ' s="%d"' % style if style else ""
            if kind is None:
                continue
            if kind == "n":
                cells.append('<c r="%s"%s><v>%s</v></c>' % (ref, style_attribute, number_text(value)))
            elif kind == "s":
                cells.append('<c r="%s"%s t="s"><v>%d</v></c>' % (ref, style_attribute, shared(value)))
            elif kind == "b":
                cells.append('<c r="%s"%s t="b"><v>%d</v></c>' % (ref, style_attribute, value))
            elif kind == "fn":
                cells.append('<c r="%s"%s><f>A%d*2</f><v>%s</v></c>' % (ref, style_attribute, row, number_text(value)))
            else:
                cells.append('<c r="%s"%s t="str"><f>LEFT(B%d,4)</f><v>%s</v></c>' % (ref, style_attribute, row, escape(value)))
        cells.append("</row>")
        parts.append("".join(cells))
    parts.append('</sheetData><pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/>'
                 '</worksheet>')
    return "".join(parts)


CONTENT_TYPES = (
    '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
    '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
    '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
    '<Default Extension="xml" ContentType="application/xml"/>'
    '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
    '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
    '<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>'
    '<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>'
    '</Types>')
ROOT_RELS = (
    '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
    '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
    '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>'
    '</Relationships>')
WORKBOOK = (
    '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
    '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
    'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
    '<bookViews><workbookView activeTab="0"/></bookViews>'
    '<sheets><sheet name="数据" sheetId="1" r:id="rId1"/></sheets></workbook>')
WORKBOOK_RELS = (
    '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
    '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
    '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>'
    '<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>'
    '<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/>'
    '</Relationships>')
STYLES = (
    '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
    '<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
    '<numFmts count="2"><numFmt numFmtId="164" formatCode="yyyy-mm-dd"/><numFmt numFmtId="165" formatCode="#,##0.00"/></numFmts>'
    '<fonts count="2"><font><sz val="11"/><name val="Calibri"/></font><font><b/><sz val="11"/><name val="Calibri"/></font></fonts>'
    '<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills>'
    '<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>'
    '<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>'
    '<cellXfs count="5"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>'
    '<xf numFmtId="164" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>'
    '<xf numFmtId="165" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>'
    '<xf numFmtId="10" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>'
    '<xf numFmtId="0" fontId="1" fillId="0" borderId="0" xfId="0" applyFont="1"/></cellXfs>'
    '<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles></styleSheet>')


# The properties of the second and third run of a rich text.
RICH_RUNS = ('<rPr><b/><sz val="11"/><color rgb="FFFF0000"/><rFont val="Calibri"/><family val="2"/></rPr>',
             '<rPr><i/><sz val="11"/><color theme="1"/><rFont val="Calibri"/><family val="2"/></rPr>')


def rich_pieces(text):
    """The three pieces of a rich text: its thirds by characters (texts here have four or more)."""
    third = len(text) // 3
    return text[:third], text[third:2 * third], text[2 * third:]


def string_item(text, rich):
    if not rich or text in HEADER:
        return "<si><t>%s</t></si>" % escape(text)
    first, second, third = (escape(piece) for piece in rich_pieces(text))
    space = ' xml:space="preserve"'
    return ('<si><r><t%s>%s</t></r><r>%s<t%s>%s</t></r><r>%s<t%s>%s</t></r></si>'
            % (space, first, RICH_RUNS[0], space, second, RICH_RUNS[1], space, third))


def shared_strings_xml(strings, rich=False):
    items = "".join(string_item(text, rich) for text in strings)
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            '<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="%d" uniqueCount="%d">%s</sst>'
            % (len(strings), len(strings), items))


def write_source(path, source, rows, rich=False):
    strings = []
    sheet = sheet_xml(source, rows, strings)
    temporary = path + ".part"
    with zipfile.ZipFile(temporary, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as package:
        package.writestr("[Content_Types].xml", CONTENT_TYPES)
        package.writestr("_rels/.rels", ROOT_RELS)
        package.writestr("xl/workbook.xml", WORKBOOK)
        package.writestr("xl/_rels/workbook.xml.rels", WORKBOOK_RELS)
        package.writestr("xl/styles.xml", STYLES)
        package.writestr("xl/sharedStrings.xml", shared_strings_xml(strings, rich))
        package.writestr("xl/worksheets/sheet1.xml", sheet)
    os.replace(temporary, path)


def csv_field(kind, value, style):
    """A cell as a spreadsheet program shows it, quoted where CSV needs it."""
    if kind in ("s", "fs"):
        text = value
    elif kind == "b":
        text = "TRUE" if value else "FALSE"
    elif style == STYLE_DATE:
        text = (datetime.date(1899, 12, 30) + datetime.timedelta(days=value)).isoformat()
    elif style == STYLE_AMOUNT:
        text = "{:,.2f}".format(value)
    elif style == STYLE_PERCENT:
        text = "{:.2f}%".format(value * 100)
    else:
        text = number_text(value)
    if any(character in text for character in ',"\n'):
        text = '"' + text.replace('"', '""') + '"'
    return text


def write_csv_source(path, source, rows):
    lines = [",".join(HEADER)]
    for row in range(2, rows + 1):
        fields = []
        for column in range(1, COLUMNS + 1):
            kind, value, style = expected_cell(source, row, column)
            fields.append("" if kind is None else csv_field(kind, value, style))
        lines.append(",".join(fields))
    temporary = path + ".part"
    with open(temporary, "w", encoding="utf-8", newline="") as out:
        out.write("\r\n".join(lines) + "\r\n")
    os.replace(temporary, path)


def main():
    arguments = sys.argv[1:]
    as_csv = "--csv" in arguments
    rich = "--rich" in arguments
    arguments = [argument for argument in arguments if argument not in ("--csv", "--rich")]
    if len(arguments) != 3 or (as_csv and rich):
        sys.exit("usage: make_dataset.py OUT_DIR SOURCES ROWS [--csv | --rich]")
    folder, sources, rows = arguments[0], int(arguments[1]), int(arguments[2])
    os.makedirs(folder, exist_ok=True)
    for source in range(sources):
        name = source_name(source)
        if as_csv:
            name = name[:-len(".xlsx")] + ".csv"
        path = os.path.join(folder, name)
        if not os.path.exists(path):
            if as_csv:
                write_csv_source(path, source, rows)
            else:
                write_source(path, source, rows, rich)


if __name__ == "__main__":
    main()
