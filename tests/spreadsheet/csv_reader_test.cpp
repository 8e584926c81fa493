#include "spreadsheet/csv_reader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "spreadsheet/cell_ref.h"

namespace spreadsheet {
namespace {

std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

WorkbookData readText(std::string_view text) {
    Result<WorkbookData> book = readCsv(bytesOf(text), "data");
    EXPECT_TRUE(book) << (book ? "" : errorText(book.error()));
    if (!book) return {};
    return std::move(book).value();
}

const Cell* cellAt(const WorkbookData& book, const char* reference) {
    Result<RangeRef> range = parseRange(reference);
    if (!range || book.sheets.empty()) return nullptr;
    return book.sheets[0].cell(range->first.row, range->first.column);
}

std::size_t cellCount(const WorkbookData& book) {
    std::size_t count = 0;
    for (const Row& row : book.sheets.at(0).rows) count += row.cells.size();
    return count;
}

TEST(CsvReader, ConvertsPlainNumbersAndBooleansAndKeepsIdsAsText) {
    struct Case {
        const char* field;
        CellType type;
        double number;
    };
    const Case cases[] = {
        {"12", CellType::Number, 12},
        {"-3.5", CellType::Number, -3.5},
        {"+4", CellType::Number, 4},
        {"1e3", CellType::Number, 1000},
        {"1.5E-2", CellType::Number, 0.015},
        {".5", CellType::Number, 0.5},
        {"5.", CellType::Number, 5},
        {"0", CellType::Number, 0},
        {"0.5", CellType::Number, 0.5},
        {"-0.25", CellType::Number, -0.25},
        {"123456789012345", CellType::Number, 123456789012345.0},
        {"0.000000000000001", CellType::Number, 1e-15},
        {"007", CellType::Text, 0},
        {"-007", CellType::Text, 0},
        {"00.5", CellType::Text, 0},
        {"1234567890123456", CellType::Text, 0},
        {"110101199003077777", CellType::Text, 0},
        {"1234567890.123456", CellType::Text, 0},
        {"1,234", CellType::Text, 0},
        {"12%", CellType::Text, 0},
        {" 12", CellType::Text, 0},
        {"12 ", CellType::Text, 0},
        {"1e", CellType::Text, 0},
        {"e5", CellType::Text, 0},
        {"--1", CellType::Text, 0},
        {"1e999", CellType::Text, 0},
        {"0x1A", CellType::Text, 0},
        {"inf", CellType::Text, 0},
        {"nan", CellType::Text, 0},
        {"2024-01-05", CellType::Text, 0},
        {"TRUE", CellType::Boolean, 1},
        {"false", CellType::Boolean, 0},
        {"True", CellType::Boolean, 1},
        {"TRUEX", CellType::Text, 0},
        {"=SUM(A1:A2)", CellType::Text, 0},
        {"#N/A", CellType::Text, 0},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.field);
        // Quoted, so that "1,234" stays one field; quotes do not change the conversion.
        const WorkbookData book = readText("\"" + std::string(row.field) + "\"\n");
        const Cell* cell = cellAt(book, "A1");
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->type, row.type);
        if (row.type == CellType::Text) {
            EXPECT_EQ(cell->text, row.field);
        } else {
            EXPECT_DOUBLE_EQ(cell->number, row.number);
        }
        EXPECT_FALSE(cell->hasFormula);
    }
}

TEST(CsvReader, QuotedFieldsKeepSeparatorsQuotesAndLineBreaks) {
    const WorkbookData book =
        readText("\"a,b\",\"say \"\"hi\"\"\",\"line1\r\nline2\rline3\nline4\",\"12\"\nnext\n");
    ASSERT_NE(cellAt(book, "C1"), nullptr);
    EXPECT_EQ(cellAt(book, "A1")->text, "a,b");
    EXPECT_EQ(cellAt(book, "B1")->text, "say \"hi\"");
    EXPECT_EQ(cellAt(book, "C1")->text, "line1\nline2\nline3\nline4");
    // Quotes protect separators, they do not make a number text.
    ASSERT_EQ(cellAt(book, "D1")->type, CellType::Number);
    EXPECT_EQ(cellAt(book, "D1")->number, 12);
    ASSERT_NE(cellAt(book, "A2"), nullptr);
    EXPECT_EQ(cellAt(book, "A2")->text, "next");
}

TEST(CsvReader, KeepsTextAfterAClosingQuoteAndQuotesInsideUnquotedFields) {
    const WorkbookData book = readText("\"ab\"cd,5\" screen,x\"y\"\n");
    EXPECT_EQ(cellAt(book, "A1")->text, "abcd");
    EXPECT_EQ(cellAt(book, "B1")->text, "5\" screen");
    EXPECT_EQ(cellAt(book, "C1")->text, "x\"y\"");
}

