#!/usr/bin/python3
"""Independent check of a merge result with openpyxl: reads the result that the test
EngineMerge.HeaderLabelsFormatsAndBrokenFiles wrote under the folder given as argument and
compares it cell by cell with what a user must find in it."""
import glob
import os
import sys

import openpyxl

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import xlsx_check  # noqa: E402

folder = sys.argv[1] + "/e2e"
paths = glob.glob(folder + "/合并 150615 093012.xlsx")
assert len(paths) == 1, paths
faults = xlsx_check.check_package(paths[0])
assert not faults, "structural faults:\n" + "\n".join(faults)
book = openpyxl.load_workbook(paths[0])
assert book.sheetnames == ["失败列表(8)", "成功合并(3)"], book.sheetnames
assert book.active.title == "成功合并(3)", book.active.title

data = book["成功合并(3)"]
expected = [
    ("特征信息", "标题 a", None),
    (None, None, None),
    (None, "名称", "金额"),
    ("a.xlsx", "a-1", 1.5),
    ("a.xlsx", "a-2", 3),
    ("a.xlsx", "a-3", 4.5),
    ("c.csv", "c-1", 7),
    ("sub/b.xlsx", "b-1", 1.5),
    ("sub/b.xlsx", "b-2", 3),
]
rows = [tuple(row) for row in data.iter_rows(min_row=1, max_row=max(data.max_row, 9), max_col=3, values_only=True)]
assert rows == expected, rows
assert sorted(str(r) for r in data.merged_cells.ranges) == ["A1:A3", "B1:C1"], data.merged_cells.ranges
assert data.freeze_panes == "A4", data.freeze_panes
assert data["B1"].font.b, "title stays bold"
assert data["C4"].number_format == "0.00", data["C4"].number_format
assert data["C4"].fill.fgColor.rgb.upper().endswith("FFFF00"), data["C4"].fill.fgColor.rgb
assert data.column_dimensions["A"].width == 15, data.column_dimensions["A"].width
assert abs(data.column_dimensions["B"].width - 18) < 1, data.column_dimensions["B"].width

failures = book["失败列表(8)"]
head = [tuple(row) for row in failures.iter_rows(min_row=1, max_row=3, max_col=5, values_only=True)]
assert head[0] == ("失败原因", "不存在目标工作表", "目标工作表内容为空", "指定行以下无数据或起止单元格不合逻辑", "其它"), head[0]
assert head[1] == ("文件个数", 0, 0, 1, 7), head[1]
assert head[2][0] == 1 and head[2][3] == "calamine__date.xls-named.xlsx", head[2]
others = [failures.cell(row=r, column=5).value for r in range(3, 10)]
assert others[0] == "calamine__pass_protected.xlsx" and None not in others, others
assert [failures.cell(row=r, column=1).value for r in range(3, 11)] == [1, 2, 3, 4, 5, 6, 7, None]
assert failures.freeze_panes == "A3", failures.freeze_panes
for cell in ("B2", "C2", "D2", "E2"):
    font = failures[cell].font
    assert font.b and font.name == "微软雅黑" and font.sz == 10, (cell, font.name, font.sz)
    assert font.color is not None and font.color.rgb.upper().endswith("FF0000"), (cell, font.color)
    assert failures[cell].alignment.horizontal == "center", cell
assert failures["A3"].font.name == "微软雅黑" and not failures["A3"].font.b

# Each failed file's cell, and no other, carries a note by the program: its column's reason,
# then what was wrong.
notes = {cell.coordinate: cell.comment for row in failures.iter_rows() for cell in row if cell.comment}
listed = {cell.coordinate for row in failures.iter_rows(min_row=3, min_col=2, max_col=5) for cell in row
          if cell.value is not None}
assert set(notes) == listed, (sorted(notes), sorted(listed))
for coordinate, note in notes.items():
    reason = failures.cell(row=1, column=failures[coordinate].column).value
    assert note.author == "sheetmerge", (coordinate, note.author)
    assert note.text.startswith(reason + "：") and len(note.text) > len(reason) + 1, (coordinate, note.text)
assert notes["D3"].text == "指定行以下无数据或起止单元格不合逻辑：第 4 行及以下没有数据", notes["D3"].text
assert "文件受密码保护" in notes["E3"].text, notes["E3"].text
print("result checked")
