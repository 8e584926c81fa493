#include "spreadsheet/xlsx_reader.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "spreadsheet/detail/value_parsing.h"
#include "spreadsheet/detail/xml_reader.h"
#include "spreadsheet/sheet_builder.h"
#include "spreadsheet/workbook_reader.h"
#include "spreadsheet/zip_reader.h"
#include "spreadsheet/zip_writer.h"

namespace spreadsheet {
namespace {

std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

Result<WorkbookData> readFixture(const std::string& name) {
    return readXlsx(readBytes(std::string(SHEETMERGE_TEST_DATA) + "/xlsx/" + name));
}

WorkbookData mustRead(const std::string& name) {
    Result<WorkbookData> book = readFixture(name);
    EXPECT_TRUE(book) << name << ": " << (book ? "" : book.error().detail);
    return book ? std::move(*book) : WorkbookData{};
}

// The cell at an A1 position, for readable expectations.
const Cell* at(const Sheet& sheet, int row, int column) {
    return sheet.cell(row, column);
}

void expectNumber(const Sheet& sheet, int row, int column, double value) {
    SCOPED_TRACE("row " + std::to_string(row) + " column " + std::to_string(column));
    const Cell* cell = at(sheet, row, column);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->type, CellType::Number);
    EXPECT_DOUBLE_EQ(cell->number, value);
}

void expectText(const Sheet& sheet, int row, int column, const std::string& text) {
    SCOPED_TRACE("row " + std::to_string(row) + " column " + std::to_string(column));
    const Cell* cell = at(sheet, row, column);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->type, CellType::Text);
    EXPECT_EQ(cell->text, text);
}

TEST(XlsxReader, FollowsImplicitRowAndCellNumbers) {
    WorkbookData book = mustRead("implicit_row_and_cell_refs.xlsx");
    ASSERT_EQ(book.sheets.size(), 1u);
    const Sheet& sheet = book.sheets[0];
    expectNumber(sheet, 1, 1, 1);
    expectNumber(sheet, 1, 2, 2);
    expectText(sheet, 2, 1, "a");
    expectNumber(sheet, 2, 4, 4);
    expectNumber(sheet, 2, 5, 5);
    expectNumber(sheet, 3, 1, 6);  // r="3.0"
    expectNumber(sheet, 7, 2, 7);
    expectNumber(sheet, 8, 1, 8);  // the row after 7
    std::vector<int> numbers;
    for (const Row& row : sheet.rows) numbers.push_back(row.number);
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 7, 8}));
}

TEST(XlsxReader, ReadsStrictNamespacesWithAnyPrefixAndIsoDates) {
    WorkbookData book = mustRead("strict_prefixed_namespaces.xlsx");
    ASSERT_EQ(book.sheets.size(), 1u);
    const Sheet& sheet = book.sheets[0];
    EXPECT_EQ(sheet.name, "Strict");
    expectText(sheet, 1, 1, "strict text");
    expectNumber(sheet, 1, 2, 42170);  // 2015-06-15
    expectNumber(sheet, 1, 3, 42170 + 34212.0 / 86400);
    expectNumber(sheet, 1, 4, 34212.0 / 86400);  // 09:30:12
    for (int column = 2; column <= 4; ++column) {
        SCOPED_TRACE(column);
        EXPECT_TRUE(isDateFormat(book.styles.at(sheet.cell(1, column)->style).numberFormat));
    }
}

TEST(XlsxReader, FindsPartsThroughRelationshipsWhateverTheirPaths) {
    WorkbookData book = mustRead("unusual_part_paths.xlsx");
    ASSERT_EQ(book.sheets.size(), 1u);
    EXPECT_EQ(book.sheets[0].name, "Odd");
    expectText(book.sheets[0], 1, 1, "found through rels");
}

