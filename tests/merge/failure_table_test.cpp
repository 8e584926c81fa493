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

TEST(FailureTable, KeepsEachFailureWithItsCauseWhereTheGridListsIt) {
    FailureTable table(5);
    table.record("a.xlsx", SourceFailure{FailureReason::Other,
                                         spreadsheet::Error(spreadsheet::ErrorCode::ZipCorrupt,
                                                            "no end of central directory"),
                                         {}});
    table.record("b.csv", SourceFailure{FailureReason::SheetEmpty, std::nullopt, "空的"});
    table.record(FailureReason::Other, "c.xls");
    table.record("sub/d.xlsx", SourceFailure{FailureReason::SheetEmpty, std::nullopt, "也空"});

    const std::vector<FailureTable::Entry>& entries = table.entries();
    ASSERT_EQ(entries.size(), 4u);
    const std::string paths[] = {"a.xlsx", "b.csv", "c.xls", "sub/d.xlsx"};
    const int rows[] = {3, 3, 4, 4};
    for (std::size_t k = 0; k < entries.size(); ++k) {
        SCOPED_TRACE(paths[k]);
        EXPECT_EQ(entries[k].path, paths[k]);
        EXPECT_EQ(entries[k].gridRow, rows[k]);
        // The grid shows the same path at that row, in the reason's column.
        const auto column = static_cast<std::size_t>(entries[k].failure.reason) - 1;
        EXPECT_EQ(table.grid()[static_cast<std::size_t>(entries[k].gridRow) - 1][column].text,
                  paths[k]);
    }
    ASSERT_TRUE(entries[0].failure.error);
    EXPECT_EQ(entries[0].failure.error->code, spreadsheet::ErrorCode::ZipCorrupt);
    const std::string zipCause = entries[0].failure.cause();
    EXPECT_NE(zipCause.find("no end of central directory"), std::string::npos) << zipCause;
    EXPECT_GT(zipCause.size(), std::string("no end of central directory").size());
    EXPECT_EQ(entries[1].failure.cause(), "空的");
    EXPECT_EQ(entries[2].failure.cause(), "");
    EXPECT_EQ(table.failCount(), 4);
}

TEST(FailureTable, ReasonTextsAreTheHeadings) {
    EXPECT_EQ(reasonText(FailureReason::SheetMissing), "不存在目标工作表");
    EXPECT_EQ(reasonText(FailureReason::SheetEmpty), "目标工作表内容为空");
    EXPECT_EQ(reasonText(FailureReason::RangeIllogical), "指定行以下无数据或起止单元格不合逻辑");
    EXPECT_EQ(reasonText(FailureReason::Other), "其它");
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
