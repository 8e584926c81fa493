// Name patterns with "*" and "?": the whole name must match, case is ignored over all of Unicode
// (the sheet names' folding), and "?" takes one character, not one byte.
#include "spreadsheet/name_pattern.h"

#include <gtest/gtest.h>

#include <string>

namespace spreadsheet {
namespace {

TEST(NamePattern, MatchesWholeNamesIgnoringCase) {
    struct Case {
        const char* pattern;
        const char* name;
        bool matches;
    };
    const Case cases[] = {
        {"*", "", true},
        {"*", "任何名称.xlsx", true},
        {"", "", true},
        {"", "a", false},
        {"a.xlsx", "A.XLSX", true},
        {"a.xlsx", "a.xlsx.bak", false},  // the whole name, not a part of it
        {"a.xlsx", "ba.xlsx", false},
        {"*.xlsx", "报表.XLSX", true},
        {"*.xlsx", "报表.xlsm", false},
        {"*销售*", "华东销售月报.xlsx", true},
        {"*销售*", "销售.csv", true},  // "*" also stands for nothing
        {"*销售*", "销 售.csv", false},
        {"*备份*", "月报（备份）.xls", true},
        {"2025-??.xlsx", "2025-03.xlsx", true},
        {"2025-??.xlsx", "2025-3.xlsx", false},
        {"2025-??.xlsx", "2025-003.xlsx", false},
        {"??.csv", "一月.csv", true},  // each CJK character is one "?", not three bytes
        {"?.csv", "一月.csv", false},
        {"???.csv", "一月.csv", false},
        {"ä?.csv", "Äb.CSV", true},
        {"σ*", "ΣΥΝΟΛΟ.xlsx", true},
        {"*ς", "ΛΟΓΟΣ", true},           // final sigma folds like the others
        {"ＡＢ*", "ａｂｃ.xlsx", true},  // full-width Latin folds within full width
        {"AB*", "ＡＢ.xlsx", false},     // but is not half width
        {"a*b*c", "aXXbYYc", true},
        {"a*b*c", "aXXcYYb", false},
        {"a*b*c", "abcabc", true},  // the last "*" takes what the first could not
        {"*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
        {"*.*", "noextension", false},
        {"[a].xlsx", "[a].xlsx", true},  // brackets are plain characters
        {"[a].xlsx", "a.xlsx", false},
        {"~$*", "~$报表.xlsx", true},
        {"a\xC3*", "A\xC3z", true},  // a byte that is not UTF-8 matches only itself
        {"a?", "a\xC3", true},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(std::string(row.pattern) + " / " + row.name);
        EXPECT_EQ(matchesNamePattern(row.pattern, row.name), row.matches);
    }
}

}  // namespace
}  // namespace spreadsheet
