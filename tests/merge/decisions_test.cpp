#include <gtest/gtest.h>

#include <set>

#include "merge/copy_and_mark.h"
#include "merge/merge_run.h"
#include "merge/result_finishing.h"
#include "merge/source_extraction.h"

namespace merge {
namespace {

SheetChoice sheetOf(const std::string& sheetSpec) {
    return decodeOptions({.SheetSpec = sheetSpec}).sheet;
}

TEST(ChooseSample, TakesTheFirstLowerCaseXlsxOrXlsm) {
    struct Case {
        std::vector<std::string> sources;
        int expected;
    } cases[] = {
        {{"a.xls", "b.csv", "c.xlsx"}, 2},  {{"a.xls", "b.csv"}, 0},
        {{"a.xls", "C.XLSX", "d.xlsm"}, 2}, {{"a.xls", "C.XLSX"}, 0},
        {{"a.xlsx.bak", "b.xlsm"}, 1},      {{"x.xlsx", "y.xlsx"}, 0},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.sources.back());
        EXPECT_EQ(chooseSample(row.sources), row.expected);
    }
}

TEST(ChooseSample, TriesPackagesFirstThenTheOthersInListOrder) {
    struct Case {
        std::vector<std::string> sources;
        std::vector<int> expected;
    } cases[] = {
        {{"a.xls", "b.csv", "c.xlsx", "d.xlsm", "E.XLSX"}, {2, 3, 0, 1, 4}},
        {{"a.xlsx", "b.xlsx"}, {0, 1}},
        {{"a.csv", "b.xls"}, {0, 1}},
        {{"a.xls", "b.xlsx"}, {1, 0}},
        {{}, {}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.sources.size());
        EXPECT_EQ(sampleCandidates(row.sources), row.expected);
    }
}

TEST(ResultName, StampsTheLocalTime) {
    const LocalTime time{2015, 6, 15, 9, 30, 12};
    EXPECT_EQ(timeStamp(time), "150615 093012");
    EXPECT_EQ(timeStamp(LocalTime{2009, 12, 31, 23, 5, 7}), "091231 230507");
    EXPECT_EQ(resultBaseName("/d/data/", sheetOf("3销售"), time), "/d/data/销售合并 150615 093012");
    EXPECT_EQ(resultBaseName("/d/data/", sheetOf("2第 3 个"), time), "/d/data/合并 150615 093012");
    EXPECT_EQ(resultBaseName("/d/data/", sheetOf(""), time), "/d/data/合并 150615 093012");
}

TEST(ResultName, NumbersATakenName) {
    std::set<std::string> taken{"/d/合并 1.xlsx", "/d/合并 1 (2).xlsx"};
    auto isTaken = [&](const std::string& path) { return taken.count(path) > 0; };
    EXPECT_EQ(freeResultPath("/d/合并 1", ".xlsx", isTaken), "/d/合并 1 (3).xlsx");
    EXPECT_EQ(freeResultPath("/d/合并 1", ".xls", isTaken), "/d/合并 1.xls");
}

TEST(Progress, WidthIsIntegerDivision) {
    EXPECT_EQ(progressWidth(1, 3), 1666);
    EXPECT_EQ(progressWidth(3, 3), 5000);
    EXPECT_EQ(progressWidth(3, 40), 375);
    EXPECT_EQ(progressWidth(1'000'000, 1'000'000), 5000);
}

TEST(SheetPosition, ReadsTheListItem) {
    struct Case {
        std::string spec;
        std::optional<int> expected;
    } cases[] = {
        {"2第 3 个", 3},          {"2第 12 个", 12},          {"2第  1 个 ", 1},
        {"2第 个", std::nullopt}, {"2第 x 个", std::nullopt}, {"2第 99999 个", std::nullopt},
        {"2", std::nullopt},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.spec);
        EXPECT_EQ(sheetOf(row.spec).position, row.expected);
    }
}

TEST(TargetRange, ReadsTheThreeModes) {
    struct Case {
        std::string spec, topLeft;
        std::optional<std::string> bottomRight;
        bool check;
    } cases[] = {
        {"", "A1", std::nullopt, false},
        {"225", "A25", std::nullopt, true},
        {"3|B2|G5", "B2", std::string("G5"), true},
        {"3|B2|", "B2", std::nullopt, true},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.spec);
        const TargetRange range = targetRange(decodeOptions({.RangeSpec = row.spec}).range);
        EXPECT_EQ(range.topLeft, row.topLeft);
        EXPECT_EQ(range.bottomRight, row.bottomRight);
        EXPECT_EQ(range.checkOrder, row.check);
    }
}

TEST(HeaderRows, ExistOnlyWithCopyHeaderOnceAndAStartRowAboveOne) {
    struct Case {
        std::string spec;
        bool copyHeader;
        int rows;
    } cases[] = {
        {"24", true, 3}, {"24", false, 0},   {"21", true, 0},
        {"", true, 0},   {"3|B2|", true, 0}, {"2100", true, 99},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.spec);
        MergeOptions options;
        options.RangeSpec = row.spec;
        options.CopyHeaderOnce = row.copyHeader;
        EXPECT_EQ(headerRowCount(decodeOptions(options)), row.rows);
    }
}

