#!/usr/bin/python3
"""Tests of the structural check (xlsx_check.py): a sound package passes, and each crafted fault
of one table is caught with its own line, so that the check cannot silently pass everything.

    xlsx_check_test.py [TEST_DATA_FOLDER]

With the test data folder, a package written by LibreOffice (xls/grid.xlsx) must pass every
check but our writer's entry-order convention: the check must not fault what a mature client
writes.
"""
import io
import os
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xlsx_check  # noqa: E402

MAIN = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
R = 'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"'
RELS = 'xmlns="http://schemas.openxmlformats.org/package/2006/relationships"'
OFFICE = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
DECLARATION = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
TYPES = "application/vnd.openxmlformats-officedocument.spreadsheetml."

# A sound package with two sheets: frozen header, columns, merges, every cell type, shared and
# inline strings with runs, and a comment with its VML note on the first sheet.
SOUND = {
    "[Content_Types].xml":
        '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/>'
        '<Default Extension="vml" ContentType="application/vnd.openxmlformats-officedocument.vmlDrawing"/>'
        f'<Override PartName="/xl/workbook.xml" ContentType="{TYPES}sheet.main+xml"/>'
        f'<Override PartName="/xl/worksheets/sheet1.xml" ContentType="{TYPES}worksheet+xml"/>'
        f'<Override PartName="/xl/worksheets/sheet2.xml" ContentType="{TYPES}worksheet+xml"/>'
        f'<Override PartName="/xl/styles.xml" ContentType="{TYPES}styles+xml"/>'
        f'<Override PartName="/xl/sharedStrings.xml" ContentType="{TYPES}sharedStrings+xml"/>'
        f'<Override PartName="/xl/comments1.xml" ContentType="{TYPES}comments+xml"/>'
        '<Override PartName="/docProps/core.xml" ContentType="application/vnd.openxmlformats-package.core-properties+xml"/>'
        '<Override PartName="/docProps/app.xml" ContentType="application/vnd.openxmlformats-officedocument.extended-properties+xml"/>'
        '</Types>',
    "_rels/.rels":
        f'<Relationships {RELS}>'
        f'<Relationship Id="rId1" Type="{OFFICE}officeDocument" Target="xl/workbook.xml"/>'
        '<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties" Target="docProps/core.xml"/>'
        f'<Relationship Id="rId3" Type="{OFFICE}extended-properties" Target="docProps/app.xml"/>'
        '</Relationships>',
    "docProps/core.xml":
        '<cp:coreProperties xmlns:cp="http://schemas.openxmlformats.org/package/2006/metadata/core-properties" '
        'xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:dcterms="http://purl.org/dc/terms/" '
        'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"><dc:creator>sheetmerge</dc:creator>'
        '<dcterms:created xsi:type="dcterms:W3CDTF">2015-06-15T09:30:12Z</dcterms:created>'
        '<dcterms:modified xsi:type="dcterms:W3CDTF">2015-06-15T09:30:12Z</dcterms:modified></cp:coreProperties>',
    "docProps/app.xml":
        '<Properties xmlns="http://schemas.openxmlformats.org/officeDocument/2006/extended-properties" '
        'xmlns:vt="http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes">'
        '<Application>sheetmerge</Application><TitlesOfParts><vt:vector size="2" baseType="lpstr">'
        '<vt:lpstr>失败列表(1)</vt:lpstr><vt:lpstr>成功合并(2)</vt:lpstr></vt:vector></TitlesOfParts></Properties>',
    "xl/workbook.xml":
        f'<workbook {MAIN} {R}><workbookPr/><bookViews><workbookView activeTab="1"/></bookViews><sheets>'
        '<sheet name="失败列表(1)" sheetId="1" r:id="rId1"/><sheet name="成功合并(2)" sheetId="2" r:id="rId2"/>'
        '</sheets><calcPr calcId="191029"/></workbook>',
    "xl/_rels/workbook.xml.rels":
        f'<Relationships {RELS}>'
        f'<Relationship Id="rId1" Type="{OFFICE}worksheet" Target="worksheets/sheet1.xml"/>'
        f'<Relationship Id="rId2" Type="{OFFICE}worksheet" Target="/xl/worksheets/sheet2.xml"/>'
        f'<Relationship Id="rId3" Type="{OFFICE}styles" Target="styles.xml"/>'
        f'<Relationship Id="rId4" Type="{OFFICE}sharedStrings" Target="sharedStrings.xml"/>'
        '</Relationships>',
    "xl/styles.xml":
        f'<styleSheet {MAIN}><numFmts count="1"><numFmt numFmtId="164" formatCode="yyyy-mm-dd"/></numFmts>'
        '<fonts count="2"><font><sz val="11"/><name val="宋体"/><family val="3"/><charset val="134"/></font>'
        '<font><b/><u/><sz val="10"/><color rgb="FFFF0000"/><name val="微软雅黑"/></font></fonts>'
        '<fills count="3"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill>'
        '<fill><patternFill patternType="solid"><fgColor rgb="FFFFFF00"/></patternFill></fill></fills>'
        '<borders count="2"><border><left/><right/><top/><bottom/><diagonal/></border>'
        '<border><left style="thin"><color rgb="FF999999"/></left><right/><top/><bottom style="double"><color auto="1"/></bottom><diagonal/></border></borders>'
        '<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>'
        '<cellXfs count="4"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>'
        '<xf numFmtId="0" fontId="1" fillId="2" borderId="1" xfId="0" applyFont="1"><alignment horizontal="center" wrapText="1"/></xf>'
        '<xf numFmtId="164" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>'
        '<xf numFmtId="4" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/></cellXfs>'
        '<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles><dxfs count="0"/>'
        '<tableStyles count="0"/></styleSheet>',
    "xl/sharedStrings.xml":
        f'<sst {MAIN} count="3" uniqueCount="2"><si><t>名称</t></si>'
        '<si><r><t xml:space="preserve">plain </t></r><r><rPr><b/><sz val="11"/><color rgb="FFFF0000"/>'
        '<rFont val="Calibri"/></rPr><t>bold red</t></r></si></sst>',
    "xl/worksheets/sheet1.xml":
        f'<worksheet {MAIN} {R}><dimension ref="A1:E3"/><sheetViews><sheetView workbookViewId="0">'
        '<pane ySplit="2" topLeftCell="A3" activePane="bottomLeft" state="frozen"/>'
        '<selection pane="bottomLeft" activeCell="A3" sqref="A3"/></sheetView></sheetViews>'
        '<sheetFormatPr defaultRowHeight="13.5"/><cols><col min="1" max="1" width="15" customWidth="1"/>'
        '<col min="2" max="5" width="20" customWidth="1" hidden="1"/></cols><sheetData>'
        '<row r="1"><c r="A1" s="1" t="inlineStr"><is><t>失败原因</t></is></c><c r="B1" s="1" t="s"><v>0</v></c></row>'
        '<row r="2"><c r="A2" t="inlineStr"><is><t>文件个数</t></is></c><c r="B2" s="1"><v>1</v></c></row>'
        '<row r="3" ht="20" customHeight="1"><c r="A3"><v>1</v></c><c r="B3" t="inlineStr"><is><t>bad.xlsx</t></is></c></row>'
        '</sheetData><pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/>'
        '<legacyDrawing r:id="rId2"/></worksheet>',
    "xl/worksheets/_rels/sheet1.xml.rels":
        f'<Relationships {RELS}>'
        f'<Relationship Id="rId1" Type="{OFFICE}comments" Target="../comments1.xml"/>'
        f'<Relationship Id="rId2" Type="{OFFICE}vmlDrawing" Target="../drawings/vmlDrawing1.vml"/>'
        '</Relationships>',
    "xl/comments1.xml":
        f'<comments {MAIN}><authors><author>sheetmerge</author></authors><commentList>'
        '<comment ref="B3" authorId="0"><text><r><rPr><b/><sz val="9"/><rFont val="宋体"/></rPr><t>原因：</t></r>'
        '<r><t xml:space="preserve"> 不是工作簿</t></r></text></comment></commentList></comments>',
    "xl/drawings/vmlDrawing1.vml":
        '<xml xmlns:v="urn:schemas-microsoft-com:vml" xmlns:o="urn:schemas-microsoft-com:office:office" '
        'xmlns:x="urn:schemas-microsoft-com:office:excel"><v:shape id="_x0000_s1025" type="#_x0000_t202">'
        '<x:ClientData ObjectType="Note"><x:MoveWithCells/><x:Row>2</x:Row><x:Column>1</x:Column></x:ClientData>'
        '</v:shape></xml>',
    "xl/worksheets/sheet2.xml":
        f'<worksheet {MAIN} {R}><dimension ref="A1:E4"/><sheetViews><sheetView tabSelected="1" workbookViewId="0">'
        '<pane xSplit="1" ySplit="1" topLeftCell="B2" activePane="bottomRight" state="frozen"/>'
        '<selection pane="topRight" activeCell="B1" sqref="B1"/><selection pane="bottomLeft" activeCell="A2" sqref="A2"/>'
        '<selection pane="bottomRight" activeCell="C3" sqref="B2:D4 E1"/></sheetView></sheetViews>'
        '<sheetFormatPr defaultRowHeight="13.5" defaultColWidth="9"/><sheetData>'
        '<row r="1" spans="1:5"><c r="A1" s="1" t="s"><v>1</v></c><c r="C1" s="1"/><c r="E1" t="b"><v>1</v></c></row>'
        '<row r="2"><c r="A2" s="2"><v>45660</v></c><c r="B2" s="3"><v>-1.5E-3</v></c><c r="C2" t="e"><v>#N/A</v></c>'
        '<c r="D2" t="str"><f>"x"</f><v>x</v></c></row>'
        '<row r="4"><c r="A4" t="inlineStr"><is><r><t>a</t></r><r><rPr><i/><vertAlign val="superscript"/></rPr>'
        '<t>2</t></r></is></c><c r="XFD4"><v>7</v></c></row>'
        '<row r="1048576"><c r="A1048576"><v>1</v></c></row></sheetData>'
        '<mergeCells count="2"><mergeCell ref="A1:B1"/><mergeCell ref="C1:D2"/></mergeCells>'
        '<pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/></worksheet>',
}