TEST(CsvReader, EndsRecordsAtCrlfLfAndLoneCr) {
    const WorkbookData book = readText("a\r\nb\nc\rd");
    for (const char* reference : {"A1", "A2", "A3", "A4"}) {
        SCOPED_TRACE(reference);
        EXPECT_NE(cellAt(book, reference), nullptr);
    }
    EXPECT_EQ(cellAt(book, "A4")->text, "d");
    EXPECT_EQ(cellCount(book), 4u);
}

TEST(CsvReader, RaggedRowsAndEmptyFieldsLeaveNoCells) {
    const WorkbookData book = readText("a,,c\n\n,,,,x\n,,\n\"\",y\n");
    const Sheet& sheet = book.sheets.at(0);
    EXPECT_EQ(cellCount(book), 4u);
    EXPECT_EQ(sheet.cell(1, 2), nullptr);
    EXPECT_EQ(sheet.cell(2, 1), nullptr);
    ASSERT_NE(sheet.cell(3, 5), nullptr);
    EXPECT_EQ(sheet.cell(3, 5)->text, "x");
    EXPECT_EQ(sheet.row(4), nullptr);
    EXPECT_EQ(sheet.cell(5, 1), nullptr);
    ASSERT_NE(sheet.cell(5, 2), nullptr);
    for (const Row& row : sheet.rows) EXPECT_FALSE(row.cells.empty()) << "row " << row.number;
}

TEST(CsvReader, UsesSemicolonOrTabOnlyWhenTheFirstLineHasNoComma) {
    struct Case {
        const char* name;
        const char* text;
        const char* lastCellOfFirstRow;
        const char* value;
    };
    const Case cases[] = {
        {"comma", "a,b;c\n", "B1", "b;c"},
        {"semicolon", "a;b;c\n1,5;2\n", "C1", "c"},
        {"semicolon keeps decimal commas as text", "a;b\n-10,7;2\n", "B1", "b"},
        {"tab", "a\tb\n", "B1", "b"},
        {"comma wins over semicolons", "a;b,c;d\n", "B1", "c;d"},
        {"comma inside quotes does not count", "\"x,y\";z\n", "B1", "z"},
        {"single column", "alone\n", "A1", "alone"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        const WorkbookData book = readText(row.text);
        const Cell* cell = cellAt(book, row.lastCellOfFirstRow);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->text, row.value);
        EXPECT_EQ(book.sheets.at(0).rows.at(0).cells.back().column, cell->column);
    }
    const WorkbookData european = readText("a;b\n-10,7;2\n");
    EXPECT_EQ(cellAt(european, "A2")->text, "-10,7");
}

TEST(CsvReader, SepLineChoosesTheSeparatorAndIsNoRow) {
    const WorkbookData book = readText("sep=;\r\na,b;c\n");
    ASSERT_NE(cellAt(book, "B1"), nullptr);
    EXPECT_EQ(cellAt(book, "A1")->text, "a,b");
    EXPECT_EQ(cellAt(book, "B1")->text, "c");
    const WorkbookData pipe = readText("SEP=|\nx|y");
    ASSERT_NE(cellAt(pipe, "B1"), nullptr);
    EXPECT_EQ(cellAt(pipe, "B1")->text, "y");
    // Only a line holding exactly "sep=" and one character names a separator.
    const WorkbookData notSep = readText("sep=ab,c\n");
    EXPECT_EQ(cellAt(notSep, "A1")->text, "sep=ab");
}

TEST(CsvReader, MakesOneWorksheetNamedAsGiven) {
    Result<WorkbookData> book = readCsv(bytesOf("1"), "月报 2024");
    ASSERT_TRUE(book);
    ASSERT_EQ(book->sheets.size(), 1u);
    EXPECT_EQ(book->sheets[0].name, "月报 2024");
    EXPECT_EQ(book->sheets[0].kind, SheetKind::Worksheet);
    EXPECT_EQ(book->activeSheet, 0);
    EXPECT_EQ(book->format, FileFormat::Csv);
    EXPECT_EQ(book->grid.rows, XlsxMaxRows);
}

TEST(CsvReader, EmptyTextGivesAnEmptySheet) {
    for (const char* text : {"", "\xEF\xBB\xBF", "\n\n", ",,\n"}) {
        SCOPED_TRACE(text);
        const WorkbookData book = readText(text);
        ASSERT_EQ(book.sheets.size(), 1u);
        EXPECT_TRUE(book.sheets[0].rows.empty());
    }
}

