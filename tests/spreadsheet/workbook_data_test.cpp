#include "spreadsheet/workbook_data.h"

#include <gtest/gtest.h>

namespace spreadsheet {
namespace {

Sheet sparseSheet() {
    Sheet sheet;
    for (int number : {2, 7, 1'048'576}) {
        Row row;
        row.number = number;
        for (int column : {1, 5, 16'384}) {
            Cell cell;
            cell.column = column;
            cell.type = CellType::Number;
            cell.number = number * 100'000.0 + column;
            row.cells.push_back(cell);
        }
        sheet.rows.push_back(row);
    }
    return sheet;
}

TEST(Sheet, FindsCellsOfSparseRowsOnly) {
    const Sheet sheet = sparseSheet();
    ASSERT_NE(sheet.cell(7, 5), nullptr);
    EXPECT_EQ(sheet.cell(7, 5)->number, 700'005.0);
    ASSERT_NE(sheet.cell(1'048'576, 16'384), nullptr);
    EXPECT_EQ(sheet.cell(1'048'576, 16'384)->number, 104'857'616'384.0);
    EXPECT_EQ(sheet.cell(1, 1), nullptr);
    EXPECT_EQ(sheet.cell(7, 4), nullptr);
    EXPECT_EQ(sheet.cell(8, 5), nullptr);
    EXPECT_EQ(sheet.row(3), nullptr);
}

}  // namespace
}  // namespace spreadsheet
