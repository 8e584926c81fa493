#include "spreadsheet/xlsx_writer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <fstream>
#include <limits>
#include <regex>

#include "../cell_builders.h"
#include "../support/package_check.h"
#include "spreadsheet/detail/xlsx_text.h"
#include "writer_test_support.h"

namespace spreadsheet {
namespace {

using spreadsheet::testing::numberCell;
using spreadsheet::testing::textCell;

namespace fs = std::filesystem;
using testing::readZip;
using testing::ZipView;

Row makeRow(int number, std::vector<Cell> cells) {
    Row row;
    row.number = number;
    row.cells = std::move(cells);
    return row;
}

ZipView writeAndRead(std::span<const SheetToWrite> sheets, int active,
                     const StyleRegistry& styles) {
    Result<std::vector<std::uint8_t>> bytes = writeXlsxToMemory(sheets, active, styles);
    EXPECT_TRUE(bytes) << (bytes ? "" : bytes.error().detail);
    if (!bytes) return {};
    EXPECT_TRUE(testing::soundPackage(*bytes));
    std::string problem;
    std::optional<ZipView> view = readZip(*bytes, problem);
    EXPECT_TRUE(view) << problem;
    return view.value_or(ZipView{});
}

std::string part(const ZipView& view, const std::string& name) {
    const testing::ZipEntryView* entry = view.find(name);
    EXPECT_NE(entry, nullptr) << name;
    return entry != nullptr ? entry->content : std::string();
}

std::size_t countOf(const std::string& text, const std::string& needle) {
    std::size_t count = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + 1))
        ++count;
    return count;
}

