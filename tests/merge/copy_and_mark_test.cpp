// Copying and labelling on the in-memory application: header, labels, the merged label cell,
// new sheets when one is full, and the roll-back of a block that failed.
#include "merge/copy_and_mark.h"

#include <gtest/gtest.h>

#include "fake_application.h"
#include "merge/merge_run.h"

namespace merge {
namespace {

using testing::FakeApplication;
using testing::FakeFile;
using testing::FakeSheet;
using testing::gridSheet;
using testing::RecordingHost;

struct Merge {
    FakeApplication application;
    RecordingHost host;
    RunInput input;
    RunOutcome outcome;

    Merge() {
        input.FolderPath = "/d/";
        input.now = [] { return LocalTime{2020, 1, 2, 3, 4, 5}; };
        input.fileExists = [this](const std::string& path) {
            return application.written.count(path) > 0;
        };
        host.answer.Confirmed = true;
    }
    // A source with a header in rows 1-3 ("h" texts) and `rows` data rows from row 4.
    void addWithHeader(const std::string& name, const std::string& tag, int rows,
                       bool copyFails = false) {
        FakeSheet sheet = gridSheet("S", tag, rows, 2, 4);
        for (int row = 1; row <= 3; ++row)
            for (int column = 1; column <= 2; ++column)
                sheet.cells[{row, column}] = CellValue::ofText(tag + "h" + std::to_string(row));
        sheet.cells[{2, 7}] =
            CellValue::ofNumber(static_cast<double>(name.size()));  // G2, left of nothing
        sheet.cells[{2, 2}] = CellValue::ofText(tag + "-B2");
        sheet.widths[1] = 20;
        sheet.widths[2] = 7.5;
        sheet.merges.push_back({{1, 1}, {1, 2}});
        FakeFile file;
        file.sheets.push_back(sheet);
        file.copyFails = copyFails;
        application.files["/d/" + name] = file;
        input.SourceList.push_back("/d/" + name);
    }
    FakeSheet& sheet(int position) {
        return *application.result->sheets[static_cast<std::size_t>(position) - 1];
    }
    void go() { outcome = Zelk(input, application, host); }
};

TEST(CopyAndMark, HeaderOnceWithPathLabels) {
    Merge merge;
    merge.host.answer.RangeSpec = "24";
    merge.host.answer.CopyHeaderOnce = true;
    merge.host.answer.MarkSource = true;
    merge.addWithHeader("a.xlsx", "a", 3);
    merge.addWithHeader("sub/b.xlsx", "b", 2);
    merge.go();

    FakeSheet& data = merge.sheet(1);
    EXPECT_EQ(data.name, "成功合并(2)");
    EXPECT_EQ(data.textAt(1, 1), "特征信息");
    EXPECT_EQ(data.textAt(1, 2), "ah1");
    EXPECT_EQ(data.textAt(3, 3), "ah3");
    // Labels from row 4, data shifted one column right, the second block right below.
    EXPECT_EQ(data.textAt(4, 1), "a.xlsx");
    EXPECT_EQ(data.textAt(6, 1), "a.xlsx");
    EXPECT_EQ(data.textAt(4, 2), "a4,1");
    EXPECT_EQ(data.textAt(7, 1), "sub/b.xlsx");
    EXPECT_EQ(data.textAt(8, 3), "b5,2");
    EXPECT_TRUE(data.at(9, 1).isEmpty());
    // The label header cell and the source's own merge, shifted.
    const std::vector<spreadsheet::RangeRef> merges{{{1, 2}, {1, 3}}, {{1, 1}, {3, 1}}};
    EXPECT_EQ(data.merges, merges);
    EXPECT_EQ(data.widths.at(1), 15);
    EXPECT_EQ(data.widths.at(2), 20);
    EXPECT_EQ(data.widths.at(3), 7.5);
    EXPECT_EQ(data.frozenAt, (spreadsheet::CellRef{4, 1}));
}

TEST(CopyAndMark, CellLabelsUseTheTopLeftValue) {
    Merge merge;
    merge.host.answer.MarkSource = true;
    merge.host.answer.MarkCells = "B2:C9,G2";
    merge.host.answer.RangeSpec = "3|A4|";
    merge.addWithHeader("a.xlsx", "a", 2);
    merge.addWithHeader("bb.xlsx", "b", 1);
    merge.go();
    FakeSheet& data = merge.sheet(1);
    EXPECT_EQ(data.textAt(1, 1), "a-B2");
    EXPECT_EQ(data.textAt(2, 1), "a-B2");
    EXPECT_EQ(data.numberAt(2, 2), 6);
    EXPECT_EQ(data.textAt(1, 3), "a4,1");
    EXPECT_EQ(data.textAt(3, 1), "b-B2");
    EXPECT_EQ(data.numberAt(3, 2), 7);
    EXPECT_EQ(data.textAt(3, 4), "b4,2");
    EXPECT_FALSE(data.frozenAt.has_value());
    EXPECT_EQ(data.activeCell, (spreadsheet::CellRef{1, 1}));
    // Label columns of the first block are fitted; the path width is not set.
    EXPECT_EQ(std::count(data.formats.begin(), data.formats.end(), "A1:A2 autofit"), 1);
    EXPECT_EQ(std::count(data.formats.begin(), data.formats.end(), "B1:B2 autofit"), 1);
    EXPECT_EQ(data.widths.count(1), 0u);
}

TEST(CopyAndMark, CellLabelsShowTheValueInTheSourceCellsNumberFormat) {
    Merge merge;
    merge.host.answer.MarkSource = true;
    merge.host.answer.MarkCells = "B2,G2,C2,D2,E2";
    merge.host.answer.RangeSpec = "24";
    merge.addWithHeader("a.xlsx", "a", 2);
    merge.addWithHeader("b.xlsx", "b", 3);
    // The label cells of both sources: a date, a number, a percentage, a text kept as text and
    // an empty cell with a format of its own.
    for (const char* name : {"/d/a.xlsx", "/d/b.xlsx"}) {
        FakeSheet& source = merge.application.files[name].sheets[0];
        source.cells[{2, 2}] = CellValue::ofNumber(45660);
        source.cellFormats[{2, 2}].numberFormat = "yyyy-mm-dd";
        source.cellFormats[{2, 7}].numberFormat = "General";
        source.cells[{2, 3}] = CellValue::ofNumber(0.125);
        source.cellFormats[{2, 3}].numberFormat = "0.0%";
        source.cells[{2, 4}] = CellValue::ofText("007");
        source.cellFormats[{2, 4}].numberFormat = "@";
        source.cellFormats[{2, 5}].numberFormat = "0.00";
    }
    merge.go();

    FakeSheet& data = merge.sheet(1);
    struct Column {
        int column;
        CellValue value;
        std::string numberFormat;  // "" for General
    };
    const Column columns[] = {
        {1, CellValue::ofNumber(45660), "yyyy-mm-dd"},
        {2, CellValue::ofNumber(6), ""},  // G2: the length of "a.xlsx" and "b.xlsx"
        {3, CellValue::ofNumber(0.125), "0.0%"},
        {4, CellValue::ofText("007"), "@"},
        {5, CellValue{}, ""},  // an empty label brings no format
    };
    for (const Column& column : columns) {
        SCOPED_TRACE(column.column);
        for (int row = 1; row <= 5; ++row) {  // both blocks
            SCOPED_TRACE(row);
            EXPECT_EQ(data.at(row, column.column), column.value);
            auto format = data.cellFormats.find({row, column.column});
            EXPECT_EQ(format == data.cellFormats.end() ? "" : format->second.numberFormat,
                      column.numberFormat);
        }
    }
    // Only the number format comes along: no font, fill or border of the source cell.
    EXPECT_EQ(
        std::count(data.formats.begin(), data.formats.end(), "A1:A2 number format yyyy-mm-dd"), 1);
    EXPECT_EQ(std::count_if(data.formats.begin(), data.formats.end(),
                            [](const std::string& format) {
                                return format.find("number format") == std::string::npos &&
                                       format.find("autofit") == std::string::npos;
                            }),
              0);
}

TEST(CopyAndMark, PathLabelsStayPlainText) {
    Merge merge;
    merge.host.answer.MarkSource = true;
    merge.addWithHeader("a.xlsx", "a", 2);
    merge.application.files["/d/a.xlsx"].sheets[0].cellFormats[{1, 1}].numberFormat = "0.00";
    merge.go();
    FakeSheet& data = merge.sheet(1);
    EXPECT_EQ(data.textAt(1, 1), "a.xlsx");
    for (int row = 1; row <= 5; ++row) EXPECT_EQ(data.cellFormats.count({row, 1}), 0u);
}

TEST(CopyAndMark, FullSheetContinuesOnANewSheetWithHeaderAndWidths) {
    Merge merge;
    merge.application.resultMaxRows = 20;
    merge.host.answer.RangeSpec = "24";
    merge.host.answer.CopyHeaderOnce = true;
    merge.host.answer.MarkSource = true;
    merge.addWithHeader("a.xlsx", "a", 10);  // rows 1-13
    merge.addWithHeader("b.xlsx", "b", 7);   // rows 14-20: ends exactly on the last row
    merge.addWithHeader("c.xlsx", "c", 1);   // one row more: a new sheet
    merge.addWithHeader("d.xlsx", "d", 16);  // 3 + 1 + 16 = 20: fits the second sheet exactly
    merge.go();

    ASSERT_EQ(merge.application.result->sheets.size(), 2u);
    FakeSheet& first = merge.sheet(1);
    FakeSheet& second = merge.sheet(2);
    EXPECT_EQ(first.name, "成功合并(4)-1");
    EXPECT_EQ(second.name, "成功合并(4)-2");
    EXPECT_EQ(first.textAt(20, 1), "b.xlsx");
    EXPECT_EQ(first.textAt(20, 3), "b10,2");
    EXPECT_EQ(second.textAt(1, 1), "特征信息");
    EXPECT_EQ(second.textAt(3, 2), "ah3");
    EXPECT_EQ(second.textAt(4, 1), "c.xlsx");
    EXPECT_EQ(second.textAt(4, 2), "c4,1");
    EXPECT_EQ(second.textAt(20, 1), "d.xlsx");
    EXPECT_EQ(second.textAt(20, 3), "d19,2");
    EXPECT_EQ(second.merges, first.merges);
    EXPECT_EQ(second.widths, first.widths);
    EXPECT_EQ(second.frozenAt, (spreadsheet::CellRef{4, 1}));
    EXPECT_EQ(merge.outcome.failed, 0);
}

TEST(CopyAndMark, NewSheetWithoutHeaderGetsOnlyWidths) {
    Merge merge;
    merge.application.resultMaxRows = 20;
    merge.addWithHeader("a.xlsx", "a", 12);  // 15 rows from A1
    merge.addWithHeader("b.xlsx", "b", 3);   // 6 rows: 21 > 20
    merge.go();
    ASSERT_EQ(merge.application.result->sheets.size(), 2u);
    FakeSheet& second = merge.sheet(2);
    EXPECT_EQ(second.textAt(1, 1), "bh1");
    EXPECT_EQ(second.lastRow(), 6);
    EXPECT_EQ(second.widths.at(1), 20);
    EXPECT_TRUE(second.merges.size() == 1);  // b's own merge only
    EXPECT_FALSE(second.frozenAt.has_value());
}

TEST(CopyAndMark, FailedFirstBlockLeavesNothingAndTheNextTakesItsPlace) {
    Merge merge;
    merge.host.answer.RangeSpec = "24";
    merge.host.answer.CopyHeaderOnce = true;
    merge.host.answer.MarkSource = true;
    merge.addWithHeader("a.xlsx", "a", 3, true);
    merge.addWithHeader("b.xlsx", "b", 2);
    merge.addWithHeader("c.xlsx", "c", 2, true);
    merge.addWithHeader("d.xlsx", "d", 1);
    merge.go();

    EXPECT_EQ(merge.outcome.merged, 2);
    EXPECT_EQ(merge.outcome.failed, 2);
    EXPECT_EQ(merge.host.messages.back().text,
              "共选取【4】个文件，成功合并【2】个，【2】个合并失败。\n合并失败的文件及其原因列在合"
              "并结果的“失败列表”工作表中，将鼠标移到文件名上可查看原因。");
    ASSERT_EQ(merge.application.result->sheets.size(), 2u);
    FakeSheet& failures = merge.sheet(1);
    EXPECT_EQ(failures.name, "失败列表(2)");
    EXPECT_EQ(failures.textAt(3, 5), "a.xlsx");
    EXPECT_EQ(failures.textAt(4, 5), "c.xlsx");
    FakeSheet& data = merge.sheet(2);
    EXPECT_EQ(data.name, "成功合并(2)");
    EXPECT_EQ(data.textAt(1, 1), "特征信息");
    EXPECT_EQ(data.textAt(1, 2), "bh1");
    EXPECT_EQ(data.textAt(4, 1), "b.xlsx");
    EXPECT_EQ(data.textAt(6, 1), "d.xlsx");
    EXPECT_EQ(data.textAt(6, 2), "d4,1");
    EXPECT_EQ(data.lastRow(), 6);
}

TEST(CopyAndMark, HeaderWithStartRowOneHasNoHeaderRows) {
    Merge merge;
    merge.host.answer.RangeSpec = "21";
    merge.host.answer.CopyHeaderOnce = true;
    merge.host.answer.MarkSource = true;
    merge.addWithHeader("a.xlsx", "a", 1);
    merge.addWithHeader("b.xlsx", "b", 1);
    merge.go();
    EXPECT_EQ(merge.outcome.merged, 2);
    EXPECT_EQ(merge.outcome.failed, 0);
    FakeSheet& data = merge.sheet(1);
    EXPECT_EQ(data.textAt(1, 1), "a.xlsx");
    EXPECT_EQ(data.textAt(1, 2), "ah1");
    EXPECT_EQ(data.textAt(5, 1), "b.xlsx");
    EXPECT_FALSE(data.frozenAt.has_value());
    for (const auto& merged : data.merges) EXPECT_NE(merged.first.column, 1);
}

TEST(CopyAndMark, StartRowTwoMergesNoSingleLabelCell) {
    Merge merge;
    merge.host.answer.RangeSpec = "22";
    merge.host.answer.CopyHeaderOnce = true;
    merge.host.answer.MarkSource = true;
    merge.addWithHeader("a.xlsx", "a", 1);
    merge.addWithHeader("b.xlsx", "b", 1);
    merge.go();
    EXPECT_EQ(merge.outcome.failed, 0);
    EXPECT_EQ(merge.sheet(1).textAt(1, 1), "特征信息");
    EXPECT_EQ(merge.sheet(1).frozenAt, (spreadsheet::CellRef{2, 1}));
}

}  // namespace
}  // namespace merge
