#include "spreadsheet/sheet_builder.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "../cell_builders.h"

namespace spreadsheet {
namespace {

using testing::numberCell;

RowFormat heightFormat(double height, bool custom) {
    RowFormat format;
    format.height = height;
    format.customHeight = custom;
    return format;
}

// What a reader may hand over, in any order, and what the sheet must hold after finish(): the
// last cell given for each place and the last format given for each row, rows and cells
// ascending, a row without cells only when its format keeps it. Random sequences lean towards
// the ascending order files mostly have, with rows and cells going back, repeated places,
// and formats arriving before, with and after their cells (as .xls ROW records do).
TEST(SheetBuilder, HoldsTheLastCellAndFormatOfEachPlaceInOrder) {
    for (unsigned seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        auto chance = [&](unsigned percent) { return random() % 100 < percent; };
        WorkbookData book;
        Sheet& sheet = book.sheets.emplace_back();
        BookBuilder builder(book);
        SheetBuilder sheetBuilder(builder, sheet, "test");

        std::map<std::pair<int, int>, double> cells;
        std::map<int, RowFormat> formats;
        int row = 1;
        int column = 0;
        for (int step = 0; step < 80; ++step) {
            if (chance(15)) {
                const int formatRow = chance(50) ? row + static_cast<int>(random() % 4)
                                                 : 1 + static_cast<int>(random() % 12);
                const RowFormat format = heightFormat(static_cast<double>(step + 1), chance(50));
                ASSERT_TRUE(sheetBuilder.setRowFormat(formatRow, format));
                formats[formatRow] = format;
                continue;
            }
            if (chance(20)) {
                row = chance(70) ? row + 1 + static_cast<int>(random() % 2)
                                 : 1 + static_cast<int>(random() % 12);
                column = 0;
            }
            column = chance(80) ? column + 1 : 1 + static_cast<int>(random() % 6);
            const double value = step;
            ASSERT_TRUE(sheetBuilder.addCell(row, numberCell(column, value)));
            cells[{row, column}] = value;
        }
        sheetBuilder.finish();

        std::map<int, std::vector<std::pair<int, double>>> expectedRows;
        for (const auto& [place, value] : cells)
            expectedRows[place.first].push_back({place.second, value});
        for (const auto& [number, format] : formats)
            if (format.keepsEmptyRow()) expectedRows[number];
        ASSERT_EQ(sheet.rows.size(), expectedRows.size());
        auto expected = expectedRows.begin();
        for (const Row& actual : sheet.rows) {
            SCOPED_TRACE("row " + std::to_string(actual.number));
            ASSERT_EQ(actual.number, expected->first);
            const RowFormat format =
                formats.count(actual.number) ? formats[actual.number] : RowFormat{};
            EXPECT_EQ(actual.height, format.height);
            EXPECT_EQ(actual.customHeight, format.customHeight);
            ASSERT_EQ(actual.cells.size(), expected->second.size());
            for (std::size_t index = 0; index < actual.cells.size(); ++index) {
                EXPECT_EQ(actual.cells[index].column, expected->second[index].first);
                EXPECT_EQ(actual.cells[index].number, expected->second[index].second);
            }
            ++expected;
        }
    }
}

TEST(SheetBuilder, KeepsTheFirstOfOverlappingMergesByTopLeftCell) {
    struct Case {
        const char* name;
        std::vector<RangeRef> given;
        std::vector<RangeRef> kept;
    };
    const RangeRef a1b2{{1, 1}, {2, 2}};
    const RangeRef b2c3{{2, 2}, {3, 3}};
    const RangeRef c1d1{{1, 3}, {1, 4}};
    const RangeRef a3a4{{3, 1}, {4, 1}};
    const RangeRef a1e9{{1, 1}, {9, 5}};
    const RangeRef f1f9{{1, 6}, {9, 6}};
    const Case cases[] = {
        {"disjoint, given bottom first", {a3a4, c1d1, a1b2}, {a1b2, c1d1, a3a4}},
        {"a corner shared", {a1b2, b2c3}, {a1b2}},
        {"the later given starts first", {b2c3, a1b2}, {a1b2}},
        {"one inside another", {a1e9, b2c3, f1f9}, {a1e9, f1f9}},
        {"touching edges only", {a1b2, RangeRef{{3, 2}, {4, 2}}}, {a1b2, RangeRef{{3, 2}, {4, 2}}}},
        {"a long one ending above",
         {RangeRef{{1, 2}, {2, 2}}, RangeRef{{3, 1}, {3, 3}}},
         {RangeRef{{1, 2}, {2, 2}}, RangeRef{{3, 1}, {3, 3}}}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        WorkbookData book;
        Sheet& sheet = book.sheets.emplace_back();
        BookBuilder builder(book);
        SheetBuilder sheetBuilder(builder, sheet, "test");
        for (const RangeRef& range : row.given) ASSERT_TRUE(sheetBuilder.addMerge(range));
        sheetBuilder.finish();
        EXPECT_EQ(sheet.merges, row.kept);
    }
}

TEST(SheetBuilder, SortsColumnRunsAndClipsOverlapsAndTheGrid) {
    auto run = [](int first, int last, double width) {
        ColumnInfo info;
        info.first = first;
        info.last = last;
        info.width = width;
        return info;
    };
    struct Case {
        const char* name;
        GridLimits grid;
        std::vector<ColumnInfo> given;
        std::vector<std::pair<int, int>> kept;  // first, last
        std::vector<double> widths;
    };
    const Case cases[] = {
        {"ascending", XlsxGrid, {run(1, 2, 5), run(4, 4, 6)}, {{1, 2}, {4, 4}}, {5, 6}},
        {"given backwards", XlsxGrid, {run(4, 4, 6), run(1, 2, 5)}, {{1, 2}, {4, 4}}, {5, 6}},
        {"overlap clipped", XlsxGrid, {run(1, 5, 5), run(3, 8, 6)}, {{1, 5}, {6, 8}}, {5, 6}},
        {"swallowed", XlsxGrid, {run(1, 5, 5), run(2, 4, 6)}, {{1, 5}}, {5}},
        {"past the xls grid", XlsGrid, {run(200, 300, 5), run(257, 260, 6)}, {{200, 256}}, {5}},
        {"last before first", XlsxGrid, {run(5, 4, 5)}, {}, {}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        WorkbookData book;
        book.grid = row.grid;
        Sheet& sheet = book.sheets.emplace_back();
        BookBuilder builder(book);
        SheetBuilder sheetBuilder(builder, sheet, "test");
        for (const ColumnInfo& info : row.given) sheetBuilder.addColumns(info);
        sheetBuilder.finish();
        ASSERT_EQ(sheet.columns.size(), row.kept.size());
        for (std::size_t index = 0; index < row.kept.size(); ++index) {
            EXPECT_EQ(sheet.columns[index].first, row.kept[index].first);
            EXPECT_EQ(sheet.columns[index].last, row.kept[index].second);
            EXPECT_EQ(sheet.columns[index].width, row.widths[index]);
        }
    }
}

TEST(SheetBuilder, CutsFrozenPanesToTheGridAndIgnoresEmptyOnes) {
    struct Case {
        GridLimits grid;
        FrozenPane given;
        std::optional<FrozenPane> kept;
    };
    const Case cases[] = {
        {XlsxGrid, {1, 2}, FrozenPane{1, 2}},
        {XlsxGrid, {0, 0}, std::nullopt},
        {XlsxGrid, {2'000'000, 20'000}, FrozenPane{1'048'575, 16'383}},
        {XlsGrid, {70'000, 300}, FrozenPane{65'535, 255}},
        {XlsxGrid, {-3, 4}, FrozenPane{0, 4}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(std::to_string(row.given.rows) + "," + std::to_string(row.given.columns));
        WorkbookData book;
        book.grid = row.grid;
        Sheet& sheet = book.sheets.emplace_back();
        BookBuilder builder(book);
        SheetBuilder sheetBuilder(builder, sheet, "test");
        sheetBuilder.setFrozenPane(row.given);
        EXPECT_EQ(sheet.frozenPane, row.kept);
    }
}

// Each limit of reader_limits.h that the builder applies, hit with the least input that
// passes it; the error names the limit and the sheet.
TEST(SheetBuilder, RefusesInputPastEachLimitNamingIt) {
    WorkbookData book;
    book.sheets.resize(2);
    BookBuilder builder(book);

    SheetBuilder merges(builder, book.sheets[0], "sheet M");
    for (std::size_t index = 0; index < MaxMergesPerSheet; ++index) {
        const int row = static_cast<int>(index / 1000) * 2 + 1;
        const int column = static_cast<int>(index % 1000) * 2 + 1;
        ASSERT_TRUE(merges.addMerge(RangeRef{{row, column}, {row, column + 1}}));
    }
    Result<void> overMerges = merges.addMerge(RangeRef{{1, 1}, {2, 2}});
    ASSERT_FALSE(overMerges);
    EXPECT_EQ(overMerges.error().code, ErrorCode::SheetLimit);
    EXPECT_NE(overMerges.error().detail.find("sheet M"), std::string::npos);
    EXPECT_NE(overMerges.error().detail.find("merges per sheet limit"), std::string::npos);

    SheetBuilder rows(builder, book.sheets[1], "sheet R");
    for (std::size_t index = 0; index < MaxRowEntriesPerSheet; ++index)
        ASSERT_TRUE(rows.setRowFormat(1 + static_cast<int>(index % 2), heightFormat(20, true)));
    Result<void> overRows = rows.setRowFormat(1, heightFormat(20, true));
    ASSERT_FALSE(overRows);
    EXPECT_NE(overRows.error().detail.find("rows per sheet limit"), std::string::npos);

    EXPECT_TRUE(builder.checkSheetCount(MaxSheets, "book.xml"));
    Result<void> overSheets = builder.checkSheetCount(MaxSheets + 1, "book.xml");
    ASSERT_FALSE(overSheets);
    EXPECT_EQ(overSheets.error().code, ErrorCode::SheetLimit);
    EXPECT_NE(overSheets.error().detail.find("sheet count limit"), std::string::npos);
}

TEST(SheetBuilder, CountsCellsAndFormulasOfAllSheetsAgainstOneBudget) {
    WorkbookData book;
    book.sheets.resize(2);
    // Room for three plain cells and no more, over both sheets.
    BookBuilder builder(book, 3 * sizeof(Cell) + sizeof(Cell) / 2);
    SheetBuilder first(builder, book.sheets[0], "first");
    SheetBuilder second(builder, book.sheets[1], "second");
    ASSERT_TRUE(first.addCell(1, numberCell(1, 1)));
    ASSERT_TRUE(second.addCell(1, numberCell(1, 2)));
    ASSERT_TRUE(first.addCell(2, numberCell(1, 3)));
    Result<void> over = second.addCell(2, numberCell(1, 4));
    ASSERT_FALSE(over);
    EXPECT_EQ(over.error().code, ErrorCode::SheetLimit);
    EXPECT_NE(over.error().detail.find("memory per source limit"), std::string::npos);

    WorkbookData formulas;
    formulas.sheets.resize(1);
    BookBuilder formulaBuilder(formulas, 1500);
    SheetBuilder sheet(formulaBuilder, formulas.sheets[0], "f");
    ASSERT_TRUE(sheet.addFormula(1, 1, std::string(900, 'f')));
    EXPECT_FALSE(sheet.addFormula(1, 2, std::string(900, 'f')));
}

// A 1904 book's dates move by 1462 days into the 1900 system; durations and plain numbers do
// not. A value given as an absolute 1900 serial comes out unchanged.
TEST(BookBuilder, MovesDatesOf1904BooksButNotDurationsOrNumbers) {
    WorkbookData book;
    book.date1904 = true;
    book.styles.resize(4);
    book.styles[1].numberFormat = "yyyy-mm-dd";
    book.styles[2].numberFormat = "[h]:mm:ss";
    book.styles[3].numberFormat = "[$-F400]h:mm:ss AM/PM";
    Sheet& sheet = book.sheets.emplace_back();
    BookBuilder builder(book);
    SheetBuilder sheetBuilder(builder, sheet, "test");
    ASSERT_TRUE(sheetBuilder.addCell(1, numberCell(1, 10, 0)));
    ASSERT_TRUE(sheetBuilder.addCell(1, numberCell(2, 10, 1)));
    ASSERT_TRUE(sheetBuilder.addCell(1, numberCell(3, 10, 2)));
    ASSERT_TRUE(sheetBuilder.addCell(1, numberCell(4, 0.5, 3)));
    ASSERT_TRUE(sheetBuilder.addCell(1, numberCell(5, builder.toBookDateSystem(42170, 1), 1)));
    sheetBuilder.finish();
    builder.finish();
    EXPECT_EQ(sheet.cell(1, 1)->number, 10);
    EXPECT_EQ(sheet.cell(1, 2)->number, 1472);
    EXPECT_EQ(sheet.cell(1, 3)->number, 10);
    EXPECT_EQ(sheet.cell(1, 4)->number, 1462.5);
    EXPECT_EQ(sheet.cell(1, 5)->number, 42170);
}

}  // namespace
}  // namespace spreadsheet
