#!/usr/bin/env python3
"""Writes the hostile fixtures of this folder: small files that claim or expand into far more
than any real workbook holds. Run from anywhere: python3 make_hostile.py"""
import os
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG = "http://schemas.openxmlformats.org/package/2006/relationships"


def package(name, sheet_xml, shared_strings=None):
    """A minimal .xlsx with one worksheet and optionally a shared string table."""
    types = ('<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
             '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
             '<Default Extension="xml" ContentType="application/xml"/>'
             '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
             '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
             '</Types>')
    root_rels = (f'<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="{PKG}">'
                 f'<Relationship Id="rId1" Type="{REL}/officeDocument" Target="xl/workbook.xml"/></Relationships>')
    workbook = (f'<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="{MAIN}" xmlns:r="{REL}">'
                '<sheets><sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets></workbook>')
    rels = [f'<Relationship Id="rId1" Type="{REL}/worksheet" Target="worksheets/sheet1.xml"/>']
    if shared_strings is not None:
        rels.append(f'<Relationship Id="rId2" Type="{REL}/sharedStrings" Target="sharedStrings.xml"/>')
    workbook_rels = f'<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="{PKG}">{"".join(rels)}</Relationships>'
    with zipfile.ZipFile(os.path.join(HERE, name), "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        archive.writestr("[Content_Types].xml", types)
        archive.writestr("_rels/.rels", root_rels)
        archive.writestr("xl/workbook.xml", workbook)
        archive.writestr("xl/_rels/workbook.xml.rels", workbook_rels)
        archive.writestr("xl/worksheets/sheet1.xml", sheet_xml)
        if shared_strings is not None:
            items = "".join(f"<si><t>{text}</t></si>" for text in shared_strings)
            archive.writestr("xl/sharedStrings.xml",
                             f'<?xml version="1.0" encoding="UTF-8"?><sst xmlns="{MAIN}">{items}</sst>')


def sheet(rows_xml, dimension="A1"):
    return (f'<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="{MAIN}"><dimension ref="{dimension}"/>'
            f'<sheetData>{rows_xml}</sheetData></worksheet>')


def main():
    # 120,000 cells that all point at one shared string of 32,767 characters: about 4 GB of
    # cell text once read, from a file of a few tens of kilobytes. The row numbers vary so the
    # sheet compresses below the zip reader's ratio limit.
    long_text = "".join(chr(0x4E00 + (i * 7919) % 20000) for i in range(32767))
    rows = "".join(f'<row r="{r}">' + '<c t="s"><v>0</v></c>' * 1000 + "</row>" for r in range(1, 121))
    package("repeated_long_shared_string.xlsx", sheet(rows), [long_text])

    # A sheet that claims the whole grid and holds one cell: nothing may be sized by the claim.
    package("claims_whole_grid.xlsx",
            sheet('<row r="1" spans="1:16384"><c r="A1"><v>7</v></c></row>', "A1:XFD1048576"))

    # A zip bomb: a sheet part whose tag is followed by 80 MiB of spaces, inflating 1:1000.
    head = f'<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="{MAIN}"><sheetData>'
    package("zip_bomb_sheet.xlsx", head + " " * (80 << 20) + "</sheetData></worksheet>")

    # One shared string of 3 MiB, past the XML text limit of one element; a repeated block of
    # 251 varied letters keeps it under the zip reader's ratio limit.
    block = "".join(chr(ord("a") + (i * 13) % 26) for i in range(251))
    package("huge_shared_string.xlsx", sheet('<row r="1"><c r="A1" t="s"><v>0</v></c></row>'),
            [(block * ((3 << 20) // 251 + 1))[: 3 << 20]])

    # CSV: one quoted field of 40,000 characters (over a cell's 32,767), and one quote that
    # never closes, so the rest of the file would be a single field.
    with open(os.path.join(HERE, "giant_field.csv"), "w", encoding="utf-8") as handle:
        handle.write('a,b\n1,"' + "y" * 40_000 + '"\n')
    with open(os.path.join(HERE, "unclosed_quote.csv"), "w", encoding="utf-8") as handle:
        handle.write('a,b\n1,"' + "z," * 40_000 + "\n")


if __name__ == "__main__":
    main()
