#!/usr/bin/python3
"""Makes the Excel 2.x, 3.0 and 4.0 fixtures of tests/data/xls, record by record.

No program we can run writes these versions any more, so each file is written here from the
record layouts of the published BIFF descriptions:
  biff2_worksheet.xls          Excel 2.1: XF records, IXFE, FONTCOLOR, COLWIDTH, COLUMNDEFAULT
  biff2_attribute_formats.xls  Excel 2.0: no XF records, cells formatted by attribute blocks
  biff3_worksheet.xls          Excel 3.0: code page 936, PALETTE, XF 0x0243, formula string
  biff4_workbook.xls           Excel 4.0 workbook: code page 1251, two worksheets with their own
                               format tables
Each reads in xlrd 1.2 (python3-xlrd) and LibreOffice 7.4 headless to the cells the tests expect.
Run: python3 tests/data/xls/make_old_biff.py
"""
import struct
from pathlib import Path

HERE = Path(__file__).resolve().parent


def record(record_id, data=b""):
    return struct.pack("<HH", record_id, len(data)) + data


def byte_string(text, encoding, length_bytes=1):
    raw = text.encode(encoding)
    return (bytes([len(raw)]) if length_bytes == 1 else struct.pack("<H", len(raw))) + raw


def dimensions(first_row, last_row, first_col, last_col, record_id=0x0200):
    return record(record_id, struct.pack("<HHHH", first_row, last_row + 1, first_col, last_col + 1))


# ---------------------------------------------------------------------------------------------
# Excel 2.x

def attributes(xf=0, locked=True, font=0, fmt=0, flags=0):
    """The 3-byte cell attribute block of BIFF2 cell records."""
    return bytes([(xf & 0x3F) | (0x40 if locked else 0), (fmt & 0x3F) | (font << 6), flags])


def cell2(record_id, row, col, attr, payload):
    return record(record_id, struct.pack("<HH", row, col) + attr + payload)


def biff2_common(encoding_record):
    out = record(0x0009, struct.pack("<HH", 0x0200, 0x0010))
    out += encoding_record
    return out