TEST(XlsxReader, JoinsRichRunsSkipsPhoneticsAndDecodesEscapes) {
    WorkbookData book = mustRead("shared_strings_rich_phonetic.xlsx");
    const Sheet& sheet = book.sheets.at(0);
    expectText(sheet, 1, 1, "Bold and plain");
    expectText(sheet, 1, 2, "東京");
    expectText(sheet, 1, 3, "  padded  ");
    expectText(sheet, 1, 4, "line\rbreak");
    expectText(sheet, 1, 5, "_x0041_ literal");
    expectText(sheet, 1, 6, "smile \xF0\x9F\x98\x80");
}

TEST(XlsxReader, ReadsEveryCellTypeAndKeepsCachedFormulaValues) {
    WorkbookData book = mustRead("cell_types_and_formulas.xlsx");
    const Sheet& sheet = book.sheets.at(0);
    expectText(sheet, 1, 1, "shared");
    expectText(sheet, 1, 2, "xy");
    expectText(sheet, 1, 3, "inline");
    ASSERT_NE(at(sheet, 1, 4), nullptr);
    EXPECT_EQ(at(sheet, 1, 4)->type, CellType::Boolean);
    EXPECT_EQ(at(sheet, 1, 4)->number, 1);
    ASSERT_NE(at(sheet, 1, 5), nullptr);
    EXPECT_EQ(at(sheet, 1, 5)->type, CellType::Error);
    EXPECT_EQ(at(sheet, 1, 5)->text, "#DIV/0!");
    expectNumber(sheet, 1, 6, 0.001);
    expectNumber(sheet, 1, 7, 5);
    expectNumber(sheet, 1, 8, 0);
    expectNumber(sheet, 2, 1, 5.001);
    EXPECT_TRUE(at(sheet, 2, 1)->hasFormula);
    EXPECT_FALSE(at(sheet, 1, 6)->hasFormula);
    expectText(sheet, 2, 6, "12abc");  // not a number: kept as it stands
    ASSERT_NE(at(sheet, 2, 7), nullptr);
    EXPECT_EQ(at(sheet, 2, 7)->type, CellType::Boolean);
    EXPECT_EQ(at(sheet, 2, 7)->number, 0);
    expectNumber(sheet, 3, 3, 0);
}

TEST(XlsxReader, FormulaWithoutCachedValueIsEmptyAndCounted) {
    WorkbookData book = mustRead("cell_types_and_formulas.xlsx");
    const Sheet& sheet = book.sheets.at(0);
    const Cell* uncalculated = at(sheet, 2, 2);
    ASSERT_NE(uncalculated, nullptr);
    EXPECT_EQ(uncalculated->type, CellType::Empty);
    EXPECT_TRUE(uncalculated->hasFormula);
    EXPECT_EQ(sheet.uncalculatedFormulas, 1);

    struct Expected {
        int row, column;
        std::string text;
    };
    const Expected formulas[] = {{1, 2, "\"x\"&\"y\""}, {1, 5, "1/0"},  {2, 1, "SUM(F1:G1)"},
                                 {2, 2, "NOW()"},       {2, 3, "A2*2"}, {3, 3, ""}};
    ASSERT_EQ(sheet.formulas.size(), std::size(formulas));
    for (std::size_t i = 0; i < sheet.formulas.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sheet.formulas[i].row, formulas[i].row);
        EXPECT_EQ(sheet.formulas[i].column, formulas[i].column);
        EXPECT_EQ(sheet.formulas[i].text, formulas[i].text);
    }
}

TEST(XlsxReader, EmptyStringValueReadsAsNoCellAndStyledEmptyCellKeepsItsFormat) {
    WorkbookData book = mustRead("cell_types_and_formulas.xlsx");
    const Sheet& sheet = book.sheets.at(0);
    EXPECT_EQ(at(sheet, 2, 4), nullptr);  // t="s" pointing at an empty shared string
    const Cell* styled = at(sheet, 2, 5);
    ASSERT_NE(styled, nullptr);
    EXPECT_EQ(styled->type, CellType::Empty);
    EXPECT_EQ(book.styles.at(styled->style).numberFormat, "0.00%");
}

