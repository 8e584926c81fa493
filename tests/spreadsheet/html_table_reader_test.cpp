#include "spreadsheet/html_table_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace spreadsheet {
namespace {

std::vector<std::uint8_t> fixture(const char* name) {
    std::ifstream in(std::filesystem::path(SHEETMERGE_TEST_DATA) / "xls" / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(HtmlTableReader, ReadsAGb2312ExportSavedAsXls) {
    std::vector<std::uint8_t> bytes = fixture("html_table_gb2312.xls");
    ASSERT_FALSE(bytes.empty());
    EXPECT_TRUE(looksLikeHtmlTable(bytes));
    Result<WorkbookData> data = readHtmlTable(bytes, "销售");
    ASSERT_TRUE(data) << data.error().detail;
    EXPECT_EQ(data->format, FileFormat::Html);
    ASSERT_EQ(data->sheets.size(), 1u);
    const Sheet& sheet = data->sheets[0];
    EXPECT_EQ(sheet.name, "销售");

    struct Expected {
        const char* cell;
        int row, column;
        CellType type;
        double number;
        const char* text;
    };
    const Expected table[] = {
        {"A1", 1, 1, CellType::Text, 0, "客户"},
        {"C1", 1, 3, CellType::Text, 0, "金额"},
        {"D1", 1, 4, CellType::Text, 0, "备注"},
        {"A2", 2, 1, CellType::Text, 0, "编号"},
        {"B2", 2, 2, CellType::Text, 0, "名称"},
        {"A3", 3, 1, CellType::Text, 0, "00123"},  // marked as text
        {"B3", 3, 2, CellType::Text, 0, "北京&上海\n分公司"},
        {"C3", 3, 3, CellType::Number, 1234.5, ""},
        {"D3", 3, 4, CellType::Number, -7, ""},
        {"A4", 4, 1, CellType::Text, 0, "0456"},  // a leading zero keeps it text
        {"B4", 4, 2, CellType::Text, 0, "多个 空格"},
        {"C4", 4, 3, CellType::Text, 0, "12345678901234567"},  // more than 15 digits
        {"D4", 4, 4, CellType::Text, 0, "中文"},
    };
    for (const Expected& expected : table) {
        SCOPED_TRACE(expected.cell);
        const Cell* cell = sheet.cell(expected.row, expected.column);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->type, expected.type);
        if (expected.type == CellType::Number) {
            EXPECT_EQ(cell->number, expected.number);
        } else {
            EXPECT_EQ(cell->text, expected.text);
        }
    }
    // D2 holds only &nbsp;; the script's table and the commented-out row are not data.
    EXPECT_EQ(sheet.cell(2, 3), nullptr);
    EXPECT_EQ(sheet.rows.size(), 4u);
    EXPECT_TRUE(data->styles.at(sheet.cell(1, 1)->style).font.bold);
    ASSERT_EQ(sheet.merges.size(), 2u);
    EXPECT_EQ(sheet.merges[0], (RangeRef{{1, 1}, {1, 2}}));
    EXPECT_EQ(sheet.merges[1], (RangeRef{{1, 3}, {2, 3}}));
}

TEST(HtmlTableReader, RecognisesTablesOnly) {
    struct Case {
        const char* name;
        std::string text;
        bool expected;
    };
    const Case cases[] = {
        {"table", "<table><tr><td>1</td></tr></table>", true},
        {"page", "\xEF\xBB\xBF  <!DOCTYPE html><HTML><BODY><TABLE><TR><TD>1</TD></TR></TABLE>",
         true},
        {"page without table", "<html><body><p>hello</p></body></html>", false},
        {"csv", "a,b\n1,2\n", false},
        {"spreadsheetml",
         "<?xml version=\"1.0\"?><Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\">"
         "<Worksheet><Table></Table></Worksheet></Workbook>",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(looksLikeHtmlTable(bytesOf(c.text)), c.expected);
    }
}

TEST(HtmlTableReader, KeepsHugeSpansAsRectangles) {
    // Spans are clamped to the HTML limits and never expanded into cells.
    Result<WorkbookData> data =
        readHtmlTable(bytesOf("<table><tr><td colspan=99999 "
                              "rowspan=99999>x</td><td>y</td></tr><tr><td>z</td></tr></table>"),
                      "S");
    ASSERT_TRUE(data) << data.error().detail;
    const Sheet& sheet = data->sheets[0];
    ASSERT_EQ(sheet.merges.size(), 1u);
    EXPECT_EQ(sheet.merges[0], (RangeRef{{1, 1}, {65534, 1000}}));
    EXPECT_EQ(sheet.cell(1, 1001)->text, "y");
    EXPECT_EQ(sheet.cell(2, 1001)->text, "z");  // row 2 starts right of the span
}

TEST(HtmlTableReader, FailsWithoutATable) {
    Result<WorkbookData> data = readHtmlTable(bytesOf("<html><body>nothing</body></html>"), "S");
    ASSERT_FALSE(data);
    EXPECT_EQ(data.error().code, ErrorCode::UnknownFormat);
}

// A colspan reaching under a rowspan from above would make two merges share a cell, which a
// spreadsheet program refuses: the earlier one stays.
TEST(HtmlTableReader, DropsASpanOverlappingAnEarlierOne) {
    Result<WorkbookData> data =
        readHtmlTable(bytesOf("<table><tr><td>x</td><td rowspan=2>y</td></tr>"
                              "<tr><td colspan=3>z</td></tr></table>"),
                      "S");
    ASSERT_TRUE(data) << data.error().detail;
    const Sheet& sheet = data->sheets[0];
    EXPECT_EQ(sheet.merges, (std::vector<RangeRef>{RangeRef{{1, 2}, {2, 2}}}));
    EXPECT_EQ(sheet.cell(2, 1)->text, "z");
}

}  // namespace
}  // namespace spreadsheet
