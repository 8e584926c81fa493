// Sheet names as spreadsheet programs treat them: which names a sheet may have, and when two
// names are the same sheet's (equal ignoring case over all of Unicode, by its simple case
// folding: "ä" and "Ä", "Σ", "σ" and "ς", "Ａ" and "ａ" each name one sheet).
//   if (sameSheetName(other.name, wanted)) return DuplicateSheetName;
#pragma once

#include <string>
#include <string_view>

namespace spreadsheet {

// 1 to 31 characters (UTF-16 units), none of []:*?/\ or a control character, not starting or
// ending with ', well-formed UTF-8 of characters XML can carry, and not the name "History"
// (in any case) that Excel keeps for its change history.
bool isValidSheetName(std::string_view name);

// The name with every character replaced by its simple case folding, as code points: names are
// the same sheet's exactly when their keys are equal. Bytes that are not UTF-8 stay distinct
// from every character (each becomes a value above U+10FFFF).
std::u32string sheetNameKey(std::string_view name);

// Whether two names are the same sheet's: sheetNameKey(a) == sheetNameKey(b).
bool sameSheetName(std::string_view a, std::string_view b);

}  // namespace spreadsheet