TEST(XlsxReader, ConvertsDatesOf1904BooksButNotNumbersOrDurations) {
    WorkbookData book = mustRead("date1904.xlsx");
    EXPECT_TRUE(book.date1904);
    const Sheet& sheet = book.sheets.at(0);
    expectNumber(sheet, 1, 1, 1462);   // 1904-01-01 in the 1900 system
    expectNumber(sheet, 1, 2, 100);    // General
    expectNumber(sheet, 1, 3, 1.5);    // [h]:mm
    expectNumber(sheet, 1, 4, 41462);  // a custom 年月日 date
    expectNumber(sheet, 1, 5, 42170);  // an ISO date is absolute: 2015-06-15 stays that day
    EXPECT_EQ(book.styles.at(at(sheet, 1, 5)->style).numberFormat, "yyyy-mm-dd");
}

TEST(XlsxReader, ResolvesStylesWithThemeIndexedAndCustomFormats) {
    WorkbookData book = mustRead("styles_theme_indexed.xlsx");
    ASSERT_EQ(book.styles.size(), 6u);
    const Sheet& sheet = book.sheets.at(0);
    for (int column = 1; column <= 6; ++column) {
        SCOPED_TRACE(column);
        ASSERT_NE(at(sheet, 1, column), nullptr);
        EXPECT_EQ(at(sheet, 1, column)->style, static_cast<std::uint32_t>(column - 1));
    }

    const CellStyle& plain = book.styles[0];
    EXPECT_EQ(plain.numberFormat, "General");
    EXPECT_EQ(plain.font.name, "Calibri");
    EXPECT_EQ(plain.font.color, Color(0xFF111111u));  // theme 1 is dk1, not lt1
    EXPECT_EQ(plain.font.family, 2);
    EXPECT_EQ(plain.fill.pattern, "none");

    const CellStyle& rich = book.styles[1];
    EXPECT_EQ(rich.numberFormat, "dd/mm/yyyy");  // the file redefines id 14
    EXPECT_TRUE(rich.font.bold);
    EXPECT_TRUE(rich.font.italic);
    EXPECT_TRUE(rich.font.strike);
    EXPECT_EQ(rich.font.underline, "double");
    EXPECT_EQ(rich.font.verticalAlign, "superscript");
    EXPECT_DOUBLE_EQ(rich.font.size, 14.5);
    EXPECT_EQ(rich.font.color, Color(0xFF00FF00u));
    EXPECT_EQ(rich.font.name, "宋体");
    EXPECT_EQ(rich.font.family, 3);
    EXPECT_EQ(rich.font.charset, 134);
    EXPECT_EQ(rich.fill.pattern, "solid");
    EXPECT_EQ(rich.fill.foreground, Color(0xFFABCDEFu));  // the file's own indexed palette
    EXPECT_EQ(rich.fill.background, Color());             // 64: system colour
    EXPECT_EQ(rich.border.left.style, "thin");
    EXPECT_EQ(rich.border.left.color, Color(0xFF000000u));
    EXPECT_EQ(rich.border.right.style, "medium");
    EXPECT_EQ(rich.border.right.color, Color());
    EXPECT_EQ(rich.border.top.style, "dashed");
    EXPECT_EQ(rich.border.top.color, Color(0xFFED7D31u));
    EXPECT_EQ(rich.border.bottom.style, "double");
    EXPECT_EQ(rich.border.bottom.color, Color(0xFFFF0000u));
    EXPECT_EQ(rich.border.diagonal.style, "hair");
    EXPECT_TRUE(rich.border.diagonalUp);
    EXPECT_FALSE(rich.border.diagonalDown);
    EXPECT_EQ(rich.alignment.horizontal, "center");
    EXPECT_EQ(rich.alignment.vertical, "top");
    EXPECT_TRUE(rich.alignment.wrapText);
    EXPECT_EQ(rich.alignment.indent, 2);
    EXPECT_EQ(rich.alignment.textRotation, 45);
    EXPECT_TRUE(rich.alignment.shrinkToFit);
    EXPECT_FALSE(rich.protection.locked);
    EXPECT_TRUE(rich.protection.hidden);

    const CellStyle& tinted = book.styles[2];
    EXPECT_EQ(tinted.numberFormat, "yyyy\"年\"m\"月\"d\"日\"");  // zh-CN id 31
    EXPECT_FALSE(tinted.font.bold);
    EXPECT_EQ(tinted.font.underline, "single");
    // accent1 (4472C4) lighter 40%: 8EA9DB in the colour picker, within a step per channel.
    ASSERT_TRUE(tinted.font.color.has_value());
    EXPECT_NEAR(static_cast<int>((*tinted.font.color >> 16) & 0xFF), 0x8E, 2);
    EXPECT_NEAR(static_cast<int>((*tinted.font.color >> 8) & 0xFF), 0xA9, 2);
    EXPECT_NEAR(static_cast<int>(*tinted.font.color & 0xFF), 0xDB, 2);
    EXPECT_EQ(tinted.fill.pattern, "darkGrid");
    EXPECT_EQ(tinted.fill.foreground, Color(0xFFBFBFBFu));  // lt1 (FEFEFE) darker 25%
    EXPECT_EQ(tinted.fill.background, Color(0xFF000000u));
    EXPECT_TRUE(tinted.protection.locked);

    const CellStyle& gradient = book.styles[3];
    EXPECT_EQ(gradient.numberFormat, "0.000");
    EXPECT_EQ(gradient.fill.pattern, "solid");
    EXPECT_EQ(gradient.fill.foreground, Color(0xFF123456u));

    const CellStyle& dangling = book.styles[4];  // ids past every table
    EXPECT_EQ(dangling.numberFormat, "General");
    EXPECT_EQ(dangling.font, plain.font);
    EXPECT_EQ(dangling.fill, Fill{});
    EXPECT_EQ(dangling.border, Border{});

    EXPECT_EQ(book.styles[5].alignment, Alignment{});  // "general" and "bottom" are the defaults
}

