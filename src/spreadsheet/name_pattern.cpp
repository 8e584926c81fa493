// Matching names against "*" and "?" patterns, ignoring case.
#include "spreadsheet/name_pattern.h"

#include <string>

#include "spreadsheet/sheet_name.h"

namespace spreadsheet {

bool matchesNamePattern(std::string_view pattern, std::string_view name) {
    // Both sides as case-folded code points, so "?" takes one character, not one byte.
    const std::u32string wanted = sheetNameKey(pattern);
    const std::u32string text = sheetNameKey(name);
    // Greedy matching that returns to the last "*" on a mismatch: each "*" only ever grows, so
    // the work stays within pattern length times name length.
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t starAt = std::u32string::npos;  // position of the last "*" in the pattern
    std::size_t starTaken = 0;                  // where the text stood when it was met
    while (t < text.size()) {
        if (p < wanted.size() && wanted[p] == U'*') {
            starAt = p++;
            starTaken = t;
        } else if (p < wanted.size() && (wanted[p] == U'?' || wanted[p] == text[t])) {
            ++p;
            ++t;
        } else if (starAt != std::u32string::npos) {
            p = starAt + 1;
            t = ++starTaken;
        } else {
            return false;
        }
    }
    while (p < wanted.size() && wanted[p] == U'*') ++p;
    return p == wanted.size();
}

}  // namespace spreadsheet
