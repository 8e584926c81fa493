// The one way from a reader into the cell model. Every reader hands its cells, row formats,
// merged ranges, column runs, pane and autofilter to a SheetBuilder, which applies the limits of
// reader_limits.h and the source's memory budget, puts rows and cells in order (a later cell at
// the same place wins), drops overlapping merges, and clips column runs; the BookBuilder of the
// book counts its sheets and moves a 1904 book's dates into the 1900 system.
//   BookBuilder book(data);
//   SheetBuilder sheet(book, data.sheets[0], "xl/worksheets/sheet1.xml");
//   if (Result<void> added = sheet.addCell(row, std::move(cell)); !added) return added.error();
//   sheet.finish();  // then, after the last sheet: book.finish();
#pragma once

#include <cassert>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "spreadsheet/error.h"
#include "spreadsheet/model_budget.h"
#include "spreadsheet/reader_limits.h"
#include "spreadsheet/workbook_data.h"

namespace spreadsheet {

// A 1904 book's dates are this many days smaller than the same dates in the 1900 system.
constexpr double Date1904Offset = 1462.0;

// Whether a number in this format moves by Date1904Offset between the 1904 and the 1900 date
// systems: dates and times do, durations such as [h]:mm:ss do not.
bool shiftsWithDateSystem(const std::string& numberFormat);

// The stored width (characters, as OOXML stores widths) of columns `characters` digits wide, as
// a sheet's base width gives it: the digits plus 5 pixels of padding (2 on each side, 1 for the
// grid line), in digits of the default font, whose widest digit is 7 pixels (Calibri 11 and 宋体
// 11), truncated to 1/256 of a digit like any stored width. 8 digits give 8.7109375.
double columnWidthFromBase(int characters);

// What a reader knows about a row besides its cells.
struct RowFormat {
    double height = 0.0;  // points; 0 = the sheet's default
    bool customHeight = false;
    bool hidden = false;
    std::optional<std::uint32_t> style;  // a row-wide format
    bool isDefault() const { return height == 0.0 && !customHeight && !hidden && !style; }
    // A row without cells is kept only when its format says something a copy must keep.
    bool keepsEmptyRow() const { return customHeight || hidden || style.has_value(); }
};

// The book being read: its data, its memory budget (shared by all its sheets) and the checks
// that concern all sheets together.
class BookBuilder {
public:
    // `book` must outlive the builder. `budget` bounds the model memory of the whole source.
    explicit BookBuilder(WorkbookData& book, std::uint64_t budget = MaxModelBytes)
        : m_book(book), m_budget(budget) {}

    WorkbookData& book() { return m_book; }
    ModelBudget& budget() { return m_budget; }

    // Fails with SheetLimit ("sheet count limit") when a book holds `count` sheets, more than
    // MaxSheets; `where` names what declares them ("xl/workbook.xml").
    Result<void> checkSheetCount(std::size_t count, std::string_view where) const;

    // A serial of the 1900 date system as the book's own date system stores it, for a value
    // that a file gives as an absolute date (an ISO 8601 text) in a cell of `style`; finish()
    // moves it back.
    double toBookDateSystem(double serial, std::uint32_t style) const;

    // The index of `font` among the book's run fonts (book.runFonts), added when new.
    std::uint32_t internRunFont(const Font& font);

    // After the last sheet is finished and book.styles holds the final styles: a 1904 book's
    // dates get Date1904Offset added, so that a copy shows the same dates in the 1900 system
    // the result uses. Durations keep their value.
    void finish();

private:
    WorkbookData& m_book;
    ModelBudget m_budget;
    std::unordered_multimap<std::size_t, std::uint32_t> m_runFontsByHash;
};

// The content of one sheet as a reader finds it, in whatever order the file has it. Rows and
// columns are 1-based and inside the book's grid; readers check positions against their
// format, the builder checks the limits. Cells in row and column order, the common case, go
// straight into the sheet; others wait and are merged in by finish().
class SheetBuilder {
public:
    // `sheet` must outlive the builder and stay where it is until finish(); `where` names the
    // sheet in errors ("xl/worksheets/sheet1.xml", "sheet Data").
    SheetBuilder(BookBuilder& book, Sheet& sheet, std::string where);

