#include "spreadsheet/csv_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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
        {"1,234", CellType::Number, 1234},
        {"12%", CellType::Number, 0.12},
        {" 12", CellType::Text, 0},
        {"12 ", CellType::Text, 0},
        {"1e", CellType::Text, 0},
        {"e5", CellType::Text, 0},
        {"--1", CellType::Text, 0},
        {"1e999", CellType::Text, 0},
        {"0x1A", CellType::Text, 0},
        {"inf", CellType::Text, 0},
        {"nan", CellType::Text, 0},
        {"2024-01-05", CellType::Number, 45296},
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

// Dates, times, percentages and numbers with thousands separators as a zh-CN spreadsheet
// program reads them: the value, and a number format that shows it as it was written.
TEST(CsvReader, ReadsDatesTimesPercentagesAndSeparatedNumbersWithTheirFormats) {
    struct Case {
        const char* field;
        CellType type;
        double number;
        const char* format;  // of a Number; "General" for a plain one
    };
    const Case cases[] = {
        {"2026-01-05", CellType::Number, 46027, "yyyy-mm-dd"},
        {"2026-1-5", CellType::Number, 46027, "yyyy-mm-dd"},
        {"2026/1/5", CellType::Number, 46027, "yyyy/m/d"},
        {"2026/01/05", CellType::Number, 46027, "yyyy/m/d"},
        {"2026年1月5日", CellType::Number, 46027, "yyyy\"年\"m\"月\"d\"日\""},
        {"2026-01-05 09:30", CellType::Number, 46027.395833333336, "yyyy-mm-dd hh:mm:ss"},
        {"2026-01-05 23:59:59", CellType::Number, 46027.99998842592, "yyyy-mm-dd hh:mm:ss"},
        {"2026/1/5 9:30", CellType::Number, 46027.395833333336, "yyyy/m/d h:mm"},
        {"2026/1/5 9:30:15", CellType::Number, 46027.39600694445, "yyyy/m/d h:mm:ss"},
        {"2026年1月5日 9:30", CellType::Number, 46027.395833333336,
         "yyyy\"年\"m\"月\"d\"日\" h:mm"},
        {"2024-02-29", CellType::Number, 45351, "yyyy-mm-dd"},
        {"2000-02-29", CellType::Number, 36585, "yyyy-mm-dd"},
        {"1900-03-01", CellType::Number, 61, "yyyy-mm-dd"},
        {"1900-01-01", CellType::Number, 1, "yyyy-mm-dd"},
        {"9999-12-31", CellType::Number, 2958465, "yyyy-mm-dd"},
        {"9:30", CellType::Number, 0.3958333333333333, "h:mm"},
        {"09:30:15", CellType::Number, 0.39600694444444445, "h:mm:ss"},
        {"0:00", CellType::Number, 0, "h:mm"},
        {"12.5%", CellType::Number, 0.125, "0.0%"},
        {"12%", CellType::Number, 0.12, "0%"},
        {"-3.25%", CellType::Number, -0.0325, "0.00%"},
        {"1.1%", CellType::Number, 0.011, "0.0%"},
        {"100%", CellType::Number, 1, "0%"},
        {"1,234", CellType::Number, 1234, "#,##0"},
        {"1,234.5", CellType::Number, 1234.5, "#,##0.0"},
        {"1,234.50", CellType::Number, 1234.5, "#,##0.00"},
        {"-1,234,567.891", CellType::Number, -1234567.891, "#,##0.000"},
        {"+12,345", CellType::Number, 12345, "#,##0"},
        {"12.5", CellType::Number, 12.5, "General"},
        // Impossible or foreign forms stay text, as do IDs.
        {"2026-02-30", CellType::Text, 0, nullptr},
        {"2026-13-01", CellType::Text, 0, nullptr},
        {"2025-02-29", CellType::Text, 0, nullptr},
        {"1900-02-29", CellType::Text, 0, nullptr},
        {"1899-12-31", CellType::Text, 0, nullptr},
        {"2026-00-10", CellType::Text, 0, nullptr},
        {"2026-01-05T09:30", CellType::Text, 0, nullptr},
        {"2026-01-05 24:00", CellType::Text, 0, nullptr},
        {"2026-01-05  9:30", CellType::Text, 0, nullptr},
        {"2026-001-05", CellType::Text, 0, nullptr},
        {"20260-01-05", CellType::Text, 0, nullptr},
        {"2026.01.05", CellType::Text, 0, nullptr},
        {"2026年1月5", CellType::Text, 0, nullptr},
        {"24:00", CellType::Text, 0, nullptr},
        {"9:60", CellType::Text, 0, nullptr},
        {"9:5", CellType::Text, 0, nullptr},
        {"9:30:15.5", CellType::Text, 0, nullptr},
        {"12 %", CellType::Text, 0, nullptr},
        {"007%", CellType::Text, 0, nullptr},
        {"1e2%", CellType::Text, 0, nullptr},
        {"%", CellType::Text, 0, nullptr},
        {"1,23", CellType::Text, 0, nullptr},
        {"1,2345", CellType::Text, 0, nullptr},
        {"0,123", CellType::Text, 0, nullptr},
        {",123", CellType::Text, 0, nullptr},
        {"1234,567", CellType::Text, 0, nullptr},
        {"1,234,", CellType::Text, 0, nullptr},
        {"1,234.5.6", CellType::Text, 0, nullptr},
        {"1,234,567,890,123,456", CellType::Text, 0, nullptr},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.field);
        const WorkbookData book = readText("\"" + std::string(row.field) + "\"\n");
        const Cell* cell = cellAt(book, "A1");
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->type, row.type);
        if (row.type == CellType::Text) {
            EXPECT_EQ(cell->text, row.field);
            EXPECT_EQ(book.styles.at(cell->style).numberFormat, "General");
            continue;
        }
        EXPECT_NEAR(cell->number, row.number, 1e-9 * std::max(1.0, std::abs(row.number)));
        EXPECT_EQ(book.styles.at(cell->style).numberFormat, row.format);
    }
}