TEST(CsvReader, AcceptsAFieldOfExactly32767CharactersCountingUtf16Units) {
    const std::string ascii(32'767, 'x');
    EXPECT_EQ(cellAt(readText(ascii), "A1")->text.size(), 32'767u);
    std::string cjk;
    for (int index = 0; index < 32'767; ++index) cjk += "\xE4\xB8\xAD";
    EXPECT_NE(cellAt(readText("\"" + cjk + "\""), "A1"), nullptr);
}

TEST(CsvReader, RefusesAFieldOver32767CharactersNamingItsRow) {
    struct Case {
        const char* name;
        std::string text;
    };
    std::string emoji;
    for (int index = 0; index < 16'384; ++index)
        emoji += "\xF0\x9F\x98\x80";  // 32,768 UTF-16 units
    const Case cases[] = {
        {"plain", "a\nb\n" + std::string(32'768, 'x') + "\n"},
        {"quoted", "a\nb\n\"" + std::string(32'768, 'x') + "\"\n"},
        {"surrogate pairs", "a\nb\n" + emoji + "\n"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        Result<WorkbookData> book = readCsv(bytesOf(row.text), "data");
        ASSERT_FALSE(book);
        EXPECT_EQ(book.error().code, ErrorCode::CsvLimit);
        EXPECT_NE(book.error().detail.find("第 3 行"), std::string::npos) << book.error().detail;
        EXPECT_NE(book.error().detail.find("32767"), std::string::npos) << book.error().detail;
    }
}

TEST(CsvReader, UnterminatedQuoteFailsInsteadOfSwallowingTheRestOfTheFile) {
    Result<WorkbookData> book = readCsv(bytesOf("a,b\n1,\"open\n2,3\n4,5\n"), "data");
    ASSERT_FALSE(book);
    EXPECT_EQ(book.error().code, ErrorCode::RecordCorrupt);
    EXPECT_NE(book.error().detail.find("第 2 行"), std::string::npos) << book.error().detail;
}

TEST(CsvReader, RefusesMoreColumnsOrRowsThanASheetHas) {
    const std::string columns = std::string(16'383, ',') + "x\n";
    ASSERT_NE(cellAt(readText(columns), "XFD1"), nullptr);
    Result<WorkbookData> wide = readCsv(bytesOf(std::string(16'384, ',') + "x\n"), "data");
    ASSERT_FALSE(wide);
    EXPECT_EQ(wide.error().code, ErrorCode::CsvLimit);

    // Blank lines count as rows, so the last row of the grid is reached cheaply.
    const std::string lastRow = std::string(1'048'575, '\n') + "1\n";
    Result<WorkbookData> full = readCsv(bytesOf(lastRow), "data");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->sheets[0].rows.back().number, 1'048'576);
    Result<WorkbookData> over = readCsv(bytesOf("\n" + lastRow), "data");
    ASSERT_FALSE(over);
    EXPECT_EQ(over.error().code, ErrorCode::CsvLimit);
    EXPECT_NE(over.error().detail.find("1048576"), std::string::npos);
}

TEST(CsvReader, FailsOnBytesNoEncodingAccepts) {
    Result<WorkbookData> book = readCsv(bytesOf("a,b\n\xFF\xFF\n"), "data");
    ASSERT_FALSE(book);
    EXPECT_EQ(book.error().code, ErrorCode::TextEncoding);
}

// The same grid saved in every encoding and line-end style a user's CSV comes in must read
// to the same cells.
TEST(CsvReader, ReadsTheSameGridFromEveryEncoding) {
    const char* files[] = {"grid_utf8.csv",         "grid_utf8_bom.csv", "grid_utf16le_bom.csv",
                           "grid_utf16be_bom.csv",  "grid_gbk.csv",      "grid_crlf.csv",
                           "grid_sep_semicolon.csv"};
    struct Expected {
        const char* reference;
        CellType type;
        const char* text;
        double number;
    };
    const Expected expected[] = {
        {"A1", CellType::Text, "编号", 0},       {"B1", CellType::Text, "名称", 0},
        {"C1", CellType::Text, "金额", 0},       {"D1", CellType::Text, "日期", 0},
        {"E1", CellType::Text, "有效", 0},       {"A2", CellType::Text, "007", 0},
        {"B2", CellType::Text, "苹果", 0},       {"C2", CellType::Number, "", 12.5},
        {"D2", CellType::Text, "2024-01-05", 0}, {"E2", CellType::Boolean, "", 1},
        {"A3", CellType::Number, "", 2},         {"B3", CellType::Text, "梨, 大", 0},
        {"C3", CellType::Number, "", -3},        {"D3", CellType::Text, "2024/1/6", 0},
        {"E3", CellType::Boolean, "", 0},        {"A4", CellType::Number, "", 3},
        {"B4", CellType::Text, "多行\n文本", 0}, {"C4", CellType::Number, "", 1000},
        {"E4", CellType::Boolean, "", 1},
    };
    for (const char* file : files) {
        SCOPED_TRACE(file);
        std::ifstream stream(std::string(SHEETMERGE_TEST_DATA) + "/csv/" + file, std::ios::binary);
        ASSERT_TRUE(stream);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(stream), {}};
        Result<WorkbookData> book = readCsv(bytes, "grid");
        ASSERT_TRUE(book) << errorText(book.error());
        EXPECT_EQ(cellCount(*book), std::size(expected));
        for (const Expected& cell : expected) {
            SCOPED_TRACE(cell.reference);
            const Cell* found = cellAt(*book, cell.reference);
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(found->type, cell.type);
            if (cell.type == CellType::Text) {
                EXPECT_EQ(found->text, cell.text);
            } else {
                EXPECT_EQ(found->number, cell.number);
            }
        }
    }
}

}  // namespace
}  // namespace spreadsheet