SHEET1 = "xl/worksheets/sheet1.xml"
SHEET2 = "xl/worksheets/sheet2.xml"
STYLES = "xl/styles.xml"
WORKBOOK = "xl/workbook.xml"
CONTENT_TYPES = "[Content_Types].xml"


def replace(part, old, new):
    """A change of one part's text; the old text must be there, so the case cannot go stale."""
    def change(parts):
        assert old in parts[part], f"{old!r} is not in {part}"
        parts[part] = parts[part].replace(old, new, 1)
    return change


def drop(part):
    def change(parts):
        del parts[part]
    return change


def add(part, text):
    def change(parts):
        parts[part] = text
    return change


def build(parts, order=None, zip64=(), stored=(), encode=None):
    """The bytes of a package holding `parts` (str or bytes), [Content_Types].xml first."""
    buffer = io.BytesIO()
    names = order or [CONTENT_TYPES] + sorted(name for name in parts if name != CONTENT_TYPES)
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as package:
        for name in names:
            text = parts[name]
            data = text if isinstance(text, bytes) else (DECLARATION + text).encode("utf-8")
            if encode and name in encode:
                data = encode[name](data)
            info = zipfile.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_STORED if name in stored else zipfile.ZIP_DEFLATED
            with package.open(info, "w", force_zip64=name in zip64) as stream:
                stream.write(data)
    return buffer.getvalue()