// A value's format is one style of the book, shared by every cell that shows the same form.
TEST(CsvReader, SharesOneStylePerNumberFormat) {
    const WorkbookData book =
        readText("2026-01-05,12%,1\n2026-01-06,13%,2\n2026/1/7,\"1,000\",x\n");
    EXPECT_EQ(cellAt(book, "A1")->style, cellAt(book, "A2")->style);
    EXPECT_EQ(cellAt(book, "B1")->style, cellAt(book, "B2")->style);
    EXPECT_NE(cellAt(book, "A1")->style, cellAt(book, "A3")->style);
    EXPECT_EQ(cellAt(book, "C1")->style, 0u);
    EXPECT_EQ(cellAt(book, "C3")->style, 0u);
    EXPECT_EQ(book.styles.size(), 5u);  // General, two date forms, a percentage, a separated number
}

TEST(CsvReader, ChoosesTheSeparatorFromTheFirstLine) {
    struct Case {
        const char* name;
        const char* text;
        const char* b2;  // the text of B2 when the separator was found
    };
    const Case cases[] = {
        {"comma", "a,b\nx,y\n", "y"},
        {"semicolon", "a;b\nx;y\n", "y"},
        {"tab", "a\tb\nx\ty\n", "y"},
        {"vertical bar", "a|b\nx|y\n", "y"},
        {"bar beats a lone semicolon", "a|b|c;d\nx|y|z\n", "y"},
        {"semicolon wins a tie with bar", "a;b|c\nx;y|z\n", "y|z"},
        {"a comma decides even beside bars", "a|b,c\nx|y,z\n", "z"},
        {"quoted bars do not count", "\"a|b\",c\nx,y\n", "y"},
        {"sep= names it", "sep=|\na|b\nx|y\n", "y"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        const WorkbookData book = readText(row.text);
        const Cell* cell = cellAt(book, "B2");
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->text, row.b2);
    }
}

TEST(CsvReader, ReadsEveryByteInAnEncodingGivenByName) {
    // "中文" in GBK; read as Big5 it is other characters, but read it is.
    Result<WorkbookData> gbk = readCsv(bytesOf("\xD6\xD0\xCE\xC4,1\n"), "data", "gbk");
    ASSERT_TRUE(gbk) << errorText(gbk.error());
    EXPECT_EQ(gbk->textEncoding, "GBK");
    EXPECT_EQ(cellAt(*gbk, "A1")->text, "中文");
    // A byte the named encoding lacks becomes U+FFFD instead of failing the file.
    Result<WorkbookData> broken = readCsv(bytesOf("a\xFF"
                                                  "b\n"),
                                          "data", "GBK");
    ASSERT_TRUE(broken);
    EXPECT_EQ(cellAt(*broken, "A1")->text,
              "a\xEF\xBF\xBD"
              "b");
    // The encoding's own byte-order mark is no part of the first field.
    Result<WorkbookData> marked = readCsv(bytesOf("\xEF\xBB\xBFid,1\n"), "data", "utf-8");
    ASSERT_TRUE(marked);
    EXPECT_EQ(cellAt(*marked, "A1")->text, "id");
    Result<WorkbookData> unknown = readCsv(bytesOf("a\n"), "data", "no-such-encoding");
    ASSERT_FALSE(unknown);
    EXPECT_EQ(unknown.error().code, ErrorCode::TextEncoding);
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

// A spreadsheet program opens every CSV; bytes that fit no encoding show as Windows-1252.
TEST(CsvReader, ReadsBytesNoEncodingAcceptsAsWindows1252) {
    Result<WorkbookData> book = readCsv(bytesOf("a,b\n\xFF\xFF\x81\n"), "data");
    ASSERT_TRUE(book) << errorText(book.error());
    EXPECT_EQ(book->textEncoding, "WINDOWS-1252");
    ASSERT_NE(cellAt(*book, "A2"), nullptr);
    EXPECT_EQ(cellAt(*book, "A2")->text, "\xC3\xBF\xC3\xBF\xC2\x81");
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
        {"D2", CellType::Number, "", 45296},     {"E2", CellType::Boolean, "", 1},
        {"A3", CellType::Number, "", 2},         {"B3", CellType::Text, "梨, 大", 0},
        {"C3", CellType::Number, "", -3},        {"D3", CellType::Number, "", 45297},
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
        // The dates keep the form they were written in.
        EXPECT_EQ(book->styles.at(cellAt(*book, "D2")->style).numberFormat, "yyyy-mm-dd");
        EXPECT_EQ(book->styles.at(cellAt(*book, "D3")->style).numberFormat, "yyyy/m/d");
    }
}

}  // namespace
}  // namespace spreadsheet
