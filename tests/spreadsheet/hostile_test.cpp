// Files built to exhaust a reader: zip bombs, one long shared string repeated in every cell,
// over-long XML text and CSV fields, a sheet claiming the whole grid. Each either opens with
// what it really holds or fails with the limit that stopped it. The fixtures are made by
// tests/data/hostile/make_hostile.py.
#include <gtest/gtest.h>

#include <string>

#include "spreadsheet/model_budget.h"
#include "spreadsheet/workbook_reader.h"

namespace spreadsheet {
namespace {

const std::string HostileData = std::string(SHEETMERGE_TEST_DATA) + "/hostile/";

TEST(HostileFiles, FailWithTheLimitThatStoppedThem) {
    struct Case {
        const char* file;
        ErrorCode code;
        const char* evidence;  // a phrase of the error's detail naming the limit
    };
    const Case cases[] = {
        {"repeated_long_shared_string.xlsx", ErrorCode::SheetLimit, "memory per source limit"},
        {"zip_bomb_sheet.xlsx", ErrorCode::ZipLimit, ""},
        {"huge_shared_string.xlsx", ErrorCode::XmlLimit, "XML text length limit"},
        {"giant_field.csv", ErrorCode::CsvLimit, ""},
        {"unclosed_quote.csv", ErrorCode::RecordCorrupt, ""},  // told as a quote that never closes
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.file);
        Result<WorkbookData> book = openWorkbookFile(HostileData + row.file);
        ASSERT_FALSE(book);
        EXPECT_EQ(book.error().code, row.code) << errorText(book.error());
        EXPECT_NE(book.error().detail.find(row.evidence), std::string::npos) << book.error().detail;
    }
}

TEST(HostileFiles, ClaimedWholeGridHoldsOnlyItsCell) {
    Result<WorkbookData> book = openWorkbookFile(HostileData + "claims_whole_grid.xlsx");
    ASSERT_TRUE(book) << errorText(book.error());
    ASSERT_EQ(book->sheets.size(), 1u);
    const Sheet& sheet = book->sheets[0];
    ASSERT_EQ(sheet.rows.size(), 1u);
    ASSERT_EQ(sheet.rows[0].cells.size(), 1u);
    const Cell* cell = sheet.cell(1, 1);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->type, CellType::Number);
    EXPECT_EQ(cell->number, 7.0);
}

TEST(ModelBudget, CountsCellsAndTheirLongTexts) {
    Cell number;
    number.type = CellType::Number;
    Cell shortText;
    shortText.type = CellType::Text;
    shortText.text = "abc";
    Cell longText;
    longText.type = CellType::Text;
    longText.text = std::string(1000, 'x');

    // Room for exactly three plain cells: the fourth is over.
    ModelBudget cells(3 * sizeof(Cell));
    EXPECT_TRUE(cells.addCell(number));
    EXPECT_TRUE(cells.addCell(shortText));
    EXPECT_TRUE(cells.addCell(number));
    EXPECT_FALSE(cells.addCell(number));
    EXPECT_FALSE(cells.addCell(number)) << "once over, it stays over";

    // A long text costs its length: three plain cells' room does not hold one long-text cell.
    ModelBudget texts(3 * sizeof(Cell));
    EXPECT_FALSE(texts.addCell(longText));

    ModelBudget formulas(1500);
    EXPECT_TRUE(formulas.addText(std::string(900, 'f')));
    EXPECT_FALSE(formulas.addText(std::string(900, 'f')));
    EXPECT_EQ(formulas.error().code, ErrorCode::SheetLimit);
}

TEST(ModelBudget, DefaultBoundIsTwoGibibytes) {
    // Stated to users as the memory bound of one source.
    ModelBudget budget;
    EXPECT_TRUE(budget.addBytes(2ULL * 1024 * 1024 * 1024));
    EXPECT_FALSE(budget.addBytes(1));
    EXPECT_NE(budget.error().detail.find("2048 MiB"), std::string::npos) << budget.error().detail;
}

}  // namespace
}  // namespace spreadsheet