TEST(XlsxReader, ReadsLayoutAndSkipsOverlappingOrSingleCellMerges) {
    WorkbookData book = mustRead("sheet_layout.xlsx");
    ASSERT_EQ(book.sheets.size(), 2u);
    const Sheet& sheet = book.sheets[0];

    ASSERT_EQ(sheet.merges.size(), 2u);
    EXPECT_EQ(formatRange(sheet.merges[0]), "B2:C3");
    EXPECT_EQ(formatRange(sheet.merges[1]), "A10:XFD1048576");

    ASSERT_EQ(sheet.columns.size(), 2u);  // 2-3 overlaps 1-2 and is dropped
    EXPECT_EQ(sheet.columns[0].first, 1);
    EXPECT_EQ(sheet.columns[0].last, 2);
    EXPECT_DOUBLE_EQ(sheet.columns[0].width, 20.7109375);
    EXPECT_TRUE(sheet.columns[0].customWidth);
    EXPECT_EQ(sheet.columns[1].first, 4);
    EXPECT_EQ(sheet.columns[1].last, XlsxMaxColumns);
    EXPECT_TRUE(sheet.columns[1].hidden);
    EXPECT_EQ(sheet.columns[1].style, std::optional<std::uint32_t>(1));

    EXPECT_DOUBLE_EQ(sheet.defaultColumnWidth, 12.5);
    EXPECT_DOUBLE_EQ(sheet.defaultRowHeight, 18);

    ASSERT_NE(sheet.row(1), nullptr);
    EXPECT_DOUBLE_EQ(sheet.row(1)->height, 30);
    EXPECT_TRUE(sheet.row(1)->customHeight);
    ASSERT_NE(sheet.row(2), nullptr);
    EXPECT_TRUE(sheet.row(2)->hidden);
    EXPECT_EQ(sheet.row(2)->style, std::optional<std::uint32_t>(1));
    EXPECT_EQ(sheet.row(3), nullptr);  // a plain height is no format of its own
    ASSERT_NE(sheet.row(4), nullptr);
    EXPECT_FALSE(sheet.row(4)->style.has_value());  // s without customFormat
    ASSERT_NE(sheet.cell(4, 1), nullptr);
    EXPECT_EQ(sheet.cell(4, 1)->type, CellType::Empty);

    ASSERT_TRUE(sheet.frozenPane.has_value());
    EXPECT_EQ(*sheet.frozenPane, (FrozenPane{1, 2}));  // not the custom view's 9 x 9
    ASSERT_TRUE(sheet.autoFilter.has_value());
    EXPECT_EQ(formatRange(*sheet.autoFilter), "A1:C4");

    EXPECT_FALSE(book.sheets[1].frozenPane.has_value());  // a split pane freezes nothing
}