def make_biff2_worksheet(path):
    cp = "cp1252"
    out = biff2_common(record(0x0042, struct.pack("<H", 0x8001)))  # ANSI (Windows-1252)
    out += record(0x001F, struct.pack("<H", 3))  # BUILTINFMTCOUNT
    for code in ("General", "0.00", 'd-mmm-yy', '#,##0 "kr"'):
        out += record(0x001E, byte_string(code, cp))
    out += record(0x0031, struct.pack("<HH", 200, 0) + byte_string("Helv", cp))
    out += record(0x0031, struct.pack("<HH", 240, 0x0003) + byte_string("Tms Rmn", cp))  # bold italic
    out += record(0x0045, struct.pack("<H", 2))  # FONTCOLOR of font 1: red
    out += record(0x0031, struct.pack("<HH", 160, 0x000C) + byte_string("Courier", cp))  # underline strike
    # XF: font, unused, format | locked 0x40 | hidden 0x80, alignment and borders and shading.
    xfs = [
        (0, 0x40 | 0, 0x00),        # 0 General
        (1, 0x40 | 1, 0x02),        # 1 bold italic red, 0.00, centred
        (0, 0x40 | 2, 0x48),        # 2 d-mmm-yy, left and bottom borders
        (2, 0x80 | 3, 0x83),        # 3 courier, kr format, right aligned, shaded, unlocked
    ]
    for font, fmt, flags in xfs:
        out += record(0x0043, bytes([font, 0, fmt, flags]))
    for _ in range(70 - len(xfs)):  # enough XF records for an IXFE to point past 63
        out += record(0x0043, bytes([0, 0, 0x40, 0]))
    out += record(0x0043, bytes([1, 0, 0x40 | 1, 0x01]))  # XF 70: bold red 0.00, left aligned
    out += record(0x0025, struct.pack("<H", 0x8000 | 255))  # default row height 12.75 pt
    out += record(0x0024, struct.pack("<BBH", 0, 0, 20 * 256))  # A: 20 characters
    out += record(0x0024, struct.pack("<BBH", 2, 3, 12 * 256 + 128))  # C:D 12.5 characters
    out += record(0x0020, struct.pack("<HH", 3, 5) + attributes(xf=2) + attributes(xf=2))  # D:E dates
    out += dimensions(0, 7, 0, 4, record_id=0x0000)
    # Row 2 is 30 points high; row 8 has no cells, only a format (XF 1).
    out += record(0x0008, struct.pack("<HHHHHBH", 1, 0, 5, 600, 0, 0, 0))
    out += record(0x0008, struct.pack("<HHHHHBH", 7, 0, 0, 0x8000 | 255, 0, 1, 0) + attributes(xf=1))
    out += cell2(0x0004, 0, 0, attributes(xf=1), byte_string("Größe", cp))
    out += cell2(0x0004, 0, 1, attributes(xf=0), byte_string("Menge", cp))
    out += cell2(0x0002, 1, 0, attributes(xf=0), struct.pack("<H", 65535))
    out += cell2(0x0003, 1, 1, attributes(xf=1), struct.pack("<d", -1234.5678))
    out += cell2(0x0003, 1, 2, attributes(xf=2), struct.pack("<d", 32874.0))  # 1990-01-01
    out += cell2(0x0003, 1, 3, attributes(xf=3), struct.pack("<d", 1500.0))
    out += record(0x0044, struct.pack("<H", 70))
    out += cell2(0x0003, 2, 0, attributes(xf=63), struct.pack("<d", 0.25))  # XF 70 by IXFE
    out += cell2(0x0005, 2, 1, attributes(xf=0), bytes([1, 0]))  # TRUE
    out += cell2(0x0005, 2, 2, attributes(xf=0), bytes([0x07, 1]))  # #DIV/0!
    out += cell2(0x0001, 2, 3, attributes(xf=3), b"")
    # =1+2 with its cached 3; ="ab"&"c" with its cached text in a STRING record.
    tokens = bytes([0x1E]) + struct.pack("<H", 1) + bytes([0x1E]) + struct.pack("<H", 2) + bytes([0x03])
    out += cell2(0x0006, 3, 0, attributes(xf=0), struct.pack("<dB", 3.0, 0) + bytes([len(tokens)]) + tokens)
    tokens = bytes([0x17, 2]) + b"ab" + bytes([0x17, 1]) + b"c" + bytes([0x08])
    result = bytes([0, 0, 0, 0, 0, 0, 0xFF, 0xFF])
    out += cell2(0x0006, 3, 1, attributes(xf=0), result + bytes([0, len(tokens)]) + tokens)
    out += record(0x0007, byte_string("abc", cp))
    out += record(0x003E, bytes([0, 1, 1, 1, 1]) + struct.pack("<HHB", 0, 0, 1) + bytes(4))
    out += record(0x0041, struct.pack("<HHHHB", 0, 1, 1, 0, 2))  # first row frozen
    out += record(0x000A)
    path.write_bytes(out)


def make_biff2_attribute_formats(path):
    """Excel 2.0 and other early writers: no XF records, each cell carries its format."""
    cp = "cp1252"
    out = biff2_common(b"")  # no CODEPAGE record either: Windows-1252 is assumed
    for code in ("General", "0.00", "0%"):
        out += record(0x001E, byte_string(code, cp))
    out += record(0x0031, struct.pack("<HH", 200, 0) + byte_string("Helv", cp))
    out += record(0x0031, struct.pack("<HH", 200, 0x0001) + byte_string("Helv", cp))  # bold
    out += cell2(0x0004, 0, 0, attributes(font=1, flags=0x02 | 0x40), byte_string("Prix €", cp))
    out += cell2(0x0003, 1, 0, attributes(fmt=1, flags=0x08 | 0x10 | 0x20 | 0x40), struct.pack("<d", 2.5))
    out += cell2(0x0003, 2, 0, attributes(fmt=2, locked=False, flags=0x80), struct.pack("<d", 0.125))
    out += cell2(0x0003, 3, 0, attributes(fmt=1, flags=0x08 | 0x10 | 0x20 | 0x40), struct.pack("<d", 7.0))
    out += record(0x000A)
    path.write_bytes(out)


# ---------------------------------------------------------------------------------------------
# Excel 3.0 and 4.0

