// Sheet names: which names a sheet may have, and when two names are the same sheet's.
#include "spreadsheet/sheet_name.h"

#include <algorithm>
#include <cstring>

#include "spreadsheet/detail/case_folding.h"
#include "spreadsheet/detail/xlsx_text.h"

namespace spreadsheet {

namespace detail {

char32_t simpleCaseFold(char32_t codePoint) {
    // The last run starting at or before the code point is the only one that can hold it.
    const auto after =
        std::upper_bound(CaseFoldRuns.begin(), CaseFoldRuns.end(), codePoint,
                         [](char32_t value, const CaseFoldRun& run) { return value < run.first; });
    if (after == CaseFoldRuns.begin()) return codePoint;
    const CaseFoldRun& run = *std::prev(after);
    const std::uint32_t distance = codePoint - run.first;
    if (distance % run.step != 0 || distance / run.step >= run.count) return codePoint;
    return static_cast<char32_t>(static_cast<std::int64_t>(codePoint) + run.delta);
}

}  // namespace detail

namespace {

// Stand-ins for bytes that are not UTF-8, above every code point.
constexpr char32_t MalformedByteBase = 0x110000;

}  // namespace

bool isValidSheetName(std::string_view name) {
    if (name.empty()) return false;
    const std::size_t units = detail::utf16Length(name);
    if (units < 1 || units > 31) return false;
    if (name.front() == '\'' || name.back() == '\'') return false;
    for (std::size_t i = 0; i < name.size();) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20) return false;
        if (c < 0x80) {
            if (std::strchr("[]:*?/\\", c) != nullptr) return false;
            ++i;
            continue;
        }
        // Only well-formed UTF-8 of characters XML can carry.
        std::uint32_t codePoint = 0;
        const std::size_t length = detail::decodeUtf8(name, i, codePoint);
        if (length == 0) return false;
        if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint == 0xFFFE ||
            codePoint == 0xFFFF)
            return false;
        i += length;
    }
    // Excel keeps this name for its change history.
    return !sameSheetName(name, "History");
}

std::u32string sheetNameKey(std::string_view name) {
    std::u32string key;
    key.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        std::uint32_t codePoint = 0;
        const std::size_t length = detail::decodeUtf8(name, i, codePoint);
        if (length == 0) {
            key += MalformedByteBase + static_cast<unsigned char>(name[i]);
            ++i;
            continue;
        }
        key += detail::simpleCaseFold(codePoint);
        i += length;
    }
    return key;
}

bool sameSheetName(std::string_view a, std::string_view b) {
    return sheetNameKey(a) == sheetNameKey(b);
}

}  // namespace spreadsheet
