#include "spreadsheet/sheet_extent.h"

#include <gtest/gtest.h>

namespace spreadsheet {
namespace {

Cell makeCell(int column, CellType type, const char* text = "") {
    Cell cell;
    cell.column = column;
    cell.type = type;
    cell.text = text;
    if (type == CellType::Number) cell.number = 1;
    return cell;
}

void addRow(Sheet& sheet, int number, std::vector<Cell> cells) {
    Row row;
    row.number = number;
    row.cells = std::move(cells);
    sheet.rows.push_back(std::move(row));
}

TEST(SheetExtent, EmptySheetHasNoExtent) {
    Sheet sheet;
    EXPECT_EQ(lastUsedRow(sheet), 0);
    EXPECT_EQ(lastUsedColumn(sheet), 0);
}

TEST(SheetExtent, FormattedEmptyCellsAndEmptyTextDoNotCount) {
    Sheet sheet;
    addRow(sheet, 2, {makeCell(3, CellType::Number), makeCell(9, CellType::Empty)});
    addRow(sheet, 5, {makeCell(1, CellType::Text, "x"), makeCell(4, CellType::Text, "")});
    addRow(sheet, 50'000, {makeCell(20, CellType::Empty)});
    EXPECT_EQ(lastUsedRow(sheet), 5);
    EXPECT_EQ(lastUsedColumn(sheet), 3);
}

TEST(SheetExtent, LastRowAndLastColumnMayComeFromDifferentCells) {
    Sheet sheet;
    addRow(sheet, 1, {makeCell(1, CellType::Text, "a"), makeCell(7, CellType::Boolean)});
    addRow(sheet, 9, {makeCell(2, CellType::Error, "#N/A")});
    EXPECT_EQ(lastUsedRow(sheet), 9);
    EXPECT_EQ(lastUsedColumn(sheet), 7);
}

TEST(SheetExtent, OnlyA1GivesOneAndOne) {
    Sheet sheet;
    addRow(sheet, 1, {makeCell(1, CellType::Number)});
    EXPECT_EQ(lastUsedRow(sheet), 1);
    EXPECT_EQ(lastUsedColumn(sheet), 1);
}

TEST(SheetExtent, CountsFormulaWithoutCachedValueAsContent) {
    Sheet sheet;
    addRow(sheet, 1, {makeCell(1, CellType::Number)});
    Cell formula = makeCell(6, CellType::Empty);
    formula.hasFormula = true;
    addRow(sheet, 3, {formula});
    EXPECT_EQ(lastUsedRow(sheet), 3);
    EXPECT_EQ(lastUsedColumn(sheet), 6);
}

TEST(SheetExtent, ReachesTheLastCellOfTheGrid) {
    Sheet sheet;
    addRow(sheet, XlsxMaxRows, {makeCell(XlsxMaxColumns, CellType::Text, "end")});
    EXPECT_EQ(lastUsedRow(sheet), XlsxMaxRows);
    EXPECT_EQ(lastUsedColumn(sheet), XlsxMaxColumns);
}

}  // namespace
}  // namespace spreadsheet
