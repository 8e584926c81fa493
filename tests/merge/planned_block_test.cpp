// Blocks placed through a plan, on the in-memory application: a block that fails leaves neither
// rows, columns nor row digests behind; a header of names grows on every result sheet; the
// reports and the log sheet say where each block went, one row per block.
#include <gtest/gtest.h>

#include "fake_application.h"
#include "merge/merge_log.h"
#include "merge/merge_run.h"

namespace merge {
namespace {

using testing::FakeApplication;
using testing::FakeFile;
using testing::FakeSheet;
using testing::RecordingHost;

FakeFile table(std::vector<std::vector<std::string>> rows) {
    FakeSheet sheet;
    sheet.name = "S";
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size(); ++c)
            if (!rows[r][c].empty())
                sheet.cells[{static_cast<int>(r) + 1, static_cast<int>(c) + 1}] =
                    CellValue::ofText(rows[r][c]);
    FakeFile file;
    file.sheets.push_back(std::move(sheet));
    return file;
}

struct PlannedRun {
    FakeApplication application;
    RecordingHost host;
    RunInput input;
    RunOutcome outcome;

    explicit PlannedRun(MergeOptions options) {
        input.FolderPath = "/d/";
        input.now = [] { return LocalTime{2015, 6, 15, 9, 30, 12}; };
        input.fileExists = [this](const std::string& path) {
            return application.files.count(path) > 0 || application.written.count(path) > 0;
        };
        host.answer = options;
        host.answer.Confirmed = true;
    }
    void add(const std::string& name, FakeFile file) {
        application.files["/d/" + name] = std::move(file);
        input.SourceList.push_back("/d/" + name);
    }
    const FakeSheet& sheet(int position) const {
        return *application.result->sheets.at(static_cast<std::size_t>(position) - 1);
    }
    std::vector<std::string> row(int position, int row, int columns) const {
        std::vector<std::string> texts;
        for (int column = 1; column <= columns; ++column)
            texts.push_back(sheet(position).textAt(row, column));
        return texts;
    }
    void go() { outcome = Zelk(input, application, host); }
};

using Texts = std::vector<std::string>;

TEST(PlannedBlocks, AFailedBlockLeavesNoRowsColumnsOrDigests) {
    PlannedRun run({.AlignColumns = true, .Dedupe = true});
    run.add("a.xlsx", table({{"日期", "金额"}, {"d1", "1"}}));
    FakeFile broken = table({{"新", "备注"}, {"n", "x"}});
    broken.copyFails = true;
    run.add("b.xlsx", broken);
    run.add("c.xlsx", table({{"备注", "日期"}, {"x", ""}, {"y", "d2"}}));
    run.go();

    ASSERT_EQ(run.outcome.status, RunStatus::Saved);
    EXPECT_EQ(run.outcome.merged, 2);
    EXPECT_EQ(run.outcome.failed, 1);
    // 备注 is the third column: 新 of the failed block never joined the result.
    EXPECT_EQ(run.row(2, 1, 4), (Texts{"日期", "金额", "备注", ""}));
    EXPECT_EQ(run.row(2, 2, 4), (Texts{"d1", "1", "", ""}));
    EXPECT_EQ(run.row(2, 3, 4), (Texts{"", "", "x", ""}));  // b's row n|x never counted
    EXPECT_EQ(run.row(2, 4, 4), (Texts{"d2", "", "y", ""}));
    ASSERT_EQ(run.outcome.sources.size(), 3u);
    const SourceReport& c = run.outcome.sources[2];
    ASSERT_EQ(c.blocks.size(), 1u);
    EXPECT_EQ(c.blocks[0].matchedColumns, (Texts{"日期"}));
    EXPECT_EQ(c.blocks[0].addedColumns, (Texts{"备注"}));
    EXPECT_EQ(c.blocks[0].missingColumns, (Texts{"金额"}));
    EXPECT_TRUE(run.outcome.sources[1].blocks.empty());
}

TEST(PlannedBlocks, TheHeaderOfNamesGrowsOnEveryResultSheet) {
    PlannedRun run({.RangeSpec = "22",
                    .CopyHeaderOnce = true,
                    .MarkSource = true,
                    .MarkName = true,
                    .AlignColumns = true,
                    .LogSheet = true});
    run.application.resultMaxRows = 5;
    run.add("一.xlsx", table({{"A", "B"}, {"1", "2"}, {"3", "4"}}));
    run.add("二.xlsx", table({{"B", "A"}, {"5", "6"}, {"7", "8"}, {"9", "10"}}));
    run.add("三.xlsx", table({{"C", "b"}, {"11", "12"}}));
    run.go();

    ASSERT_EQ(run.outcome.status, RunStatus::Saved);
    ASSERT_EQ(run.application.result->sheets.size(), 3u);  // two data sheets and the log
    // The names of the last source reach the header of the sheet that was full before it.
    EXPECT_EQ(run.row(1, 1, 4), (Texts{"特征信息", "A", "B", "C"}));
    EXPECT_EQ(run.row(1, 2, 4), (Texts{"一", "1", "2", ""}));
    EXPECT_EQ(run.row(1, 3, 4), (Texts{"一", "3", "4", ""}));
    EXPECT_EQ(run.row(2, 1, 4), (Texts{"特征信息", "A", "B", "C"}));
    EXPECT_EQ(run.row(2, 2, 4), (Texts{"二", "6", "5", ""}));
    EXPECT_EQ(run.row(2, 4, 4), (Texts{"二", "10", "9", ""}));
    EXPECT_EQ(run.row(2, 5, 4), (Texts{"三", "", "12", "11"}));
    EXPECT_EQ(run.sheet(1).name, "成功合并(3)-1");

    // Where each block went, by sheet name and rows, as the log sheet lists it.
    const FakeSheet& log = run.sheet(3);
    EXPECT_EQ(log.name, "合并明细");
    const ValueBlock grid = logGrid(run.outcome.sources, decodeOptions(run.outcome.options));
    ASSERT_EQ(grid.size(), 4u);
    for (std::size_t r = 0; r < grid.size(); ++r)
        for (std::size_t c = 0; c < grid[r].size(); ++c) {
            SCOPED_TRACE(std::to_string(r) + "," + std::to_string(c));
            EXPECT_EQ(log.at(static_cast<int>(r) + 1, static_cast<int>(c) + 1), grid[r][c]);
        }
    const std::vector<BlockReport>& second = run.outcome.sources[1].blocks;
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].resultSheetName, "成功合并(3)-2");
    EXPECT_EQ(second[0].firstRow, 2);
    EXPECT_EQ(second[0].lastRow, 4);
    EXPECT_EQ(run.outcome.sources[2].blocks[0].firstRow, 5);
}