TEST(XlsxReader, DefaultColumnWidthComesFromTheBaseWidthUnlessStated) {
    // A base width is digits without padding: the default column adds 5 pixels of 7, truncated
    // to 1/256 of a digit as stored widths are (8 digits: 8.7109375, the example of the format's
    // description of <col width>).
    struct Case {
        int digits;
        double width;
    };
    for (const Case& row : {Case{8, 8.7109375}, Case{10, 10.7109375}, Case{1, 1.7109375},
                            Case{0, 0.7109375}, Case{255, 255.7109375}}) {
        SCOPED_TRACE(row.digits);
        EXPECT_DOUBLE_EQ(columnWidthFromBase(row.digits), row.width);
    }

    WorkbookData book = mustRead("default_width_hidden_columns.xlsx");
    ASSERT_EQ(book.sheets.size(), 2u);
    const Sheet& based = book.sheets[0];
    EXPECT_DOUBLE_EQ(based.defaultColumnWidth, 10.7109375);
    ASSERT_EQ(based.columns.size(), 2u);
    EXPECT_EQ(based.columns[0].first, 2);
    EXPECT_DOUBLE_EQ(based.columns[0].width, 12);
    EXPECT_TRUE(based.columns[0].hidden);
    EXPECT_EQ(based.columns[1].first, 4);
    EXPECT_DOUBLE_EQ(based.columns[1].width, 0);  // hidden at the default width
    EXPECT_TRUE(based.columns[1].hidden);
    EXPECT_DOUBLE_EQ(book.sheets[1].defaultColumnWidth, 20);  // stated: the base does not count
}

TEST(XlsxReader, ReadsSheetKindsStatesAndTheActiveTab) {
    WorkbookData book = mustRead("sheet_kinds_and_states.xlsx");
    struct Expected {
        std::string name;
        SheetKind kind;
        Visibility visibility;
    };
    const Expected sheets[] = {
        {"Data", SheetKind::Worksheet, Visibility::Visible},
        {"Chart", SheetKind::Chart, Visibility::Visible},
        {"Dialog", SheetKind::Other, Visibility::Hidden},
        {"Macro", SheetKind::Other, Visibility::VeryHidden},
        {"Hidden data", SheetKind::Worksheet, Visibility::Hidden},
    };
    ASSERT_EQ(book.sheets.size(), std::size(sheets));
    for (std::size_t i = 0; i < book.sheets.size(); ++i) {
        SCOPED_TRACE(sheets[i].name);
        EXPECT_EQ(book.sheets[i].name, sheets[i].name);
        EXPECT_EQ(book.sheets[i].kind, sheets[i].kind);
        EXPECT_EQ(book.sheets[i].visibility, sheets[i].visibility);
    }
    EXPECT_EQ(book.activeSheet, 1);  // the chart sheet, counted among all sheets
    EXPECT_TRUE(book.sheets[2].rows.empty());
    expectNumber(book.sheets[4], 2, 2, 2);
}

TEST(XlsxReader, PutsRowsAndCellsWrittenOutOfOrderInOrderLaterCellWins) {
    WorkbookData book = mustRead("rows_out_of_order.xlsx");
    const Sheet& sheet = book.sheets.at(0);
    ASSERT_EQ(sheet.rows.size(), 2u);
    EXPECT_EQ(sheet.rows[0].number, 2);
    EXPECT_EQ(sheet.rows[1].number, 5);
    std::vector<int> columns;
    for (const Cell& cell : sheet.rows[1].cells) columns.push_back(cell.column);
    EXPECT_EQ(columns, (std::vector<int>{1, 2, 3}));
    expectNumber(sheet, 5, 3, 99);
    expectNumber(sheet, 2, 2, 22);
}

