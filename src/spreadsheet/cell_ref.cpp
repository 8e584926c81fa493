#include "spreadsheet/cell_ref.h"

#include <algorithm>
#include <cstdint>

#include "spreadsheet/texts.h"

namespace spreadsheet {
namespace {

bool isLetter(char character) {
    return (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z');
}
bool isDigit(char character) {
    return character >= '0' && character <= '9';
}

// Parses letters then digits from the whole of `text`. Stops counting once a value passes
// `columnCap`/`rowCap`, so a reference of any length cannot overflow.
bool parseLettersDigits(std::string_view text, bool allowDollar, std::int64_t columnCap,
                        std::int64_t rowCap, CellRef& cell) {
    std::size_t position = 0;
    if (allowDollar && position < text.size() && text[position] == '$') ++position;
    std::int64_t column = 0;
    const std::size_t lettersStart = position;
    while (position < text.size() && isLetter(text[position])) {
        const char upper = static_cast<char>(text[position] & ~0x20);
        column = column * 26 + (upper - 'A' + 1);
        if (column > columnCap) return false;
        ++position;
    }
    if (position == lettersStart) return false;
    if (allowDollar && position < text.size() && text[position] == '$') ++position;
    const std::size_t digitsStart = position;
    std::int64_t row = 0;
    while (position < text.size() && isDigit(text[position])) {
        row = row * 10 + (text[position] - '0');
        if (row > rowCap) return false;
        ++position;
    }
    if (position == digitsStart || position != text.size() || row < 1) return false;
    cell.row = static_cast<int>(row);
    cell.column = static_cast<int>(column);
    return true;
}

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
    if (!parseLettersDigits(firstText, true, XlsxMaxColumns, XlsxMaxRows, first) ||
        !parseLettersDigits(lastText, true, XlsxMaxColumns, XlsxMaxRows, last))
        return invalidReference(text, texts::NotA1Reference);
    if (first.row > grid.rows || last.row > grid.rows || first.column > grid.columns ||
        last.column > grid.columns)
        return invalidReference(text, texts::OutsideGrid);
    RangeRef range;
    range.first = {std::min(first.row, last.row), std::min(first.column, last.column)};
    range.last = {std::max(first.row, last.row), std::max(first.column, last.column)};
    return range;
}

bool parseCellRefLoose(std::string_view text, CellRef& cell) {
    return parseLettersDigits(text, false, XlsxMaxColumns, XlsxMaxRows, cell);
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
