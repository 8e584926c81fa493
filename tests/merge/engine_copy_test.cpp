// Copying blocks with the engine's automation objects: a column window of a source placed
// beside cells already in the result, the last row and column a source holds values in, a
// block copied onto itself, and a block that cannot be read placing nothing.
#include "merge/engine_application.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "../cell_builders.h"
#include "spreadsheet/xlsx_writer.h"

namespace merge {
namespace {

using spreadsheet::testing::numberCell;
using spreadsheet::testing::styledEmptyCell;
using spreadsheet::testing::textCell;

namespace fs = std::filesystem;
using spreadsheet::Cell;
using spreadsheet::CellType;
using spreadsheet::Row;

struct SourceFile {
    fs::path folder = fs::temp_directory_path() /
                      ("sheetmerge-engine-copy-" +
                       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::path path = folder / "source.xlsx";
    SourceFile() { fs::create_directories(folder); }
    ~SourceFile() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
};

// Values in A1:E3; row 3 has a formatted empty cell in G and row 4 only formatted empty cells,
// so neither the last row nor the last column is where the cells end.
void writeSource(const fs::path& path) {
    spreadsheet::StyleRegistry styles;
    spreadsheet::CellStyle bold = spreadsheet::defaultResultStyle();
    bold.font.bold = true;
    const std::uint32_t boldId = styles.intern(bold);
    std::vector<Row> rows(4);
    rows[0].number = 1;
    rows[0].cells = {textCell(1, "h1"), textCell(2, "h2", boldId), textCell(3, "h3")};
    rows[1].number = 2;
    rows[1].cells = {numberCell(1, 1), textCell(2, "x"), styledEmptyCell(3, boldId),
                     numberCell(5, 5)};
    rows[2].number = 3;
    rows[2].cells = {textCell(1, "a"), styledEmptyCell(7, boldId)};
    rows[3].number = 4;
    rows[3].cells = {styledEmptyCell(3, boldId), styledEmptyCell(9, boldId)};
    spreadsheet::SheetToWrite sheet;
    sheet.name = "源";
    sheet.rows = &rows;
    spreadsheet::Result<void> written = spreadsheet::writeXlsx(
        path, std::span(&sheet, 1), 0, styles, spreadsheet::ExistingFile::Replace);
    ASSERT_TRUE(written) << spreadsheet::errorText(written.error());
}

std::vector<std::string> texts(const ValueBlock& block) {
    std::vector<std::string> out;
    for (const auto& row : block)
        for (const CellValue& value : row)
            out.push_back(value.type == CellType::Number
                              ? "#" + std::to_string(static_cast<int>(value.number))
                              : value.text);
    return out;
}

TEST(EngineCopy, FindsTheLastRowAndColumnHoldingValues) {
    SourceFile file;
    writeSource(file.path);
    std::unique_ptr<Application> application = makeEngineApplication();
    std::shared_ptr<Workbook> book = application->openWorkbook(file.path.string());
    ASSERT_TRUE(book) << application->errors().message();
    std::shared_ptr<Worksheet> sheet = book->activeSheet();
    std::shared_ptr<Range> byRows = sheet->findLast(SearchOrder::ByRows);
    std::shared_ptr<Range> byColumns = sheet->findLast(SearchOrder::ByColumns);
    ASSERT_TRUE(byRows && byColumns);
    EXPECT_EQ(byRows->row(), 3);
    EXPECT_EQ(byColumns->column(), 5);
}

TEST(EngineCopy, FindsNothingInASheetOfFormattedEmptyCells) {
    std::unique_ptr<Application> application = makeEngineApplication();
    std::shared_ptr<Workbook> book = application->addWorkbook();
    std::shared_ptr<Worksheet> sheet = book->activeSheet();
    sheet->range("B2:C3")->setFontBold(true);
    ASSERT_FALSE(application->errors().isSet());
    EXPECT_EQ(sheet->findLast(SearchOrder::ByRows), nullptr);
    EXPECT_EQ(sheet->findLast(SearchOrder::ByColumns), nullptr);
}

TEST(EngineCopy, PlacesAColumnWindowBesideCellsAlreadyInTheResult) {
    SourceFile file;
    writeSource(file.path);
    std::unique_ptr<Application> application = makeEngineApplication();
    std::shared_ptr<Workbook> source = application->openWorkbook(file.path.string());
    ASSERT_TRUE(source) << application->errors().message();
    std::shared_ptr<Workbook> result = application->addWorkbook();
    std::shared_ptr<Worksheet> target = result->activeSheet();
    target->range("A2:A4")->setValues(
        {{CellValue::ofText("l1")}, {CellValue::ofText("l2")}, {CellValue::ofText("l3")}});
    target->range("D3")->setValue(CellValue::ofText("old"));

    source->activeSheet()->range("B1:C3")->copyTo(*target->cell(2, 3));
    ASSERT_FALSE(application->errors().isSet()) << application->errors().message();

    const std::vector<std::string> expected = {
        "l1", "", "h2", "h3", "",  // row 2: the label stays, A1 and E2 of the source do not come
        "l2", "", "x",  "",   "",  // row 3: the formatted empty C2 replaces "old"
        "l3", "", "",   "",   "",  // row 4: B3:C3 hold nothing
    };
    EXPECT_EQ(texts(target->range("A2:E4")->values()), expected);
    ASSERT_TRUE(target->findLast(SearchOrder::ByColumns));
    EXPECT_EQ(target->findLast(SearchOrder::ByColumns)->column(), 4);
    EXPECT_EQ(target->findLast(SearchOrder::ByRows)->row(), 4);
}

TEST(EngineCopy, CopiesABlockOntoItselfShiftedDown) {
    std::unique_ptr<Application> application = makeEngineApplication();
    std::shared_ptr<Workbook> result = application->addWorkbook();
    std::shared_ptr<Worksheet> sheet = result->activeSheet();
    sheet->range("A1:B3")->setValues({{CellValue::ofText("p"), CellValue::ofText("1")},
                                      {CellValue::ofText("q"), CellValue::ofText("2")},
                                      {CellValue::ofText("r"), CellValue::ofText("3")}});
    sheet->holdTopRows(1);
    sheet->range("A1:B3")->copyTo(*sheet->cell(2, 1));
    ASSERT_FALSE(application->errors().isSet()) << application->errors().message();
    const std::vector<std::string> expected = {"p", "1", "p", "1", "q", "2", "r", "3"};
    EXPECT_EQ(texts(sheet->range("A1:B4")->values()), expected);
}

TEST(EngineCopy, BlockWithRowsAlreadyWrittenOutPlacesNothing) {
    std::unique_ptr<Application> application = makeEngineApplication();
    std::shared_ptr<Workbook> result = application->addWorkbook();
    std::shared_ptr<Worksheet> first = result->activeSheet();
    first->range("A1:A3")->setValues(
        {{CellValue::ofText("h")}, {CellValue::ofText("d1")}, {CellValue::ofText("d2")}});
    first->holdTopRows(1);
    // A block at row 4 sends rows 1-3 to the spool; only row 1 stays readable.
    first->range("A1")->copyTo(*first->cell(4, 1));
    ASSERT_FALSE(application->errors().isSet()) << application->errors().message();
    std::shared_ptr<Worksheet> second = result->addWorksheet(*first, Placement::After);

    first->range("A1:A3")->copyTo(*second->cell(1, 1));
    EXPECT_TRUE(application->errors().isSet());
    application->errors().clear();
    // Not even the readable first row was placed.
    EXPECT_EQ(second->findLast(SearchOrder::ByRows), nullptr);
    application->errors().clear();
    first->range("A1:A1")->copyTo(*second->cell(1, 1));
    EXPECT_FALSE(application->errors().isSet());
    EXPECT_EQ(second->range("A1")->value().text, "h");
}

}  // namespace
}  // namespace merge