TEST(XlsxReader, ReadsPackageWithoutStylesOrStringsIgnoringDimension) {
    WorkbookData book = mustRead("minimal_package.xlsx");
    ASSERT_EQ(book.styles.size(), 1u);
    EXPECT_EQ(book.styles[0], CellStyle{});
    const Sheet& sheet = book.sheets.at(0);
    ASSERT_EQ(sheet.rows.size(), 1u);
    expectNumber(sheet, 3, 3, 3.25);
    EXPECT_EQ(sheet.cell(3, 3)->style, 0u);  // s="7" points past the styles
}

TEST(XlsxReader, RefusesMalformedAndHostilePackagesWithTheirOwnCodes) {
    struct Case {
        const char* file;
        ErrorCode code;
        const char* evidence;
    };
    const Case cases[] = {
        {"doctype_in_sheet.xlsx", ErrorCode::XmlForbidden, "DOCTYPE"},
        {"deep_nesting.xlsx", ErrorCode::XmlLimit, "depth limit"},
        {"malformed_sheet_xml.xlsx", ErrorCode::XmlMalformed, "sheet1.xml line 1"},
        {"shared_string_index_out_of_range.xlsx", ErrorCode::RecordCorrupt, "cell A1"},
        {"no_workbook_part.xlsx", ErrorCode::PartMissing, "officeDocument"},
        {"workbook_part_missing.xlsx", ErrorCode::PartMissing, "xl/workbook.xml"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.file);
        Result<WorkbookData> book = readFixture(row.file);
        ASSERT_FALSE(book);
        EXPECT_EQ(book.error().code, row.code);
        EXPECT_NE(book.error().detail.find(row.evidence), std::string::npos) << book.error().detail;
    }
}

TEST(XlsxReader, RejectsCellsOutsideTheGridWithSheetLimitInsteadOfSkippingThem) {
    for (const char* file : {"cell_outside_grid.xlsx", "row_outside_grid.xlsx"}) {
        SCOPED_TRACE(file);
        Result<WorkbookData> book = readFixture(file);
        ASSERT_FALSE(book);
        EXPECT_EQ(book.error().code, ErrorCode::SheetLimit);
        EXPECT_NE(book.error().detail.find("outside the grid"), std::string::npos);
    }
}

TEST(XlsxReader, RefusesPackagesOverTheSheetRowEntryAndStyleTableLimits) {
    struct Case {
        const char* file;
        ErrorCode code;
        const char* limit;
    };
    const Case cases[] = {
        {"too_many_sheets.xlsx", ErrorCode::SheetLimit, "sheet count limit"},
        {"too_many_row_entries.xlsx", ErrorCode::SheetLimit, "rows per sheet limit"},
        {"too_many_cell_formats.xlsx", ErrorCode::XmlLimit, "style table limit"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.file);
        Result<WorkbookData> book = readFixture(row.file);
        ASSERT_FALSE(book);
        EXPECT_EQ(book.error().code, row.code);
        EXPECT_NE(book.error().detail.find(row.limit), std::string::npos) << book.error().detail;
    }
}

TEST(XlsxReader, RefusesBytesThatAreNoPackage) {
    struct Case {
        std::vector<std::uint8_t> bytes;
        ErrorCode code;
    };
    const Case cases[] = {
        {{}, ErrorCode::UnknownFormat},
        {{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1, 0, 0}, ErrorCode::UnknownFormat},
        {{'h', 'e', 'l', 'l', 'o'}, ErrorCode::UnknownFormat},
        {{'P', 'K', 3, 4, 0, 0, 0, 0}, ErrorCode::ZipCorrupt},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.bytes.size());
        Result<WorkbookData> book = readXlsx(row.bytes);
        ASSERT_FALSE(book);
        EXPECT_EQ(book.error().code, row.code);
    }
}

