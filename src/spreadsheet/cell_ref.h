// A1 cell references: parsing (B2, $B$2, b2, B2:G5), formatting and column letters. The one A1
// parser of the engine: the readers' per-cell references go through scanCellRef too.
//   Result<RangeRef> range = parseRange("b2:$G$5", XlsxGrid);
#pragma once

#include <string>
#include <string_view>

#include "spreadsheet/error.h"

namespace spreadsheet {

constexpr int XlsxMaxRows = 1'048'576;
constexpr int XlsxMaxColumns = 16'384;
constexpr int XlsMaxRows = 65'536;
constexpr int XlsMaxColumns = 256;

// The size of a book's grid; references outside it are invalid.
struct GridLimits {
    int rows = XlsxMaxRows;
    int columns = XlsxMaxColumns;
};
constexpr GridLimits XlsxGrid{XlsxMaxRows, XlsxMaxColumns};
constexpr GridLimits XlsGrid{XlsMaxRows, XlsMaxColumns};

// One cell, 1-based.
struct CellRef {
    int row = 1;
    int column = 1;
    friend bool operator==(const CellRef&, const CellRef&) = default;
};

// A rectangle, first is top-left and last bottom-right (normalised by the parser).
struct RangeRef {
    CellRef first;
    CellRef last;
    int rowCount() const { return last.row - first.row + 1; }
    int columnCount() const { return last.column - first.column + 1; }
    bool contains(CellRef cell) const {
        return cell.row >= first.row && cell.row <= last.row && cell.column >= first.column &&
               cell.column <= last.column;
    }
    friend bool operator==(const RangeRef&, const RangeRef&) = default;
};

// "B2", "$B$2", "b2" or a rectangle "B2:G5"; a single cell gives a one-cell range.
// Fails with InvalidReference for anything else and for cells outside `grid`.
Result<RangeRef> parseRange(std::string_view text, GridLimits grid = XlsxGrid);

enum class DollarSigns { Refused, Allowed };

// What scanCellRef found.
enum class CellRefScan {
    Cell,         // a cell of the largest grid (XlsxGrid); `cell` holds it
    OutsideGrid,  // letters then digits, but row 0 or a row or column past XlsxGrid
    Malformed,    // anything else
};

// Reads one cell reference: letters in either case, then digits, with `DollarSigns::Allowed`
// also "$B$12"; nothing around it. Cheap enough for every cell of a worksheet.
CellRefScan scanCellRef(std::string_view text, DollarSigns dollars, CellRef& cell);

// A single cell without dollar signs, inside XlsxGrid. Returns false for anything else.
bool parseCellRefLoose(std::string_view text, CellRef& cell);

// 1 -> "A", 26 -> "Z", 27 -> "AA", 16384 -> "XFD". column must be >= 1.
std::string columnLetters(int column);

// "B2"; a range prints as "B2:G5", a one-cell range as "B2".
std::string formatCell(CellRef cell);
std::string formatRange(const RangeRef& range);

}  // namespace spreadsheet
