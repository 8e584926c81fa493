#!/usr/bin/env python3
"""Writes the .xlsx fixtures of tests/data/xlsx/ and the zip fixtures of tests/data/zip/.

Every package is assembled by hand from literal XML so that each file shows exactly one
quirk; a small zip writer below gives control over the container details (data descriptors,
ZIP64 records, broken CRCs, overlapping entries). Run it from anywhere:
    python3 tests/data/xlsx/make_fixtures.py
The outputs are committed; rerun only when a fixture has to change.
"""

import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ZIP_DIR = os.path.join(os.path.dirname(HERE), "zip")

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG_REL = "http://schemas.openxmlformats.org/package/2006/relationships"
STRICT_MAIN = "http://purl.oclc.org/ooxml/spreadsheetml/main"
STRICT_REL = "http://purl.oclc.org/ooxml/officeDocument/relationships"
DRAWING = "http://schemas.openxmlformats.org/drawingml/2006/main"

# ----------------------------------------------------------------------------------------------
# A zip writer with knobs


def build_zip(entries, zip64=False, comment=b""):
    """entries: dicts with name, data and optional method (8), descriptor (False), flags (0),
    crc / usize / csize overrides for the central directory, local_of (reuse another entry's
    local header: an overlapping entry)."""
    out = bytearray()
    central = []
    locals_at = {}
    for entry in entries:
        name = entry["name"].encode("utf-8")
        data = entry["data"]
        method = entry.get("method", 8)
        if method == 8:
            compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
            payload = compressor.compress(data) + compressor.flush()
        else:
            payload = data
        crc = zlib.crc32(data) & 0xFFFFFFFF
        flags = entry.get("flags", 0) | (0x08 if entry.get("descriptor") else 0)
        if "local_of" in entry:
            offset, payload = locals_at[entry["local_of"]]
        else:
            offset = len(out)
            local_crc, local_c, local_u = (0, 0, 0) if entry.get("descriptor") else (crc, len(payload), len(data))
            out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, 0, 0x21, local_crc, local_c, local_u,
                               len(name), 0)
            out += name + payload
            if entry.get("descriptor"):
                out += struct.pack("<IIII", 0x08074B50, crc, len(payload), len(data))
            locals_at[entry["name"]] = (offset, payload)
        central.append((name, method, flags, entry.get("crc", crc), entry.get("csize", len(payload)),
                        entry.get("usize", len(data)), offset))
    directory_offset = len(out)
    for name, method, flags, crc, csize, usize, offset in central:
        extra = b""
        if zip64:
            extra = struct.pack("<HHQQQ", 0x0001, 24, usize, csize, offset)
            csize32 = usize32 = offset32 = 0xFFFFFFFF
        else:
            csize32, usize32, offset32 = csize, usize, offset
        out += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45 if zip64 else 20, 45 if zip64 else 20, flags, method,
                           0, 0x21, crc, csize32, usize32, len(name), len(extra), 0, 0, 0, 0, offset32)
        out += name + extra
    directory_size = len(out) - directory_offset
    count = len(central)
    if zip64:
        zip64_offset = len(out)
        out += struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, directory_size, directory_offset)
        out += struct.pack("<IIQI", 0x07064B50, 0, zip64_offset, 1)
        out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, len(comment))
    else:
        out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, directory_size, directory_offset, len(comment))
    return bytes(out) + comment


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as handle:
        handle.write(data)


# ----------------------------------------------------------------------------------------------
# Packages

CONTENT_TYPES = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
                 '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                 '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                 '<Default Extension="xml" ContentType="application/xml"/>'
                 '<Override PartName="/xl/workbook.xml" '
                 'ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
                 '</Types>')


def rels(items, namespace=PKG_REL, prefix=""):
    p = prefix + ":" if prefix else ""
    xmlns = f'xmlns:{prefix}="{namespace}"' if prefix else f'xmlns="{namespace}"'
    body = "".join(f'<{p}Relationship Id="{i}" Type="{t}" Target="{target}"/>' for i, t, target in items)
    return f'<?xml version="1.0" encoding="UTF-8"?><{p}Relationships {xmlns}>{body}</{p}Relationships>'


def doc_rel(kind):
    return "http://schemas.openxmlformats.org/officeDocument/2006/relationships/" + kind