TEST(MarkerColumns, CountsLabelColumns) {
    MergeOptions options;
    EXPECT_EQ(markerColumns(decodeOptions(options)), 0);
    options.MarkSource = true;
    EXPECT_EQ(markerColumns(decodeOptions(options)), 1);
    options.MarkCells = "B2,G5";
    EXPECT_EQ(markerColumns(decodeOptions(options)), 2);
    options.MarkCells = "B2,G5,A1:C3";
    EXPECT_EQ(markerColumns(decodeOptions(options)), 3);
}

TEST(SheetNames, CarryTheMergedCountAndPosition) {
    EXPECT_EQ(dataSheetName("成功合并", 12, 1, 1), "成功合并(12)");
    EXPECT_EQ(dataSheetName("销售", 300, 2, 2), "销售(300)-2");
    EXPECT_EQ(dataSheetName("", 0, 1, 1), "(0)");
    EXPECT_EQ(failureSheetName(3), "失败列表(3)");
    MergeOptions byName;
    byName.SheetSpec = "3销售";
    EXPECT_EQ(dataSheetBaseName(decodeOptions(byName).sheet, "销售"), "销售");
    EXPECT_EQ(dataSheetBaseName(decodeOptions(MergeOptions{}).sheet, "Sheet1"), "成功合并");
}

TEST(Summary, ReadsAsTheUserSeesIt) {
    EXPECT_EQ(summaryText(40, 37, 3), "共选取【40】个文件，成功合并【37】个，【3】个合并失败。");
    EXPECT_EQ(saveFailedText(2, 2, 0, "/d/r.xlsx", "磁盘已满"),
              "共选取【2】个文件，成功合并【2】个，【0】个合并失败，但合并结果无法保存到“/d/"
              "r.xlsx”：磁盘已满。");
}

TEST(Summary, FinalMessageAddsALinePerKindOfNews) {
    const std::string summary = "共选取【3】个文件，成功合并【2】个，【1】个合并失败。";
    auto merged = [](const std::string& path, int uncalculated) {
        return SourceReport{path, std::nullopt, uncalculated};
    };
    const SourceReport failed{"/d/x.xlsx", SourceFailure{FailureReason::Other, std::nullopt, {}},
                              0};
    struct Case {
        const char* name;
        std::vector<SourceReport> reports;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"nothing to add", {merged("/d/a.xlsx", 0), merged("/d/b.xlsx", 0)}, summary},
        {"no reports", {}, summary},
        {"a failure",
         {merged("/d/a.xlsx", 0), failed},
         summary + "\n合并失败的文件及其原因列在合并结果的“失败列表”工作表中，将鼠标移到文件名上可"
                   "查看原因。"},
        {"formulas in two files",
         {merged("/d/a.xlsx", 4), merged("/d/b.xlsx", 0), merged("/d/c.xlsx", 1)},
         summary + "\n【2】个文件中共有【5】个公式单元格没有计算结果，已按空单元格合并。"},
        {"both, failure first",
         {merged("/d/a.xlsx", 7), failed},
         summary + "\n合并失败的文件及其原因列在合并结果的“失败列表”工作表中，将鼠标移到文件名上可"
                   "查看原因。"
                   "\n【1】个文件中共有【7】个公式单元格没有计算结果，已按空单元格合并。"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(finalMessage(summary, row.reports), row.message);
    }
    EXPECT_EQ(earlierResultsText(0), "");
    EXPECT_EQ(earlierResultsText(1), "另有【1】个此前生成的合并结果未参与合并。");
}

TEST(Summary, FailureNoteGivesTheReasonAndTheCause) {
    struct Case {
        const char* name;
        SourceFailure failure;
        std::string note;
    };
    const std::vector<Case> cases = {
        {"an explanation",
         {FailureReason::SheetEmpty, std::nullopt, "目标工作表中没有任何数据"},
         "目标工作表内容为空：目标工作表中没有任何数据"},
        {"an explanation of the range",
         {FailureReason::RangeIllogical, std::nullopt, "第 5 行及以下没有数据"},
         "指定行以下无数据或起止单元格不合逻辑：第 5 行及以下没有数据"},
        {"nothing known", {FailureReason::Other, std::nullopt, {}}, "其它"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(failureNote(row.failure), row.note);
    }
    // The application's error wins over an explanation: its text as the command line prints it.
    const SourceFailure failed{FailureReason::SheetMissing,
                               spreadsheet::Error(spreadsheet::ErrorCode::NoSuchSheet, "销售"),
                               "unused"};
    const std::string note = failureNote(failed);
    EXPECT_EQ(note, "不存在目标工作表：" + failed.cause());
    EXPECT_NE(note.find("销售"), std::string::npos);
    EXPECT_EQ(note.find("unused"), std::string::npos);
}

}  // namespace
}  // namespace merge
