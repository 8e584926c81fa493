#!/usr/bin/python3
"""Writes the bundled example folder examples/月报: monthly branch reports of the same shape,
as a user would bring them (one header row, then data), plus one CSV export.
Run with Debian's python3 (python3-openpyxl):  /usr/bin/python3 tools/make_examples.py"""
import csv
import datetime
import os
import random

import openpyxl
from openpyxl.styles import Alignment, Border, Font, PatternFill, Side

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples", "月报")
os.makedirs(root, exist_ok=True)
random.seed(20150615)
header = ["日期", "门店", "商品", "数量", "单价", "金额", "备注"]
goods = ["笔记本", "圆珠笔", "文件夹", "订书机", "便签纸", "计算器"]
thin = Side(style="thin", color="FF999999")


def rows_for(branch, month, count):
    for day in range(1, count + 1):
        item = random.choice(goods)
        quantity = random.randint(1, 40)
        price = round(random.uniform(2, 80), 2)
        yield [datetime.date(2026, month, min(day, 28)), branch, item, quantity, price,
               None, "" if day % 5 else "促销"]


def write_book(name, branch, month, count):
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.title = "销售"
    sheet.append(header)
    for cell in sheet[1]:
        cell.font = Font(name="宋体", bold=True, color="FFFFFFFF")
        cell.fill = PatternFill("solid", fgColor="FF2E7D32")
        cell.alignment = Alignment(horizontal="center")
    for index, row in enumerate(rows_for(branch, month, count), start=2):
        row[5] = round(row[3] * row[4], 2)
        sheet.append(row)
        sheet.cell(index, 1).number_format = "yyyy-mm-dd"
        sheet.cell(index, 5).number_format = "#,##0.00"
        sheet.cell(index, 6).number_format = "#,##0.00"
        for column in range(1, 8):
            sheet.cell(index, column).border = Border(left=thin, right=thin, top=thin, bottom=thin)
    sheet.column_dimensions["A"].width = 12
    sheet.column_dimensions["C"].width = 10
    sheet.freeze_panes = "A2"
    notes = book.create_sheet("说明")
    notes["A1"] = f"{branch} {month} 月销售报表"
    book.save(os.path.join(root, name))


write_book("北京店.xlsx", "北京店", 1, 12)
write_book("上海店.xlsx", "上海店", 1, 9)
write_book("广州店.xlsx", "广州店", 1, 15)
with open(os.path.join(root, "深圳店.csv"), "w", encoding="utf-8-sig", newline="") as out:
    writer = csv.writer(out)
    writer.writerow(header)
    for row in rows_for("深圳店", 1, 6):
        row[0] = row[0].isoformat()
        row[5] = round(row[3] * row[4], 2)
        writer.writerow(row)
