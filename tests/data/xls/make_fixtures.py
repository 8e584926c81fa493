#!/usr/bin/python3
"""Makes the .xls fixtures of tests/data/xls.

grid.xlsx / grid.xls: one small formatted grid, written by openpyxl as a source and saved by
LibreOffice headless as "Calc MS Excel 2007 XML" and "MS Excel 97" (make_fixtures.sh runs the
conversions). The other files are crafted here
record by record, because no program we can run writes them on purpose:
sst_split_across_continue.xls, biff5_gbk.xls, biff5_rstring.xls, ministream_small_book.xls and
the broken files. rich_text_sst.xls is ../xlsx/rich_text_runs.xlsx saved by LibreOffice.
Run through make_fixtures.sh; needs python3-openpyxl and libreoffice-calc-nogui.
"""
import struct
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent


def make_grid_source(path):
    import datetime
    from openpyxl import Workbook
    from openpyxl.styles import Alignment, Border, Font, PatternFill, Side
    book = Workbook()
    sheet = book.active
    sheet.title = "数据"
    sheet["A1"] = "名称"
    sheet["B1"] = "数量"
    sheet["C1"] = "日期"
    sheet["D1"] = "比例"
    sheet["E1"] = "备注"
    for cell in sheet[1]:
        cell.font = Font(name="Arial", size=12, bold=True, color="FFFFFFFF")
        cell.fill = PatternFill("solid", fgColor="FF000080")
        cell.alignment = Alignment(horizontal="center", vertical="center")
        cell.border = Border(bottom=Side(style="double", color="FFFF0000"))
    rows = [
        ("苹果", 12, datetime.date(2015, 6, 15), 0.25, "long text that wraps in its cell"),
        ("Banana", -3.5, datetime.date(1999, 12, 31), 1.5, True),
        ("Cherry", 1234567.891, datetime.datetime(2015, 6, 15, 9, 30, 12), 0, False),
        ("", 0, None, None, None),
    ]
    for offset, values in enumerate(rows, start=2):
        for column, value in enumerate(values, start=1):
            if value is not None and value != "":
                sheet.cell(row=offset, column=column, value=value)
    sheet["B2"].number_format = "#,##0.00"
    sheet["B3"].number_format = "0.00;[Red]-0.00"
    sheet["B4"].number_format = "#,##0.000"
    sheet["C2"].number_format = 'yyyy"年"m"月"d"日"'
    sheet["C3"].number_format = "yyyy-mm-dd"
    sheet["C4"].number_format = "yyyy-mm-dd hh:mm:ss"
    sheet["D2"].number_format = "0.00%"
    sheet["D3"].number_format = "0%"
    sheet["E2"].alignment = Alignment(wrap_text=True, vertical="top")
    sheet["A2"].font = Font(name="SimSun", size=11, italic=True, underline="single", color="FF008000")
    sheet["A3"].border = Border(left=Side(style="thin", color="FF0000FF"), right=Side(style="medium"),
                                top=Side(style="dashed"), bottom=Side(style="thick"))
    sheet["A4"].alignment = Alignment(horizontal="right", indent=0)
    sheet["B5"] = "=B2*2"
    sheet["C5"] = '=A3&"-x"'
    sheet["D5"] = "=1/0"
    sheet["E5"] = "=B2>0"
    sheet["A6"] = "合并单元格"
    sheet.merge_cells("A6:C7")
    sheet["A6"].alignment = Alignment(horizontal="center")
    sheet.column_dimensions["A"].width = 20
    sheet.column_dimensions["E"].width = 30
    sheet.row_dimensions[6].height = 30
    sheet.freeze_panes = "B2"
    sheet.auto_filter.ref = "A1:E4"
    hidden = book.create_sheet("Hidden")
    hidden["A1"] = "secret"
    hidden.sheet_state = "hidden"
    book.save(path)


def record(record_id, data=b""):
    return struct.pack("<HH", record_id, len(data)) + data


def biff8_string(text, length_bytes=2):
    """XLUnicodeString (or ShortXLUnicodeString with length_bytes=1)."""
    try:
        raw = text.encode("latin-1")
        flags = 0
    except UnicodeEncodeError:
        raw = text.encode("utf-16-le")
        flags = 1
    count = len(text)
    return (struct.pack("<H", count) if length_bytes == 2 else bytes([count])) + bytes([flags]) + raw


