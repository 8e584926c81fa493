#include "merge/failure_table.h"

#include <gtest/gtest.h>

namespace merge {
namespace {

TEST(FailureTable, SharesRowsBetweenReasons) {
    FailureTable table(6);
    table.record(FailureReason::SheetEmpty, "a.xlsx");
    table.record(FailureReason::Other, "e.xls");
    table.record(FailureReason::SheetEmpty, "sub/b.csv");
    table.record(FailureReason::SheetEmpty, "c.xlsx");

    const ValueBlock& grid = table.grid();
    ASSERT_EQ(grid.size(), 8u);
    EXPECT_EQ(grid[0][0].text, "失败原因");
    EXPECT_EQ(grid[0][1].text, "不存在目标工作表");
    EXPECT_EQ(grid[0][2].text, "目标工作表内容为空");
    EXPECT_EQ(grid[0][3].text, "指定行以下无数据或起止单元格不合逻辑");
    EXPECT_EQ(grid[0][4].text, "其它");
    EXPECT_EQ(grid[1][0].text, "文件个数");
    const double counts[] = {0, 3, 0, 1};
    for (int column = 1; column <= 4; ++column) {
        SCOPED_TRACE(column);
        EXPECT_EQ(grid[1][column].type, spreadsheet::CellType::Number);
        EXPECT_EQ(grid[1][column].number, counts[column - 1]);
    }
    for (int k = 1; k <= 3; ++k) EXPECT_EQ(grid[static_cast<std::size_t>(k) + 1][0].number, k);
    EXPECT_EQ(grid[2][2].text, "a.xlsx");
    EXPECT_EQ(grid[3][2].text, "sub/b.csv");
    EXPECT_EQ(grid[4][2].text, "c.xlsx");
    EXPECT_EQ(grid[2][4].text, "e.xls");
    EXPECT_TRUE(grid[3][4].isEmpty());
    EXPECT_TRUE(grid[5][0].isEmpty());
    EXPECT_EQ(table.failCount(), 4);
}

TEST(FailureTable, StartsEmptyWithZeroCounts) {
    FailureTable table(2);
    EXPECT_TRUE(table.empty());
    EXPECT_EQ(table.grid()[1][4].number, 0);
    EXPECT_TRUE(table.grid()[2][0].isEmpty());
}

TEST(RelativePath, RemovesTheFolderOnlyAtTheStart) {
    struct Case {
        std::string source, folder, expected;
    } cases[] = {
        {"/d/x/a.xlsx", "/d/x/", "a.xlsx"},         {"/d/x/sub/a.xlsx", "/d/x/", "sub/a.xlsx"},
        {"/d/x/d/x/a.xlsx", "/d/x/", "d/x/a.xlsx"}, {"/e/d/x/a.xlsx", "/d/x/", "/e/d/x/a.xlsx"},
        {"/D/X/a.xlsx", "/d/x/", "/D/X/a.xlsx"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.source);
        EXPECT_EQ(relativePath(row.source, row.folder), row.expected);
    }
}

}  // namespace
}  // namespace merge