TEST(XlsxEscapes, DecodesEscapesSurrogatesAndEscapedUnderscores) {
    struct Case {
        std::string raw;
        std::string decoded;
    };
    const Case cases[] = {
        {"plain", "plain"},
        {"a_x000D_b", "a\rb"},
        {"_x0009_", "\t"},
        {"_x005F_x000D_", "_x000D_"},
        {"_x4E2D_", "中"},
        {"_xD83D__xDE00_", "\xF0\x9F\x98\x80"},
        {"_xD83D_x",
         "\xEF\xBF\xBD"
         "x"},
        {"_x12G4_", "_x12G4_"},
        {"_x123_", "_x123_"},
        {"_x0041", "_x0041"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.raw);
        EXPECT_EQ(detail::decodeXlsxEscapes(row.raw), row.decoded);
    }
}

TEST(XlsxIsoDates, ConvertsToSerialsOfThe1900System) {
    struct Case {
        std::string text;
        std::optional<double> serial;
    };
    const Case cases[] = {
        {"1900-01-01", 1.0},
        {"1900-02-28", 59.0},
        {"1900-03-01", 61.0},
        {"1904-01-01", 1462.0},
        {"2015-06-15", 42170.0},
        {"2015-06-15T12:00:00", 42170.5},
        {"2015-06-15T12:00:00Z", 42170.5},
        {"2015-06-15 06:00", 42170.25},
        {"2015-06-15T12:00:00+08:00", 42170.5},
        {"18:00:00", 0.75},
        {"00:00:30.5", 30.5 / 86400},
        {"2015-13-01", std::nullopt},
        {"15/06/2015", std::nullopt},
        {"2015-06-15T", std::nullopt},
        {"noon", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.text);
        const std::optional<double> serial = detail::isoToSerial(row.text);
        ASSERT_EQ(serial.has_value(), row.serial.has_value());
        if (serial) {
            EXPECT_NEAR(*serial, *row.serial, 1e-9);
        }
    }
}

}  // namespace
}  // namespace spreadsheet