def workbook(sheets, extra="", views='<bookViews><workbookView/></bookViews>'):
    body = "".join(f'<sheet name="{name}" sheetId="{i + 1}" {state} r:id="rId{i + 1}"/>'
                   for i, (name, state) in enumerate(sheets))
    return (f'<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="{MAIN}" xmlns:r="{REL}">{extra}{views}'
            f'<sheets>{body}</sheets></workbook>')


def worksheet(data, before="", after=""):
    return (f'<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="{MAIN}" xmlns:r="{REL}">{before}'
            f'<sheetData>{data}</sheetData>{after}</worksheet>')


def package(parts, names=None):
    """parts: part name -> text; names optionally renames zip entries (case, backslashes)."""
    names = names or {}
    entries = [{"name": names.get(part, part), "data": text.encode("utf-8")} for part, text in parts.items()]
    return build_zip(entries)


def simple_book(sheet_xmls, states=None, extra_parts=None, workbook_extra="", styles=None, strings=None,
                views='<bookViews><workbookView/></bookViews>'):
    states = states or [""] * len(sheet_xmls)
    parts = {"[Content_Types].xml": CONTENT_TYPES,
             "_rels/.rels": rels([("rId1", doc_rel("officeDocument"), "xl/workbook.xml")])}
    sheet_rels = [(f"rId{i + 1}", doc_rel("worksheet"), f"worksheets/sheet{i + 1}.xml") for i in range(len(sheet_xmls))]
    if styles is not None:
        sheet_rels.append(("rIdS", doc_rel("styles"), "styles.xml"))
        parts["xl/styles.xml"] = styles
    if strings is not None:
        sheet_rels.append(("rIdT", doc_rel("sharedStrings"), "sharedStrings.xml"))
        parts["xl/sharedStrings.xml"] = strings
    parts["xl/workbook.xml"] = workbook([(f"Sheet{i + 1}", s) for i, s in enumerate(states)], workbook_extra, views)
    parts["xl/_rels/workbook.xml.rels"] = rels(sheet_rels)
    for i, xml in enumerate(sheet_xmls):
        parts[f"xl/worksheets/sheet{i + 1}.xml"] = xml
    parts.update(extra_parts or {})
    return package(parts)


def sst(items):
    body = "".join(f"<si>{item}</si>" for item in items)
    return f'<?xml version="1.0" encoding="UTF-8"?><sst xmlns="{MAIN}" count="{len(items)}">{body}</sst>'


def xlsx(name, data):
    write(os.path.join(HERE, name), data)


