#include "spreadsheet/style.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace spreadsheet {
namespace {

TEST(BuiltinNumberFormat, GivesCodesIncludingZhCnLocaleIds) {
    struct Case {
        int id;
        std::string code;
    };
    const Case cases[] = {
        {0, "General"},
        {1, "0"},
        {4, "#,##0.00"},
        {10, "0.00%"},
        {14, "yyyy/m/d"},
        {20, "h:mm"},
        {22, "yyyy/m/d h:mm"},
        {27, "yyyy\"年\"m\"月\""},
        {28, "m\"月\"d\"日\""},
        {30, "m-d-yy"},
        {31, "yyyy\"年\"m\"月\"d\"日\""},
        {32, "h\"时\"mm\"分\""},
        {33, "h\"时\"mm\"分\"ss\"秒\""},
        {34, "上午/下午h\"时\"mm\"分\""},
        {35, "上午/下午h\"时\"mm\"分\"ss\"秒\""},
        {36, "yyyy\"年\"m\"月\""},
        {46, "[h]:mm:ss"},
        {49, "@"},
        {50, "yyyy\"年\"m\"月\""},
        {55, "上午/下午h\"时\"mm\"分\""},
        {56, "上午/下午h\"时\"mm\"分\"ss\"秒\""},
        {58, "m\"月\"d\"日\""},
        {23, ""},
        {59, ""},
        {164, ""},
        {-1, ""},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.id);
        EXPECT_EQ(builtinNumberFormat(row.id), row.code);
    }
}

TEST(IsDateFormat, RecognisesDateAndTimeTokensOutsideLiterals) {
    struct Case {
        std::string code;
        bool date;
    };
    const Case cases[] = {
        {"yyyy-mm-dd", true},
        {"d-mmm-yy", true},
        {"h:mm AM/PM", true},
        {"mm:ss", true},
        {"[h]:mm:ss", true},
        {"[mm]:ss", true},
        {"yyyy\"年\"m\"月\"d\"日\"", true},
        {"上午/下午h\"时\"mm\"分\"", true},
        {"[$-409]d-mmm-yy;@", true},
        {"[Red]dd/mm/yyyy", true},
        {"DD.MM.YYYY", true},
        {"General", false},
        {"0.00", false},
        {"#,##0_);[Red](#,##0)", false},
        {"\"day\"0", false},
        {"0 \\d", false},
        {"0.00_m", false},
        {"*d0", false},
        {"[Red]0.00", false},
        {"0.00;\"m\"", false},
        {"0.00E+00", false},
        {"@", false},
        {"", false},
        {"[$¥-804]#,##0.00", false},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.code);
        EXPECT_EQ(isDateFormat(row.code), row.date);
    }
}

TEST(IsDateFormat, TreatsEveryCjkDateIdAsDate) {
    for (int id : {27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 50, 51,
                   52, 53, 54, 55, 56, 57, 58, 14, 22, 45, 46, 47}) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(isDateFormat(builtinNumberFormat(id)));
    }
}

TEST(HashStyle, EqualStylesHashEqualAndEachFieldCounts) {
    const CellStyle base;
    EXPECT_EQ(hashStyle(base), hashStyle(CellStyle{}));
    const std::function<void(CellStyle&)> changes[] = {
        [](CellStyle& s) { s.numberFormat = "0.00"; },
        [](CellStyle& s) { s.font.name = "宋体"; },
        [](CellStyle& s) { s.font.size = 12; },
        [](CellStyle& s) { s.font.bold = true; },
        [](CellStyle& s) { s.font.italic = true; },
        [](CellStyle& s) { s.font.underline = "single"; },
        [](CellStyle& s) { s.font.color = 0xFF000000u; },
        [](CellStyle& s) { s.font.charset = 134; },
        [](CellStyle& s) { s.fill.pattern = "solid"; },
        [](CellStyle& s) { s.fill.foreground = 0xFFFF0000u; },
        [](CellStyle& s) { s.border.left.style = "thin"; },
        [](CellStyle& s) { s.border.bottom.color = 0xFF00FF00u; },
        [](CellStyle& s) { s.border.diagonalUp = true; },
        [](CellStyle& s) { s.alignment.horizontal = "center"; },
        [](CellStyle& s) { s.alignment.wrapText = true; },
        [](CellStyle& s) { s.alignment.textRotation = 90; },
        [](CellStyle& s) { s.protection.locked = false; },
    };
    int index = 0;
    for (const auto& change : changes) {
        SCOPED_TRACE(index++);
        CellStyle changed;
        change(changed);
        ASSERT_NE(changed, base);
        EXPECT_NE(hashStyle(changed), hashStyle(base));
    }
}

}  // namespace
}  // namespace spreadsheet