fs::path freshFolder(const std::string& name) {
    const fs::path folder = fs::temp_directory_path() /
                            ("sheetmerge-writer-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

std::size_t fileCount(const fs::path& folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// ---- text pieces

TEST(XlsxText, EscapesCellText) {
    struct Case {
        std::string input;
        std::string expected;
        bool preserve;
    };
    const Case cases[] = {
        {"plain", "plain", false},
        {"a&b<c>d\"e'", "a&amp;b&lt;c&gt;d\"e'", false},
        {"line1\nline2", "line1\nline2", true},
        {"cr\r\nlf", "cr_x000D_\nlf", true},
        {std::string("nul\0x", 5), "nul_x0000_x", false},
        {"\x01\x1F", "_x0001__x001F_", false},
        {"tab\there", "tab\there", true},
        {" lead", " lead", true},
        {"trail ", "trail ", true},
        {"_x0041_", "_x005F_x0041_", false},
        {"_x00zz_ and _x12", "_x00zz_ and _x12", false},
        {"a_b_c", "a_b_c", false},
        {"中文，全角", "中文，全角", false},
        {"\xEF\xBF\xBE", "_xFFFE_", false},
        {"\xED\xA0\x80", "_xD800_", false},
        {"bad\xC3(", "bad\xEF\xBF\xBD(", false},
        {"\xE4\xB8", "\xEF\xBF\xBD\xEF\xBF\xBD", false},
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", false},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.input);
        std::string out;
        const bool preserve = detail::appendCellText(out, row.input);
        EXPECT_EQ(out, row.expected);
        EXPECT_EQ(preserve, row.preserve);
    }
}

TEST(XlsxText, CutsTextAtTheCellLimitWithoutSplittingCharacters) {
    struct Case {
        std::string name;
        std::string input;
        std::size_t expectedBytes;
    };
    const std::string smiley = "\xF0\x9F\x98\x80";  // two UTF-16 units
    const Case cases[] = {
        {"ascii at the limit", std::string(32'767, 'a'), 32'767},
        {"ascii over the limit", std::string(40'000, 'a'), 32'767},
        {"cjk over the limit",
         [] {
             std::string s;
             for (int i = 0; i < 33'000; ++i) s += "中";
             return s;
         }(),
         32'767 * 3},
        {"pair across the limit", std::string(32'766, 'a') + smiley, 32'766},
        {"pair before the limit", std::string(32'765, 'a') + smiley + "b", 32'765 + 4},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        std::string out;
        (void)detail::appendCellText(out, row.input);
        EXPECT_EQ(out.size(), row.expectedBytes);
    }
}

TEST(XlsxText, WritesNumbersInShortestRoundTripForm) {
    struct Case {
        double value;
        const char* expected;
    };
    const Case cases[] = {
        {0.0, "0"},
        {-0.0, "0"},
        {1.0, "1"},
        {0.1, "0.1"},
        {-2.5, "-2.5"},
        {42'170.5, "42170.5"},
        {1e21, "1e+21"},
        {123456789012345.0, "123456789012345"},
        {1.0 / 3.0, "0.3333333333333333"},
        {5e-324, "5e-324"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.expected);
        std::string out;
        detail::appendNumber(out, row.value);
        EXPECT_EQ(out, row.expected);
    }
}

TEST(XlsxText, WritesColumnLettersAtTheBoundaries) {
    struct Case {
        int column;
        const char* letters;
    };
    for (const Case& row :
         {Case{1, "A"}, Case{26, "Z"}, Case{27, "AA"}, Case{52, "AZ"}, Case{53, "BA"},
          Case{702, "ZZ"}, Case{703, "AAA"}, Case{16'384, "XFD"}}) {
        SCOPED_TRACE(row.letters);
        std::string out;
        detail::appendColumnLetters(out, row.column);
        EXPECT_EQ(out, row.letters);
    }
}

TEST(XlsxText, EscapesAttributeText) {
    std::string out;
    detail::appendAttributeText(out, "a\"b'c&<>\t\x01 表");
    EXPECT_EQ(out, "a&quot;b&apos;c&amp;&lt;&gt;&#9; 表");
}

// ---- sheet names

TEST(SheetName, AcceptsOnlyNamesExcelAccepts) {
    struct Case {
        std::string name;
        bool valid;
    };
    const Case cases[] = {
        {"Sheet1", true},
        {"汇总表", true},
        {"a", true},
        {std::string(31, 'x'), true},
        {std::string(32, 'x'), false},
        {[] {
             std::string s;
             for (int i = 0; i < 31; ++i) s += "表";
             return s;
         }(),
         true},
        {[] {
             std::string s;
             for (int i = 0; i < 32; ++i) s += "表";
             return s;
         }(),
         false},
        {"", false},
        {"a[b", false},
        {"a]b", false},
        {"a:b", false},
        {"a*b", false},
        {"a?b", false},
        {"a/b", false},
        {"a\\b", false},
        {"'quoted", false},
        {"quoted'", false},
        {"it's", true},
        {"History", false},
        {"history", false},
        {"History1", true},
        {"tab\tname", false},
        {"bad\xC3", false},
        {"全角：冒号", true},  // the full-width colon is allowed
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(isValidSheetName(row.name), row.valid);
    }
}

// ---- style registry

TEST(StyleRegistry, InternsEqualStylesOnceAndStartsWithTheDefault) {
    StyleRegistry registry;
    ASSERT_EQ(registry.size(), 1u);
    EXPECT_EQ(registry.style(0), defaultResultStyle());
    EXPECT_EQ(registry.intern(defaultResultStyle()), 0u);
    CellStyle bold = defaultResultStyle();
    bold.font.bold = true;
    CellStyle date = defaultResultStyle();
    date.numberFormat = "yyyy-mm-dd";
    const std::uint32_t boldId = registry.intern(bold);
    const std::uint32_t dateId = registry.intern(date);
    EXPECT_NE(boldId, 0u);
    EXPECT_NE(dateId, boldId);
    EXPECT_EQ(registry.intern(bold), boldId);
    EXPECT_EQ(registry.style(dateId).numberFormat, "yyyy-mm-dd");
    EXPECT_EQ(registry.size(), 3u);
}

TEST(StyleRegistry, FallsBackToTheDefaultPastTheFormatLimit) {
    StyleRegistry registry;
    std::uint32_t last = 0;
    for (int i = 0; i < 64'100; ++i) {
        CellStyle style = defaultResultStyle();
        style.font.size = 6.0 + i * 0.001;
        last = registry.intern(style);
    }
    EXPECT_EQ(last, 0u);
    EXPECT_EQ(registry.size(), 64'000u);
}

TEST(DefaultResultStyle, UsesAFontOfZhCnExcel) {
    const CellStyle style = defaultResultStyle();
    EXPECT_EQ(style.font.name, "宋体");
    EXPECT_EQ(style.font.size, 11.0);
    EXPECT_EQ(style.numberFormat, "General");
}

// ---- the package

TEST(XlsxPackage, HasTheMinimalPartsWithContentTypesFirst) {
    StyleRegistry styles;
    std::vector<Row> rows{makeRow(1, {numberCell(1, 1.0)})};
    SheetToWrite sheet;
    sheet.name = "Sheet1";
    sheet.rows = &rows;
    const ZipView view = writeAndRead({&sheet, 1}, 0, styles);
    ASSERT_FALSE(view.entries.empty());
    EXPECT_EQ(view.entries.front().name, "[Content_Types].xml");
    const std::string types = part(view, "[Content_Types].xml");
    for (const testing::ZipEntryView& entry : view.entries) {
        SCOPED_TRACE(entry.name);
        if (entry.name.ends_with(".rels") || entry.name == "[Content_Types].xml") continue;
        EXPECT_NE(types.find("PartName=\"/" + entry.name + "\""), std::string::npos)
            << "no content type";
    }
    for (const char* name : {"_rels/.rels", "xl/workbook.xml", "xl/_rels/workbook.xml.rels",
                             "xl/styles.xml", "xl/worksheets/sheet1.xml"})
        EXPECT_NE(view.find(name), nullptr) << name;
}

TEST(XlsxPackage, SelectsExactlyTheActiveSheetAndKeepsHiddenStates) {
    StyleRegistry styles;
    std::vector<SheetToWrite> sheets(3);
    sheets[0].name = "一";
    sheets[1].name = "二";
    sheets[1].visibility = Visibility::Hidden;
    sheets[2].name = "三";
    sheets[2].visibility = Visibility::VeryHidden;
    const ZipView view = writeAndRead(sheets, 0, styles);
    const std::string workbook = part(view, "xl/workbook.xml");
    EXPECT_NE(workbook.find("activeTab=\"0\""), std::string::npos);
    EXPECT_NE(workbook.find("<sheet name=\"二\" sheetId=\"2\" state=\"hidden\" r:id=\"rId2\"/>"),
              std::string::npos);
    EXPECT_NE(workbook.find("state=\"veryHidden\""), std::string::npos);
    int selected = 0;
    for (int i = 1; i <= 3; ++i)
        selected += countOf(part(view, "xl/worksheets/sheet" + std::to_string(i) + ".xml"),
                            "tabSelected=\"1\"");
    EXPECT_EQ(selected, 1);
    EXPECT_NE(part(view, "xl/worksheets/sheet1.xml").find("tabSelected"), std::string::npos);
}

TEST(XlsxPackage, ActiveSheetThatIsHiddenMovesToTheFirstVisible) {
    StyleRegistry styles;
    std::vector<SheetToWrite> sheets(3);
    sheets[0].name = "A";
    sheets[0].visibility = Visibility::Hidden;
    sheets[1].name = "B";
    sheets[2].name = "C";
    sheets[2].visibility = Visibility::Hidden;
    const ZipView view = writeAndRead(sheets, 2, styles);
    EXPECT_NE(part(view, "xl/workbook.xml").find("activeTab=\"1\""), std::string::npos);
    EXPECT_NE(part(view, "xl/worksheets/sheet2.xml").find("tabSelected=\"1\""), std::string::npos);
}

TEST(XlsxPackage, AllSheetsHiddenLeavesTheActiveOneVisible) {
    StyleRegistry styles;
    std::vector<SheetToWrite> sheets(2);
    sheets[0].name = "A";
    sheets[0].visibility = Visibility::Hidden;
    sheets[1].name = "B";
    sheets[1].visibility = Visibility::Hidden;
    const ZipView view = writeAndRead(sheets, 1, styles);
    const std::string workbook = part(view, "xl/workbook.xml");
    EXPECT_EQ(countOf(workbook, "state=\"hidden\""), 1u);
    EXPECT_NE(workbook.find("<sheet name=\"B\" sheetId=\"2\" r:id=\"rId2\"/>"), std::string::npos);
}

TEST(XlsxPackage, RefusesBadAndDuplicateSheetNames) {
    StyleRegistry styles;
    struct Case {
        std::vector<std::string> names;
        ErrorCode code;
    };
    const Case cases[] = {
        {{"Data", "data"}, ErrorCode::DuplicateSheetName},
        {{"Ärger", "äRGER"}, ErrorCode::DuplicateSheetName},
        {{"ＡＢ", "ａｂ"}, ErrorCode::DuplicateSheetName},
        {{"a/b"}, ErrorCode::InvalidSheetName},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.names.back());
        std::vector<SheetToWrite> sheets;
        for (const std::string& name : row.names) sheets.push_back(SheetToWrite{name});
        Result<std::vector<std::uint8_t>> written = writeXlsxToMemory(sheets, 0, styles);
        ASSERT_FALSE(written);
        EXPECT_EQ(written.error().code, row.code);
    }
    Result<std::vector<std::uint8_t>> none = writeXlsxToMemory({}, 0, styles);
    EXPECT_FALSE(none);
}

TEST(XlsxPackage, WritesEveryValueType) {
    StyleRegistry styles;
    Row row = makeRow(3, {});
    row.cells.push_back(numberCell(1, 2.5));
    row.cells.push_back(textCell(2, "x<y"));
    Cell flag;
    flag.column = 3;
    flag.type = CellType::Boolean;
    flag.number = 1.0;
    row.cells.push_back(flag);
    Cell error;
    error.column = 4;
    error.type = CellType::Error;
    error.text = "#DIV/0!";
    row.cells.push_back(error);
    row.cells.push_back(numberCell(5, std::numeric_limits<double>::quiet_NaN()));
    row.cells.push_back(numberCell(6, -std::numeric_limits<double>::infinity()));
    Cell strange = error;
    strange.column = 7;
    strange.text = "#WHATEVER";
    row.cells.push_back(strange);
    Cell empty;
    empty.column = 8;  // no style: not written
    row.cells.push_back(empty);
    std::vector<Row> rows{row};
    SheetToWrite sheet{"S"};
    sheet.rows = &rows;
    const std::string xml = part(writeAndRead({&sheet, 1}, 0, styles), "xl/worksheets/sheet1.xml");
    EXPECT_NE(xml.find("<c r=\"A3\"><v>2.5</v></c>"), std::string::npos);
    EXPECT_NE(xml.find("<c r=\"B3\" t=\"inlineStr\"><is><t>x&lt;y</t></is></c>"),
              std::string::npos);
    EXPECT_NE(xml.find("<c r=\"C3\" t=\"b\"><v>1</v></c>"), std::string::npos);
    EXPECT_NE(xml.find("<c r=\"D3\" t=\"e\"><v>#DIV/0!</v></c>"), std::string::npos);
    EXPECT_NE(xml.find("<c r=\"E3\" t=\"e\"><v>#NUM!</v></c>"), std::string::npos);
    EXPECT_NE(xml.find("<c r=\"F3\" t=\"e\"><v>#NUM!</v></c>"), std::string::npos);
    EXPECT_NE(xml.find("<c r=\"G3\" t=\"inlineStr\"><is><t>#WHATEVER</t></is></c>"),
              std::string::npos);
    EXPECT_EQ(xml.find("H3"), std::string::npos);
    EXPECT_EQ(xml.find("nan"), std::string::npos);
    EXPECT_EQ(xml.find("inf"), std::string::npos);
    EXPECT_NE(xml.find("<dimension ref=\"A3:G3\"/>"), std::string::npos);
}

TEST(XlsxPackage, WritesStyledEmptyCellsAndRowAttributes) {
    StyleRegistry styles;
    CellStyle bordered = defaultResultStyle();
    bordered.border.bottom.style = "thin";
    const std::uint32_t id = styles.intern(bordered);
    Cell empty;
    empty.column = 2;
    empty.style = id;
    Row row = makeRow(4, {empty});
    row.height = 30.0;
    row.customHeight = true;
    row.hidden = true;
    row.style = id;
    std::vector<Row> rows{row};
    SheetToWrite sheet{"S"};
    sheet.rows = &rows;
    const std::string xml = part(writeAndRead({&sheet, 1}, 0, styles), "xl/worksheets/sheet1.xml");
    const std::string s = std::to_string(id);
    EXPECT_NE(xml.find("<row r=\"4\" s=\"" + s +
                       "\" customFormat=\"1\" ht=\"30\" customHeight=\"1\" hidden=\"1\">"),
              std::string::npos);
    EXPECT_NE(xml.find("<c r=\"B4\" s=\"" + s + "\"/>"), std::string::npos);
}

TEST(XlsxPackage, KeepsWorksheetElementsInSchemaOrder) {
    StyleRegistry styles;
    std::vector<Row> rows{makeRow(1, {textCell(1, "h")}), makeRow(2, {numberCell(2, 1)})};
    SheetToWrite sheet{"S"};
    sheet.rows = &rows;
    sheet.columns = {ColumnInfo{1, 2, 20.5, true}};
    sheet.merges = {parseRange("A1:B1").value()};
    sheet.frozenPane = FrozenPane{1, 0};
    const std::string xml = part(writeAndRead({&sheet, 1}, 0, styles), "xl/worksheets/sheet1.xml");
    std::size_t previous = 0;
    for (const char* element : {"<dimension ", "<sheetViews>", "<sheetFormatPr ", "<cols>",
                                "<sheetData>", "</sheetData>", "<mergeCells ", "<pageMargins "}) {
        SCOPED_TRACE(element);
        const std::size_t at = xml.find(element);
        ASSERT_NE(at, std::string::npos);
        EXPECT_GT(at, previous);
        previous = at;
    }
}

TEST(XlsxPackage, LeavesOutEmptyColumnAndMergeLists) {
    StyleRegistry styles;
    SheetToWrite sheet{"S"};
    sheet.merges = {RangeRef{{2, 2}, {2, 2}}};  // a single cell: dropped
    const std::string xml = part(writeAndRead({&sheet, 1}, 0, styles), "xl/worksheets/sheet1.xml");
    EXPECT_EQ(xml.find("<cols"), std::string::npos);
    EXPECT_EQ(xml.find("<mergeCells"), std::string::npos);
    EXPECT_NE(xml.find("<dimension ref=\"A1\"/>"), std::string::npos);
}

TEST(XlsxPackage, WritesColumnRunsWithWidthsAndDropsBadRuns) {
    StyleRegistry styles;
    CellStyle bold = defaultResultStyle();
    bold.font.bold = true;
    const std::uint32_t boldId = styles.intern(bold);
    SheetToWrite sheet{"S"};
    ColumnInfo styled{4, 4, 0.0, false};
    styled.style = boldId;
    ColumnInfo hidden{6, 7, 12.0, true};
    hidden.hidden = true;
    sheet.columns = {ColumnInfo{1, 2, 20.5, true},
                     ColumnInfo{2, 3, 5.0, true},  // overlaps the first
                     styled,
                     ColumnInfo{5, 5, 300.0, true},
                     hidden,
                     ColumnInfo{16'384, 16'385, 3.0, true}};
    const std::string xml = part(writeAndRead({&sheet, 1}, 0, styles), "xl/worksheets/sheet1.xml");
    EXPECT_NE(
        xml.find("<cols><col min=\"1\" max=\"2\" width=\"20.5\" customWidth=\"1\"/>"
                 "<col min=\"4\" max=\"4\" width=\"9.140625\" style=\"" +
                 std::to_string(boldId) +
                 "\"/>"
                 "<col min=\"5\" max=\"5\" width=\"255\" customWidth=\"1\"/>"
                 "<col min=\"6\" max=\"7\" width=\"12\" customWidth=\"1\" hidden=\"1\"/></cols>"),
        std::string::npos)
        << xml.substr(0, 900);
}

TEST(XlsxPackage, DropsMergesExcelWouldRepair) {
    StyleRegistry styles;
    SheetToWrite sheet{"S"};
    const auto range = [](const char* text) { return parseRange(text).value(); };
    // Of two overlapping merges the one starting higher (then further left) stays.
    sheet.merges = {
        range("B2:D3"),       range("C3:E4"),             // overlaps B2:D3 and E2:E3
        range("A1:A1"),                                   // a single cell
        range("A5:XFD5"),     range("F1:F10"),            // F1:F10 starts higher and stays
        range("A6:B1048576"), range("B7:C7"),             // inside the tall merge
        range("E2:E3"),       RangeRef{{0, 1}, {2, 2}}};  // beside B2:D3; outside the grid
    const std::string xml = part(writeAndRead({&sheet, 1}, 0, styles), "xl/worksheets/sheet1.xml");
    std::regex mergeRef("<mergeCell ref=\"([^\"]+)\"/>");
    std::vector<std::string> kept;
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), mergeRef);
         it != std::sregex_iterator(); ++it)
        kept.push_back((*it)[1]);
    EXPECT_EQ(kept, (std::vector<std::string>{"B2:D3", "F1:F10", "A6:B1048576", "E2:E3"}));
    EXPECT_NE(xml.find("<mergeCells count=\"4\">"), std::string::npos);
}

TEST(XlsxPackage, FreezesPanesLikeExcel) {
    struct Case {
        const char* name;
        FrozenPane pane;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"rows only",
         {1, 0},
         {"<pane ySplit=\"1\" topLeftCell=\"A2\" activePane=\"bottomLeft\" state=\"frozen\"/>",
          "<selection pane=\"bottomLeft\" activeCell=\"C5\" sqref=\"C5\"/>"}},
        {"rows and columns",
         {2, 3},
         {"<pane xSplit=\"3\" ySplit=\"2\" topLeftCell=\"D3\" activePane=\"bottomRight\" "
          "state=\"frozen\"/>",
          "<selection pane=\"topRight\" activeCell=\"D1\" sqref=\"D1\"/>",
          "<selection pane=\"bottomLeft\" activeCell=\"A3\" sqref=\"A3\"/>",
          "<selection pane=\"bottomRight\" activeCell=\"C5\" sqref=\"C5\"/>"}},
        {"columns only",
         {0, 1},
         {"<pane xSplit=\"1\" topLeftCell=\"B1\" activePane=\"topRight\" state=\"frozen\"/>"}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        StyleRegistry styles;
        SheetToWrite sheet{"S"};
        sheet.frozenPane = row.pane;
        sheet.activeCell = CellRef{5, 3};
        const std::string xml =
            part(writeAndRead({&sheet, 1}, 0, styles), "xl/worksheets/sheet1.xml");
        std::size_t previous = 0;
        for (const std::string& piece : row.expected) {
            const std::size_t at = xml.find(piece, previous);
            EXPECT_NE(at, std::string::npos) << piece;
            previous = at == std::string::npos ? previous : at;
        }
        EXPECT_EQ(countOf(xml, "<selection"), row.expected.size() == 4 ? 3u : 1u);
    }
}

TEST(XlsxStyles, ReservesTheFirstTwoFillsAndMapsFormatIds) {
    StyleRegistry styles;
    const auto withFormat = [](std::string code) {
        CellStyle style = defaultResultStyle();
        style.numberFormat = std::move(code);
        return style;
    };
    CellStyle filled = defaultResultStyle();
    filled.fill.pattern = "solid";
    filled.fill.foreground = 0xFFFFFF00u;
    for (const CellStyle& style : {withFormat("0.00%"), withFormat("@"), withFormat("d-mmm-yy"),
                                   withFormat("yyyy\"年\"m\"月\"d\"日\""), withFormat("yyyy/m/d"),
                                   withFormat("#,##0.000 \"元\""), filled, withFormat("General")})
        styles.intern(style);
    SheetToWrite sheet{"S"};
    const std::string xml = part(writeAndRead({&sheet, 1}, 0, styles), "xl/styles.xml");
    EXPECT_NE(xml.find("<fills count=\"3\"><fill><patternFill patternType=\"none\"/></fill>"
                       "<fill><patternFill patternType=\"gray125\"/></fill>"
                       "<fill><patternFill patternType=\"solid\"><fgColor "
                       "rgb=\"FFFFFF00\"/></patternFill></fill>"),
              std::string::npos);
    // The short date of id 14 is written as a code: its zh-CN form stays in other locales.
    EXPECT_NE(
        xml.find("<numFmts count=\"3\">"
                 "<numFmt numFmtId=\"164\" "
                 "formatCode=\"yyyy&quot;年&quot;m&quot;月&quot;d&quot;日&quot;\"/>"
                 "<numFmt numFmtId=\"165\" formatCode=\"yyyy/m/d\"/>"
                 "<numFmt numFmtId=\"166\" formatCode=\"#,##0.000 &quot;元&quot;\"/></numFmts>"),
        std::string::npos);
    std::regex formatIds("<xf numFmtId=\"([0-9]+)\" fontId");
    std::vector<std::string> ids;
    const std::string cellXfs = xml.substr(xml.find("<cellXfs"));
    for (auto it = std::sregex_iterator(cellXfs.begin(), cellXfs.end(), formatIds);
         it != std::sregex_iterator(); ++it)
        ids.push_back((*it)[1]);
    EXPECT_EQ(ids, (std::vector<std::string>{"0", "10", "49", "15", "164", "165", "166", "0"}));
    EXPECT_NE(xml.find("<xf numFmtId=\"10\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
                       "applyNumberFormat=\"1\"/>"),
              std::string::npos);
    EXPECT_NE(xml.find("fillId=\"2\" borderId=\"0\" xfId=\"0\" applyFill=\"1\"/>"),
              std::string::npos);
    EXPECT_NE(xml.find("<cellXfs count=\"8\">"), std::string::npos);
    EXPECT_NE(xml.find("<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" "
                       "builtinId=\"0\"/></cellStyles>"
                       "<dxfs count=\"0\"/>"),
              std::string::npos);
}

TEST(XlsxStyles, WritesFontChildrenInSchemaOrder) {
    StyleRegistry styles;
    CellStyle style = defaultResultStyle();
    style.font.name = "微软雅黑";
    style.font.size = 10.0;
    style.font.bold = true;
    style.font.italic = true;
    style.font.underline = "double";
    style.font.color = 0xFFFF0000u;
    styles.intern(style);
    SheetToWrite sheet{"S"};
    const std::string xml = part(writeAndRead({&sheet, 1}, 0, styles), "xl/styles.xml");
    EXPECT_NE(xml.find("<font><b/><i/><u val=\"double\"/><sz val=\"10\"/><color rgb=\"FFFF0000\"/>"
                       "<name val=\"微软雅黑\"/><family val=\"3\"/><charset val=\"134\"/></font>"),
              std::string::npos);
}

TEST(XlsxPackage, RefusesStyleIdsOutsideTheRegistry) {
    StyleRegistry styles;
    std::vector<Row> rows{makeRow(1, {numberCell(1, 1.0, 5)})};
    SheetToWrite sheet{"S"};
    sheet.rows = &rows;
    Result<std::vector<std::uint8_t>> written = writeXlsxToMemory({&sheet, 1}, 0, styles);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().code, ErrorCode::OperationFailed);
}

// ---- the row spool

TEST(RowSpool, RefusesRowsOutOfOrderAndCellsOutsideTheGrid) {
    const fs::path folder = freshFolder("order");
    Result<RowSpool> spool = RowSpool::create(folder);
    ASSERT_TRUE(spool);
    EXPECT_TRUE(spool->append(makeRow(2, {numberCell(1, 1)})));
    struct Case {
        const char* name;
        Row row;
    };
    const Case cases[] = {
        {"same row again", makeRow(2, {numberCell(1, 1)})},
        {"row above", makeRow(1, {numberCell(1, 1)})},
        {"row past the grid", makeRow(1'048'577, {numberCell(1, 1)})},
        {"column past the grid", makeRow(3, {numberCell(16'385, 1)})},
        {"column zero", makeRow(3, {numberCell(0, 1)})},
        {"cells not ascending", makeRow(3, {numberCell(2, 1), numberCell(2, 1)})},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(spool->append(row.row));
    }
    EXPECT_EQ(spool->rowCount(), 1);
    EXPECT_TRUE(spool->append(makeRow(1'048'576, {numberCell(16'384, 1)})));
    EXPECT_EQ(spool->lastRow(), 1'048'576);
    EXPECT_EQ(spool->lastColumn(), 16'384);
    EXPECT_EQ(spool->firstColumn(), 1);
    EXPECT_EQ(fileCount(folder), 0u) << "the spool file has no name";
    fs::remove_all(folder);
}

TEST(RowSpool, SpooledRowsAndInMemoryRowsFormOneSheetAcrossSaves) {
    const fs::path folder = freshFolder("spool");
    StyleRegistry styles;
    CellStyle dateStyle = defaultResultStyle();
    dateStyle.numberFormat = "yyyy-mm-dd";
    const std::uint32_t date = styles.intern(dateStyle);
    Result<RowSpool> spool = RowSpool::create(folder);
    ASSERT_TRUE(spool);
    for (int r = 1; r <= 30'000; ++r)
        ASSERT_TRUE(spool->append(
            makeRow(r, {numberCell(2, r * 0.5), textCell(3, "文本" + std::to_string(r)),
                        numberCell(4, 40'000 + r, date)})));
    std::vector<Row> tail{makeRow(30'001, {textCell(5, "last")})};
    SheetToWrite sheet{"S"};
    sheet.spooledRows = &*spool;
    sheet.rows = &tail;
    const std::string first =
        part(writeAndRead({&sheet, 1}, 0, styles), "xl/worksheets/sheet1.xml");
    EXPECT_EQ(countOf(first, "<row "), 30'001u);
    EXPECT_NE(
        first.find(
            "<row r=\"12345\"><c r=\"B12345\"><v>6172.5</v></c><c r=\"C12345\" t=\"inlineStr\"><is>"
            "<t>文本12345</t></is></c><c r=\"D12345\" s=\"1\"><v>52345</v></c></row>"),
        std::string::npos);
    EXPECT_NE(first.find("<dimension ref=\"B1:E30001\"/>"), std::string::npos);
    EXPECT_NE(
        first.find("<c r=\"E30001\" t=\"inlineStr\"><is><t>last</t></is></c></row></sheetData>"),
        std::string::npos);
    // The spool goes on after a save, and a second save holds everything.
    for (int r = 30'001; r <= 30'100; ++r)
        ASSERT_TRUE(spool->append(makeRow(r, {numberCell(1, r)})));
    sheet.rows = nullptr;
    const std::string second =
        part(writeAndRead({&sheet, 1}, 0, styles), "xl/worksheets/sheet1.xml");
    EXPECT_EQ(countOf(second, "<row "), 30'100u);
    EXPECT_NE(second.find("<dimension ref=\"A1:D30100\"/>"), std::string::npos);
    fs::remove_all(folder);
}

// ---- saving to a file

std::vector<SheetToWrite> oneSheet(std::vector<Row>& rows) {
    std::vector<SheetToWrite> sheets(1);
    sheets[0].name = "S";
    sheets[0].rows = &rows;
    return sheets;
}

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(WriteXlsx, WritesTheFileAndLeavesNothingElse) {
    const fs::path folder = freshFolder("save");
    StyleRegistry styles;
    std::vector<Row> rows{makeRow(1, {textCell(1, "结果")})};
    const fs::path target = folder / "合并结果.xlsx";
    ASSERT_TRUE(writeXlsx(target, oneSheet(rows), 0, styles, ExistingFile::Refuse));
    EXPECT_EQ(fileCount(folder), 1u);
    EXPECT_TRUE(testing::soundPackage(target));
    std::string bytes = fileText(target);
    std::string problem;
    std::optional<ZipView> view =
        readZip(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), problem);
    ASSERT_TRUE(view) << problem;
    EXPECT_NE(view->find("xl/worksheets/sheet1.xml")->content.find("结果"), std::string::npos);
    fs::remove_all(folder);
}

TEST(WriteXlsx, TargetNameAsLongAsTheFileSystemAllows) {
    const fs::path folder = freshFolder("long");
    StyleRegistry styles;
    std::vector<Row> rows{makeRow(1, {textCell(1, "x")})};
    std::string name;
    for (int i = 0; i < 81; ++i) name += "结";  // 243 bytes
    const fs::path target = folder / (name + ".xlsx");
    ASSERT_EQ(target.filename().string().size(), 248u);
    ASSERT_TRUE(writeXlsx(target, oneSheet(rows), 0, styles, ExistingFile::Refuse));
    EXPECT_TRUE(fs::exists(target));
    EXPECT_EQ(fileCount(folder), 1u);
    fs::remove_all(folder);
}

TEST(WriteXlsx, RefuseNeverReplacesAnExistingFile) {
    const fs::path folder = freshFolder("refuse");
    StyleRegistry styles;
    std::vector<Row> rows{makeRow(1, {textCell(1, "new")})};
    const fs::path target = folder / "taken.xlsx";
    std::ofstream(target) << "someone else's file";
    Result<void> written = writeXlsx(target, oneSheet(rows), 0, styles, ExistingFile::Refuse);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().code, ErrorCode::TargetExists);
    EXPECT_EQ(fileText(target), "someone else's file");
    EXPECT_EQ(fileCount(folder), 1u);
    // A dangling symbolic link also takes the name.
    const fs::path link = folder / "link.xlsx";
    fs::create_symlink(folder / "nowhere", link);
    Result<void> linked = writeXlsx(link, oneSheet(rows), 0, styles, ExistingFile::Refuse);
    ASSERT_FALSE(linked);
    EXPECT_EQ(linked.error().code, ErrorCode::TargetExists);
    EXPECT_FALSE(fs::exists(folder / "nowhere"));
    fs::remove_all(folder);
}

TEST(WriteXlsx, ReplaceOverwritesTheRunsOwnResult) {
    const fs::path folder = freshFolder("replace");
    StyleRegistry styles;
    std::vector<Row> first{makeRow(1, {textCell(1, "first")})};
    std::vector<Row> second{makeRow(1, {textCell(1, "second")})};
    const fs::path target = folder / "result.xlsx";
    ASSERT_TRUE(writeXlsx(target, oneSheet(first), 0, styles, ExistingFile::Refuse));
    ASSERT_TRUE(writeXlsx(target, oneSheet(second), 0, styles, ExistingFile::Replace));
    EXPECT_TRUE(testing::soundPackage(target));
    const std::string bytes = fileText(target);
    std::string problem;
    std::optional<ZipView> view =
        readZip(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), problem);
    ASSERT_TRUE(view) << problem;
    EXPECT_NE(view->find("xl/worksheets/sheet1.xml")->content.find("second"), std::string::npos);
    EXPECT_EQ(fileCount(folder), 1u);
    fs::remove_all(folder);
}

TEST(WriteXlsx, MissingFolderFailsWithThePathAndReason) {
    StyleRegistry styles;
    std::vector<Row> rows{makeRow(1, {textCell(1, "x")})};
    const fs::path target = fs::temp_directory_path() / "sheetmerge-no-such-folder" / "r.xlsx";
    Result<void> written = writeXlsx(target, oneSheet(rows), 0, styles, ExistingFile::Refuse);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().code, ErrorCode::WriteFailed);
    EXPECT_NE(written.error().detail.find("sheetmerge-no-such-folder"), std::string::npos);
    EXPECT_NE(written.error().detail.find("No such file or directory"), std::string::npos);
}

// The file-size limit makes write() fail the way a full disk does, without root.
TEST(WriteXlsx, FailedWriteRemovesTheTemporaryFile) {
    const fs::path folder = freshFolder("full");
    StyleRegistry styles;
    std::vector<Row> rows;
    for (int r = 1; r <= 20'000; ++r)
        rows.push_back(makeRow(
            r, {textCell(1, "row " + std::to_string(r * 7919 % 100'003)), numberCell(2, r / 7.0)}));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    Result<void> written =
        writeXlsx(folder / "big.xlsx", oneSheet(rows), 0, styles, ExistingFile::Refuse);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().code, ErrorCode::WriteFailed);
    EXPECT_NE(written.error().detail.find("big.xlsx"), std::string::npos);
    EXPECT_EQ(fileCount(folder), 0u);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace spreadsheet