def make_xlsx_fixtures():
    # Rows and cells without r attributes, a row numbered "3.0", and a jump after it.
    xlsx("implicit_row_and_cell_refs.xlsx", simple_book([worksheet(
        '<row><c><v>1</v></c><c><v>2</v></c></row>'
        '<row><c t="inlineStr"><is><t>a</t></is></c><c r="D2"><v>4</v></c><c><v>5</v></c></row>'
        '<row r="3.0"><c><v>6</v></c></row>'
        '<row r="7"><c r="B7"><v>7</v></c></row>'
        '<row><c><v>8</v></c></row>')]))

    # Strict namespaces with prefixes everywhere (x:, r: under other names, ns0: in rels),
    # and ISO dates in t="d" cells.
    strict_sheet = (f'<?xml version="1.0" encoding="UTF-8"?><x:worksheet xmlns:x="{STRICT_MAIN}">'
                    '<x:sheetData><x:row r="1"><x:c r="A1" t="s"><x:v>0</x:v></x:c>'
                    '<x:c r="B1" t="d"><x:v>2015-06-15</x:v></x:c>'
                    '<x:c r="C1" t="d"><x:v>2015-06-15T09:30:12</x:v></x:c>'
                    '<x:c r="D1" t="d"><x:v>09:30:12</x:v></x:c></x:row></x:sheetData></x:worksheet>')
    strict_parts = {
        "[Content_Types].xml": CONTENT_TYPES,
        "_rels/.rels": rels([("rId1", "http://purl.oclc.org/ooxml/officeDocument/relationships/officeDocument",
                              "xl/workbook.xml")], prefix="ns0"),
        "xl/workbook.xml": (f'<?xml version="1.0"?><x:workbook xmlns:x="{STRICT_MAIN}" xmlns:rel="{STRICT_REL}">'
                            '<x:workbookPr dateCompatibility="1"/><x:sheets>'
                            '<x:sheet name="Strict" sheetId="1" rel:id="rId1"/></x:sheets></x:workbook>'),
        "xl/_rels/workbook.xml.rels": rels([
            ("rId1", "http://purl.oclc.org/ooxml/officeDocument/relationships/worksheet", "worksheets/sheet1.xml"),
            ("rId2", "http://purl.oclc.org/ooxml/officeDocument/relationships/sharedStrings", "sharedStrings.xml")],
            prefix="ns0"),
        "xl/sharedStrings.xml": (f'<?xml version="1.0"?><x:sst xmlns:x="{STRICT_MAIN}">'
                                 '<x:si><x:t>strict text</x:t></x:si></x:sst>'),
        "xl/worksheets/sheet1.xml": strict_sheet,
    }
    xlsx("strict_prefixed_namespaces.xlsx", package(strict_parts))

    # Parts outside xl/: an absolute officeDocument target, a sheet reached through "..",
    # zip names differing in case and written with backslashes.
    odd_parts = {
        "[Content_Types].xml": CONTENT_TYPES,
        "_rels/.rels": rels([("rId1", doc_rel("officeDocument"), "/Book/Main.xml")]),
        "Book/Main.xml": workbook([("Odd", "")]),
        "Book/_rels/Main.xml.rels": rels([("rId1", doc_rel("worksheet"), "../Sheets/First%20Sheet.xml"),
                                          ("rId2", doc_rel("sharedStrings"), "./strings.xml")]),
        "Book/strings.xml": sst(["<t>found through rels</t>"]),
        "Sheets/First Sheet.xml": worksheet('<row r="1"><c r="A1" t="s"><v>0</v></c></row>'),
    }
    xlsx("unusual_part_paths.xlsx", package(odd_parts, names={
        "Book/Main.xml": "book/MAIN.XML", "Sheets/First Sheet.xml": "sheets\\first sheet.xml"}))

    # Shared strings: rich runs, phonetic runs, preserved spaces, _xHHHH_ escapes.
    xlsx("shared_strings_rich_phonetic.xlsx", simple_book([worksheet(
        '<row r="1">' + "".join(f'<c r="{col}1" t="s"><v>{i}</v></c>' for i, col in enumerate("ABCDEF")) + '</row>')],
        strings=sst([
            '<r><rPr><b/></rPr><t>Bold</t></r><r><t xml:space="preserve"> and plain</t></r>',
            '<t>東京</t><rPh sb="0" eb="2"><t>トウキョウ</t></rPh><phoneticPr fontId="0"/>',
            '<t xml:space="preserve">  padded  </t>',
            '<t>line_x000D_break</t>',
            '<t>_x005F_x0041_ literal</t>',
            '<t>smile _xD83D__xDE00_</t>',
        ])))

    # Every cell type, formulas with and without cached values, empty strings.
    xlsx("cell_types_and_formulas.xlsx", simple_book([worksheet(
        '<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="str"><f>"x"&amp;"y"</f><v>xy</v></c>'
        '<c r="C1" t="inlineStr"><is><t>inline</t></is></c><c r="D1" t="b"><v>1</v></c>'
        '<c r="E1" t="e"><f>1/0</f><v>#DIV/0!</v></c><c r="F1"><v>1E-3</v></c><c r="G1"><v>+5</v></c>'
        '<c r="H1"><v>-0</v></c></row>'
        '<row r="2"><c r="A2"><f>SUM(F1:G1)</f><v>5.001</v></c><c r="B2"><f>NOW()</f></c>'
        '<c r="C2"><f t="shared" ref="C2:C3" si="0">A2*2</f><v>10.002</v></c>'
        '<c r="D2" t="s"><v>1</v></c><c r="E2" s="1"/><c r="F2"><v>12abc</v></c><c r="G2" t="b"><v>0</v></c></row>'
        '<row r="3"><c r="C3"><f t="shared" si="0"/><v>0</v></c></row>')],
        strings=sst(["<t>shared</t>", "<t></t>"]),
        styles=(f'<styleSheet xmlns="{MAIN}"><fonts count="1"><font><sz val="11"/><name val="Calibri"/></font></fonts>'
                '<fills count="1"><fill><patternFill patternType="none"/></fill></fills>'
                '<borders count="1"><border/></borders><cellXfs count="2"><xf/><xf numFmtId="10"/></cellXfs>'
                '</styleSheet>')))

    # A 1904 book: dates shift, plain numbers and durations do not.
    styles_1904 = (f'<styleSheet xmlns="{MAIN}"><numFmts count="2"><numFmt numFmtId="164" formatCode="[h]:mm"/>'
                   '<numFmt numFmtId="165" formatCode="yyyy&quot;年&quot;m&quot;月&quot;d&quot;日&quot;"/></numFmts>'
                   '<cellXfs count="4"><xf/><xf numFmtId="14"/><xf numFmtId="164"/><xf numFmtId="165"/></cellXfs>'
                   '</styleSheet>')
    xlsx("date1904.xlsx", simple_book([worksheet(
        '<row r="1"><c r="A1" s="1"><v>0</v></c><c r="B1"><v>100</v></c><c r="C1" s="2"><v>1.5</v></c>'
        '<c r="D1" s="3"><v>40000</v></c><c r="E1" t="d"><v>2015-06-15</v></c></row>')],
        workbook_extra='<workbookPr date1904="true"/>', styles=styles_1904))

    # Styles: custom theme, tints, indexed colours with an overriding palette, fills, borders,
    # alignment, protection, number formats (custom override of a built-in id, CJK id 31).
    theme = (f'<?xml version="1.0"?><a:theme xmlns:a="{DRAWING}" name="T"><a:themeElements>'
             '<a:clrScheme name="Custom">'
             '<a:dk1><a:sysClr val="windowText" lastClr="111111"/></a:dk1>'
             '<a:lt1><a:sysClr val="window" lastClr="FEFEFE"/></a:lt1>'
             '<a:dk2><a:srgbClr val="222222"/></a:dk2><a:lt2><a:srgbClr val="EEEEEE"/></a:lt2>'
             '<a:accent1><a:srgbClr val="4472C4"/></a:accent1><a:accent2><a:srgbClr val="ED7D31"/></a:accent2>'
             '<a:accent3><a:srgbClr val="A5A5A5"/></a:accent3><a:accent4><a:srgbClr val="FFC000"/></a:accent4>'
             '<a:accent5><a:srgbClr val="5B9BD5"/></a:accent5><a:accent6><a:srgbClr val="70AD47"/></a:accent6>'
             '<a:hlink><a:srgbClr val="0563C1"/></a:hlink><a:folHlink><a:srgbClr val="954F72"/></a:folHlink>'
             '</a:clrScheme><a:fontScheme name="F"/></a:themeElements>'
             '<a:extraClrSchemeLst><a:extraClrScheme><a:clrScheme name="Other">'
             '<a:dk1><a:srgbClr val="ABCDEF"/></a:dk1></a:clrScheme></a:extraClrScheme></a:extraClrSchemeLst></a:theme>')
    styles = (f'<?xml version="1.0"?><styleSheet xmlns="{MAIN}">'
              '<numFmts count="2"><numFmt numFmtId="14" formatCode="dd/mm/yyyy"/>'
              '<numFmt numFmtId="170" formatCode="0.000"/></numFmts>'
              '<fonts count="3"><font><sz val="11"/><color theme="1"/><name val="Calibri"/><family val="2"/>'
              '<scheme val="minor"/></font>'
              '<font><b/><i/><strike/><u val="double"/><vertAlign val="superscript"/><sz val="14.5"/>'
              '<color rgb="FF00FF00"/><name val="宋体"/><family val="3"/><charset val="134"/></font>'
              '<font><b val="0"/><u/><sz val="9"/><color theme="4" tint="0.39997558519241921"/><name val="Arial"/></font>'
              '</fonts>'
              '<fills count="5"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill>'
              '<fill><patternFill patternType="solid"><fgColor indexed="10"/><bgColor indexed="64"/></patternFill></fill>'
              '<fill><patternFill patternType="darkGrid"><fgColor theme="0" tint="-0.249977111117893"/>'
              '<bgColor indexed="2"/></patternFill></fill>'
              '<fill><gradientFill degree="90"><stop position="0"><color rgb="FF123456"/></stop>'
              '<stop position="1"><color rgb="FF654321"/></stop></gradientFill></fill></fills>'
              '<borders count="2"><border><left/><right/><top/><bottom/><diagonal/></border>'
              '<border diagonalUp="1"><left style="thin"><color indexed="8"/></left><right style="medium"><color auto="1"/></right>'
              '<top style="dashed"><color theme="5"/></top><bottom style="double"><color rgb="FFFF0000"/></bottom>'
              '<diagonal style="hair"/></border></borders>'
              '<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>'
              '<cellXfs count="6"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>'
              '<xf numFmtId="14" fontId="1" fillId="2" borderId="1" xfId="0" applyNumberFormat="1">'
              '<alignment horizontal="center" vertical="top" wrapText="1" indent="2" textRotation="45" shrinkToFit="1"/>'
              '<protection locked="0" hidden="1"/></xf>'
              '<xf numFmtId="31" fontId="2" fillId="3" borderId="0"/>'
              '<xf numFmtId="170" fontId="0" fillId="4" borderId="0"/>'
              '<xf numFmtId="200" fontId="99" fillId="99" borderId="99"/>'
              '<xf numFmtId="0" fontId="0" fillId="0" borderId="0"><alignment horizontal="general" vertical="bottom"/></xf>'
              '</cellXfs>'
              '<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles>'
              '<dxfs count="1"><dxf><font><b/><color rgb="FFFF00FF"/></font><fill><patternFill><bgColor rgb="FF0000FF"/>'
              '</patternFill></fill></dxf></dxfs>'
              '<colors><indexedColors>' + '<rgbColor rgb="FF000000"/>' * 10 + '<rgbColor rgb="FFABCDEF"/>'
              '</indexedColors></colors></styleSheet>')
    xlsx("styles_theme_indexed.xlsx", simple_book([worksheet(
        '<row r="1">' + "".join(f'<c r="{col}1" s="{i}"><v>{i}</v></c>' for i, col in enumerate("ABCDEF")) + '</row>')],
        styles=styles, extra_parts={"xl/theme/theme1.xml": theme,
                                    "xl/_rels/workbook.xml.rels": rels([
                                        ("rId1", doc_rel("worksheet"), "worksheets/sheet1.xml"),
                                        ("rId2", doc_rel("styles"), "styles.xml"),
                                        ("rId3", doc_rel("theme"), "theme/theme1.xml")])}))

    # Layout: merges (valid, overlapping, single-cell, malformed), columns, rows, defaults,
    # a frozen pane, an autofilter; a second sheet with a split (not frozen) pane.
    layout = worksheet(
        '<row r="1" ht="30" customHeight="1"><c r="A1"><v>1</v></c></row>'
        '<row r="2" hidden="1" s="1" customFormat="1"/>'
        '<row r="3" ht="15"/>'
        '<row r="4" s="1"><c r="A4" s="1"/></row>',
        before=('<dimension ref="A1:XFD1048576"/>'
                '<sheetViews><sheetView workbookViewId="0"><pane xSplit="2" ySplit="1" topLeftCell="C2" '
                'activePane="bottomRight" state="frozen"/></sheetView></sheetViews>'
                '<sheetFormatPr defaultRowHeight="18" defaultColWidth="12.5"/>'
                '<cols><col min="1" max="2" width="20.7109375" customWidth="1"/>'
                '<col min="2" max="3" width="5"/><col min="4" max="16384" hidden="1" style="1"/></cols>'),
        after=('<autoFilter ref="A1:C4"/><mergeCells count="5"><mergeCell ref="B2:C3"/><mergeCell ref="C3:D4"/>'
               '<mergeCell ref="E5"/><mergeCell ref="nonsense"/><mergeCell ref="A10:XFD1048576"/></mergeCells>'
               '<customSheetViews><customSheetView guid="{0}"><pane xSplit="9" ySplit="9" state="frozen"/>'
               '</customSheetView></customSheetViews>'))
    split = worksheet('<row r="1"><c r="A1"><v>1</v></c></row>',
                      before='<sheetViews><sheetView workbookViewId="0"><pane xSplit="2000" ySplit="3000" '
                             'topLeftCell="C4"/></sheetView></sheetViews>')
    xlsx("sheet_layout.xlsx", simple_book([layout, split], styles=(
        f'<styleSheet xmlns="{MAIN}"><cellXfs count="2"><xf/><xf numFmtId="2"/></cellXfs></styleSheet>')))

    # Sheet kinds and states; the active tab is the chart sheet.
    kinds_parts = {
        "[Content_Types].xml": CONTENT_TYPES,
        "_rels/.rels": rels([("rId1", doc_rel("officeDocument"), "xl/workbook.xml")]),
        "xl/workbook.xml": (f'<?xml version="1.0"?><workbook xmlns="{MAIN}" xmlns:r="{REL}"><bookViews>'
                            '<workbookView activeTab="1"/><workbookView activeTab="3"/></bookViews><sheets>'
                            '<sheet name="Data" sheetId="1" r:id="rId1"/>'
                            '<sheet name="Chart" sheetId="2" r:id="rId2"/>'
                            '<sheet name="Dialog" sheetId="3" state="hidden" r:id="rId3"/>'
                            '<sheet name="Macro" sheetId="4" state="veryHidden" r:id="rId4"/>'
                            '<sheet name="Hidden data" sheetId="5" state="hidden" r:id="rId5"/>'
                            '</sheets></workbook>'),
        "xl/_rels/workbook.xml.rels": rels([
            ("rId1", doc_rel("worksheet"), "worksheets/sheet1.xml"),
            ("rId2", doc_rel("chartsheet"), "chartsheets/sheet1.xml"),
            ("rId3", doc_rel("dialogsheet"), "dialogsheets/sheet1.xml"),
            ("rId4", "http://schemas.microsoft.com/office/2006/relationships/xlMacrosheet", "macrosheets/sheet1.xml"),
            ("rId5", doc_rel("worksheet"), "worksheets/sheet2.xml")]),
        "xl/worksheets/sheet1.xml": worksheet('<row r="1"><c r="A1"><v>1</v></c></row>'),
        "xl/worksheets/sheet2.xml": worksheet('<row r="2"><c r="B2"><v>2</v></c></row>'),
        "xl/chartsheets/sheet1.xml": f'<chartsheet xmlns="{MAIN}"/>',
        "xl/dialogsheets/sheet1.xml": worksheet('<row r="1"><c r="A1"><v>9</v></c></row>'),
        "xl/macrosheets/sheet1.xml": worksheet('<row r="1"><c r="A1"><v>9</v></c></row>'),
    }
    xlsx("sheet_kinds_and_states.xlsx", package(kinds_parts))

    # Hostile and malformed content.
    xlsx("doctype_in_sheet.xlsx", simple_book([
        '<?xml version="1.0"?><!DOCTYPE worksheet [<!ENTITY a "aaaaaaaaaa">]>'
        f'<worksheet xmlns="{MAIN}"><sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>&a;</t></is></c></row>'
        '</sheetData></worksheet>']))
    xlsx("cell_outside_grid.xlsx", simple_book([worksheet('<row r="1"><c r="XFE1"><v>1</v></c></row>')]))
    xlsx("row_outside_grid.xlsx", simple_book([worksheet('<row r="1048577"><c><v>1</v></c></row>')]))
    xlsx("shared_string_index_out_of_range.xlsx", simple_book([worksheet(
        '<row r="1"><c r="A1" t="s"><v>5</v></c></row>')], strings=sst(["<t>only</t>"])))
    xlsx("deep_nesting.xlsx", simple_book([worksheet(
        '<row r="1"><c r="A1"><v>1</v></c></row>', after="<extLst>" + "<x>" * 100 + "</x>" * 100 + "</extLst>")]))
    xlsx("malformed_sheet_xml.xlsx", simple_book([worksheet('<row r="1"><c r="A1"><v>1</v></row>')]))
    xlsx("no_workbook_part.xlsx", package({"[Content_Types].xml": CONTENT_TYPES,
                                           "docProps/app.xml": "<Properties/>"}))
    xlsx("workbook_part_missing.xlsx", package({
        "[Content_Types].xml": CONTENT_TYPES,
        "_rels/.rels": rels([("rId1", doc_rel("officeDocument"), "xl/workbook.xml")])}))

    # Rows and cells out of order, a cell written twice.
    xlsx("rows_out_of_order.xlsx", simple_book([worksheet(
        '<row r="5"><c r="C5"><v>53</v></c><c r="A5"><v>51</v></c></row>'
        '<row r="2"><c r="B2"><v>22</v></c></row>'
        '<row r="5"><c r="B5"><v>52</v></c><c r="C5"><v>99</v></c></row>')]))

    # No styles part, no shared strings, no theme, a lying dimension.
    xlsx("minimal_package.xlsx", simple_book([worksheet(
        '<row r="3"><c r="C3" s="7"><v>3.25</v></c></row>', before='<dimension ref="A1:Z999"/>')]))

    # Rich text: runs with Excel's full properties, properties that name only some of the font
    # (shown in A2, whose cell font is Arial 14 italic, and in B2), one run only, escapes and
    # phonetic runs among runs, indexed and theme colours, an inline rich string; a date
    # formatted yyyy-mm-dd for labels.
    rich_styles = (f'<styleSheet xmlns="{MAIN}"><numFmts count="1"><numFmt numFmtId="164" '
                   'formatCode="yyyy-mm-dd"/></numFmts><fonts count="2"><font><sz val="11"/>'
                   '<color theme="1"/><name val="Calibri"/><family val="2"/><scheme val="minor"/></font>'
                   '<font><i/><sz val="14"/><name val="Arial"/></font></fonts>'
                   '<fills count="2"><fill><patternFill patternType="none"/></fill>'
                   '<fill><patternFill patternType="gray125"/></fill></fills>'
                   '<borders count="1"><border/></borders><cellXfs count="3"><xf/><xf fontId="1" applyFont="1"/>'
                   '<xf numFmtId="164" applyNumberFormat="1"/></cellXfs></styleSheet>')
    rich_strings = sst([
        '<r><t xml:space="preserve">plain </t></r><r><rPr><b/><sz val="11"/><color rgb="FFFF0000"/>'
        '<rFont val="Calibri"/><family val="2"/><scheme val="minor"/></rPr><t>bold red</t></r>'
        '<r><t xml:space="preserve"> tail</t></r>',
        '<r><t>abc</t></r><r><rPr><u/></rPr><t>def</t></r>',
        '<r><rPr><b/></rPr><t>only bold</t></r>',
        '<r><t>a_x000D_b</t></r><r><rPr><strike/><vertAlign val="superscript"/></rPr><t>2</t></r>'
        '<rPh sb="0" eb="1"><t>ア</t></rPh><phoneticPr fontId="0"/>',
        '<r><rPr><rFont val="宋体"/><sz val="12"/><color indexed="10"/></rPr><t>中文</t></r>'
        '<r><rPr><color theme="1"/><sz val="11"/><rFont val="Calibri"/></rPr><t>text</t></r>',
    ])
    xlsx("rich_text_runs.xlsx", simple_book([worksheet(
        '<row r="1"><c r="A1" t="s"><v>0</v></c></row>'
        '<row r="2"><c r="A2" s="1" t="s"><v>1</v></c><c r="B2" t="s"><v>1</v></c></row>'
        '<row r="3"><c r="A3" t="s"><v>2</v></c></row>'
        '<row r="4"><c r="A4" t="s"><v>3</v></c></row>'
        '<row r="5"><c r="A5" t="s"><v>4</v></c></row>'
        '<row r="6"><c r="A6" t="inlineStr"><is><r><rPr><b/></rPr><t>in</t></r><r><t>line</t></r></is></c></row>'
        '<row r="7"><c r="A7" s="2"><v>45660</v></c><c r="B7" t="inlineStr"><is><t>label</t></is></c></row>')],
        styles=rich_styles, strings=rich_strings))

    # The same runs with a prefix on every SpreadsheetML element, as the OpenXML SDK writes.
    prefixed_sst = (f'<?xml version="1.0" encoding="UTF-8"?><x:sst xmlns:x="{MAIN}">'
                    '<x:si><x:r><x:t>one </x:t></x:r><x:r><x:rPr><x:b/><x:color rgb="FF0000FF"/></x:rPr>'
                    '<x:t>two</x:t></x:r></x:si></x:sst>')
    prefixed_sheet = (f'<?xml version="1.0" encoding="UTF-8"?><x:worksheet xmlns:x="{MAIN}"><x:sheetData>'
                      '<x:row r="1"><x:c r="A1" t="s"><x:v>0</x:v></x:c><x:c r="B1" t="inlineStr"><x:is>'
                      '<x:r><x:rPr><x:i/></x:rPr><x:t>three</x:t></x:r><x:r><x:t> four</x:t></x:r></x:is></x:c>'
                      '</x:row></x:sheetData></x:worksheet>')
    xlsx("rich_text_prefixed.xlsx", simple_book([prefixed_sheet], strings=prefixed_sst))

    # Columns of the sheet's default width: a base width of 10 digits and no default width,
    # column B hidden at width 12 and column D hidden at the default; a second sheet states its
    # default width, which wins over its base width.
    xlsx("default_width_hidden_columns.xlsx", simple_book([
        worksheet('<row r="1">' + "".join(f'<c r="{col}1"><v>{i}</v></c>' for i, col in enumerate("ABCDE", 1)) +
                  '</row>',
                  before=('<sheetFormatPr baseColWidth="10" defaultRowHeight="15"/>'
                          '<cols><col min="2" max="2" width="12" hidden="1" customWidth="1"/>'
                          '<col min="4" max="4" hidden="1"/></cols>')),
        worksheet('<row r="1"><c r="A1"><v>1</v></c><c r="B1"><v>2</v></c></row>',
                  before='<sheetFormatPr baseColWidth="8" defaultColWidth="20" defaultRowHeight="15"/>')]))


