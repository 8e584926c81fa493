// Text pieces of the .xlsx writer's inner loop: cell text and attribute escaping, numbers in
// shortest round-trip form, column letters. Each appends to a caller's buffer.
//   std::string xml;
//   bool preserve = appendCellText(xml, "a\r\nb");  // a_x000D_\nb, preserve = true
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace spreadsheet::detail {

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

// Length of a UTF-8 text in UTF-16 units; bytes that are not UTF-8 count one unit each.
std::size_t utf16Length(std::string_view text);

}  // namespace spreadsheet::detail