def damage_stored_part(data, text):
    """Flips one byte inside a stored entry's data, after the zip was written: a CRC fault."""
    at = data.index(text.encode("utf-8"))
    return data[:at] + bytes([data[at] ^ 0x20]) + data[at + 1:]


def package_faults(data):
    with tempfile.NamedTemporaryFile(suffix=".xlsx") as file:
        file.write(data)
        file.flush()
        return xlsx_check.check_package(file.name)


# Each row: what is wrong, how the sound package is changed, and a text the fault line holds
# (None: the change keeps the package sound).
CASES = [
    # The zip.
    ("content types not first", dict(order=["_rels/.rels", CONTENT_TYPES]), "the first entry is _rels/.rels"),
    ("gratuitous ZIP64 field", dict(zip64=[STYLES]), "ZIP64 field"),
    ("damaged entry", dict(stored=[SHEET1], damage="文件个数"), "Bad CRC-32"),
    # Content types and relationships.
    ("part without a content type", replace(CONTENT_TYPES, '<Default Extension="vml" ContentType='
                                            '"application/vnd.openxmlformats-officedocument.vmlDrawing"/>', ""),
     "xl/drawings/vmlDrawing1.vml has no content type"),
    ("part with the wrong content type", replace(CONTENT_TYPES, f'"/xl/sharedStrings.xml" ContentType="{TYPES}sharedStrings',
                                                 f'"/xl/sharedStrings.xml" ContentType="{TYPES}styles'),
     "xl/sharedStrings.xml is 'application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml', expected"),
    ("rows and cells without numbers", [replace(SHEET1, '<row r="3" ht="20"', '<row ht="20"'),
                                        replace(SHEET1, '<c r="A3"><v>1</v></c><c r="B3" t="inlineStr">',
                                                '<c><v>1</v></c><c t="inlineStr">')], None),
    ("no tab selected", replace(SHEET2, '<sheetView tabSelected="1" workbookViewId="0">', '<sheetView workbookViewId="0">'),
     None),
    ("part names differing only in case", replace(CONTENT_TYPES, '"/xl/sharedStrings.xml"', '"/XL/SHAREDSTRINGS.XML"'),
     None),
    ("override of a missing part", replace(CONTENT_TYPES, "</Types>",
                                           f'<Override PartName="/xl/theme/theme1.xml" ContentType="{TYPES}x"/></Types>'),
     "a part the package does not hold"),
    ("dangling relationship", replace("xl/_rels/workbook.xml.rels", 'Target="styles.xml"', 'Target="style.xml"'),
     "rId3 points to style.xml, which the package does not hold"),
    ("repeated relationship id", replace("xl/_rels/workbook.xml.rels", 'Id="rId4"', 'Id="rId3"'),
     "relationship id rId3 used twice"),
    ("macro workbook type in an .xlsx", replace(CONTENT_TYPES, "sheet.main+xml",
                                                "application/vnd.ms-excel.sheet.macroEnabled.main+xml"),
     "expected application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"),
    ("part no relationship reaches", add("xl/theme/theme1.xml", "<a/>"), "no relationship leads to this part"),
    ("relationships of a missing part", add("xl/_rels/gone.xml.rels", f"<Relationships {RELS}/>"),
     "relationships of xl/gone.xml"),
    # The XML of the parts.
    ("ill-formed XML", replace(STYLES, "</fonts>", "</font>"), "not well-formed"),
    ("GBK bytes in a UTF-8 part", dict(encode={"xl/sharedStrings.xml": lambda data: data.replace(
        "名称".encode("utf-8"), "名称".encode("gbk"))}), "is not UTF-8"),
    ("legacy encoding declared", dict(encode={WORKBOOK: lambda data: data.replace(b"UTF-8", b"GBK", 1)}),
     "declares encoding GBK"),
    ("DOCTYPE in a sheet", dict(encode={SHEET2: lambda data: data.replace(b"?>\n", b"?>\n<!DOCTYPE worksheet>", 1)}),
     "has a DOCTYPE"),
    # The workbook and its sheets.
    ("sheet name with a slash", replace(WORKBOOK, 'name="失败列表(1)"', 'name="a/b"'), "holds one of"),
    ("sheet name too long", replace(WORKBOOK, 'name="失败列表(1)"', 'name="' + "表" * 32 + '"'),
     "is not 1 to 31 characters long"),
    ("empty sheet name", replace(WORKBOOK, 'name="失败列表(1)"', 'name=""'), "is not 1 to 31 characters long"),
    ("sheet name in apostrophes", replace(WORKBOOK, 'name="失败列表(1)"', 'name="\'x\'"'),
     "begins or ends with an apostrophe"),
    ("reserved sheet name", replace(WORKBOOK, 'name="失败列表(1)"', 'name="history"'), "is reserved"),
    ("names equal ignoring case", [replace(WORKBOOK, 'name="失败列表(1)"', 'name="Straße"'),
                                   replace(WORKBOOK, 'name="成功合并(2)"', 'name="STRASSE"')], "ignoring case"),
    ("repeated sheetId", replace(WORKBOOK, 'sheetId="2"', 'sheetId="1"'), "sheetId '1' missing, invalid or repeated"),
    ("sheet without relationship", replace(WORKBOOK, 'r:id="rId2"', 'r:id="rId9"'), "r:id rId9 has no relationship"),
    ("active sheet hidden", replace(WORKBOOK, 'sheetId="2"', 'sheetId="2" state="hidden"'),
     "the active sheet '成功合并(2)' is hidden"),
    ("two selected tabs", replace(SHEET1, '<sheetView workbookViewId="0">', '<sheetView tabSelected="1" workbookViewId="0">'),
     "selected tabs ['失败列表(1)', '成功合并(2)']"),
    # Styles.
    ("font index past the fonts", replace(STYLES, 'fontId="1" fillId="2"', 'fontId="2" fillId="2"'),
     "fontId='2' past 2 entries"),
    ("undefined number format", replace(STYLES, 'numFmtId="164" fontId', 'numFmtId="165" fontId'),
     "numFmtId='165' is neither built in nor defined"),
    ("count unlike the children", replace(STYLES, '<cellXfs count="4">', '<cellXfs count="3">'),
     "count=\"3\" but 4 children"),
    ("first fill not none", replace(STYLES, '<patternFill patternType="none"/>', '<patternFill patternType="solid"/>'),
     "the first two fills are none and gray125"),
    ("font children out of order", replace(STYLES, '<sz val="11"/><name val="宋体"/>', '<name val="宋体"/><sz val="11"/>'),
     "font 0: <sz> after <name>"),
    ("unknown alignment", replace(STYLES, 'horizontal="center"', 'horizontal="centre"'), "horizontal 'centre'"),
    ("colour not ARGB", replace(STYLES, 'rgb="FFFF0000"', 'rgb="FF0000"'), "is not ARGB"),
    # Shared strings.
    ("unique count unlike the items", replace("xl/sharedStrings.xml", 'uniqueCount="2"', 'uniqueCount="3"'),
     "uniqueCount=\"3\" but 2 items"),
    ("outer spaces not preserved", replace("xl/sharedStrings.xml", '<t xml:space="preserve">plain </t>', "<t>plain </t>"),
     "lacks xml:space"),
    ("run without text", replace("xl/sharedStrings.xml", "<t>bold red</t>", ""), "not [rPr,] t"),
    # Worksheet structure.
    ("elements out of schema order", [replace(SHEET2, "<sheetFormatPr", "<sheetFormatPrX"),
                                      replace(SHEET2, '<mergeCells count="2"><mergeCell ref="A1:B1"/>'
                                              '<mergeCell ref="C1:D2"/></mergeCells>', ""),
                                      replace(SHEET2, "<sheetData>", '<mergeCells count="1"><mergeCell ref="A1:B1"/>'
                                              '</mergeCells><sheetData>'),
                                      replace(SHEET2, "<sheetFormatPrX", "<sheetFormatPr")],
     "<sheetData> after <mergeCells>"),
    ("cols after sheetData", [replace(SHEET1, '<cols><col min="1" max="1" width="15" customWidth="1"/>'
                                      '<col min="2" max="5" width="20" customWidth="1" hidden="1"/></cols>', ""),
                              replace(SHEET1, "</sheetData>", '</sheetData><cols><col min="1" max="1" width="3"/></cols>')],
     "<cols> after <sheetData>"),
    ("empty mergeCells", replace(SHEET2, '<mergeCell ref="A1:B1"/><mergeCell ref="C1:D2"/>', ""),
     "an empty <mergeCells>"),
    ("empty cols", replace(SHEET1, '<col min="1" max="1" width="15" customWidth="1"/>'
                                   '<col min="2" max="5" width="20" customWidth="1" hidden="1"/>', ""),
     "an empty <cols>"),
    ("no sheetData", [replace(SHEET2, "<sheetData>", "<sheetDatum>"), replace(SHEET2, "</sheetData>", "</sheetDatum>")],
     "no <sheetData>"),
    ("page margin missing", replace(SHEET1, ' footer="0.3"', ""), "page margin footer=None"),
    # Rows and cells.
    ("rows out of order", [replace(SHEET2, '<row r="2">', '<row r="5">')], "row 4 after row 5"),
    ("row repeated", replace(SHEET1, '<row r="3" ht="20"', '<row r="2" ht="20"'), "row 2 after row 2"),
    ("row past the grid", replace(SHEET2, 'r="1048576"', 'r="1048577"'), "row r='1048577' outside the grid"),
    ("cells out of order", replace(SHEET2, '<c r="B2" s="3">', '<c r="A2" s="3">'), "cell A2 after column 1 of row 2"),
    ("cell in another row", replace(SHEET1, '<c r="B3" t="inlineStr">', '<c r="B4" t="inlineStr">'),
     "cell B4 inside row 3"),
    ("cell past XFD", replace(SHEET2, 'r="XFD4"', 'r="XFE4"'), "cell 'XFE4' is no reference inside the grid"),
    ("NaN", replace(SHEET2, "<v>-1.5E-3</v>", "<v>NaN</v>"), "cell B2: 'NaN' is no finite number"),
    ("infinity", replace(SHEET2, "<v>-1.5E-3</v>", "<v>1E999</v>"), "cell B2: '1E999' is no finite number"),
    ("number with a comma", replace(SHEET2, "<v>45660</v>", "<v>45,660</v>"), "is no finite number"),
    ("style index past cellXfs", replace(SHEET2, '<c r="B2" s="3">', '<c r="B2" s="4">'), "style 4 past 4 cell formats"),
    ("shared string index past the table", replace(SHEET2, '<c r="A1" s="1" t="s"><v>1</v>', '<c r="A1" s="1" t="s"><v>2</v>'),
     "shared string '2' past 2 strings"),
    ("ISO date cell", replace(SHEET2, '<c r="A2" s="2"><v>45660</v>', '<c r="A2" t="d"><v>2025-01-03</v>'),
     "an ISO date cell"),
    ("inline string without is", replace(SHEET1, '<c r="B3" t="inlineStr"><is><t>bad.xlsx</t></is>',
                                         '<c r="B3" t="inlineStr"><v>bad.xlsx</v>'), "an inline string without <is>"),
    ("boolean not 0 or 1", replace(SHEET2, 't="b"><v>1</v>', 't="b"><v>TRUE</v>'), "boolean 'TRUE'"),
    ("unknown error value", replace(SHEET2, "<v>#N/A</v>", "<v>#WHAT</v>"), "error '#WHAT'"),
    ("text past the cell limit", replace(SHEET1, "<t>bad.xlsx</t>", "<t>" + "x" * 32768 + "</t>"),
     "32768 characters, more than a cell holds"),
    ("text past the limit in UTF-16 units", replace(SHEET1, "<t>bad.xlsx</t>", "<t>" + "𠀀" * 16384 + "</t>"),
     "32768 characters, more than a cell holds"),
    ("text at the limit with escapes", replace(SHEET1, "<t>bad.xlsx</t>", "<t>" + "_x000D_" * 32767 + "</t>"), None),
    ("value before formula", replace(SHEET2, '<f>"x"</f><v>x</v>', '<v>x</v><f>"x"</f>'), "<f> after <v>"),
    ("row taller than allowed", replace(SHEET1, 'ht="20"', 'ht="410"'), "height '410'"),
    # Columns.
    ("columns overlapping", replace(SHEET1, '<col min="2" max="5"', '<col min="1" max="5"'),
     "overlaps or precedes the run ending at column 1"),
    ("column run reversed", replace(SHEET1, '<col min="2" max="5"', '<col min="5" max="2"'),
     "min and max are not a column run"),
    ("column too wide", replace(SHEET1, 'width="20"', 'width="256"'), "width '256'"),
    ("column past XFD", replace(SHEET1, 'min="2" max="5"', 'min="2" max="16385"'), "not a column run inside the grid"),
    # Merges.
    ("overlapping merges", replace(SHEET2, '<mergeCell ref="C1:D2"/>', '<mergeCell ref="B1:D2"/>'),
     "merge A1:B1 overlaps merge B1:D2"),
    ("merge of one cell", replace(SHEET2, 'ref="C1:D2"', 'ref="C1:C1"'), "merge C1:C1 covers a single cell"),
    ("merge past the grid", replace(SHEET2, 'ref="C1:D2"', 'ref="C1:D1048577"'), "no range inside the grid"),
    ("merge count unlike the merges", replace(SHEET2, 'mergeCells count="2"', 'mergeCells count="1"'),
     "mergeCells count=\"1\" but 2 merges"),
    # Panes and selections.
    ("frozen pane scrolling the wrong pane", replace(SHEET1, 'activePane="bottomLeft" state="frozen"',
                                                     'activePane="topRight" state="frozen"'),
     "activePane 'topRight' is not one of this view's panes"),
    ("frozen corner inside the frozen rows", replace(SHEET1, 'topLeftCell="A3"', 'topLeftCell="A2"'),
     "topLeftCell A2 inside the frozen rows or columns"),
    ("selection in a missing pane", replace(SHEET1, '<selection pane="bottomLeft"', '<selection pane="bottomRight"'),
     "selection in pane 'bottomRight'"),
    ("active cell outside the selection", replace(SHEET2, 'activeCell="C3" sqref="B2:D4 E1"', 'activeCell="E3" sqref="B2:D4 E1"'),
     "activeCell E3 outside sqref"),
    ("pane splitting nothing", replace(SHEET1, 'ySplit="2"', 'ySplit="0"'), "a pane that splits nothing"),
    # Comments and their drawing.
    ("comments without legacyDrawing", replace(SHEET1, '<legacyDrawing r:id="rId2"/>', ""),
     "comments without a <legacyDrawing>"),
    ("note shape on another cell", replace("xl/drawings/vmlDrawing1.vml", "<x:Row>2</x:Row>", "<x:Row>3</x:Row>"),
     "no note shape for the comment at row 3, column 2"),
    ("comment author missing", replace("xl/comments1.xml", 'authorId="0"', 'authorId="1"'), "authorId '1' past 1 authors"),
    ("comment outside the grid", replace("xl/comments1.xml", 'ref="B3"', 'ref="B0"'), "ref is no cell inside the grid"),
    # Document properties.
    ("creation date not W3CDTF", replace("docProps/core.xml", ">2015-06-15T09:30:12Z</dcterms:created>",
                                         ">15.06.2015</dcterms:created>"), "is no W3CDTF date"),
    ("vector size unlike its items", replace("docProps/app.xml", 'size="2"', 'size="3"'), "a vector of size '3' holds 2"),
]