    Sheet& sheet() { return m_sheet; }

    // Stores `cell` (its column, style, value and text) at `row`. Of two cells at one place the
    // one added later wins. Fails with SheetLimit past MaxCellsPerSheet cells or the memory
    // budget; the sheet is not to be used after a failure.
    Result<void> addCell(int row, Cell&& cell) {
        assert(row >= 1 && cell.column >= 1);
        if (++m_cellCount > MaxCellsPerSheet) return cellLimitError();
        if (!m_budget.addCell(cell)) return m_budget.error();
        if (!m_sheet.rows.empty()) {
            Row& last = m_sheet.rows.back();
            if (last.number == row &&
                (last.cells.empty() || cell.column > last.cells.back().column)) {
                last.cells.push_back(std::move(cell));
                return {};
            }
        }
        placeCell(row, std::move(cell));
        return {};
    }

    // Stores a Text cell with the runs of its text, as the file gives them (normaliseRuns puts
    // them in order; runs that leave the text plain are dropped). Fails as addCell(row, cell).
    Result<void> addCell(int row, Cell&& cell, TextRuns&& runs);

    // The formula text (without "=") of the cell at (row, column), counted against the budget.
    Result<void> addFormula(int row, int column, std::string text);
    // A formula cell that carries no cached value.
    void countUncalculatedFormula() { ++m_sheet.uncalculatedFormulas; }

    // The format of row `row`; of several for one row the last wins. A row without cells is
    // kept only when its format keepsEmptyRow(). Fails with SheetLimit past
    // MaxRowEntriesPerSheet formats.
    Result<void> setRowFormat(int row, const RowFormat& format);

    // A merged range. finish() orders the ranges by top row, then left column, and drops each
    // that overlaps one kept before it. Fails with SheetLimit past MaxMergesPerSheet ranges.
    Result<void> addMerge(const RangeRef& range);

    // A run of columns sharing a width and format. finish() sorts the runs and clips a run that
    // overlaps the run before it; runs beyond the grid's column count are dropped.
    void addColumns(const ColumnInfo& columns);

    // Frozen rows and columns, kept when at least one is frozen; counts past the grid are cut
    // to leave one row and one column unfrozen.
    void setFrozenPane(FrozenPane pane);
    void setAutoFilter(const RangeRef& range) { m_sheet.autoFilter = range; }
    void setDefaultColumnWidth(double width) { m_sheet.defaultColumnWidth = width; }
    void setDefaultRowHeight(double height) { m_sheet.defaultRowHeight = height; }

    // Puts everything in order: rows ascending with their formats, cells ascending within
    // their row, merges without overlaps, column runs ascending and disjoint. Call once, after
    // the last addition.
    void finish();

private:
    struct PendingCell {
        int row = 0;
        Cell cell;
        TextRuns runs;
    };
    struct PendingFormat {
        int row = 0;
        RowFormat format;
    };

    void placeCell(int row, Cell&& cell, TextRuns&& runs = {});
    void openRow(int row);
    void appendFormatOnlyRow(const PendingFormat& pending);
    void mergeOutOfOrderCells();
    void applyLateFormats();
    void orderColumns();
    Error cellLimitError() const;

    BookBuilder& m_book;
    Sheet& m_sheet;
    ModelBudget& m_budget;
    std::string m_where;
    std::size_t m_cellCount = 0;
    std::size_t m_rowFormatCount = 0;
    std::size_t m_previousRowWidth = 0;  // cells of the last row that had any
    // Cells before the last row, or not right of the last row's last cell.
    std::vector<PendingCell> m_outOfOrder;
    // Formats of rows after the last row, ascending, one per row, from m_upcomingHead on; a
    // row takes its format when its first cell arrives.
    std::vector<PendingFormat> m_upcoming;
    std::size_t m_upcomingHead = 0;
    // Formats of rows before the last row, in arrival order.
    std::vector<PendingFormat> m_lateFormats;
};

}  // namespace spreadsheet
