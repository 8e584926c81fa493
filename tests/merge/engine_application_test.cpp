// The engine's automation objects where the run relies on them beyond a whole merge: rows
// spooled below a placed block, held header rows, the grid, names and merges.
#include "merge/engine_application.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "../support/package_check.h"
#include "spreadsheet/workbook_reader.h"

namespace merge {
namespace {

namespace fs = std::filesystem;

struct ResultBook {
    std::unique_ptr<Application> application = makeEngineApplication();
    std::shared_ptr<Workbook> book = application->addWorkbook();
    std::shared_ptr<Worksheet> sheet = book->activeSheet();
    ErrorState& errors() { return application->errors(); }
};

ValueBlock column(std::initializer_list<const char*> texts) {
    ValueBlock block;
    for (const char* text : texts) block.push_back({CellValue::ofText(text)});
    return block;
}

TEST(EngineApplication, HeldRowsStayReadableAfterLaterBlocks) {
    ResultBook result;
    // Rows 1-3 placed as a block, then a second block below: rows above it are final.
    result.sheet->range("A1:A3")->setValues(column({"h1", "h2", "d1"}));
    result.sheet->holdTopRows(2);
    result.sheet->range("A1")->copy();
    result.sheet->cell(4, 1)->pasteSpecial(PasteKind::All);
    ASSERT_FALSE(result.errors().isSet()) << result.errors().message();

    std::shared_ptr<Range> header = result.sheet->range("A1:A2");
    header->copy();
    std::shared_ptr<Worksheet> next = result.book->addWorksheet(*result.sheet, Placement::After);
    next->range("A1")->pasteSpecial(PasteKind::All);
    EXPECT_FALSE(result.errors().isSet()) << result.errors().message();
    EXPECT_EQ(next->range("A2")->value().text, "h2");
    // Row 3 went to the spool without being held: reading or rewriting it fails.
    EXPECT_TRUE(result.sheet->range("A3")->value().isEmpty());
    EXPECT_TRUE(result.errors().isSet());
    result.errors().clear();
    result.sheet->range("A3")->setValue(CellValue::ofText("late"));
    EXPECT_TRUE(result.errors().isSet());
    result.errors().clear();
    result.sheet->clearFromRow(2);
    EXPECT_TRUE(result.errors().isSet());
    result.errors().clear();
    // The block still in memory can be rolled back.
    result.sheet->clearFromRow(4);
    EXPECT_FALSE(result.errors().isSet());
    EXPECT_TRUE(result.sheet->range("A4")->value().isEmpty());
}

TEST(EngineApplication, ValuesOfRowsWrittenOutFailInsteadOfReadingEmpty) {
    ResultBook result;
    result.sheet->range("A1:A3")->setValues(column({"h", "d1", "d2"}));
    result.sheet->holdTopRows(1);
    result.sheet->range("A1")->copyTo(*result.sheet->cell(4, 1));  // rows 1-3 are final
    ASSERT_FALSE(result.errors().isSet()) << result.errors().message();
    EXPECT_EQ(result.sheet->range("A1")->values(), column({"h"}));
    EXPECT_FALSE(result.errors().isSet());
    // Row 2 went out without being held: its values are not there to read.
    result.sheet->range("A1:A4")->values();
    EXPECT_TRUE(result.errors().isSet());
}

TEST(EngineApplication, RefusesBadNamesAndReferences) {
    ResultBook result;
    std::shared_ptr<Worksheet> second = result.book->addWorksheet(*result.sheet, Placement::After);
    struct Case {
        std::string name;
        bool refused;
    } cases[] = {
        {"销售(300)-1", false},
        {"", true},
        {"a/b", true},
        {"[x]", true},
        {std::string(32, 'x'), true},
        {"SHEET1", true},
        {std::string(31, 'x'), false},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        result.errors().clear();
        second->setName(row.name);
        EXPECT_EQ(result.errors().isSet(), row.refused);
    }
    result.errors().clear();
    EXPECT_EQ(result.sheet->range("XFD1048576")->row(), 1'048'576);
    EXPECT_EQ(result.sheet->range("XFE1"), nullptr);
    EXPECT_TRUE(result.errors().isSet());
    result.errors().clear();
    EXPECT_EQ(result.sheet->range("A1")->offset(-1, 0), nullptr);
    result.errors().clear();
    EXPECT_EQ(result.sheet->range("A1048576")->resize(2, 1), nullptr);
    EXPECT_TRUE(result.errors().isSet());
}

TEST(EngineApplication, SingleCellMergeIsNoMergeAndOverlapsAreReplaced) {
    ResultBook result;
    result.sheet->range("A1")->merge();
    result.sheet->range("A1:B2")->merge();
    result.sheet->range("B2:C3")->merge();
    EXPECT_FALSE(result.errors().isSet());
    const fs::path folder = fs::temp_directory_path() / "sheetmerge-engine-merges";
    fs::remove_all(folder);
    fs::create_directories(folder);
    result.book->saveAs((folder / "r.xlsx").string(), SaveFormat::Xlsx);
    ASSERT_FALSE(result.errors().isSet()) << result.errors().message();
    EXPECT_TRUE(spreadsheet::testing::soundPackage(folder / "r.xlsx"));
    spreadsheet::Result<spreadsheet::WorkbookData> read =
        spreadsheet::openWorkbookFile(folder / "r.xlsx");
    ASSERT_TRUE(read);
    const std::vector<spreadsheet::RangeRef> merges{{{2, 2}, {3, 3}}};
    EXPECT_EQ(read->sheets[0].merges, merges);
    // saveAs never replaces; .xls is not available.
    result.book->saveAs((folder / "r.xlsx").string(), SaveFormat::Xlsx);
    EXPECT_EQ(result.errors().error().code, spreadsheet::ErrorCode::TargetExists);
    result.errors().clear();
    result.book->saveAs((folder / "r.xls").string(), SaveFormat::Xls);
    EXPECT_EQ(result.errors().error().code, spreadsheet::ErrorCode::FormatNotAvailable);
    EXPECT_FALSE(fs::exists(folder / "r.xls"));
    fs::remove_all(folder);
}

TEST(EngineApplication, AutoFitCountsWideCharactersDouble) {
    ResultBook result;
    result.sheet->range("A1:B1")->setValues(
        {{CellValue::ofText("abcdefghij"), CellValue::ofText("一二三四五六七八九十")}});
    result.sheet->range("A1:B1")->autoFitColumns();
    ASSERT_FALSE(result.errors().isSet());
    const fs::path folder = fs::temp_directory_path() / "sheetmerge-engine-autofit";
    fs::remove_all(folder);
    fs::create_directories(folder);
    result.book->saveAs((folder / "r.xlsx").string(), SaveFormat::Xlsx);
    EXPECT_TRUE(spreadsheet::testing::soundPackage(folder / "r.xlsx"));
    spreadsheet::Result<spreadsheet::WorkbookData> read =
        spreadsheet::openWorkbookFile(folder / "r.xlsx");
    ASSERT_TRUE(read);
    double narrow = 0;
    double wide = 0;
    for (const auto& info : read->sheets[0].columns) {
        if (info.first <= 1 && 1 <= info.last) narrow = info.width;
        if (info.first <= 2 && 2 <= info.last) wide = info.width;
    }
    EXPECT_GE(narrow, 10);
    EXPECT_GE(wide, 20);
    EXPECT_GT(wide, narrow + 8);
    fs::remove_all(folder);
}

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(EngineApplication, CsvResultClaimsItsFolderAndFillsItWhole) {
    ResultBook result;
    const fs::path folder = fs::temp_directory_path() / "sheetmerge-engine-csv";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path target = folder / "合并 150615 093012";
    result.book->saveAs(target.string(), SaveFormat::Csv);
    ASSERT_FALSE(result.errors().isSet()) << result.errors().message();
    // The name is taken by an empty folder until the save.
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_TRUE(fs::is_empty(target));
    std::shared_ptr<Workbook> other = result.application->addWorkbook();
    other->saveAs(target.string(), SaveFormat::Csv);
    EXPECT_EQ(result.errors().error().code, spreadsheet::ErrorCode::TargetExists);
    result.errors().clear();

    // Two blocks: the first is spooled as CSV once the second is placed below it.
    result.sheet->range("A1:B2")->setValues({{CellValue::ofText("名称"), CellValue::ofText("数量")},
                                             {CellValue::ofText("甲"), CellValue::ofNumber(3)}});
    result.sheet->holdTopRows(2);
    result.sheet->range("A1:B2")->copy();
    result.sheet->cell(3, 1)->pasteSpecial(PasteKind::All);
    result.sheet->setName("成功合并(2)");
    std::shared_ptr<Worksheet> failures =
        result.book->addWorksheet(*result.sheet, Placement::Before);
    failures->setName("失败列表");
    failures->range("A1:B1")->setValues(
        {{CellValue::ofText("失败原因"), CellValue::ofText("其它")}});
    ASSERT_FALSE(result.errors().isSet()) << result.errors().message();
    // A CSV result's rows cannot go into a workbook any more.
    result.book->saveAs((folder / "r.xlsx").string(), SaveFormat::Xlsx);
    EXPECT_TRUE(result.errors().isSet());
    EXPECT_FALSE(fs::exists(folder / "r.xlsx"));
    result.errors().clear();

    result.book->save();
    ASSERT_FALSE(result.errors().isSet()) << result.errors().message();
    EXPECT_EQ(fileText(target / "成功合并(2).csv"),
              "\xEF\xBB\xBF名称,数量\n甲,3\n名称,数量\n甲,3\n");
    EXPECT_EQ(fileText(target / "失败列表.csv"), "\xEF\xBB\xBF失败原因,其它\n");
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++entries;
    EXPECT_EQ(entries, 1u);  // the result folder alone: no temporary file or folder is left
    // A second save finds the folder filled and replaces nothing.
    result.book->save();
    EXPECT_EQ(result.errors().error().code, spreadsheet::ErrorCode::TargetExists);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace merge