def xf34(version, font, fmt, horizontal=0, wrap=False, pattern=0, pattern_color=24, background=25,
         borders=(0, 24, 0, 24, 0, 24, 0, 24), locked=True, style=False):
    """BIFF3 (0x0243) or BIFF4 (0x0443) XF; borders as (top, colour, left, colour, bottom,
    colour, right, colour); colour 24 is the window text colour, 25 the window background."""
    area = (pattern & 0x3F) | ((pattern_color & 0x1F) << 6) | ((background & 0x1F) << 11)
    top, top_c, left, left_c, bottom, bottom_c, right, right_c = borders
    border = (top | top_c << 3 | left << 8 | left_c << 11 | bottom << 16 | bottom_c << 19 |
              right << 24 | right_c << 27)
    used = 0 if style else 0xFC
    if version == 3:
        prot = (1 if locked else 0) | (4 if style else 0) | (used << 8)
        align = horizontal | (8 if wrap else 0)
        return record(0x0243, struct.pack("<BBHHHI", font, fmt, prot, align, area, border))
    prot = (1 if locked else 0) | (4 if style else 0)
    align = horizontal | (8 if wrap else 0) | (2 << 4)  # bottom aligned
    return record(0x0443, struct.pack("<BBHBBHI", font, fmt, prot, align, used, area, border))


def cell34(record_id, row, col, xf, payload):
    return record(record_id, struct.pack("<HHH", row, col, xf) + payload)


def rk_integer(value):
    return struct.pack("<I", ((value << 2) | 2) & 0xFFFFFFFF)


def make_biff3_worksheet(path):
    cp = "cp936"
    out = record(0x0209, struct.pack("<HHH", 0x0300, 0x0010, 0))
    out += record(0x0042, struct.pack("<H", 936))
    out += record(0x0056, struct.pack("<H", 2))  # BUILTINFMTCOUNT
    for code in ("General", "0.00", 'yyyy"年"m"月"d"日"'):
        out += record(0x001E, byte_string(code, cp))
    out += record(0x0231, struct.pack("<HHH", 200, 0, 0x7FFF) + byte_string("Arial", cp))
    out += record(0x0231, struct.pack("<HHH", 220, 0x0001, 10) + byte_string("宋体", cp))  # bold, index 10
    out += record(0x0231, struct.pack("<HHH", 200, 0, 24) + byte_string("Arial", cp))  # window text
    # PALETTE: 16 colours for indexes 8-23; index 10 becomes 0x123456.
    colours = [0x000000, 0xFFFFFF, 0x123456, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF,
               0x800000, 0x008000, 0x000080, 0x808000, 0x800080, 0x008080, 0xC0C0C0, 0x808080]
    out += record(0x0092, struct.pack("<H", 16) + b"".join(
        bytes([c >> 16, (c >> 8) & 0xFF, c & 0xFF, 0]) for c in colours))
    out += xf34(3, 0, 0, style=True)                                    # 0 Normal style
    out += xf34(3, 0, 0)                                                # 1 General
    out += xf34(3, 1, 1, horizontal=2, wrap=True)                       # 2 bold 0.00, centred, wrap
    out += xf34(3, 0, 2, borders=(1, 24, 1, 24, 6, 24, 1, 24))          # 3 date, borders, double bottom
    out += xf34(3, 2, 0, pattern=1, pattern_color=13, background=25)    # 4 solid yellow fill
    out += xf34(3, 0, 0, borders=(0, 24, 2, 10, 0, 24, 0, 24))          # 5 medium left in palette 10
    out += record(0x0055, struct.pack("<H", 10))  # DEFCOLWIDTH
    out += record(0x0225, struct.pack("<HH", 0, 255))
    out += record(0x007D, struct.pack("<HHHHHB", 1, 2, 15 * 256, 1, 0, 0))     # B:C width 15
    out += record(0x007D, struct.pack("<HHHHHB", 4, 4, 8 * 256, 1, 1, 0))      # E hidden
    out += dimensions(0, 4, 0, 4)
    out += record(0x0208, struct.pack("<HHHHHHHH", 0, 0, 3, 400, 0, 0, 0x0040, 0))  # row 1: 20 pt
    out += cell34(0x0204, 0, 0, 2, byte_string("合计", cp, 2))
    out += cell34(0x0204, 0, 1, 4, byte_string("北京 Beijing", cp, 2))
    out += cell34(0x0203, 1, 0, 2, struct.pack("<d", 3.14159))
    out += cell34(0x027E, 1, 1, 1, rk_integer(-42))
    out += cell34(0x0203, 1, 2, 3, struct.pack("<d", 42170.0))  # 2015-06-15
    out += cell34(0x0205, 2, 0, 1, bytes([0, 0]))  # FALSE
    out += cell34(0x0205, 2, 1, 1, bytes([0x2A, 1]))  # #N/A
    out += cell34(0x0201, 2, 2, 5, b"")
    tokens = bytes([0x17, 2]) + "中".encode(cp)  # ="中" (its cached result is longer)
    result = bytes([0, 0, 0, 0, 0, 0, 0xFF, 0xFF])
    out += cell34(0x0206, 3, 0, 1, result + struct.pack("<HH", 0, len(tokens)) + tokens)
    # xlrd counts the STRING record's length in characters, not bytes: keep the result ASCII.
    out += record(0x0207, byte_string("text result", cp, 2))
    tokens = bytes([0x1E]) + struct.pack("<H", 6) + bytes([0x1E]) + struct.pack("<H", 7) + bytes([0x05])
    out += cell34(0x0206, 3, 1, 2, struct.pack("<dHH", 42.0, 0, len(tokens)) + tokens)
    out += record(0x023E, struct.pack("<HHH", 0x06B6, 0, 0) + bytes(4))
    out += record(0x000A)
    path.write_bytes(out)


