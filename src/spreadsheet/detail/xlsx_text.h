// Text pieces of the .xlsx writer's inner loop: cell text and attribute escaping, numbers in
// shortest round-trip form, column letters and references. Each appends to a caller's buffer.
//   std::string xml;
//   bool preserve = appendCellText(xml, "a\r\nb");  // a_x000D_\nb, preserve = true
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "spreadsheet/cell_ref.h"

namespace spreadsheet::detail {

// What every XML part of the package starts with, and the namespaces of its parts.
inline constexpr std::string_view XmlDeclaration =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
inline constexpr std::string_view MainNamespace =
    "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
inline constexpr std::string_view RelationshipNamespace =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// The longest cell text the file format allows, in UTF-16 units.
constexpr std::size_t MaxCellTextUnits = 32'767;

// Appends `text` (UTF-8) as the content of a <t> element: & < > escaped; control characters,
// CR, lone surrogates, U+FFFE and U+FFFF as _xHHHH_; a literal _xHHHH_ as _x005F_xHHHH_;
// bytes that are not UTF-8 as U+FFFD; cut after MaxCellTextUnits UTF-16 units without
// splitting a character. Returns true when the element needs xml:space="preserve".
bool appendCellText(std::string& out, std::string_view text);

// Appends `text` as an attribute value: & < > " ' escaped, TAB/LF/CR as character references,
// other characters XML cannot carry left out, bytes that are not UTF-8 as U+FFFD.
void appendAttributeText(std::string& out, std::string_view text);

// Appends a finite number in the shortest form that reads back to the same double; -0 as 0.
void appendNumber(std::string& out, double value);

// Appends 1 -> A, 26 -> Z, 27 -> AA, 16384 -> XFD. `column` must be 1 to 16384.
void appendColumnLetters(std::string& out, int column);

// Appends a whole number in decimal.
void appendInt(std::string& out, long long value);

// Appends "B2"; `row` and `column` must be in the grid.
void appendCellRef(std::string& out, int row, int column);

// Appends "B2:G5", or "B2" for a range of one cell.
void appendRange(std::string& out, const RangeRef& range);

// Decodes one UTF-8 sequence at text[i] (i < text.size()). Returns its length, 0 when the bytes
// there are not UTF-8 (overlong, truncated, past U+10FFFF), and sets `codePoint`; surrogate code
// points are decoded so that callers can escape or refuse them.
std::size_t decodeUtf8(std::string_view text, std::size_t i, std::uint32_t& codePoint);

// Length of a UTF-8 text in UTF-16 units; bytes that are not UTF-8 count one unit each.
std::size_t utf16Length(std::string_view text);

}  // namespace spreadsheet::detail