def make_limit_fixtures():
    import random
    generator = random.Random(7)  # fixed seed: the fixture is reproducible

    # 1,048,577 row entries (more than the grid's rows) by repeating row numbers; the two
    # patterns alternate at random so that the part stays below the compression-ratio limit.
    patterns = ['<row r="1" hidden="1"/>', '<row r="2" ht="20" customHeight="1"/>']
    rows, current = [], 0
    for _ in range(1_048_577):
        if generator.random() < 0.05:
            current = 1 - current
        rows.append(patterns[current])
    xlsx("too_many_row_entries.xlsx", simple_book([worksheet("".join(rows))]))

    # 10,001 sheets, all on one worksheet part.
    body = "".join(f'<sheet name="S{i}" sheetId="{i + 1}" r:id="rId1"/>' for i in range(10_001))
    parts = {"[Content_Types].xml": CONTENT_TYPES,
             "_rels/.rels": rels([("rId1", doc_rel("officeDocument"), "xl/workbook.xml")]),
             "xl/workbook.xml": f'<workbook xmlns="{MAIN}" xmlns:r="{REL}"><sheets>{body}</sheets></workbook>',
             "xl/_rels/workbook.xml.rels": rels([("rId1", doc_rel("worksheet"), "worksheets/sheet1.xml")]),
             "xl/worksheets/sheet1.xml": worksheet("")}
    xlsx("too_many_sheets.xlsx", package(parts))

    # 2^18 + 2 cell formats.
    xfs = "".join(f'<xf numFmtId="{generator.randrange(50)}"/>' for _ in range((1 << 18) + 2))
    xlsx("too_many_cell_formats.xlsx", simple_book([worksheet("")], styles=(
        f'<styleSheet xmlns="{MAIN}"><cellXfs>{xfs}</cellXfs><cellStyles/></styleSheet>')))


