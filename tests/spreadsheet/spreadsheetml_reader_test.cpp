#include "spreadsheet/spreadsheetml_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "spreadsheet/workbook_reader.h"

namespace spreadsheet {
namespace {

std::vector<std::uint8_t> fixture(const char* name) {
    std::ifstream in(std::filesystem::path(SHEETMERGE_TEST_DATA) / "xls" / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

std::string workbook(const std::string& table) {
    return "<?xml version=\"1.0\"?>\n<Workbook "
           "xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\" "
           "xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\"><Worksheet "
           "ss:Name=\"S\"><Table>" +
           table + "</Table></Worksheet></Workbook>";
}

TEST(SpreadsheetMlReader, ReadsAnExcel2003XmlBookSavedAsXls) {
    std::vector<std::uint8_t> bytes = fixture("spreadsheetml_2003.xls");
    EXPECT_TRUE(looksLikeSpreadsheetMl(bytes));
    Result<WorkbookData> data = readSpreadsheetMl(bytes);
    ASSERT_TRUE(data) << data.error().detail;
    EXPECT_EQ(data->format, FileFormat::SpreadsheetMl);
    ASSERT_EQ(data->sheets.size(), 2u);
    EXPECT_EQ(data->sheets[0].name, "说明");
    EXPECT_EQ(data->sheets[0].visibility, Visibility::Hidden);
    EXPECT_EQ(data->activeSheet, 1);
    const Sheet& sheet = data->sheets[1];
    EXPECT_EQ(sheet.name, "工资表");

    struct Expected {
        const char* cell;
        int row, column;
        CellType type;
        double number;
        const char* text;
    };
    const Expected table[] = {
        {"A1", 1, 1, CellType::Text, 0, "姓名与部门"},
        {"C1", 1, 3, CellType::Text, 0, "入职日期"},  // after the two merged columns
        {"A2", 2, 1, CellType::Text, 0, "张三"},      // the note's text is not the value
        {"C2", 2, 3, CellType::Number, 42170, ""},    // 2015-06-15
        {"D2", 2, 4, CellType::Number, 12345.5, ""},
        {"A3", 3, 1, CellType::Text, 0, "李四"},  // rich text runs joined
        {"D3", 3, 4, CellType::Number, 24691, ""},
        {"A5", 5, 1, CellType::Boolean, 1, ""},
        {"B5", 5, 2, CellType::Error, 0, "#DIV/0!"},
        {"C5", 5, 3, CellType::Text, 0, "001234"},
    };
    for (const Expected& expected : table) {
        SCOPED_TRACE(expected.cell);
        const Cell* cell = sheet.cell(expected.row, expected.column);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->type, expected.type);
        if (expected.type == CellType::Number || expected.type == CellType::Boolean) {
            EXPECT_DOUBLE_EQ(cell->number, expected.number);
        } else {
            EXPECT_EQ(cell->text, expected.text);
        }
    }
    EXPECT_TRUE(sheet.cell(3, 4)->hasFormula);

    const CellStyle& header = data->styles.at(sheet.cell(1, 1)->style);
    EXPECT_EQ(header.font.name, "黑体");
    EXPECT_EQ(header.font.size, 14.0);
    EXPECT_TRUE(header.font.bold);
    EXPECT_EQ(header.font.color, Color(0xFFFFFFFF));
    EXPECT_EQ(header.fill.pattern, "solid");
    EXPECT_EQ(header.fill.foreground, Color(0xFF000080));
    EXPECT_EQ(header.alignment.horizontal, "center");
    EXPECT_TRUE(header.alignment.wrapText);
    EXPECT_EQ(header.border.bottom.style, "medium");
    EXPECT_EQ(header.border.bottom.color, Color(0xFFFF0000));
    EXPECT_EQ(header.border.left.style, "dashed");

    const CellStyle& date = data->styles.at(sheet.cell(2, 3)->style);
    EXPECT_EQ(date.numberFormat, "yyyy\"年\"m\"月\"d\"日\"");
    EXPECT_EQ(date.font.name, "宋体");  // from its parent, Default
    const CellStyle& money = data->styles.at(sheet.cell(2, 4)->style);
    EXPECT_EQ(money.numberFormat, "#,##0.00");
    EXPECT_EQ(money.font.name, "Arial");
    EXPECT_EQ(money.font.size, 12.0);  // not given: the Default style's
    EXPECT_TRUE(money.font.italic);
    EXPECT_EQ(money.font.underline, "single");
    const CellStyle& plain = data->styles.at(sheet.cell(2, 1)->style);
    EXPECT_EQ(plain.font.name, "宋体");
    EXPECT_EQ(plain.alignment.vertical, "center");

    ASSERT_EQ(sheet.merges.size(), 1u);
    EXPECT_EQ(sheet.merges[0], (RangeRef{{1, 1}, {1, 2}}));
    ASSERT_TRUE(sheet.autoFilter);
    EXPECT_EQ(*sheet.autoFilter, (RangeRef{{1, 1}, {5, 4}}));
    ASSERT_TRUE(sheet.frozenPane);
    EXPECT_EQ(*sheet.frozenPane, (FrozenPane{1, 0}));
    ASSERT_EQ(sheet.columns.size(), 2u);
    EXPECT_EQ(sheet.columns[0].first, 1);
    EXPECT_NEAR(sheet.columns[0].width, (75.75 * 96 / 72 - 5) / 7, 1e-9);  // 101 px
    EXPECT_EQ(sheet.columns[1].first, 3);
    EXPECT_EQ(sheet.columns[1].last, 4);
    ASSERT_NE(sheet.row(1), nullptr);
    EXPECT_EQ(sheet.row(1)->height, 27.0);
}

TEST(SpreadsheetMlReader, RecognisesOnlySpreadsheetMl) {
    struct Case {
        const char* name;
        std::string text;
        bool expected;
    };
    const Case cases[] = {
        {"workbook", workbook(""), true},
        {"with BOM", "\xEF\xBB\xBF" + workbook(""), true},
        {"html table", "<html><body><table><tr><td>1</td></tr></table></body></html>", false},
        {"other xml", "<?xml version=\"1.0\"?><root/>", false},
        {"text", "a,b,c\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(looksLikeSpreadsheetMl(bytesOf(c.text)), c.expected);
    }
}

// Excel can save its 2003 XML as UTF-16, with a byte order mark either way round.
TEST(SpreadsheetMlReader, ReadsABookSavedAsUtf16) {
    const std::string utf8 =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<Workbook "
        "xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\" "
        "xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\"><Worksheet ss:Name=\"S\"><Table>"
        "<Row><Cell><Data "
        "ss:Type=\"String\">\xE5\x90\x8D</Data></Cell></Row></Table></Worksheet></Workbook>";
    for (const bool littleEndian : {true, false}) {
        SCOPED_TRACE(littleEndian ? "little-endian" : "big-endian");
        // Every character here is in the basic plane: one UTF-16 unit each.
        std::vector<std::uint8_t> bytes = littleEndian ? std::vector<std::uint8_t>{0xFF, 0xFE}
                                                       : std::vector<std::uint8_t>{0xFE, 0xFF};
        for (std::size_t k = 0; k < utf8.size();) {
            const auto lead = static_cast<unsigned char>(utf8[k]);
            std::uint16_t unit = lead;
            if (lead >= 0xE0) {
                unit = static_cast<std::uint16_t>(
                    ((lead & 0x0F) << 12) | ((utf8[k + 1] & 0x3F) << 6) | (utf8[k + 2] & 0x3F));
                k += 3;
            } else {
                ++k;
            }
            const auto low = static_cast<std::uint8_t>(unit & 0xFF),
                       high = static_cast<std::uint8_t>(unit >> 8);
            bytes.push_back(littleEndian ? low : high);
            bytes.push_back(littleEndian ? high : low);
        }
        EXPECT_TRUE(looksLikeSpreadsheetMl(bytes));
        Result<WorkbookData> data = readWorkbook(bytes, "book.xls");
        ASSERT_TRUE(data) << data.error().detail;
        ASSERT_EQ(data->format, FileFormat::SpreadsheetMl);
        const Cell* cell = data->sheets.at(0).cell(1, 1);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->text, "\xE5\x90\x8D");
    }
}

TEST(SpreadsheetMlReader, RejectsBrokenDocuments) {
    struct Case {
        const char* name;
        std::string text;
        ErrorCode code;
    };
    const Case cases[] = {
        {"not closed", workbook("<Row><Cell><Data ss:Type=\"String\">x</Data></Cell>"),
         ErrorCode::XmlMalformed},
        {"rows out of order", workbook("<Row ss:Index=\"3\"/><Row ss:Index=\"2\"/>"),
         ErrorCode::XmlMalformed},
        {"cell past the grid", workbook("<Row><Cell ss:Index=\"16385\"/></Row>"),
         ErrorCode::XmlMalformed},
        {"row past the grid", workbook("<Row ss:Index=\"1048577\"/>"), ErrorCode::XmlMalformed},
        {"another root",
         "<?xml version=\"1.0\"?><Book xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\"/>",
         ErrorCode::UnknownFormat},
        {"no worksheet",
         "<?xml version=\"1.0\"?><Workbook "
         "xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\"/>",
         ErrorCode::PartMissing},
        {"doctype",
         "<?xml version=\"1.0\"?><!DOCTYPE Workbook [<!ENTITY a \"b\">]>"
         "<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\"/>",
         ErrorCode::XmlForbidden},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result<WorkbookData> data = readSpreadsheetMl(bytesOf(c.text));
        ASSERT_FALSE(data);
        EXPECT_EQ(data.error().code, c.code) << data.error().detail;
    }
}

TEST(SpreadsheetMlReader, KeepsNumbersThatAreNotNumbersAsText) {
    Result<WorkbookData> data = readSpreadsheetMl(
        bytesOf(workbook("<Row><Cell><Data ss:Type=\"Number\">12abc</Data></Cell><Cell><Data "
                         "ss:Type=\"Number\"> -2.5e3 </Data></Cell>"
                         "<Cell><Data ss:Type=\"DateTime\">not a date</Data></Cell></Row>")));
    ASSERT_TRUE(data) << data.error().detail;
    const Sheet& sheet = data->sheets[0];
    EXPECT_EQ(sheet.cell(1, 1)->type, CellType::Text);
    EXPECT_EQ(sheet.cell(1, 1)->text, "12abc");
    EXPECT_EQ(sheet.cell(1, 2)->type, CellType::Number);
    EXPECT_EQ(sheet.cell(1, 2)->number, -2500.0);
    EXPECT_EQ(sheet.cell(1, 3)->text, "not a date");
}

TEST(SpreadsheetMlReader, TakesOnlyFiniteNumbersAsNumbers) {
    for (const char* text : {"INF", "-inf", "nan", "1e999"}) {
        SCOPED_TRACE(text);
        Result<WorkbookData> data = readSpreadsheetMl(bytesOf(workbook(
            std::string("<Row><Cell><Data ss:Type=\"Number\">") + text + "</Data></Cell></Row>")));
        ASSERT_TRUE(data) << data.error().detail;
        EXPECT_EQ(data->sheets[0].cell(1, 1)->type, CellType::Text);
        EXPECT_EQ(data->sheets[0].cell(1, 1)->text, text);
    }
}

TEST(SpreadsheetMlReader, CutsFrozenColumnsToTheGrid) {
    const std::string text =
        "<?xml version=\"1.0\"?>\n<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\" "
        "xmlns:x=\"urn:schemas-microsoft-com:office:excel\"><Worksheet><Table/><WorksheetOptions "
        "xmlns=\"urn:schemas-microsoft-com:office:excel\"><FreezePanes/>"
        "<SplitVertical>20000</SplitVertical><SplitHorizontal>2</SplitHorizontal>"
        "</WorksheetOptions></Worksheet></Workbook>";
    Result<WorkbookData> data = readSpreadsheetMl(bytesOf(text));
    ASSERT_TRUE(data) << data.error().detail;
    ASSERT_TRUE(data->sheets[0].frozenPane);
    EXPECT_EQ(*data->sheets[0].frozenPane, (FrozenPane{2, 16'383}));
}

// Worksheets and styles are bounded like those of the other formats.
TEST(SpreadsheetMlReader, RefusesMoreSheetsOrStylesThanABookMayHave) {
    struct Case {
        const char* name;
        std::string element;
        int count;
        ErrorCode code;
        const char* limit;
    };
    const Case cases[] = {
        {"sheets", "<Worksheet/>", 10'001, ErrorCode::SheetLimit, "sheet count limit"},
        {"styles", "<Styles><Style ss:ID=\"s\"/></Styles>", 1 << 18, ErrorCode::XmlLimit,
         "style table limit"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        std::string text =
            "<?xml version=\"1.0\"?>\n<Workbook "
            "xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\" "
            "xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\">";
        for (int index = 0; index < row.count; ++index) text += row.element;
        text += "<Worksheet/></Workbook>";
        Result<WorkbookData> data = readSpreadsheetMl(bytesOf(text));
        ASSERT_FALSE(data);
        EXPECT_EQ(data.error().code, row.code);
        EXPECT_NE(data.error().detail.find(row.limit), std::string::npos) << data.error().detail;
    }
}

}  // namespace
}  // namespace spreadsheet
