// Rich text runs from end to end of the engine: the model's normal form of runs, the readers
// of every format that carries runs (.xlsx shared and inline strings with or without prefixes,
// .xls shared strings as LibreOffice writes them and split across CONTINUE records, BIFF5
// RSTRING records), the sheet builder's ordering, the result registry's run fonts, and the
// writer's rich inline strings read back by the reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "../cell_builders.h"
#include "../support/package_check.h"
#include "spreadsheet/biff_records.h"
#include "spreadsheet/sheet_builder.h"
#include "spreadsheet/workbook_reader.h"
#include "spreadsheet/xls_reader.h"
#include "spreadsheet/xlsx_reader.h"
#include "spreadsheet/xlsx_writer.h"

namespace spreadsheet {
namespace {

using testing::textCell;

std::vector<std::uint8_t> fixture(const std::string& name) {
    std::ifstream in(std::filesystem::path(SHEETMERGE_TEST_DATA) / name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return {std::istreambuf_iterator<char>(in), {}};
}

WorkbookData mustRead(const std::string& name) {
    const std::vector<std::uint8_t> bytes = fixture(name);
    Result<WorkbookData> book = name.ends_with(".xls") ? readXls(bytes) : readXlsx(bytes);
    EXPECT_TRUE(book) << name << ": " << (book ? "" : book.error().detail);
    return book ? std::move(*book) : WorkbookData{};
}

// A run as a reader of the result sees it: its piece of the text and its font, none for a run
// in its cell's own font.
struct Piece {
    std::string text;
    std::optional<Font> font;
    friend bool operator==(const Piece&, const Piece&) = default;
};

std::ostream& operator<<(std::ostream& out, const Piece& piece) {
    out << '"' << piece.text << '"';
    if (!piece.font) return out << " (cell font)";
    const Font& font = *piece.font;
    out << " (" << font.name << ' ' << font.size << (font.bold ? " bold" : "")
        << (font.italic ? " italic" : "") << (font.strike ? " strike" : "");
    if (!font.underline.empty()) out << " underline " << font.underline;
    if (!font.verticalAlign.empty()) out << ' ' << font.verticalAlign;
    if (font.color) out << " colour " << std::hex << *font.color << std::dec;
    return out << " family " << font.family << " charset " << font.charset << ')';
}

// The pieces of the cell at (row, column), none when it is plain or absent.
std::vector<Piece> piecesOf(const Sheet& sheet, const std::vector<Font>& runFonts, int rowNumber,
                            int column) {
    const Row* row = sheet.row(rowNumber);
    const Cell* cell = sheet.cell(rowNumber, column);
    if (row == nullptr || cell == nullptr) return {};
    const TextRuns* runs = row->runs.find(column);
    if (runs == nullptr) return {};
    std::vector<Piece> pieces;
    for (std::size_t k = 0; k < runs->size(); ++k) {
        const TextRun& run = (*runs)[k];
        const std::size_t end = k + 1 < runs->size() ? (*runs)[k + 1].start : cell->text.size();
        Piece piece{cell->text.substr(run.start, end - run.start), std::nullopt};
        if (run.font != CellFont) {
            EXPECT_LT(run.font, runFonts.size());
            if (run.font < runFonts.size()) piece.font = runFonts[run.font];
        }
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

Font font(std::string name, double size) {
    Font made;
    made.name = std::move(name);
    made.size = size;
    return made;
}

// The default font of tests/data/xlsx/rich_text_runs.xlsx: Calibri 11 in theme colour 1 (dk1,
// black in the default theme), family 2.
Font calibri() {
    Font made = font("Calibri", 11);
    made.color = 0xFF000000;
    made.family = 2;
    return made;
}

TEST(TextRuns, TakeTheirNormalForm) {
    const std::string text = "ab中c";  // 中 takes bytes 2-4
    struct Case {
        const char* name;
        TextRuns runs;
        TextRuns expected;
    };
    const Case cases[] = {
        {"two runs stay", {{0, 1}, {2, 2}}, {{0, 1}, {2, 2}}},
        {"text before the first run takes the cell's font", {{2, 1}}, {{0, CellFont}, {2, 1}}},
        {"one run is plain", {{0, 1}}, {}},
        {"no runs", {}, {}},
        {"neighbours of one font join", {{0, 1}, {1, 1}, {5, 2}}, {{0, 1}, {5, 2}}},
        {"an empty run gives way to the next", {{0, 1}, {2, 3}, {2, 2}}, {{0, 1}, {2, 2}}},
        {"a start inside a character moves to its end", {{0, 1}, {3, 2}}, {{0, 1}, {5, 2}}},
        {"runs at or past the end go", {{0, 1}, {6, 2}, {99, 3}}, {}},
        {"a start going back is broken and left out", {{0, 1}, {5, 2}, {1, 3}}, {{0, 1}, {5, 2}}},
        {"a cell font run joins the text before it",
         {{1, CellFont}, {5, 2}},
         {{0, CellFont}, {5, 2}}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        TextRuns runs = row.runs;
        normaliseRuns(runs, text);
        EXPECT_EQ(runs, row.expected);
    }
}

TEST(TextRuns, RowsCopyTheirRunsAndLookThemUpByColumn) {
    Row row;
    EXPECT_TRUE(row.runs.empty());
    row.runs.set(7, {{0, 1}, {2, 2}});
    row.runs.set(2, {{0, 3}, {1, 4}});
    row.runs.set(7, {{0, 5}, {1, 6}});  // replaces
    Row copy = row;
    row.runs.erase(2);
    ASSERT_NE(copy.runs.find(2), nullptr);
    EXPECT_EQ(*copy.runs.find(7), (TextRuns{{0, 5}, {1, 6}}));
    EXPECT_EQ(copy.runs.entries().size(), 2u);
    EXPECT_EQ(copy.runs.entries().front().column, 2);
    EXPECT_EQ(row.runs.find(2), nullptr);
    EXPECT_EQ(row.runs.find(3), nullptr);
    row.runs.eraseColumns(1, 9);
    EXPECT_TRUE(row.runs.empty());
}

TEST(TextRuns, BuilderKeepsTheRunsOfTheCellThatWins) {
    WorkbookData book;
    Sheet& sheet = book.sheets.emplace_back();
    BookBuilder builder(book);
    SheetBuilder rows(builder, sheet, "test");
    ASSERT_TRUE(rows.addCell(2, textCell(1, "abcd"), {{0, 0}, {2, 1}}));
    ASSERT_TRUE(rows.addCell(2, textCell(3, "kept"), {{0, 1}, {1, 0}}));
    ASSERT_TRUE(rows.addCell(3, textCell(1, "row 3"), {{0, 1}, {4, 0}}));
    // Out of order: a plain cell over a rich one, a rich one over a plain one, a new row.
    ASSERT_TRUE(rows.addCell(2, textCell(1, "plain now")));
    ASSERT_TRUE(rows.addCell(2, textCell(2, "xy"), {{0, 0}, {1, 1}}));
    ASSERT_TRUE(rows.addCell(1, textCell(5, "first"), {{0, 1}, {3, 0}}));
    // A number cannot have runs; one run is plain.
    ASSERT_TRUE(rows.addCell(4, testing::numberCell(1, 5), {{0, 0}, {1, 1}}));
    ASSERT_TRUE(rows.addCell(4, textCell(2, "one"), {{0, 1}}));
    rows.finish();

    ASSERT_EQ(sheet.rows.size(), 4u);
    EXPECT_EQ(sheet.rows[0].number, 1);
    ASSERT_NE(sheet.rows[0].runs.find(5), nullptr);
    EXPECT_EQ(*sheet.rows[0].runs.find(5), (TextRuns{{0, 1}, {3, 0}}));
    const Row& second = sheet.rows[1];
    EXPECT_EQ(sheet.cell(2, 1)->text, "plain now");
    EXPECT_EQ(second.runs.find(1), nullptr);
    ASSERT_NE(second.runs.find(2), nullptr);
    ASSERT_NE(second.runs.find(3), nullptr);
    EXPECT_EQ(*second.runs.find(3), (TextRuns{{0, 1}, {1, 0}}));
    ASSERT_NE(sheet.rows[2].runs.find(1), nullptr);
    EXPECT_TRUE(sheet.rows[3].runs.empty());
}

TEST(TextRuns, CountAgainstTheMemoryOfTheSource) {
    // Room for two plain cells of short text, not for a rich one with a thousand runs.
    WorkbookData book;
    Sheet& sheet = book.sheets.emplace_back();
    BookBuilder builder(book, 2 * sizeof(Cell) + 1000);
    SheetBuilder rows(builder, sheet, "test");
    ASSERT_TRUE(rows.addCell(1, textCell(1, "a")));
    ASSERT_TRUE(rows.addCell(1, textCell(2, "b")));
    TextRuns many;
    std::string text;
    for (std::uint32_t k = 0; k < 1000; ++k) {
        many.push_back({k, k % 2});
        text += 'x';
    }
    Result<void> added = rows.addCell(2, textCell(1, text), std::move(many));
    ASSERT_FALSE(added);
    EXPECT_EQ(added.error().code, ErrorCode::SheetLimit);
}

// What tests/data/xlsx/rich_text_runs.xlsx holds (tests/data/xlsx/make_fixtures.py), cell by
// cell: runs with every property Excel writes; runs naming only underline, in a cell of Arial 14
// italic and in a plain one: not italic, and in the book's default font, either way; one run
// only; escapes and a phonetic run among runs; indexed and theme colours; an inline string.
struct RichCell {
    int row;
    int column;
    std::string text;
    std::vector<Piece> pieces;  // none: plain
};

std::vector<RichCell> richTextRunsCells() {
    Font boldRed = calibri();
    boldRed.bold = true;
    boldRed.color = 0xFFFF0000;
    Font calibriUnderlined = calibri();
    calibriUnderlined.underline = "single";
    Font struckSuperscript = calibri();
    struckSuperscript.strike = true;
    struckSuperscript.verticalAlign = "superscript";
    Font songti = calibri();
    songti.name = "宋体";
    songti.size = 12;
    songti.color = 0xFFFF0000;  // indexed 10 of the default palette
    Font bold = calibri();
    bold.bold = true;
    return {
        {1, 1, "plain bold red tail", {{"plain ", {}}, {"bold red", boldRed}, {" tail", {}}}},
        {2, 1, "abcdef", {{"abc", {}}, {"def", calibriUnderlined}}},
        {2, 2, "abcdef", {{"abc", {}}, {"def", calibriUnderlined}}},
        {3, 1, "only bold", {}},
        {4, 1, "a\rb2", {{"a\rb", {}}, {"2", struckSuperscript}}},
        {5, 1, "中文text", {{"中文", songti}, {"text", calibri()}}},
        {6, 1, "inline", {{"in", bold}, {"line", {}}}},
    };
}

TEST(TextRuns, XlsxStringsGiveRunsWithTheirFonts) {
    const WorkbookData book = mustRead("xlsx/rich_text_runs.xlsx");
    ASSERT_EQ(book.sheets.size(), 1u);
    for (const RichCell& cell : richTextRunsCells()) {
        SCOPED_TRACE(formatRange({{cell.row, cell.column}, {cell.row, cell.column}}));
        const Cell* found = book.sheets[0].cell(cell.row, cell.column);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->text, cell.text);
        EXPECT_EQ(piecesOf(book.sheets[0], book.runFonts, cell.row, cell.column), cell.pieces);
    }
    // A run font exists once however many cells show it.
    EXPECT_EQ(book.runFonts.size(), 6u);

    // Prefixed elements, as the OpenXML SDK writes them, in shared and inline strings.
    const WorkbookData prefixed = mustRead("xlsx/rich_text_prefixed.xlsx");
    ASSERT_EQ(prefixed.sheets.size(), 1u);
    Font blueBold;
    blueBold.bold = true;
    blueBold.color = 0xFF0000FF;
    Font italic;
    italic.italic = true;
    EXPECT_EQ(piecesOf(prefixed.sheets[0], prefixed.runFonts, 1, 1),
              (std::vector<Piece>{{"one ", {}}, {"two", blueBold}}));
    EXPECT_EQ(piecesOf(prefixed.sheets[0], prefixed.runFonts, 1, 2),
              (std::vector<Piece>{{"three", italic}, {" four", {}}}));
}

TEST(TextRuns, XlsSharedStringsGiveRunsWithTheirFonts) {
    // LibreOffice saved rich_text_runs.xlsx as .xls and wrote its runs in its own way: the
    // properties a run's <rPr> left out in its own default font (Cambria 11), no runs in the
    // text with a line break. Expected here is what the file holds, as xlrd reads it too.
    const WorkbookData book = mustRead("xls/rich_text_sst.xls");
    ASSERT_FALSE(book.sheets.empty());
    const Sheet& sheet = book.sheets[0];
    Font dejaVu = font("DejaVu Sans", 10);
    dejaVu.family = 2;
    Font boldRed = font("Calibri", 11);
    boldRed.bold = true;
    boldRed.color = 0xFFFF0000;
    boldRed.family = 2;
    Font arial = font("Arial", 14);
    arial.italic = true;
    Font underlined = font("Cambria", 11);
    underlined.underline = "single";
    Font bold = font("Cambria", 11);
    bold.bold = true;
    Font cjk = font("Noto Sans CJK SC", 12);
    cjk.color = 0xFFFF0000;
    cjk.family = 2;
    struct Case {
        int row;
        int column;
        std::vector<Piece> pieces;
    };
    const Case cases[] = {
        {1, 1, {{"plain ", dejaVu}, {"bold red", boldRed}, {" tail", dejaVu}}},
        {2, 1, {{"abc", arial}, {"def", underlined}}},
        {2, 2, {{"abc", dejaVu}, {"def", underlined}}},
        {3, 1, {}},
        {4, 1, {}},
        {5, 1, {{"中文", cjk}, {"text", font("Calibri", 11)}}},
        {6, 1, {{"in", bold}, {"line", dejaVu}}},
    };
    for (const Case& cell : cases) {
        SCOPED_TRACE(formatRange({{cell.row, cell.column}, {cell.row, cell.column}}));
        std::vector<Piece> pieces = piecesOf(sheet, book.runFonts, cell.row, cell.column);
        // The charset LibreOffice writes is not compared.
        for (Piece& piece : pieces)
            if (piece.font) piece.font->charset = -1;
        EXPECT_EQ(pieces, cell.pieces);
    }

    // Formatting runs whose bytes straddle a CONTINUE record: "Ri" in font 1, "ch" in font 0.
    const WorkbookData split = mustRead("xls/sst_split_across_continue.xls");
    ASSERT_EQ(split.sheets.size(), 1u);
    const Row* rich = split.sheets[0].row(3);
    ASSERT_NE(rich, nullptr);
    ASSERT_NE(rich->runs.find(1), nullptr);
    EXPECT_EQ(*rich->runs.find(1), (TextRuns{{0, 1}, {2, 0}}));
    EXPECT_EQ(split.sheets[0].cell(4, 1)->text, "Ext");
    EXPECT_TRUE(split.sheets[0].row(4)->runs.empty());
}

TEST(TextRuns, Biff5RStringRecordsGiveRunsOfCharacters) {
    const WorkbookData book = mustRead("xls/biff5_rstring.xls");
    ASSERT_EQ(book.sheets.size(), 1u);
    const Sheet& sheet = book.sheets[0];
    Font songti = font("宋体", 10);
    songti.charset = 134;
    Font boldRed = font("Arial", 10);
    boldRed.bold = true;
    boldRed.color = 0xFFFF0000;
    boldRed.charset = 134;
    Font italic = font("Arial", 10);
    italic.italic = true;
    italic.charset = 134;
    EXPECT_EQ(piecesOf(sheet, book.runFonts, 1, 1),
              (std::vector<Piece>{{"plain ", {}}, {"bold", boldRed}, {" tail", songti}}));
    // Runs count the characters of GBK text, however many bytes they take.
    EXPECT_EQ(sheet.cell(2, 1)->text, "普通斜体");
    EXPECT_EQ(piecesOf(sheet, book.runFonts, 2, 1),
              (std::vector<Piece>{{"普通", {}}, {"斜体", italic}}));
    EXPECT_EQ(piecesOf(sheet, book.runFonts, 3, 1),
              (std::vector<Piece>{{"中", {}}, {"文", boldRed}}));
}

// RSTRING records as damaged files hold them: a string longer than its record ends with the
// record (as LABEL strings do) and leaves the cell without runs, and runs past the record's end
// are dropped; only a record too short for its cell and length fails.
TEST(TextRuns, RStringRecordsCutShortKeepWhatTheyHold) {
    struct Case {
        const char* name;
        BiffVersion version;
        std::vector<std::uint8_t> data;  // after row 0, column 1, XF 15
        bool fails;
        std::string text;
        std::vector<std::pair<int, int>> runs;  // character, font
    };
    const Case cases[] = {
        {"BIFF5 whole",
         BiffVersion::Biff5,
         {4, 0, 'a', 'b', 'c', 'd', 1, 2, 5},
         false,
         "abcd",
         {{2, 5}}},
        {"BIFF5 length past the end",
         BiffVersion::Biff5,
         {10, 0, 'a', 'b', 'c', 'd'},
         false,
         "abcd",
         {}},
        {"BIFF5 runs past the end",
         BiffVersion::Biff5,
         {2, 0, 'a', 'b', 3, 1, 6, 2},
         false,
         "ab",
         {{1, 6}}},
        {"BIFF8 whole",
         BiffVersion::Biff8,
         {4, 0, 0, 'a', 'b', 'c', 'd', 1, 0, 1, 0, 6, 0},
         false,
         "abcd",
         {{1, 6}}},
        {"BIFF8 length past the end",
         BiffVersion::Biff8,
         {9, 0, 0, 'a', 'b', 'c', 'd'},
         false,
         "abcd",
         {}},
        {"no length", BiffVersion::Biff5, {4}, true, "", {}},
    };
    CodePageDecoder decoder;
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        std::vector<std::uint8_t> bytes{0, 0, 1, 0, 15, 0};
        bytes.insert(bytes.end(), row.data.begin(), row.data.end());
        BiffRecord record;
        record.id = 0x00D6;
        record.data = bytes;
        Result<RStringRecord> parsed = parseRString(record, row.version, decoder);
        ASSERT_EQ(!parsed, row.fails);
        if (row.fails) continue;
        EXPECT_EQ(parsed->cell.zeroBasedColumn, 1);
        EXPECT_EQ(parsed->cell.xf, 15);
        EXPECT_EQ(parsed->text, row.text);
        std::vector<std::pair<int, int>> runs;
        for (const FormatRun& run : parsed->runs) runs.emplace_back(run.character, run.font);
        EXPECT_EQ(runs, row.runs);
    }
}

TEST(TextRuns, RegistryInternsRunFontsApartFromCellFormats) {
    StyleRegistry styles;
    Font red = font("Arial", 12);
    red.color = 0xFFFF0000;
    const std::uint32_t first = styles.internRunFont(red);
    EXPECT_EQ(styles.internRunFont(font("Arial", 12)), first + 1);
    EXPECT_EQ(styles.internRunFont(red), first);
    EXPECT_EQ(styles.runFontCount(), 2u);
    EXPECT_EQ(styles.size(), 1u);  // no cell format was added
    EXPECT_EQ(styles.runFont(first), red);
    for (std::size_t k = styles.runFontCount(); k < StyleRegistry::MaxRunFonts; ++k)
        styles.internRunFont(font("F" + std::to_string(k), 10));
    EXPECT_EQ(styles.internRunFont(font("one too many", 10)), CellFont);
    EXPECT_EQ(styles.internRunFont(red), first);
}

TEST(TextRuns, WriterWritesRichInlineStringsTheReaderReadsBack) {
    StyleRegistry styles;
    Font full = font("微软雅黑", 9.5);
    full.bold = full.italic = full.strike = true;
    full.underline = "double";
    full.verticalAlign = "subscript";
    full.color = 0xFF00B050;
    full.family = 2;
    full.charset = 134;
    const std::uint32_t fullId = styles.internRunFont(full);
    const std::uint32_t plainId = styles.internRunFont(font("Arial", 10));
    const std::uint32_t bordered = [&] {
        CellStyle style = defaultResultStyle();
        style.border.bottom.style = "thin";
        return styles.intern(style);
    }();

    std::vector<Row> rows(3);
    rows[0].number = 1;
    rows[0].cells = {textCell(1, "  lead & <tail>  "), textCell(2, "中文\x01x"),
                     testing::numberCell(3, 7), textCell(4, "plain")};
    rows[0].runs.set(1, {{0, fullId}, {6, CellFont}, {9, plainId}});
    rows[0].runs.set(2, {{0, plainId}, {6, fullId}});
    rows[0].runs.set(3, {{0, plainId}, {1, fullId}});  // a number's runs are not written
    rows[1].number = 2;
    const std::string longText(32'768, 'y');  // past what a cell holds: cut, and plain
    rows[1].cells = {textCell(1, longText, bordered)};
    rows[1].runs.set(1, {{0, fullId}, {10, plainId}});
    rows[2].number = 3;
    rows[2].cells = {textCell(2, "a run per font", bordered)};
    rows[2].runs.set(2, {{0, CellFont}, {2, fullId}});
    SheetToWrite sheet;
    sheet.name = "富文本";
    sheet.rows = &rows;
    Result<std::vector<std::uint8_t>> bytes = writeXlsxToMemory(std::span(&sheet, 1), 0, styles);
    ASSERT_TRUE(bytes) << bytes.error().detail;
    EXPECT_TRUE(testing::soundPackage(*bytes));

    Result<WorkbookData> read = readXlsx(*bytes);
    ASSERT_TRUE(read) << read.error().detail;
    const Sheet& back = read->sheets.at(0);
    // A run font without family and charset takes them from the book's default font (the
    // result's, 宋体) when read back.
    Font arial = font("Arial", 10);
    arial.family = 3;
    arial.charset = 134;
    EXPECT_EQ(piecesOf(back, read->runFonts, 1, 1),
              (std::vector<Piece>{{"  lead", full}, {" & ", {}}, {"<tail>  ", arial}}));
    EXPECT_EQ(back.cell(1, 2)->text, "中文\x01x");
    EXPECT_EQ(piecesOf(back, read->runFonts, 1, 2),
              (std::vector<Piece>{{"中文", arial}, {"\x01x", full}}));
    EXPECT_EQ(back.cell(1, 3)->number, 7);
    EXPECT_TRUE(piecesOf(back, read->runFonts, 1, 4).empty());
    EXPECT_EQ(back.cell(2, 1)->text.size(), 32'767u);
    EXPECT_TRUE(back.row(2)->runs.empty());
    EXPECT_EQ(piecesOf(back, read->runFonts, 3, 2),
              (std::vector<Piece>{{"a ", {}}, {"run per font", full}}));
}

}  // namespace
}  // namespace spreadsheet
