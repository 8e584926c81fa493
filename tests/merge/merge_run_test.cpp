// The merge run on the in-memory application: order, failure reasons, layout, overflow,
// roll-back, names, the failure-list sheet and the messages.
#include "merge/merge_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

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
    int failedCount() const { return outcome.failed; }
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
              "共选取【6】个文件，成功合并【2】个，【4】个合并失败。\n合并失败的文件及其原因列在合"
              "并结果的“失败列表”工作表中，将鼠标移到文件名上可查看原因。");
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

TEST(MergeRun, SampleWithoutWorksheetEndsTheRunWhenNoOtherSourceCanServe) {
    FakeRun run;
    FakeFile file;
    FakeSheet chart;
    chart.name = "Chart";
    chart.worksheet = false;
    file.sheets.push_back(chart);
    run.add("charts.xlsx", file);
    run.input.SourceList.push_back("/d/b.xls");  // cannot be opened
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

TEST(MergeRun, CsvResultIsAFolderNamedAsTheResultWouldBe) {
    FakeRun run;
    run.input.resultFormat = SaveFormat::Csv;
    run.host.answer.SheetSpec = "3Data";
    run.add("a.xlsx", fileWith(gridSheet("Data", "a", 2, 1)));
    run.input.SourceList.push_back("/d/missing.xlsx");
    run.add("b.xlsx", fileWith(gridSheet("Data", "b", 1, 1)));
    // The folder's name is taken twice already: it gets a number as a workbook would.
    run.application.written["/d/Data合并 150615 093012"] = SaveFormat::Csv;
    run.application.written["/d/Data合并 150615 093012 (2)"] = SaveFormat::Xlsx;
    run.go();
    EXPECT_EQ(run.outcome.status, RunStatus::Saved);
    EXPECT_EQ(run.outcome.resultPath, "/d/Data合并 150615 093012 (3)");
    EXPECT_EQ(run.application.result->format, SaveFormat::Csv);
    // The sheets keep their names; the failure list becomes the file 失败列表.csv, so its sheet
    // goes without the count, which its second row holds.
    ASSERT_EQ(run.application.result->sheets.size(), 2u);
    EXPECT_EQ(run.application.result->sheets[0]->name, "失败列表");
    EXPECT_EQ(run.application.result->sheets[0]->numberAt(2, 5), 1);
    EXPECT_EQ(run.data(2).name, "Data(2)");
    EXPECT_EQ(run.data(2).lastRow(), 3);
    EXPECT_EQ(run.outcome.summary, "共选取【3】个文件，成功合并【2】个，【1】个合并失败。");
}

TEST(MergeRun, CsvResultThatCannotBeCreatedHasNoFallback) {
    FakeRun run;
    run.input.resultFormat = SaveFormat::Csv;
    run.application.canWriteXlsx = false;  // no effect on a CSV result
    run.application.unwritablePaths.insert("/d/合并 150615 093012");
    run.add("a.xlsx", fileWith(gridSheet("S", "a", 1, 1)));
    run.add("b.xlsx", fileWith(gridSheet("S", "b", 1, 1)));
    run.go();
    EXPECT_EQ(run.outcome.status, RunStatus::ResultNotCreated);
    EXPECT_NE(run.outcome.reason.find("/d/合并 150615 093012"), std::string::npos);
    EXPECT_TRUE(run.application.written.empty());
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

// The sample is the first source that opens and holds a worksheet, packages first; the ones
// passed over are merged or failed in their turn, and the others are still read ahead.
TEST(MergeRun, DamagedFirstPackageNoLongerStopsTheMerge) {
    enum Kind { Good, Unopenable, ChartsOnly };
    struct Source {
        std::string name;
        Kind kind;
    };
    struct Case {
        const char* name;
        std::vector<Source> sources;
        std::vector<std::string> mergeOrder;  // expected, the sample first
        std::vector<std::string> failed;      // expected, in merge order
    };
    const Case cases[] = {
        {"damaged first package",
         {{"a.xls", Good}, {"bad.xlsx", Unopenable}, {"c.xlsx", Good}, {"d.csv", Good}},
         {"c.xlsx", "bad.xlsx", "a.xls", "d.csv"},
         {"bad.xlsx"}},
        {"package without worksheet",
         {{"charts.xlsx", ChartsOnly}, {"b.xlsm", Good}},
         {"b.xlsm", "charts.xlsx"},
         {"charts.xlsx"}},
        {"no package can serve: the first other source that can",
         {{"bad.xlsx", Unopenable}, {"x.xls", Unopenable}, {"y.csv", Good}, {"z.csv", Good}},
         {"y.csv", "x.xls", "bad.xlsx", "z.csv"},
         {"x.xls", "bad.xlsx"}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        FakeRun run;
        for (const Source& source : row.sources) {
            if (source.kind == Unopenable) {
                run.input.SourceList.push_back("/d/" + source.name);
            } else if (source.kind == ChartsOnly) {
                FakeSheet chart;
                chart.name = "Chart";
                chart.worksheet = false;
                run.add(source.name, fileWith(chart));
            } else {
                run.add(source.name, fileWith(gridSheet("S", source.name + ":", 2, 1)));
            }
        }
        run.go();
        ASSERT_EQ(run.outcome.status, RunStatus::Saved) << run.outcome.message;
        EXPECT_EQ(run.host.sample->samplePath, "/d/" + row.mergeOrder.front());
        std::vector<std::string> order;
        std::vector<std::string> failed;
        for (const SourceReport& report : run.outcome.sources) {
            order.push_back(report.path.substr(3));
            if (!report.merged()) failed.push_back(report.path.substr(3));
        }
        EXPECT_EQ(order, row.mergeOrder);
        EXPECT_EQ(failed, row.failed);
        EXPECT_EQ(run.outcome.failed, static_cast<int>(row.failed.size()));
        // The merged blocks stand in merge order, the sample's first.
        EXPECT_EQ(run.data(run.failedCount() > 0 ? 2 : 1).textAt(1, 1),
                  row.mergeOrder.front() + ":1,1");
        // Every source after the sample is announced for reading ahead, once, in merge order.
        std::vector<std::string> announced;
        for (const std::string& call : run.application.calls)
            if (call.rfind("expect ", 0) == 0) announced.push_back(call.substr(10));
        EXPECT_EQ(announced,
                  std::vector<std::string>(row.mergeOrder.begin() + 1, row.mergeOrder.end()));
    }
}

// A host that narrows the sources after the dialog gets the run that the narrowed list given
// at the start would get: the same sources in the same order with the same sample first. The
// expectation comes from a second run over the narrowed list, never from the code under test.
TEST(MergeRun, SourcesNarrowedAfterTheDialogMergeAsIfGivenSo) {
    enum Kind { Good, Unopenable };
    struct Source {
        std::string name;
        Kind kind;
    };
    struct Case {
        const char* name;
        std::vector<Source> sources;
        std::vector<std::string> kept;
    };
    const Case cases[] = {
        {"sample kept",
         {{"a.xls", Good}, {"b.xlsx", Good}, {"c.csv", Good}, {"d.xlsx", Good}},
         {"a.xls", "b.xlsx", "d.xlsx"}},
        {"sample left out: the next package serves",
         {{"a.xls", Good}, {"b.xlsx", Good}, {"c.csv", Good}, {"d.xlsx", Good}},
         {"a.xls", "c.csv", "d.xlsx"}},
        {"sample left out, no package left: the first that opens",
         {{"a.xlsx", Good}, {"bad.xls", Unopenable}, {"c.csv", Good}, {"d.csv", Good}},
         {"bad.xls", "c.csv", "d.csv"}},
        {"the damaged package before the sample stays a failure",
         {{"bad.xlsx", Unopenable}, {"b.xlsx", Good}, {"c.csv", Good}},
         {"bad.xlsx", "b.xlsx", "c.csv"}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        const auto isKept = [&row](const std::string& path) {
            return std::find(row.kept.begin(), row.kept.end(), path.substr(3)) != row.kept.end();
        };
        const auto prepare = [&row](FakeRun& run,
                                    const std::function<bool(const std::string&)>& take) {
            for (const Source& source : row.sources) {
                if (!take("/d/" + source.name)) continue;
                if (source.kind == Unopenable)
                    run.input.SourceList.push_back("/d/" + source.name);
                else
                    run.add(source.name, fileWith(gridSheet("S", source.name + ":", 2, 1)));
            }
        };
        FakeRun narrowed;
        prepare(narrowed, [](const std::string&) { return true; });
        narrowed.host.keepSource = isKept;
        narrowed.go();
        FakeRun given;
        prepare(given, isKept);
        given.go();

        ASSERT_EQ(narrowed.outcome.status, RunStatus::Saved) << narrowed.outcome.message;
        ASSERT_EQ(given.outcome.status, RunStatus::Saved) << given.outcome.message;
        EXPECT_EQ(narrowed.host.narrowedFrom.size(), row.sources.size());
        EXPECT_EQ(narrowed.outcome.chosen, static_cast<int>(row.kept.size()));
        std::vector<std::string> narrowedOrder;
        std::vector<std::string> givenOrder;
        for (const SourceReport& report : narrowed.outcome.sources)
            narrowedOrder.push_back(report.path + (report.merged() ? "" : " failed"));
        for (const SourceReport& report : given.outcome.sources)
            givenOrder.push_back(report.path + (report.merged() ? "" : " failed"));
        EXPECT_EQ(narrowedOrder, givenOrder);
        EXPECT_EQ(narrowed.outcome.summary, given.outcome.summary);
        const FakeSheet& left = narrowed.data(narrowed.failedCount() > 0 ? 2 : 1);
        const FakeSheet& right = given.data(given.failedCount() > 0 ? 2 : 1);
        ASSERT_EQ(left.lastRow(), right.lastRow());
        for (int r = 1; r <= left.lastRow(); ++r) EXPECT_EQ(left.textAt(r, 1), right.textAt(r, 1));
        // Nothing left over: every workbook the run opened is closed again.
        for (const auto& book : narrowed.application.books)
            if (book != narrowed.application.result) {
                EXPECT_TRUE(book->closed) << book->fullName();
            }
    }
}

TEST(MergeRun, SourcesNarrowedToNoneMergeNothing) {
    FakeRun run;
    run.add("a.xlsx", fileWith(gridSheet("S", "a", 2, 1)));
    run.add("b.xlsx", fileWith(gridSheet("S", "b", 2, 1)));
    run.host.keepSource = [](const std::string&) { return false; };
    run.go();
    EXPECT_EQ(run.outcome.status, RunStatus::Cancelled);
    EXPECT_EQ(run.application.result, nullptr);
    EXPECT_TRUE(run.input.SourceList.empty());
}

TEST(MergeRun, KeepsTheCauseOfEveryFailure) {
    using spreadsheet::ErrorCode;
    struct Expected {
        std::string name;
        FailureReason reason;
        std::optional<ErrorCode> code;  // of the application's error; nullopt: none
        std::string cause;              // the error's detail, or the explanation
    };
    FakeRun run;
    run.host.answer.SheetSpec = "3Data";
    run.host.answer.RangeSpec = "25";
    run.add("good.xlsx", fileWith(gridSheet("Data", "g", 6, 2)));
    run.input.SourceList.push_back("/d/missing.xlsx");
    run.add("other.xlsx", fileWith(gridSheet("Other", "o", 9, 2)));
    FakeSheet empty;
    empty.name = "data";
    run.add("empty.xlsx", fileWith(empty));
    run.add("short.xlsx", fileWith(gridSheet("Data", "s", 4, 2)));
    FakeSheet chart;
    chart.name = "Chart";
    chart.worksheet = false;
    run.add("charts.xlsx", fileWith(chart));
    FakeFile broken = fileWith(gridSheet("Data", "b", 6, 2));
    broken.copyFails = true;
    run.add("broken.xlsx", broken);
    run.go();

    const std::vector<Expected> expected = {
        {"missing.xlsx", FailureReason::Other, ErrorCode::FileNotFound, "/d/missing.xlsx"},
        {"other.xlsx", FailureReason::SheetMissing, ErrorCode::NoSuchSheet, "Data"},
        {"empty.xlsx", FailureReason::SheetEmpty, std::nullopt, "目标工作表中没有任何数据"},
        {"short.xlsx", FailureReason::RangeIllogical, std::nullopt, "第 5 行及以下没有数据"},
        {"charts.xlsx", FailureReason::SheetMissing, ErrorCode::NoSuchSheet, "Data"},
        {"broken.xlsx", FailureReason::Other, ErrorCode::OperationFailed, "copy"},
    };
    ASSERT_EQ(run.outcome.sources.size(), expected.size() + 1);
    EXPECT_TRUE(run.outcome.sources[0].merged());

    // On the failure list each failed file's cell, and no other cell, carries a note: the
    // reason, then the cause.
    const FakeSheet& list = *run.application.result->sheets[0];
    const std::map<std::pair<int, int>, std::string> explained = {
        {{3, 3}, "目标工作表内容为空：目标工作表中没有任何数据"},
        {{3, 4}, "指定行以下无数据或起止单元格不合逻辑：第 5 行及以下没有数据"},
    };
    EXPECT_EQ(list.notes.size(), expected.size());
    for (const auto& [cell, text] : list.notes) {
        SCOPED_TRACE(list.textAt(cell.first, cell.second));
        ASSERT_FALSE(list.at(cell.first, cell.second).isEmpty()) << "a note beside the list";
        if (explained.count(cell)) {
            EXPECT_EQ(text, explained.at(cell));
            continue;
        }
        // Errors of the application: the reason of the cell's column and the error's text.
        const std::string head = cell.second == 2 ? "不存在目标工作表：" : "其它：";
        EXPECT_EQ(text.substr(0, head.size()), head);
    }
    EXPECT_NE(list.notes.at({4, 5}).find("copy"), std::string::npos);  // broken.xlsx
    EXPECT_NE(list.notes.at({3, 5}).find("/d/missing.xlsx"), std::string::npos);
    for (std::size_t k = 0; k < expected.size(); ++k) {
        const Expected& want = expected[k];
        SCOPED_TRACE(want.name);
        const SourceReport& report = run.outcome.sources[k + 1];
        EXPECT_EQ(report.path, "/d/" + want.name);
        ASSERT_TRUE(report.failure);
        EXPECT_EQ(report.failure->reason, want.reason);
        if (want.code) {
            ASSERT_TRUE(report.failure->error);
            EXPECT_EQ(report.failure->error->code, *want.code);
            EXPECT_EQ(report.failure->error->detail, want.cause);
            // The error's own text, with its detail at the end.
            const std::string cause = report.failure->cause();
            EXPECT_GT(cause.size(), want.cause.size());
            EXPECT_EQ(cause.substr(cause.size() - want.cause.size()), want.cause);
        } else {
            EXPECT_FALSE(report.failure->error);
            EXPECT_EQ(report.failure->cause(), want.cause);
        }
    }

    // The active sheet and a range by corners: the explanations name what was missing.
    FakeRun corners;
    corners.host.answer.RangeSpec = "3|H30|";
    corners.add("a.xlsx", fileWith(gridSheet("S", "a", 20, 6)));
    corners.add("b.xlsx", fileWith(gridSheet("S", "b", 20, 6)));
    corners.add("charts.xlsx", fileWith(chart));
    corners.go();
    ASSERT_EQ(corners.outcome.sources.size(), 3u);
    for (const SourceReport& report : corners.outcome.sources) {
        SCOPED_TRACE(report.path);
        ASSERT_TRUE(report.failure);
        EXPECT_FALSE(report.failure->error);
    }
    EXPECT_EQ(corners.outcome.sources[0].failure->cause(),
              "数据的右下角位于左上角单元格“H30”的左方或上方");
    EXPECT_EQ(corners.outcome.sources[1].failure->cause(),
              "数据的右下角位于左上角单元格“H30”的左方或上方");
    EXPECT_EQ(corners.outcome.sources[2].failure->reason, FailureReason::SheetMissing);
    EXPECT_EQ(corners.outcome.sources[2].failure->cause(), "工作簿中没有普通工作表（Worksheet）");
}

TEST(MergeRun, CountsFormulasMergedWithoutCachedValues) {
    FakeRun run;
    run.host.answer.RangeSpec = "22";
    auto withUncalculated = [](const std::string& tag, int rows, int uncalculated) {
        FakeSheet sheet = gridSheet("S", tag, rows, 1);
        sheet.formulas.insert({1, 1});
        sheet.uncalculatedFormulas = uncalculated;
        return fileWith(sheet);
    };
    run.add("a.xlsx", withUncalculated("a", 3, 3));
    run.add("b.xlsx", fileWith(gridSheet("S", "b", 3, 1)));
    run.add("c.xlsx", withUncalculated("c", 1, 5));  // no row 2: fails, nothing merged
    run.add("d.xlsx", withUncalculated("d", 2, 2));
    run.go();

    ASSERT_EQ(run.outcome.sources.size(), 4u);
    const int counts[] = {3, 0, 0, 2};
    for (std::size_t k = 0; k < 4; ++k) {
        SCOPED_TRACE(run.outcome.sources[k].path);
        EXPECT_EQ(run.outcome.sources[k].uncalculatedFormulas, counts[k]);
    }
    EXPECT_FALSE(run.outcome.sources[2].merged());
    EXPECT_EQ(run.outcome.summary, "共选取【4】个文件，成功合并【3】个，【1】个合并失败。");
    EXPECT_EQ(run.host.messages.back().text,
              "共选取【4】个文件，成功合并【3】个，【1】个合并失败。\n"
              "合并失败的文件及其原因列在合并结果的“失败列表”工作表中，将鼠标移到文件名上可查看原"
              "因。\n"
              "【2】个文件中共有【5】个公式单元格没有计算结果，已按空单元格合并。");
}

TEST(MergeRun, SummaryNamesEarlierResultsLeftOut) {
    FakeRun run;
    run.input.earlierResultsLeftOut = 2;
    run.add("a.xlsx", fileWith(gridSheet("S", "a", 1, 1)));
    run.add("b.xlsx", fileWith(gridSheet("S", "b", 1, 1)));
    run.go();
    const std::string summary =
        "共选取【2】个文件，成功合并【2】个，【0】个合并失败。另有【2】个此前生成的合并结果未参与合"
        "并。";
    EXPECT_EQ(run.outcome.summary, summary);
    ASSERT_EQ(run.host.messages.size(), 1u);
    EXPECT_EQ(run.host.messages[0].text, summary);
}

// Several sheets per source on the fake: sheets without a block are passed over, a source
// fails only when none gives one, and a block that cannot be placed on a sheet of its own
// leaves no sheet behind.
TEST(MergeRun, SheetBySheetFailsOnlySourcesWithoutAnyBlock) {
    struct Case {
        const char* name;
        const char* sheetSpec;
        bool skipHidden;
        bool perSource;
    } cases[] = {
        {"every sheet, stacked", "4", false, false},
        {"pattern, hidden left out, one sheet each", "5*月", true, true},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        FakeRun run;
        run.host.answer.SheetSpec = row.sheetSpec;
        run.host.answer.SkipHidden = row.skipHidden;
        run.host.answer.PerSource = row.perSource;
        run.host.answer.MarkSheet = true;
        FakeFile months;
        months.sheets.push_back(gridSheet("一月", "a", 2, 1));
        FakeSheet empty;
        empty.name = "二月";
        months.sheets.push_back(empty);
        FakeSheet hidden = gridSheet("三月", "h", 1, 1);
        hidden.visibility = spreadsheet::Visibility::VeryHidden;
        months.sheets.push_back(hidden);
        FakeSheet chart;
        chart.name = "四月";
        chart.worksheet = false;
        months.sheets.push_back(chart);
        run.add("months.xlsx", months);
        FakeFile blank;
        blank.sheets.push_back(empty);
        run.add("blank.xlsx", blank);
        run.add("other.xlsx", fileWith(gridSheet("汇总", "o", 1, 1)));
        FakeFile broken = fileWith(gridSheet("五月", "b", 1, 1));
        broken.copyFails = true;
        run.add("broken.xlsx", broken);
        run.go();

        const bool pattern = row.sheetSpec[0] == '5';
        // months merged; blank empty; other matches no pattern; broken cannot be copied.
        EXPECT_EQ(run.outcome.merged, pattern ? 1 : 2);
        EXPECT_EQ(run.outcome.failed, pattern ? 3 : 2);
        ASSERT_EQ(run.outcome.sources.size(), 4u);
        EXPECT_TRUE(run.outcome.sources[0].merged());
        EXPECT_EQ(run.outcome.sources[1].failure->reason, FailureReason::SheetEmpty);
        if (pattern) {
            EXPECT_EQ(run.outcome.sources[2].failure->reason, FailureReason::SheetMissing);
            EXPECT_EQ(run.outcome.sources[2].failure->cause(), "没有名称与“*月”相符的可见工作表");
        }
        EXPECT_EQ(run.outcome.sources[3].failure->reason, FailureReason::Other);

        const auto& sheets = run.application.result->sheets;
        std::vector<std::string> names;
        for (const auto& sheet : sheets) names.push_back(sheet->name);
        // Blocks: 一月 (2 rows) and, without the pattern, 三月 (hidden but taken) and 汇总.
        if (row.perSource) {
            EXPECT_EQ(names, (std::vector<std::string>{"失败列表(3)", "months-一月"}));
            EXPECT_EQ(sheets[1]->textAt(1, 1), "一月");
            EXPECT_EQ(sheets[1]->textAt(2, 2), "a2,1");
            EXPECT_EQ(sheets[1]->lastRow(), 2);
        } else {
            EXPECT_EQ(names, (std::vector<std::string>{"失败列表(2)", "成功合并(2)"}));
            const FakeSheet& data = *sheets[1];
            const std::vector<std::pair<std::string, std::string>> expected{
                {"一月", "a1,1"}, {"一月", "a2,1"}, {"三月", "h1,1"}, {"汇总", "o1,1"}};
            for (std::size_t k = 0; k < expected.size(); ++k) {
                const int at = static_cast<int>(k) + 1;
                EXPECT_EQ(data.textAt(at, 1), expected[k].first) << at;
                EXPECT_EQ(data.textAt(at, 2), expected[k].second) << at;
            }
            EXPECT_EQ(data.lastRow(), 4);
        }
        for (const auto& book : run.application.books) {
            if (book != run.application.result) {
                EXPECT_TRUE(book->closed) << book->fullName();
            }
        }
    }
}

}  // namespace
}  // namespace merge