namespace spreadsheet {
namespace {

// A package of one sheet whose cells hold `values` as written, one row each.
std::vector<std::uint8_t> packageOfValues(const std::vector<std::string>& values) {
    MemorySink sink;
    ZipWriter zip(sink);
    auto add = [&zip](const std::string& name, const std::string& content) {
        EXPECT_TRUE(zip.beginEntry(name, 6));
        EXPECT_TRUE(zip.write(content));
        EXPECT_TRUE(zip.endEntry());
    };
    const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    const std::string relationships =
        "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    add("_rels/.rels",
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"" +
            relationships + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
    add("xl/workbook.xml",
        "<workbook xmlns=\"" + main + "\" xmlns:r=\"" + relationships +
            "\"><sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
    add("xl/_rels/workbook.xml.rels",
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"" +
            relationships + "/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>");
    std::string sheet = "<worksheet xmlns=\"" + main + "\"><sheetData>";
    for (std::size_t k = 0; k < values.size(); ++k)
        sheet += "<row r=\"" + std::to_string(k + 1) + "\"><c r=\"A" + std::to_string(k + 1) +
                 "\"><v>" + values[k] + "</v></c></row>";
    add("xl/worksheets/sheet1.xml", sheet + "</sheetData></worksheet>");
    EXPECT_TRUE(zip.finish());
    return sink.takeBytes();
}

// A package of one sheet whose row 1 holds `cell`, written as given.
std::vector<std::uint8_t> packageOfCell(const std::string& cell) {
    std::vector<std::uint8_t> bytes = packageOfValues({"1"});
    MemorySink sink;
    ZipWriter zip(sink);
    Result<ZipReader> original = ZipReader::open(bytes);
    EXPECT_TRUE(original);
    for (const ZipEntry& entry : original->entries()) {
        std::string content = *original->readWhole(entry, 1 << 20);
        if (entry.name == "xl/worksheets/sheet1.xml") {
            const std::size_t start = content.find("<c ");
            const std::size_t end = content.find("</c>", start) + 4;
            content.replace(start, end - start, cell);
        }
        EXPECT_TRUE(zip.beginEntry(entry.name, 6));
        EXPECT_TRUE(zip.write(content));
        EXPECT_TRUE(zip.endEntry());
    }
    EXPECT_TRUE(zip.finish());
    return sink.takeBytes();
}

TEST(XlsxReader, CountsFormulasWithoutCachedValueAsScriptsWriteThem) {
    struct Case {
        const char* cell;
        int uncalculated;
    } cases[] = {
        {"<c r=\"A1\"><f>1+1</f></c>", 1},
        {"<c r=\"A1\"><f>1+1</f><v></v></c>", 1},  // openpyxl
        {"<c r=\"A1\"><f>1+1</f><v/></c>", 1},
        {"<c r=\"A1\" t=\"e\"><f>1/0</f><v></v></c>", 1},
        {"<c r=\"A1\"><f>1+1</f><v>2</v></c>", 0},
        {"<c r=\"A1\"><f>1+1</f><v>0</v></c>", 0},
        {"<c r=\"A1\" t=\"str\"><f>\"\"</f><v></v></c>", 0},  // an empty text result
        {"<c r=\"A1\" t=\"inlineStr\"><f>\"\"</f><is><t></t></is></c>", 0},
        {"<c r=\"A1\" t=\"e\"><f>1/0</f><v>#DIV/0!</v></c>", 0},
        {"<c r=\"A1\" t=\"b\"><f>TRUE</f><v>1</v></c>", 0},
        {"<c r=\"A1\"><v></v></c>", 0},  // no formula
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.cell);
        Result<WorkbookData> book = readWorkbook(packageOfCell(row.cell), "cell.xlsx");
        ASSERT_TRUE(book) << errorText(book.error());
        EXPECT_EQ(book->sheets.at(0).uncalculatedFormulas, row.uncalculated);
    }
}

TEST(XlsxReader, ReadsNumbersToTheNearestDoubleAsTheStandardLibraryDoes) {
    std::vector<std::string> values = {"0",
                                       "-0",
                                       "7",
                                       "-12",
                                       "0.1",
                                       "0.3",
                                       "-2.675",
                                       "1.005",
                                       "123456789012345",
                                       "999999999999999",
                                       "0.000000000000001",
                                       "12345678.9012345",
                                       "9007199254740993",
                                       "1234567890123456",
                                       "1e3",
                                       "-1.5E-7",
                                       "3.",
                                       ".5",
                                       "-.25",
                                       "000123.4500",
                                       "1.7976931348623157e308"};
    std::mt19937_64 generator(20261208);
    for (int k = 0; k < 3000; ++k) {
        // Up to 17 digits with the point anywhere: both sides of the 15-digit short path.
        std::string digits = std::to_string(generator() % 100000000000000000ULL);
        const std::size_t point = generator() % (digits.size() + 1);
        if (point < digits.size()) digits.insert(point, ".");
        values.push_back((generator() % 3 == 0 ? "-" : "") + digits);
    }
    Result<WorkbookData> book = readXlsx(packageOfValues(values));
    ASSERT_TRUE(book) << book.error().detail;
    const Sheet& sheet = book->sheets.at(0);
    for (std::size_t k = 0; k < values.size(); ++k) {
        SCOPED_TRACE(values[k]);
        double expected = 0;
        std::string_view text = values[k];
        const auto parsed = std::from_chars(text.data(), text.data() + text.size(), expected);
        ASSERT_EQ(parsed.ptr, text.data() + text.size());
        const Cell* cell = sheet.cell(static_cast<int>(k + 1), 1);
        ASSERT_NE(cell, nullptr);
        ASSERT_EQ(cell->type, CellType::Number);
        EXPECT_EQ(cell->number, expected);
        EXPECT_EQ(std::signbit(cell->number), std::signbit(expected));
    }
}

}  // namespace
}  // namespace spreadsheet
