#include "spreadsheet/cell_ref.h"

#include <algorithm>

#include "spreadsheet/texts.h"

namespace spreadsheet {
namespace {

Error invalidReference(std::string_view text, const char* why) {
    std::string detail = texts::QuoteOpen;
    detail.append(text.substr(0, 64));
    if (text.size() > 64) detail += texts::Ellipsis;
    detail += texts::QuoteClose;
    detail += why;
    return Error(ErrorCode::InvalidReference, std::move(detail));
}

}  // namespace

Result<RangeRef> parseRange(std::string_view text, GridLimits grid) {
    const std::size_t colon = text.find(':');
    const std::string_view firstText = text.substr(0, colon);
    const std::string_view lastText =
        colon == std::string_view::npos ? firstText : text.substr(colon + 1);
    if (lastText.find(':') != std::string_view::npos)
        return invalidReference(text, texts::NotA1Reference);
    CellRef first;
    CellRef last;
    // Parse against the largest grid any format has, then check the book's own grid, so the
    // message can tell a malformed text from a cell beyond the grid.
    if (scanCellRef(firstText, DollarSigns::Allowed, first) != CellRefScan::Cell ||
        scanCellRef(lastText, DollarSigns::Allowed, last) != CellRefScan::Cell)
        return invalidReference(text, texts::NotA1Reference);
    if (first.row > grid.rows || last.row > grid.rows || first.column > grid.columns ||
        last.column > grid.columns)
        return invalidReference(text, texts::OutsideGrid);
    RangeRef range;
    range.first = {std::min(first.row, last.row), std::min(first.column, last.column)};
    range.last = {std::max(first.row, last.row), std::max(first.column, last.column)};
    return range;
}

CellRefScan scanCellRef(std::string_view text, DollarSigns dollars, CellRef& cell) {
    const char* position = text.data();
    const char* const end = position + text.size();
    const bool allowDollar = dollars == DollarSigns::Allowed;
    if (allowDollar && position < end && *position == '$') ++position;
    // Counting stops one past the grid, so that a reference of any length cannot overflow.
    int column = 0;
    const char* const lettersStart = position;
    for (; position < end; ++position) {
        const auto upper = static_cast<unsigned char>(*position & ~0x20);
        if (upper < 'A' || upper > 'Z') break;
        if (column <= XlsxMaxColumns) column = column * 26 + (upper - 'A' + 1);
    }
    if (position == lettersStart) return CellRefScan::Malformed;
    if (allowDollar && position < end && *position == '$') ++position;
    int row = 0;
    const char* const digitsStart = position;
    for (; position < end; ++position) {
        const unsigned digit = static_cast<unsigned>(*position - '0');
        if (digit > 9) return CellRefScan::Malformed;
        if (row <= XlsxMaxRows) row = row * 10 + static_cast<int>(digit);
    }
    if (position == digitsStart) return CellRefScan::Malformed;
    if (row < 1 || row > XlsxMaxRows || column > XlsxMaxColumns) return CellRefScan::OutsideGrid;
    cell.row = row;
    cell.column = column;
    return CellRefScan::Cell;
}

bool parseCellRefLoose(std::string_view text, CellRef& cell) {
    return scanCellRef(text, DollarSigns::Refused, cell) == CellRefScan::Cell;
}

std::string columnLetters(int column) {
    std::string letters;
    while (column > 0) {
        const int remainder = (column - 1) % 26;
        letters.insert(letters.begin(), static_cast<char>('A' + remainder));
        column = (column - 1) / 26;
    }
    return letters;
}

std::string formatCell(CellRef cell) {
    return columnLetters(cell.column) + std::to_string(cell.row);
}

std::string formatRange(const RangeRef& range) {
    if (range.first == range.last) return formatCell(range.first);
    return formatCell(range.first) + ":" + formatCell(range.last);
}

}  // namespace spreadsheet