def make_zip_fixtures():
    def zipfile(name, data):
        write(os.path.join(ZIP_DIR, name), data)

    text = b"hello, zip " * 50
    zipfile("stored_and_deflated.zip", build_zip([
        {"name": "Folder/", "data": b"", "method": 0},
        {"name": "Folder/Stored.TXT", "data": b"stored bytes", "method": 0},
        {"name": "folder/deflated.txt", "data": text},
        {"name": "empty.txt", "data": b""},
    ], comment=b"a trailing archive comment"))
    zipfile("data_descriptor.zip", build_zip([
        {"name": "a.txt", "data": text, "descriptor": True},
        {"name": "b.txt", "data": b"second", "method": 0, "descriptor": True}]))
    zipfile("zip64_records.zip", build_zip([{"name": "a.txt", "data": text}, {"name": "b.txt", "data": b"bee"}],
                                           zip64=True))
    zipfile("backslash_names.zip", build_zip([{"name": "xl\\Workbook.xml", "data": b"<workbook/>"}]))
    zipfile("bad_crc.zip", build_zip([{"name": "a.txt", "data": text, "crc": 0x12345678}]))
    zipfile("size_mismatch.zip", build_zip([{"name": "a.txt", "data": text, "usize": len(text) - 1}]))
    zipfile("overlapping_entries.zip", build_zip([{"name": "a.txt", "data": text},
                                                  {"name": "b.txt", "data": text, "local_of": "a.txt"}]))
    zipfile("encrypted_entry.zip", build_zip([{"name": "a.txt", "data": text, "flags": 0x01}]))
    zipfile("unsupported_method.zip", build_zip([{"name": "a.txt", "data": text, "method": 12}]))
    zipfile("zeros_2mib.zip", build_zip([{"name": "zeros.bin", "data": bytes(2 << 20)}]))
    # Data that compresses poorly, so that bytes 100-139 lie well inside the deflate stream.
    noisy = bytes((i * 7919 + (i >> 3) * 31) & 0xFF for i in range(4096))
    damaged = bytearray(build_zip([{"name": "a.txt", "data": noisy}]))
    damaged[100:140] = b"\xff" * 40
    zipfile("damaged_deflate.zip", bytes(damaged))
    whole = build_zip([{"name": "a.txt", "data": text}, {"name": "b.txt", "data": text}])
    zipfile("truncated.zip", whole[: len(whole) * 6 // 10])


if __name__ == "__main__":
    make_xlsx_fixtures()
    make_limit_fixtures()
    make_zip_fixtures()