def run_case(change):
    parts = dict(SOUND)
    options = {}
    if isinstance(change, dict):
        options = dict(change)
    else:
        for step in change if isinstance(change, list) else [change]:
            step(parts)
    damage = options.pop("damage", None)
    data = build(parts, **options)
    if damage:
        data = damage_stored_part(data, damage)
    return package_faults(data)


def main():
    failures = []
    sound = package_faults(build(SOUND))
    if sound:
        failures.append(f"the sound package has faults: {sound}")
    for what, change, expected in CASES:
        faults = run_case(change)
        if expected is None and faults:
            failures.append(f"{what}: sound, but faulted: {faults}")
        elif expected is not None and not any(expected in line for line in faults):
            failures.append(f"{what}: no fault line holds {expected!r}; found {faults}")

    # The command: one line per fault naming the file, exit 1; exit 0 for a sound package.
    with tempfile.TemporaryDirectory() as folder:
        good, bad = os.path.join(folder, "good.xlsx"), os.path.join(folder, "bad.xlsx")
        with open(good, "wb") as file:
            file.write(build(SOUND))
        broken = dict(SOUND)
        replace(SHEET2, "<v>-1.5E-3</v>", "<v>NaN</v>")(broken)
        replace(SHEET2, 'r="XFD4"', 'r="XFE4"')(broken)
        with open(bad, "wb") as file:
            file.write(build(broken))
        done = subprocess.run([sys.executable, xlsx_check.__file__, good, bad], capture_output=True, text=True)
        lines = done.stdout.splitlines()
        if done.returncode != 1 or len(lines) != 2 or not all(line.startswith(bad + ": " + SHEET2) for line in lines):
            failures.append(f"command: exit {done.returncode}, output {done.stdout!r}")
        done = subprocess.run([sys.executable, xlsx_check.__file__, good], capture_output=True, text=True)
        if done.returncode != 0 or done.stdout:
            failures.append(f"command on a sound package: exit {done.returncode}, output {done.stdout!r}")

    # A package LibreOffice wrote passes every check but the entry order our writer keeps.
    if len(sys.argv) > 1:
        path = os.path.join(sys.argv[1], "xls", "grid.xlsx")
        faults = [line for line in xlsx_check.check_package(path) if "the first entry is" not in line]
        if faults:
            failures.append(f"{path} (written by LibreOffice): {faults}")

    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(CASES)} crafted faults, {len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
