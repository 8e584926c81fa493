// The merge run on the in-memory application: order, failure reasons, layout, overflow,
// roll-back, names, the failure-list sheet and the messages.
#include "merge/merge_run.h"

#include <gtest/gtest.h>

#include "fake_application.h"

namespace merge {
namespace {

using testing::FakeApplication;
using testing::FakeFile;
using testing::FakeSheet;
using testing::gridSheet;
using testing::RecordingHost;

const LocalTime Stamp{2015, 6, 15, 9, 30, 12};

FakeFile fileWith(FakeSheet sheet) {
    FakeFile file;
    file.sheets.push_back(std::move(sheet));
    return file;
}

struct FakeRun {
    FakeApplication application;
    RecordingHost host;
    RunInput input;
    RunOutcome outcome;

    FakeRun() {
        input.FolderPath = "/d/";
        input.now = [] { return Stamp; };
        input.fileExists = [this](const std::string& path) {
            return application.files.count(path) > 0 || application.written.count(path) > 0;
        };
        host.answer.Confirmed = true;
    }
    void add(const std::string& name, FakeFile file) {
        application.files["/d/" + name] = std::move(file);
        input.SourceList.push_back("/d/" + name);
    }
    FakeSheet& data(int position = 1) {
        return *application.result->sheets[static_cast<std::size_t>(position) - 1];
    }
    void go() { outcome = Zelk(input, application, host); }
};

TEST(MergeRun, StacksBlocksInSampleOrder) {
    FakeRun run;
    run.add("a.xls", fileWith(gridSheet("S", "a", 10, 2)));
    run.add("b.csv", fileWith(gridSheet("S", "b", 20, 2)));
    run.add("c.xlsx", fileWith(gridSheet("S", "c", 5, 2)));
    run.go();

    EXPECT_EQ(run.outcome.status, RunStatus::Saved);
    EXPECT_EQ(run.outcome.merged, 3);
    EXPECT_EQ(run.outcome.failed, 0);
    EXPECT_EQ(run.outcome.resultPath, "/d/合并 150615 093012.xlsx");
    ASSERT_EQ(run.host.sample->samplePath, "/d/c.xlsx");
    // c.xlsx first (5 rows), then b.csv (20) and a.xls (10): the sample swapped with position 1.
    EXPECT_EQ(run.data().textAt(1, 1), "c1,1");
    EXPECT_EQ(run.data().textAt(5, 2), "c5,2");
    EXPECT_EQ(run.data().textAt(6, 1), "b1,1");
    EXPECT_EQ(run.data().textAt(25, 2), "b20,2");
    EXPECT_EQ(run.data().textAt(26, 1), "a1,1");
    EXPECT_EQ(run.data().textAt(35, 2), "a10,2");
    EXPECT_EQ(run.data().lastRow(), 35);
    EXPECT_EQ(run.data().name, "成功合并(3)");
    EXPECT_EQ(run.application.result->sheets.size(), 1u);
    ASSERT_EQ(run.host.messages.size(), 1u);
    EXPECT_EQ(run.host.messages[0].text, "共选取【3】个文件，成功合并【3】个，【0】个合并失败。");
    EXPECT_EQ(run.host.messages[0].style, MessageStyle::Information);
    EXPECT_EQ(run.host.messages[0].title, "提示");
    ASSERT_EQ(run.host.progress.size(), 3u);
    EXPECT_EQ(run.host.progress[2], std::make_pair(3, 3));
    EXPECT_EQ(run.host.progressClosed, 1);
    ASSERT_EQ(run.host.handedOver.size(), 1u);
    EXPECT_TRUE(run.input.SourceList.empty());
    EXPECT_TRUE(run.input.FolderPath.empty());
    // Every source closed, the result book created with exactly one sheet and the setting restored.
    for (const auto& book : run.application.books)
        if (book != run.application.result) {
            EXPECT_TRUE(book->closed) << book->fullName();
        }
    EXPECT_EQ(run.application.maxSheetsAllowed, 1);
    EXPECT_EQ(run.application.sheetsInNewWorkbook(), 3);
}

TEST(MergeRun, BooksEachReasonOnceInItsOrder) {
    FakeRun run;
    run.host.answer.SheetSpec = "3Data";
    run.host.answer.RangeSpec = "25";
    run.add("good.xlsx", fileWith(gridSheet("Data", "g", 6, 2)));
    run.input.SourceList.push_back("/d/missing.xlsx");               // cannot open: 其它
    run.add("other.xlsx", fileWith(gridSheet("Other", "o", 9, 2)));  // no sheet Data: reason 2
    FakeSheet empty;
    empty.name = "data";
    run.add("empty.xlsx", fileWith(empty));                         // reason 3
    run.add("short.xlsx", fileWith(gridSheet("Data", "s", 4, 2)));  // ends above row 5: reason 4
    run.add("exact.xlsx", fileWith(gridSheet("Data", "e", 5, 3)));  // one row: A5:C5
    run.go();

    EXPECT_EQ(run.outcome.merged, 2);
    EXPECT_EQ(run.outcome.failed, 4);
    ASSERT_EQ(run.application.result->sheets.size(), 2u);
    const FakeSheet& failures = *run.application.result->sheets[0];
    EXPECT_EQ(failures.name, "失败列表(4)");
    EXPECT_EQ(failures.textAt(3, 2), "other.xlsx");
    EXPECT_EQ(failures.textAt(3, 3), "empty.xlsx");
    EXPECT_EQ(failures.textAt(3, 4), "short.xlsx");
    EXPECT_EQ(failures.textAt(3, 5), "missing.xlsx");
    EXPECT_EQ(failures.numberAt(3, 1), 1);
    for (int column = 2; column <= 5; ++column)
        EXPECT_EQ(failures.numberAt(2, column), 1) << column;
    EXPECT_TRUE(failures.at(4, 1).isEmpty());
    EXPECT_EQ(failures.frozenAt, (spreadsheet::CellRef{3, 1}));
    const std::vector<std::string> expectedFormats{"A1:E8 size 10",  "A1:E8 font 微软雅黑",
                                                   "A1:E8 autofit",  "A1:E2 bold",
                                                   "B2:E2 colour 3", "B2:E2 centre"};
    EXPECT_EQ(failures.formats, expectedFormats);
    // The data sheet: good rows 5-6, then exact's row 5; the sheet named by the chosen name.
    const FakeSheet& data = run.data(2);
    EXPECT_EQ(data.name, "Data(2)");
    EXPECT_EQ(data.textAt(1, 1), "g5,1");
    EXPECT_EQ(data.textAt(2, 2), "g6,2");
    EXPECT_EQ(data.textAt(3, 3), "e5,3");
    EXPECT_EQ(data.lastRow(), 3);
    EXPECT_EQ(run.application.result->active, 1);
    EXPECT_EQ(run.outcome.resultPath, "/d/Data合并 150615 093012.xlsx");
    EXPECT_EQ(run.host.messages.back().text,
              "共选取【6】个文件，成功合并【2】个，【4】个合并失败。");
}

TEST(MergeRun, ResolvesTheTargetRangeModes) {
    struct Case {
        const char* spec;
        std::string firstText;  // of result A1
        int rows;
        int columns;
    } cases[] = {
        // Data in C5:F20 (16 rows, 4 columns): the largest rectangle starts at A1.
        {"", "", 20, 6},
        {"3|D6|", "x6,4", 15, 3},
        {"3|D6|E7", "x6,4", 2, 2},
        {"210", "", 11, 6},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.spec);
        FakeRun run;
        run.host.answer.RangeSpec = row.spec;
        FakeSheet sheet;
        sheet.name = "S";
        for (int r = 5; r <= 20; ++r)
            for (int c = 3; c <= 6; ++c)
                sheet.cells[{r, c}] =
                    CellValue::ofText("x" + std::to_string(r) + "," + std::to_string(c));
        run.add("a.xlsx", fileWith(sheet));
        run.add("b.xlsx", fileWith(sheet));
        run.go();
        ASSERT_EQ(run.outcome.merged, 2);
        EXPECT_EQ(run.data().textAt(1, 1), row.firstText);
        EXPECT_EQ(run.data().lastRow(), 2 * row.rows);
        int lastColumn = 0;
        for (const auto& [key, value] : run.data().cells)
            if (!value.isEmpty()) lastColumn = std::max(lastColumn, key.second);
        EXPECT_EQ(lastColumn, row.columns);
    }
}

TEST(MergeRun, RefusesIllogicalCorners) {
    struct Case {
        const char* spec;
        int failedForReason4;
    } cases[] = {{"3|C3|B10", 2}, {"3|H30|", 2}, {"3|B2|", 0}, {"3|F20|F20", 0}};
    for (const Case& row : cases) {
        SCOPED_TRACE(row.spec);
        FakeRun run;
        run.host.answer.RangeSpec = row.spec;
        run.add("a.xlsx", fileWith(gridSheet("S", "a", 20, 6)));
        run.add("b.xlsx", fileWith(gridSheet("S", "b", 20, 6)));
        run.go();
        EXPECT_EQ(run.outcome.failed, row.failedForReason4);
        if (row.failedForReason4 > 0) {
            EXPECT_EQ(run.application.result->sheets[0]->numberAt(2, 4), 2);
        }
    }
}

TEST(MergeRun, FindsExtentFromDifferentCells) {
    FakeRun run;
    FakeSheet sheet;
    sheet.name = "S";
    sheet.cells[{7, 2}] = CellValue::ofText("B7");
    sheet.cells[{3, 5}] = CellValue::ofText("E3");
    run.add("a.xlsx", fileWith(sheet));
    run.add("b.xlsx", fileWith(sheet));
    run.go();
    // A1:E7 twice.
    EXPECT_EQ(run.data().textAt(7, 2), "B7");
    EXPECT_EQ(run.data().textAt(10, 5), "E3");
    EXPECT_EQ(run.data().textAt(14, 2), "B7");
}

TEST(MergeRun, SelectsSheetsByPositionAndPreparesThem) {
    FakeRun run;
    run.host.answer.SheetSpec = "2第 2 个";
    FakeFile file;
    file.sheets.push_back(gridSheet("One", "1-", 2, 1));
    FakeSheet chart;
    chart.name = "Chart";
    chart.worksheet = false;
    file.sheets.push_back(chart);
    FakeSheet second = gridSheet("Two", "2-", 3, 1);
    second.formulas.insert({1, 1});
    second.autoFilter = true;
    file.sheets.push_back(second);
    run.add("a.xlsx", file);
    run.add("b.xlsx", fileWith(gridSheet("Only", "x", 1, 1)));  // no second worksheet
    run.go();
    EXPECT_EQ(run.outcome.merged, 1);
    EXPECT_EQ(run.data(2).textAt(1, 1), "2-1,1");
    EXPECT_EQ(run.data(2).lastRow(), 3);
    EXPECT_EQ(run.application.result->sheets[0]->textAt(3, 2), "b.xlsx");
    ASSERT_GE(run.application.books.size(), 3u);
    const auto& opened = *run.application.books[2];
    EXPECT_TRUE(opened.sheets[2]->formulas.empty());
    EXPECT_FALSE(opened.sheets[2]->autoFilter);
}

TEST(MergeRun, FailsAnActiveChartSheetAsEmpty) {
    FakeRun run;
    FakeFile file;
    file.sheets.push_back(gridSheet("One", "1-", 2, 1));
    FakeSheet chart;
    chart.name = "Chart";
    chart.worksheet = false;
    file.sheets.push_back(chart);
    file.activeSheet = 1;
    run.add("a.xlsx", fileWith(gridSheet("S", "a", 2, 1)));
    run.add("chart.xlsx", file);
    run.go();
    EXPECT_EQ(run.application.result->sheets[0]->textAt(3, 3), "chart.xlsx");
}

TEST(MergeRun, FillsTheDialogFromTheSample) {
    FakeRun run;
    FakeFile file;
    for (const char* name : {"甲", "乙", "丙"}) file.sheets.push_back(gridSheet(name, "s", 1, 1));
    file.activeSheet = 2;
    run.add("a.xls", fileWith(gridSheet("S", "a", 1, 1)));
    run.add("b.xlsx", file);
    std::optional<spreadsheet::CellRef> resolved;
    std::optional<spreadsheet::CellRef> refused{spreadsheet::CellRef{9, 9}};
    run.host.duringDialog = [&](const ReferenceResolver& resolve) {
        resolved = resolve("c4");
        refused = resolve("4C");
    };
    run.host.answer.Confirmed = false;
    run.go();
    ASSERT_TRUE(run.host.sample);
    EXPECT_EQ(run.host.sample->worksheetNames, (std::vector<std::string>{"甲", "乙", "丙"}));
    EXPECT_EQ(run.host.sample->activeWorksheet, 2);
    EXPECT_EQ(run.host.sample->sourceCount, 2);
    EXPECT_EQ(run.host.sample->folderPath, "/d/");
    EXPECT_EQ(resolved, (spreadsheet::CellRef{4, 3}));
    EXPECT_EQ(refused, std::nullopt);
    // Cancelled: nothing written, nothing open, nothing shown.
    EXPECT_EQ(run.outcome.status, RunStatus::Cancelled);
    EXPECT_TRUE(run.application.written.empty());
    EXPECT_EQ(run.application.result, nullptr);
    for (const auto& book : run.application.books) EXPECT_TRUE(book->closed);
    EXPECT_TRUE(run.host.messages.empty());
    EXPECT_TRUE(run.input.SourceList.empty());
}

TEST(MergeRun, SampleWithoutWorksheetEndsTheRun) {
    FakeRun run;
    FakeFile file;
    FakeSheet chart;
    chart.name = "Chart";
    chart.worksheet = false;
    file.sheets.push_back(chart);
    run.add("charts.xlsx", file);
    run.add("b.xls", fileWith(gridSheet("S", "a", 1, 1)));
    run.go();
    EXPECT_EQ(run.outcome.status, RunStatus::NoWorksheetInSample);
    ASSERT_EQ(run.host.messages.size(), 1u);
    EXPECT_EQ(run.host.messages[0].text,
              "“charts.xlsx”文件不存在普通工作表（Worksheet），请不要选取该文件。");
    EXPECT_EQ(run.host.messages[0].title, "提示");
    EXPECT_TRUE(run.application.written.empty());
    EXPECT_EQ(run.application.calls.back(), "quit");
}

TEST(MergeRun, UnreadableSampleShowsTheReason) {
    FakeRun run;
    run.input.SourceList = {"/d/gone.xlsx", "/d/b.xls"};
    run.go();
    EXPECT_EQ(run.outcome.status, RunStatus::StartFailed);
    ASSERT_EQ(run.host.messages.size(), 1u);
    EXPECT_NE(run.host.messages[0].text.find("/d/gone.xlsx"), std::string::npos);
    EXPECT_EQ(run.host.messages[0].style, MessageStyle::Plain);
    EXPECT_TRUE(run.application.written.empty());
}

TEST(MergeRun, ResultThatCannotBeCreatedMergesNothing) {
    FakeRun run;
    run.add("a.xlsx", fileWith(gridSheet("S", "a", 1, 1)));
    run.add("b.xlsx", fileWith(gridSheet("S", "b", 1, 1)));
    run.application.unwritablePaths.insert("/d/合并 150615 093012.xlsx");
    run.go();
    EXPECT_EQ(run.outcome.status, RunStatus::ResultNotCreated);
    ASSERT_EQ(run.host.messages.size(), 1u);
    const std::string& text = run.host.messages[0].text;
    EXPECT_EQ(text.rfind("无法创建合并结果文件“/d/合并 150615 093012.xlsx”：", 0), 0u) << text;
    EXPECT_NE(text.find("/d/合并 150615 093012.xlsx"), std::string::npos);
    EXPECT_TRUE(run.host.progress.empty());
    // Only the sample was ever opened.
    EXPECT_EQ(std::count_if(run.application.calls.begin(), run.application.calls.end(),
                            [](const std::string& call) { return call.rfind("open ", 0) == 0; }),
              1);
}

TEST(MergeRun, TakenNameGetsANumber) {
    FakeRun run;
    run.add("a.xlsx", fileWith(gridSheet("S", "a", 1, 1)));
    run.add("b.xlsx", fileWith(gridSheet("S", "b", 1, 1)));
    run.application.written["/d/合并 150615 093012.xlsx"] = SaveFormat::Xlsx;
    run.application.written["/d/合并 150615 093012 (2).xlsx"] = SaveFormat::Xlsx;
    run.go();
    EXPECT_EQ(run.outcome.resultPath, "/d/合并 150615 093012 (3).xlsx");
}

TEST(MergeRun, OlderApplicationWritesXlsWithItsRowLimit) {
    FakeRun run;
    run.application.canWriteXlsx = false;
    run.add("a.xlsx", fileWith(gridSheet("S", "a", 70000, 1)));
    run.add("b.xlsx", fileWith(gridSheet("S", "b", 3, 1)));
    run.go();
    EXPECT_EQ(run.outcome.resultPath, "/d/合并 150615 093012.xls");
    EXPECT_EQ(run.application.result->format, SaveFormat::Xls);
    // 70,000 rows do not fit into 65,536: that source fails, nothing of it stays, and b becomes
    // the first block.
    EXPECT_EQ(run.outcome.merged, 1);
    EXPECT_EQ(run.outcome.failed, 1);
    EXPECT_EQ(run.data(2).textAt(1, 1), "b1,1");
    EXPECT_EQ(run.data(2).lastRow(), 3);
}

TEST(MergeRun, FinalSaveFailureIsReported) {
    FakeRun run;
    run.add("a.xlsx", fileWith(gridSheet("S", "a", 1, 1)));
    run.add("b.xlsx", fileWith(gridSheet("S", "b", 1, 1)));
    run.application.saveFailsWith = "disk full";
    run.go();
    EXPECT_EQ(run.outcome.status, RunStatus::SaveFailed);
    ASSERT_EQ(run.host.messages.size(), 1u);
    EXPECT_NE(run.host.messages[0].text.find("无法保存到“/d/合并 150615 093012.xlsx”"),
              std::string::npos);
    EXPECT_NE(run.host.messages[0].text.find("disk full"), std::string::npos);
    EXPECT_TRUE(run.host.handedOver.empty());
}

}  // namespace
}  // namespace merge
