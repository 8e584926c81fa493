// When two sheet names are the same sheet's: equal under Unicode's simple case folding, the rule
// the engine, the writer and the merge tests' fake share.
#include "spreadsheet/sheet_name.h"

#include <gtest/gtest.h>

#include "spreadsheet/detail/case_folding.h"

namespace spreadsheet {
namespace {

TEST(SheetName, SameIgnoringCaseOverAllOfUnicode) {
    struct Case {
        const char* a;
        const char* b;
        bool same;
    };
    const Case cases[] = {
        {"Sheet1", "SHEET1", true},
        {"ä", "Ä", true},
        {"Ärger", "äRGER", true},
        {"Σ", "σ", true},
        {"Σ", "ς", true},  // final sigma folds to σ as well
        {"σ", "ς", true},
        {"Ａ", "ａ", true},  // full-width Latin
        {"ＡＢ", "ａｂ", true},
        {"Москва", "МОСКВА", true},
        {"Ё", "ё", true},
        {"Ǆ", "ǆ", true},    // title and upper case of one letter
        {"ẞ", "ß", true},    // capital sharp s: the simple folding, not "ss"
        {"K", "k", true},    // the Kelvin sign
        {"Ω", "ω", true},    // the Ohm sign
        {"𐐀", "𐐨", true},    // Deseret, outside the basic plane
        {"Ꭰ", "ꭰ", true},  // Cherokee folds to upper case
        {"销售", "销售", true},
        {"ß", "ss", false},  // full folding would make these one
        {"İ", "i", false},   // Turkic rules are not applied
        {"ı", "i", false},
        {"a", "á", false},
        {"Ａ", "A", false},  // full width is not half width
        {"销售", "销售 ", false},
        {"a\xC3", "a\xC3", true},  // bytes that are not UTF-8 compare as themselves
        {"\xC3", "Ã", false},
        {"", "", true},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(std::string(row.a) + " / " + row.b);
        EXPECT_EQ(sameSheetName(row.a, row.b), row.same);
        EXPECT_EQ(sameSheetName(row.b, row.a), row.same);
        EXPECT_EQ(sheetNameKey(row.a) == sheetNameKey(row.b), row.same);
    }
}

TEST(SheetName, FoldingTableIsSortedAndFoldsOnce) {
    const auto runs = detail::CaseFoldRuns;
    ASSERT_FALSE(runs.empty());
    for (std::size_t i = 1; i < runs.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& before = runs[i - 1];
        EXPECT_LT(before.first + (before.count - 1u) * before.step, runs[i].first);
    }
    // A folded character folds to itself: a table pointing at a letter that folds again would
    // make the rule depend on how often it is applied. Every code point, surrogates included.
    int folded = 0;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        const char32_t once = detail::simpleCaseFold(c);
        if (once != c) ++folded;
        if (detail::simpleCaseFold(once) != once) ADD_FAILURE() << std::hex << std::uint32_t(c);
    }
    EXPECT_GT(folded, 1000);  // the table is not cut short (Unicode 15 folds 1,454)
}

}  // namespace
}  // namespace spreadsheet