def biff4_sheet(cp, cells, fonts, formats, xfs, extra=b""):
    out = record(0x0409, struct.pack("<HHH", 0, 0x0010, 0x10D3))
    out += record(0x0042, struct.pack("<H", 1251))
    for code in formats:
        out += record(0x041E, b"\0\0" + byte_string(code, cp))
    for height, flags, colour, name in fonts:
        out += record(0x0231, struct.pack("<HHH", height, flags, colour) + byte_string(name, cp))
    out += b"".join(xfs)
    out += extra
    out += cells
    out += record(0x023E, struct.pack("<HHH", 0x00B6, 0, 0) + bytes(4))
    out += record(0x000A)
    return out


def make_biff4_workbook(path):
    cp = "cp1251"
    names = ["Продажи", "Итоги"]
    sheet1 = biff4_sheet(
        cp,
        cell34(0x0204, 0, 0, 1, byte_string("Город", cp, 2)) +
        cell34(0x0204, 0, 1, 1, byte_string("Сумма", cp, 2)) +
        cell34(0x0204, 1, 0, 0, byte_string("Москва", cp, 2)) +
        cell34(0x0203, 1, 1, 2, struct.pack("<d", 1234.5)) +
        cell34(0x027E, 2, 1, 2, rk_integer(100)) +
        cell34(0x0406, 3, 1, 2, struct.pack("<dHH", 1334.5, 0, 9) +  # =B2+B3
               bytes([0x44, 1, 0xC0, 1, 0x44, 2, 0xC0, 1, 0x03])),
        fonts=[(200, 0, 0x7FFF, "Arial"), (200, 0x0001, 0x7FFF, "Arial")],
        formats=["General", "#,##0.00"],
        xfs=[xf34(4, 0, 0), xf34(4, 1, 0, borders=(0, 24, 0, 24, 6, 24, 0, 24)), xf34(4, 0, 1)],
        extra=record(0x0099, struct.pack("<H", 9 * 256)) +
        record(0x007D, struct.pack("<HHHHHB", 0, 0, 18 * 256, 0, 0, 0)))
    # The second sheet's XF 1 is a date, its XF 2 italic General: indexes mean other formats here.
    sheet2 = biff4_sheet(
        cp,
        cell34(0x0203, 0, 0, 1, struct.pack("<d", 36526.0)) +  # 2000-01-01
        cell34(0x0204, 0, 1, 2, byte_string("итог", cp, 2)),
        fonts=[(200, 0, 0x7FFF, "Arial"), (200, 0x0002, 0x7FFF, "Arial")],
        formats=["General", "dd.mm.yyyy"],
        xfs=[xf34(4, 0, 0), xf34(4, 0, 1), xf34(4, 1, 0)])
    head = record(0x0409, struct.pack("<HHH", 0, 0x0100, 0x10D3))
    head += record(0x0042, struct.pack("<H", 1251))
    bound = b"".join(record(0x0085, byte_string(name, cp)) for name in names)
    sheets = [sheet1, sheet2]
    offsets_record_size = 8
    first_header = len(head) + offsets_record_size + len(bound)
    out = head + record(0x008E, struct.pack("<I", first_header)) + bound
    assert len(out) == first_header
    for name, sheet in zip(names, sheets):
        out += record(0x008F, struct.pack("<I", len(sheet)) + byte_string(name, cp)) + sheet
    out += record(0x000A)
    path.write_bytes(out)


def main():
    make_biff2_worksheet(HERE / "biff2_worksheet.xls")
    make_biff2_attribute_formats(HERE / "biff2_attribute_formats.xls")
    make_biff3_worksheet(HERE / "biff3_worksheet.xls")
    make_biff4_workbook(HERE / "biff4_workbook.xls")


if __name__ == "__main__":
    main()