def compound_file(streams):
    """A version 3 compound file; streams under 4096 bytes go to the mini stream."""
    sector = 512
    end, free, fat_id = 0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFD
    small = {name: data for name, data in streams.items() if len(data) < 4096}
    large = {name: data for name, data in streams.items() if len(data) >= 4096}
    mini_stream = b""
    mini_fat = []
    mini_start = {}
    for name, data in small.items():
        first = len(mini_stream) // 64
        count = max(1, (len(data) + 63) // 64) if data else 0
        mini_start[name] = first if data else end
        for i in range(count):
            mini_fat.append(first + i + 1 if i + 1 < count else end)
        mini_stream += data + b"\0" * (count * 64 - len(data))

    def sectors_for(size):
        return (size + sector - 1) // sector

    names = list(streams)
    dir_sectors = sectors_for(128 * (1 + len(names)))
    mini_fat_sectors = sectors_for(4 * len(mini_fat))
    mini_stream_sectors = sectors_for(len(mini_stream))
    large_sectors = sum(sectors_for(len(d)) for d in large.values())
    fat_sectors = 1
    while True:
        total = fat_sectors + dir_sectors + mini_fat_sectors + mini_stream_sectors + large_sectors
        if fat_sectors * (sector // 4) >= total:
            break
        fat_sectors += 1
    fat = [fat_id] * fat_sectors
    body = []

    def chain(data_or_count):
        count = data_or_count
        start = len(fat)
        for i in range(count):
            fat.append(start + i + 1 if i + 1 < count else end)
        return start if count else end

    dir_start = chain(dir_sectors)
    mini_fat_start = chain(mini_fat_sectors)
    mini_stream_start = chain(mini_stream_sectors)
    large_start = {name: chain(sectors_for(len(data))) for name, data in large.items()}
    fat += [free] * (fat_sectors * (sector // 4) - len(fat))

    def entry(name, kind, start, size, right=free, child=free):
        encoded = name.encode("utf-16-le") + b"\0\0"
        return (encoded.ljust(64, b"\0") + struct.pack("<HBB", len(encoded), kind, 1) +
                struct.pack("<III", free, right, child) + b"\0" * 16 + b"\0" * 4 + b"\0" * 16 +
                struct.pack("<III", start, size, 0))

    entries = [entry("Root Entry", 5, mini_stream_start if mini_stream else end, len(mini_stream),
                     child=1 if names else free)]
    for index, name in enumerate(names):
        data = streams[name]
        start = mini_start[name] if name in small else large_start[name]
        right = index + 2 if index + 1 < len(names) else free
        entries.append(entry(name, 2, start, len(data), right=right))
    directory = b"".join(entries)
    directory += b"\0" * (dir_sectors * sector - len(directory))
    difat = list(range(fat_sectors)) + [free] * (109 - fat_sectors)
    header = (bytes.fromhex("D0CF11E0A1B11AE1") + b"\0" * 16 +
              struct.pack("<HHHHH", 0x3E, 3, 0xFFFE, 9, 6) + b"\0" * 6 +
              struct.pack("<IIIIIIIII", 0, fat_sectors, dir_start, 0, 4096,
                          mini_fat_start if mini_fat else end, mini_fat_sectors, end, 0) +
              struct.pack("<109I", *difat))
    assert len(header) == 512

    def pad(data):
        return data + b"\0" * (sectors_for(len(data)) * sector - len(data))

    out = header + struct.pack("<%dI" % len(fat), *fat)
    out += directory + pad(struct.pack("<%dI" % len(mini_fat), *mini_fat)) + pad(mini_stream)
    for name, data in large.items():
        out += pad(data)
    return out


def biff8_book(sst_records, cells, sheet_name="Sheet1"):
    """Globals with one FONT and one XF, the SST records given, one sheet of LABELSST cells."""
    bof = lambda kind: record(0x0809, struct.pack("<HHHHII", 0x0600, kind, 0x0DBB, 0x07CC, 0, 0x0206))
    font = record(0x0031, struct.pack("<HHHHHBBBB", 200, 0, 0x7FFF, 400, 0, 0, 0, 0, 0) + biff8_string("Arial", 1))
    xf = record(0x00E0, struct.pack("<HHHBBBBIIH", 0, 0, 0x0001, 0x20, 0, 0, 0, 0, 0, 0x20C0))
    window1 = record(0x003D, struct.pack("<HHHHHHHHH", 0, 0, 0x4000, 0x2000, 0x38, 0, 0, 1, 600))

    def globals_with(offset):
        sheet = record(0x0085, struct.pack("<IBB", offset, 0, 0) + biff8_string(sheet_name, 1))
        return (bof(5) + record(0x0042, struct.pack("<H", 1200)) + window1 + font * 5 + xf * 16 + sheet +
                b"".join(sst_records) + record(0x000A))

    offset = len(globals_with(0))
    sheet_stream = bof(0x10) + record(0x0200, struct.pack("<IIHHH", 0, len(cells), 0, 1, 0))
    for row, index in enumerate(cells):
        sheet_stream += record(0x00FD, struct.pack("<HHHI", row, 0, 15, index))
    sheet_stream += record(0x023E, struct.pack("<HHHHH", 0x06B6, 0, 0, 64, 0)) + record(0x000A)
    return globals_with(offset) + sheet_stream


def make_sst_split(path):
    # Expected texts (tests/spreadsheet/xls_reader_test.cpp spells them out again):
    #  0 "Alpha"; 1 "ABCDE中文FG" (compressed, then UTF-16 after the CONTINUE's flags byte);
    #  2 "Rich" with two formatting runs whose bytes straddle the next CONTINUE;
    #  3 "Ext" with 10 bytes of phonetic data straddling; 4 "Start" beginning a CONTINUE
    #  (no flags byte); 5 "日本語text" (UTF-16, then compressed after the flags byte).
    unique = 6
    head = struct.pack("<II", unique, unique)
    sst = head + struct.pack("<HB", 5, 0) + b"Alpha" + struct.pack("<HB", 9, 0) + b"ABCDE"
    cont1 = bytes([1]) + "中文FG".encode("utf-16-le")
    cont1 += struct.pack("<HBH", 4, 0x08, 2) + b"Rich" + struct.pack("<HH", 0, 1)  # first run, half of runs
    cont2 = struct.pack("<HH", 2, 0)  # second run
    cont2 += struct.pack("<HBI", 3, 0x04, 10) + b"Ext" + b"\x01" * 4
    cont3 = b"\x02" * 6
    cont4 = struct.pack("<HB", 5, 0) + b"Start" + struct.pack("<HB", 7, 1) + "日本語t".encode("utf-16-le")
    cont5 = bytes([0]) + b"ext"
    records = [record(0x00FC, sst)] + [record(0x003C, c) for c in (cont1, cont2, cont3, cont4, cont5)]
    path.write_bytes(compound_file({"Workbook": biff8_book(records, list(range(unique)))}))


def make_biff5_gbk(path):
    """BIFF5 book, code page 936; sheet name and LABEL texts are GBK bytes."""
    bof = lambda kind: record(0x0809, struct.pack("<HHHH", 0x0500, kind, 0x096C, 0x07C9))
    gbk = lambda text: text.encode("cp936")
    font = record(0x0031, struct.pack("<HHHHHBBBB", 220, 0, 0x7FFF, 700, 0, 0, 0, 134, 0) +
                  bytes([len(gbk("宋体"))]) + gbk("宋体"))
    # BIFF5 XF: font 0, format 14 (a date), cell XF; fill solid, pattern colour 10 (red).
    xf_plain = record(0x00E0, struct.pack("<HHHBBII", 0, 0, 0x0001, 0x20, 0, 0x000020C0, 0))
    xf_date = record(0x00E0, struct.pack("<HHHBBII", 0, 14, 0x0001, 0x20, 0, 10 | (65 << 7) | (1 << 16), 0))
    fmt = record(0x041E, struct.pack("<H", 164) + bytes([len(gbk('yyyy"年"m"月"d"日"'))]) + gbk('yyyy"年"m"月"d"日"'))
    window1 = record(0x003D, struct.pack("<HHHHHHHHH", 0, 0, 0x4000, 0x2000, 0x38, 0, 0, 1, 600))
    name = gbk("工资表")

    def globals_with(offset):
        sheet = record(0x0085, struct.pack("<IBB", offset, 0, 0) + bytes([len(name)]) + name)
        return (bof(5) + record(0x0042, struct.pack("<H", 936)) + window1 + font * 5 + fmt +
                xf_plain * 16 + xf_date + sheet + record(0x000A))

    offset = len(globals_with(0))
    label = lambda row, col, raw: record(0x0204, struct.pack("<HHHH", row, col, 15, len(raw)) + raw)
    sheet = bof(0x10)
    sheet += label(0, 0, gbk("姓名")) + label(0, 1, gbk("城市"))
    sheet += label(1, 0, gbk("张三")) + label(1, 1, gbk("北京市"))
    sheet += label(2, 0, b"\x80 100")  # 0x80 is the euro sign in code page 936
    sheet += record(0x0203, struct.pack("<HHHd", 2, 1, 15, 3.25))
    sheet += record(0x027E, struct.pack("<HHHI", 3, 0, 15, (42 << 2) | 2))
    sheet += record(0x0203, struct.pack("<HHHd", 3, 1, 16, 42170.0))  # 2015-06-15, date XF
    sheet += record(0x023E, struct.pack("<HHH", 0x06B6, 0, 0)) + record(0x000A)
    path.write_bytes(compound_file({"Book": globals_with(offset) + sheet}))


def make_biff5_rstring(path):
    """BIFF5 book, code page 936, with RSTRING cells: formatting runs of a byte per character and
    a byte per font. Fonts 0-3 and 5 (index 4 is never written) are 宋体 10; 6 is Arial bold red
    (colour index 10), 7 Arial italic."""
    bof = lambda kind: record(0x0809, struct.pack("<HHHH", 0x0500, kind, 0x096C, 0x07C9))
    gbk = lambda text: text.encode("cp936")

    def font(height, flags, colour, weight, name):
        raw = gbk(name)
        return record(0x0031, struct.pack("<HHHHHBBBB", height, flags, colour, weight, 0, 0, 0, 134, 0) +
                      bytes([len(raw)]) + raw)

    fonts = font(200, 0, 0x7FFF, 400, "宋体") * 5 + font(200, 0, 10, 700, "Arial") + font(200, 0x02, 0x7FFF, 400, "Arial")
    xf_plain = record(0x00E0, struct.pack("<HHHBBII", 0, 0, 0x0001, 0x20, 0, 0x000020C0, 0))
    window1 = record(0x003D, struct.pack("<HHHHHHHHH", 0, 0, 0x4000, 0x2000, 0x38, 0, 0, 1, 600))
    name = gbk("格式")

    def globals_with(offset):
        sheet = record(0x0085, struct.pack("<IBB", offset, 0, 0) + bytes([len(name)]) + name)
        return (bof(5) + record(0x0042, struct.pack("<H", 936)) + window1 + fonts + xf_plain * 16 + sheet +
                record(0x000A))

    def rstring(row, col, raw, runs):
        return record(0x00D6, struct.pack("<HHHH", row, col, 15, len(raw)) + raw + bytes([len(runs)]) +
                      b"".join(bytes([at, index]) for at, index in runs))

    offset = len(globals_with(0))
    sheet = bof(0x10)
    # "plain " in the cell's font, "bold" in font 6, " tail" in font 0.
    sheet += rstring(0, 0, b"plain bold tail", [(6, 6), (10, 0)])
    # GBK: 普通 in the cell's font, 斜体 in font 7; runs count characters, not bytes.
    sheet += rstring(1, 0, gbk("普通斜体"), [(2, 7)])
    # 中 in the cell's font, 文 in font 6; a run at the end of the text formats nothing.
    sheet += rstring(2, 0, gbk("中文"), [(1, 6), (2, 7)])
    sheet += record(0x023E, struct.pack("<HHH", 0x06B6, 0, 0)) + record(0x000A)
    path.write_bytes(compound_file({"Book": globals_with(offset) + sheet}))


def make_html_table(path):
    """A business-system "export to Excel": an HTML table in GB2312 saved with an .xls name."""
    html = """<html xmlns:x="urn:schemas-microsoft-com:office:excel">
<head><meta http-equiv="Content-Type" content="text/html; charset=gb2312">
<style>td { mso-number-format: General; }</style>
<script>var rows = "<table><tr><td>not data</td></tr></table>";</script></head>
<body><h1>销售报表</h1>
<table border="1">
<tr><th colspan="2">客户</th><th rowspan="2">金额</th><th>备注</th></tr>
<tr><td>编号</td><td>名称</td><td>&nbsp;</td></tr>
<tr><td style="mso-number-format:'\\@'">00123</td><td>北京&amp;上海<br>分公司</td><td>1234.5</td><td>-7</td></tr>
<!-- <tr><td>commented out</td></tr> -->
<tr><td>0456</td><td>  多个   空格  </td><td>12345678901234567</td><td>&#x4E2D;&#25991;</td></tr>
</table>
</body></html>
"""
    path.write_bytes(html.encode("gb2312"))


def main():
    step = sys.argv[1]
    if step == "source":
        make_grid_source(Path(sys.argv[2]))
    elif step == "crafted":
        make_sst_split(HERE / "sst_split_across_continue.xls")
        make_biff5_gbk(HERE / "biff5_gbk.xls")
        make_biff5_rstring(HERE / "biff5_rstring.xls")
        make_html_table(HERE / "html_table_gb2312.xls")


if __name__ == "__main__":
    main()