TEST(MergeLog, BlocksPlacedBeforeASourceFailedAreListedBeforeTheFailure) {
    // A source merged sheet by sheet whose second sheet's block could not be placed: its first
    // block stays in the result, so the log lists it as merged, then the failure.
    SourceReport partly{"/d/a.xlsx"};
    partly.relativePath = "a.xlsx";
    partly.sheet = "二";
    partly.failure = SourceFailure{FailureReason::Other, std::nullopt, "未能放入"};
    BlockReport first;
    first.sheet = "一";
    first.rowsCopied = 2;
    first.uncalculatedFormulas = 1;
    partly.blocks.push_back(first);
    SourceReport whole{"/d/b.xlsx"};
    whole.relativePath = "b.xlsx";
    whole.blocks.resize(2);
    whole.blocks[0].sheet = "甲";
    whole.blocks[1].sheet = "乙";
    whole.blocks[1].uncalculatedFormulas = 3;
    const std::vector<SourceReport> reports{partly, whole};

    const ValueBlock grid = logGrid(reports, MergeSettings{});
    ASSERT_EQ(grid.size(), 5u);
    const auto column = [&](const char* heading) {
        for (std::size_t c = 0; c < grid[0].size(); ++c)
            if (grid[0][c] == CellValue::ofText(heading)) return c;
        ADD_FAILURE() << heading;
        return std::size_t{0};
    };
    const struct {
        const char* sheet;
        const char* outcome;
        bool reason;
        CellValue uncalculated;
    } rows[] = {
        {"一", "已合并", false, CellValue::ofNumber(1)},
        {"二", "合并失败", true, CellValue{}},
        {"甲", "已合并", false, CellValue::ofNumber(0)},
        {"乙", "已合并", false, CellValue::ofNumber(3)},
    };
    for (std::size_t r = 0; r < std::size(rows); ++r) {
        SCOPED_TRACE(r);
        const std::vector<CellValue>& line = grid[r + 1];
        EXPECT_EQ(line[column("序号")], CellValue::ofNumber(static_cast<double>(r + 1)));
        EXPECT_EQ(line[column("工作表")], CellValue::ofText(rows[r].sheet));
        EXPECT_EQ(line[column("结果")], CellValue::ofText(rows[r].outcome));
        EXPECT_EQ(line[column("失败原因")] != CellValue{}, rows[r].reason);
        EXPECT_EQ(line[column("无计算结果的公式")], rows[r].uncalculated);
    }
    // The report has the same entries in the same order.
    RunOutcome outcome;
    outcome.sources = reports;
    const std::string json = reportJson(outcome, MergeSettings{});
    std::size_t at = 0;
    for (const char* piece : {"\"sheet\": \"一\", \"outcome\": \"merged\", \"reason\": null",
                              "\"sheet\": \"二\", \"outcome\": \"failed\", \"reason\": \"",
                              "\"sheet\": \"甲\", \"outcome\": \"merged\"",
                              "\"sheet\": \"乙\", \"outcome\": \"merged\""}) {
        at = json.find(piece, at);
        EXPECT_NE(at, std::string::npos) << piece << "\n" << json;
    }
}

}  // namespace
}  // namespace merge
