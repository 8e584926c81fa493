#include "spreadsheet/sheet_builder.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "spreadsheet/style.h"

namespace spreadsheet {
namespace {

// True for duration formats such as [h]:mm:ss, whose numbers are spans rather than dates.
bool isElapsedTimeFormat(std::string_view code) {
    for (std::size_t open = code.find('['); open != std::string_view::npos;
         open = code.find('[', open + 1)) {
        const std::size_t close = code.find(']', open);
        if (close == std::string_view::npos) return false;
        const std::string_view block = code.substr(open + 1, close - open - 1);
        if (!block.empty() && block.find_first_not_of("hHmMsS") == std::string_view::npos)
            return true;
    }
    return false;
}

void applyFormat(Row& row, const RowFormat& format) {
    row.height = format.height;
    row.customHeight = format.customHeight;
    row.hidden = format.hidden;
    row.style = format.style;
}

// Keeps the merges that overlap no earlier-kept merge, in the order of their top-left cells.
// A sweep over rows: the merges alive at the current top row cover disjoint column ranges, so
// one ordered map by first column answers each overlap test in O(log n).
std::vector<RangeRef> withoutOverlaps(std::vector<RangeRef> merges) {
    std::stable_sort(merges.begin(), merges.end(), [](const RangeRef& a, const RangeRef& b) {
        return a.first.row != b.first.row ? a.first.row < b.first.row
                                          : a.first.column < b.first.column;
    });
    std::map<int, RangeRef> alive;  // by first column
    std::vector<RangeRef> kept;
    for (const RangeRef& merge : merges) {
        bool overlaps = false;
        for (;;) {
            auto candidate = alive.upper_bound(merge.last.column);
            if (candidate == alive.begin()) break;
            --candidate;
            if (candidate->second.last.row < merge.first.row) {
                alive.erase(candidate);  // ended above this merge
                continue;
            }
            overlaps = candidate->second.last.column >= merge.first.column;
            break;
        }
        if (overlaps) continue;
        alive[merge.first.column] = merge;
        kept.push_back(merge);
    }
    return kept;
}

}  // namespace

double columnWidthFromBase(int characters) {
    constexpr double DigitPixels = 7.0;
    constexpr double PaddingPixels = 5.0;
    const double digits = (characters * DigitPixels + PaddingPixels) / DigitPixels;
    return std::floor(digits * 256.0) / 256.0;
}

bool shiftsWithDateSystem(const std::string& numberFormat) {
    return isDateFormat(numberFormat) && !isElapsedTimeFormat(numberFormat);
}

// ---------------------------------------------------------------------------------------------
// The book

Result<void> BookBuilder::checkSheetCount(std::size_t count, std::string_view where) const {
    if (count <= MaxSheets) return {};
    return Error(ErrorCode::SheetLimit, std::string(where) + " declares " + std::to_string(count) +
                                            " sheets, more than " + std::to_string(MaxSheets) +
                                            " (sheet count limit)");
}

double BookBuilder::toBookDateSystem(double serial, std::uint32_t style) const {
    if (!m_book.date1904 || style >= m_book.styles.size()) return serial;
    return shiftsWithDateSystem(m_book.styles[style].numberFormat) ? serial - Date1904Offset
                                                                   : serial;
}

std::uint32_t BookBuilder::internRunFont(const Font& font) {
    const std::size_t hash = hashFont(font);
    auto [first, last] = m_runFontsByHash.equal_range(hash);
    for (auto it = first; it != last; ++it)
        if (m_book.runFonts[it->second] == font) return it->second;
    const auto index = static_cast<std::uint32_t>(m_book.runFonts.size());
    m_book.runFonts.push_back(font);
    m_runFontsByHash.emplace(hash, index);
    return index;
}

void BookBuilder::finish() {
    if (!m_book.date1904) return;
    std::vector<char> shift(m_book.styles.size());
    for (std::size_t index = 0; index < m_book.styles.size(); ++index)
        shift[index] = shiftsWithDateSystem(m_book.styles[index].numberFormat);
    for (Sheet& sheet : m_book.sheets) {
        for (Row& row : sheet.rows) {
            for (Cell& cell : row.cells) {
                if (cell.type == CellType::Number && cell.style < shift.size() && shift[cell.style])
                    cell.number += Date1904Offset;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// A sheet

SheetBuilder::SheetBuilder(BookBuilder& book, Sheet& sheet, std::string where)
    : m_book(book), m_sheet(sheet), m_budget(book.budget()), m_where(std::move(where)) {}

Error SheetBuilder::cellLimitError() const {
    return Error(ErrorCode::SheetLimit, m_where + ": more than " +
                                            std::to_string(MaxCellsPerSheet) +
                                            " cells (cells per sheet limit)");
}

void SheetBuilder::placeCell(int row, Cell&& cell, TextRuns&& runs) {
    if (m_sheet.rows.empty() || row > m_sheet.rows.back().number) {
        openRow(row);
        Row& opened = m_sheet.rows.back();
        if (!runs.empty()) opened.runs.set(cell.column, std::move(runs));
        opened.cells.push_back(std::move(cell));
    } else {
        m_outOfOrder.push_back(PendingCell{row, std::move(cell), std::move(runs)});
    }
}

Result<void> SheetBuilder::addCell(int row, Cell&& cell, TextRuns&& runs) {
    if (cell.type == CellType::Text)
        normaliseRuns(runs, cell.text);
    else
        runs.clear();
    if (runs.empty()) return addCell(row, std::move(cell));
    assert(row >= 1 && cell.column >= 1);
    if (++m_cellCount > MaxCellsPerSheet) return cellLimitError();
    if (!m_budget.addCell(cell) || !m_budget.addRuns(runs)) return m_budget.error();
    if (!m_sheet.rows.empty()) {
        Row& last = m_sheet.rows.back();
        if (last.number == row && (last.cells.empty() || cell.column > last.cells.back().column)) {
            last.runs.set(cell.column, std::move(runs));
            last.cells.push_back(std::move(cell));
            return {};
        }
    }
    placeCell(row, std::move(cell), std::move(runs));
    return {};
}

void SheetBuilder::appendFormatOnlyRow(const PendingFormat& pending) {
    Row& row = m_sheet.rows.emplace_back();
    row.number = pending.row;
    applyFormat(row, pending.format);
}

// Starts row `row`, after the last row: the formats of the rows before it that arrived ahead
// of their cells become rows of their own, and the row takes its format if it has one.
void SheetBuilder::openRow(int row) {
    if (!m_sheet.rows.empty() && !m_sheet.rows.back().cells.empty())
        m_previousRowWidth = m_sheet.rows.back().cells.size();
    while (m_upcomingHead < m_upcoming.size() && m_upcoming[m_upcomingHead].row < row)
        appendFormatOnlyRow(m_upcoming[m_upcomingHead++]);
    Row& opened = m_sheet.rows.emplace_back();
    opened.number = row;
    if (m_upcomingHead < m_upcoming.size() && m_upcoming[m_upcomingHead].row == row)
        applyFormat(opened, m_upcoming[m_upcomingHead++].format);
    if (m_upcomingHead == m_upcoming.size()) {
        m_upcoming.clear();
        m_upcomingHead = 0;
    }
    // Rows of a sheet tend to be alike; this saves most regrowth of the cell vectors.
    opened.cells.reserve(m_previousRowWidth);
}

Result<void> SheetBuilder::addFormula(int row, int column, std::string text) {
    // One long formula costs its full length per cell: count what the model really holds.
    if (!m_budget.addText(text)) return m_budget.error();
    m_sheet.formulas.push_back({row, column, std::move(text)});
    return {};
}

Result<void> SheetBuilder::setRowFormat(int row, const RowFormat& format) {
    assert(row >= 1);
    if (++m_rowFormatCount > MaxRowEntriesPerSheet)
        return Error(ErrorCode::SheetLimit, m_where + ": more than " +
                                                std::to_string(MaxRowEntriesPerSheet) +
                                                " row entries (rows per sheet limit)");
    if (!m_sheet.rows.empty() && row <= m_sheet.rows.back().number) {
        if (row == m_sheet.rows.back().number)
            applyFormat(m_sheet.rows.back(), format);
        else
            m_lateFormats.push_back({row, format});
        return {};
    }
    // Ahead of the last row: kept ascending, one per row, usually by appending.
    auto first = m_upcoming.begin() + static_cast<std::ptrdiff_t>(m_upcomingHead);
    auto place = m_upcoming.empty() || m_upcoming.back().row < row
                     ? m_upcoming.end()
                     : std::lower_bound(first, m_upcoming.end(), row,
                                        [](const PendingFormat& pending, int wanted) {
                                            return pending.row < wanted;
                                        });
    if (place != m_upcoming.end() && place->row == row)
        place->format = format;
    else
        m_upcoming.insert(place, {row, format});
    return {};
}

Result<void> SheetBuilder::addMerge(const RangeRef& range) {
    assert(range.first.row <= range.last.row && range.first.column <= range.last.column);
    if (m_sheet.merges.size() >= MaxMergesPerSheet)
        return Error(ErrorCode::SheetLimit, m_where + ": more than " +
                                                std::to_string(MaxMergesPerSheet) +
                                                " merged ranges (merges per sheet limit)");
    m_sheet.merges.push_back(range);
    return {};
}

void SheetBuilder::addColumns(const ColumnInfo& columns) {
    const int gridColumns = m_book.book().grid.columns;
    if (columns.first < 1 || columns.first > gridColumns || columns.last < columns.first) return;
    // More runs than the grid has columns cannot all survive the clipping.
    if (m_sheet.columns.size() >= static_cast<std::size_t>(gridColumns)) return;
    ColumnInfo clipped = columns;
    clipped.last = std::min(clipped.last, gridColumns);
    m_sheet.columns.push_back(clipped);
}

void SheetBuilder::setFrozenPane(FrozenPane pane) {
    const GridLimits grid = m_book.book().grid;
    pane.rows = std::clamp(pane.rows, 0, grid.rows - 1);
    pane.columns = std::clamp(pane.columns, 0, grid.columns - 1);
    if (pane.rows > 0 || pane.columns > 0) m_sheet.frozenPane = pane;
}

void SheetBuilder::finish() {
    while (m_upcomingHead < m_upcoming.size()) appendFormatOnlyRow(m_upcoming[m_upcomingHead++]);
    m_upcoming.clear();
    m_upcomingHead = 0;
    mergeOutOfOrderCells();
    applyLateFormats();
    std::erase_if(m_sheet.rows, [](const Row& row) {
        return row.cells.empty() && !row.customHeight && !row.hidden && !row.style;
    });
    orderColumns();
    if (!m_sheet.merges.empty()) m_sheet.merges = withoutOverlaps(std::move(m_sheet.merges));
}

// Cells out of order or repeated are merged into the rows; a later cell wins. The cells already
// in a row came before any waiting cell of the same place.
void SheetBuilder::mergeOutOfOrderCells() {
    if (m_outOfOrder.empty()) return;
    std::stable_sort(m_outOfOrder.begin(), m_outOfOrder.end(),
                     [](const PendingCell& a, const PendingCell& b) {
                         return a.row != b.row ? a.row < b.row : a.cell.column < b.cell.column;
                     });
    std::vector<Row>& rows = m_sheet.rows;
    std::vector<Row> merged;
    merged.reserve(rows.size());
    std::size_t next = 0;
    auto takeGroup = [&](Row& row) {
        std::vector<Cell> cells;
        cells.reserve(row.cells.size());
        std::size_t existing = 0;
        auto put = [&](Cell&& cell) {
            if (!cells.empty() && cells.back().column == cell.column)
                cells.back() = std::move(cell);
            else
                cells.push_back(std::move(cell));
        };
        for (; next < m_outOfOrder.size() && m_outOfOrder[next].row == row.number; ++next) {
            Cell& cell = m_outOfOrder[next].cell;
            for (; existing < row.cells.size() && row.cells[existing].column <= cell.column;
                 ++existing)
                put(std::move(row.cells[existing]));
            // The later cell brings its own runs, or none, in place of the earlier one's.
            if (TextRuns& runs = m_outOfOrder[next].runs; runs.empty())
                row.runs.erase(cell.column);
            else
                row.runs.set(cell.column, std::move(runs));
            put(std::move(cell));
        }
        for (; existing < row.cells.size(); ++existing) put(std::move(row.cells[existing]));
        row.cells = std::move(cells);
    };
    auto addRowsBefore = [&](int number) {
        while (next < m_outOfOrder.size() && m_outOfOrder[next].row < number) {
            Row added;
            added.number = m_outOfOrder[next].row;
            takeGroup(added);
            merged.push_back(std::move(added));
        }
    };
    for (Row& row : rows) {
        addRowsBefore(row.number);
        takeGroup(row);
        merged.push_back(std::move(row));
    }
    addRowsBefore(XlsxMaxRows + 1);
    rows = std::move(merged);
    m_outOfOrder.clear();
}

// Formats that arrived after their row had passed: the last one of each row wins, over the
// format the row had.
void SheetBuilder::applyLateFormats() {
    if (m_lateFormats.empty()) return;
    std::stable_sort(m_lateFormats.begin(), m_lateFormats.end(),
                     [](const PendingFormat& a, const PendingFormat& b) { return a.row < b.row; });
    std::vector<Row>& rows = m_sheet.rows;
    std::vector<Row> merged;
    merged.reserve(rows.size());
    std::size_t index = 0;
    for (std::size_t k = 0; k < m_lateFormats.size(); ++k) {
        const PendingFormat& pending = m_lateFormats[k];
        if (k + 1 < m_lateFormats.size() && m_lateFormats[k + 1].row == pending.row) continue;
        for (; index < rows.size() && rows[index].number < pending.row; ++index)
            merged.push_back(std::move(rows[index]));
        if (index < rows.size() && rows[index].number == pending.row) {
            applyFormat(rows[index], pending.format);
            merged.push_back(std::move(rows[index++]));
        } else {
            Row& row = merged.emplace_back();
            row.number = pending.row;
            applyFormat(row, pending.format);
        }
    }
    for (; index < rows.size(); ++index) merged.push_back(std::move(rows[index]));
    rows = std::move(merged);
    m_lateFormats.clear();
}

// Column runs ascending and disjoint: sorted by their first column, and a run overlapping the
// one before it starts after it (or goes when nothing is left).
void SheetBuilder::orderColumns() {
    std::vector<ColumnInfo>& columns = m_sheet.columns;
    if (columns.size() < 2) return;
    std::stable_sort(columns.begin(), columns.end(),
                     [](const ColumnInfo& a, const ColumnInfo& b) { return a.first < b.first; });
    std::vector<ColumnInfo> clipped;
    clipped.reserve(columns.size());
    for (ColumnInfo column : columns) {
        if (!clipped.empty() && column.first <= clipped.back().last)
            column.first = clipped.back().last + 1;
        if (column.first > column.last) continue;
        clipped.push_back(column);
    }
    columns = std::move(clipped);
}

}  // namespace spreadsheet
