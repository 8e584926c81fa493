// The writer's inner-loop text pieces where they take shortcuts: whole numbers written without
// the general shortest-form search, and runs of UTF-8 copied without decoding each character.
#include "spreadsheet/detail/xlsx_text.h"

#include <gtest/gtest.h>

#include <charconv>
#include <string>

namespace spreadsheet {
namespace {

std::string numberText(double value) {
    std::string out;
    detail::appendNumber(out, value);
    return out;
}

// The standard library's shortest round-trip form, which the writer's short paths must match.
std::string standardShortest(double value) {
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
}

TEST(XlsxText, WritesWholeNumbersAroundTheExponentBoundary) {
    struct Case {
        double value;
        const char* expected;
    };
    const Case cases[] = {
        {7.0, "7"},
        {-7.0, "-7"},
        {45'000.0, "45000"},
        {10'000.0, "10000"},  // as long as 1e+04: the plain form wins the tie
        {-10'000.0, "-10000"},
        {99'999.0, "99999"},
        {-99'999.0, "-99999"},
        {100'000.0, "1e+05"},  // shorter than 100000
        {-100'000.0, "-1e+05"},
        {123'456.0, "123456"},
        {1'200'000.0, "1200000"},  // a tie again
        {12'000'000.0, "1.2e+07"},
        {99'999.5, "99999.5"},
        {-0.25, "-0.25"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.expected);
        EXPECT_EQ(numberText(row.value), row.expected);
    }
}

TEST(XlsxText, WholeNumbersMatchTheStandardShortestForm) {
    // Every whole number the short path can take, and a margin past it on both sides, against
    // the standard library's shortest round-trip form.
    for (int whole = -100'100; whole <= 100'100; ++whole) {
        const double value = whole;
        if (value == 0.0) continue;
        ASSERT_EQ(numberText(value), standardShortest(value)) << whole;
    }
    // Longer whole numbers up to 2^53 and past it: runs of digits with trailing zeros, where
    // the exponent form starts to win, and every number near the powers of ten and near 2^53.
    const long long twoTo53 = 9'007'199'254'740'992;
    const auto check = [](long long whole) {
        if (whole == 0) return;
        for (const double value : {static_cast<double>(whole), -static_cast<double>(whole)})
            ASSERT_EQ(numberText(value), standardShortest(value)) << value;
    };
    for (long long power = 10; power <= twoTo53; power *= 10) {
        for (long long near = power - 300; near <= power + 300; ++near) check(near);
        for (const long long digits : {1LL, 12LL, 123LL, 1234LL, 120'034LL, 999'999LL})
            for (long long scaled = digits; scaled <= twoTo53 * 2; scaled *= 10) check(scaled);
    }
    for (long long near = twoTo53 - 3'000; near <= twoTo53 + 3'000; ++near) check(near);
    for (long long whole = 100'000; whole < twoTo53; whole = whole * 3 + 7) check(whole);
}

TEST(XlsxText, WritesShortDecimalsAsThemselves) {
    struct Case {
        double value;
        const char* expected;
    };
    const Case cases[] = {
        {1234.56, "1234.56"},
        {-1234.5, "-1234.5"},
        {0.35, "0.35"},
        {0.1 + 0.2, "0.30000000000000004"},  // not the double nearest to 0.3
        {0.001, "0.001"},
        {0.0015, "0.0015"},
        {0.0001, "1e-04"},
        {99999.9999, "99999.9999"},
        {12.00005, "12.00005"},
        {100000.5, "100000.5"},
        {2.675, "2.675"},
        {-0.05, "-0.05"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.expected);
        EXPECT_EQ(numberText(row.value), row.expected);
    }
}

TEST(XlsxText, DecimalsMatchTheStandardShortestForm) {
    // Decimals of one to six places across the short path's range and past its edges, every
    // scaled integer near the edges and a stride through the rest.
    const double scales[] = {10.0, 100.0, 1e3, 1e4, 1e5, 1e6};
    for (const double scale : scales) {
        const auto check = [&](long long scaled) {
            const double value = static_cast<double>(scaled) / scale;
            if (value == 0.0) return;
            ASSERT_EQ(numberText(value), standardShortest(value)) << scaled << " / " << scale;
        };
        const long long edge = static_cast<long long>(100'000 * scale);
        for (long long scaled = -3'000; scaled <= 3'000; ++scaled) check(scaled);
        for (long long scaled = edge - 3'000; scaled <= edge + 3'000; ++scaled) {
            check(scaled);
            check(-scaled);
        }
        const long long stride = edge / 50'000 + 7;
        for (long long scaled = 0; scaled <= edge + 10'000; scaled += stride) check(scaled);
    }
    // Values that are no short decimal at all.
    const double others[] = {1.0 / 3.0, -2.0 / 7.0, 12345.678901,
                             0.1 + 0.7, 1e-7,       3.14159265358979};
    for (const double value : others)
        ASSERT_EQ(numberText(value), standardShortest(value)) << value;
}

TEST(XlsxText, CopiesPlainMultiByteCharactersAndStillEscapesTheRest) {
    struct Case {
        const char* input;
        const char* expected;
    };
    const Case cases[] = {
        {"合并报表", "合并报表"},
        {"é ü ß", "é ü ß"},                // two-byte characters
        {"\xEE\x80\x80", "\xEE\x80\x80"},  // U+E000, private use: kept
        {"，：（）", "，：（）"},          // full-width punctuation (lead EF)
        {"a\xEF\xBF\xBE"
         "b",
         "a_xFFFE_b"},  // U+FFFE cannot be carried
        {"\xEF\xBF\xBF", "_xFFFF_"},
        {"\xED\xA0\x80", "_xD800_"},       // an encoded surrogate
        {"\xED\x9F\xBF", "\xED\x9F\xBF"},  // U+D7FF, just below the surrogates
        {"\xE0\xA4\xB9", "\xE0\xA4\xB9"},  // U+0939 (lead E0)
        {"\xE0\x80\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // overlong '/'
        {"中\xE4\xB8", "中\xEF\xBF\xBD\xEF\xBF\xBD"},              // cut sequence at the end
        {"中\xE4"
         "A",
         "中\xEF\xBF\xBD"
         "A"},  // lead without continuation
        {"\xC3", "\xEF\xBF\xBD"},
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // overlong two-byte form
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},  // four-byte character
        {"数&量<5>", "数&amp;量&lt;5&gt;"},
        {"编号_x0041_", "编号_x005F_x0041_"},
        {"行\r\n列", "行_x000D_\n列"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.input);
        std::string out = "<t>";
        (void)detail::appendCellText(out, row.input);
        EXPECT_EQ(out, std::string("<t>") + row.expected);
    }
}

TEST(XlsxText, AsksForPreservedSpaceOnlyForTabsLineBreaksAndEdges) {
    struct Case {
        const char* input;
        bool preserve;
    };
    const Case cases[] = {
        {"合并", false},  {"合 并", false}, {" 合并", true},
        {"合并 ", true},  {"合\t并", true}, {"合\n并", true},
        {"合\r并", true}, {"", false},      {"é\xEF\xBF\xBE", false},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.input);
        std::string out;
        EXPECT_EQ(detail::appendCellText(out, row.input), row.preserve);
    }
}

TEST(XlsxText, CutsMultiByteTextAtTheLimitAndLooksPastTheCutForTabs) {
    std::string cjk;
    for (std::size_t i = 0; i < detail::MaxCellTextUnits; ++i) cjk += "表";
    {
        SCOPED_TRACE("one character over");
        std::string out;
        EXPECT_FALSE(detail::appendCellText(out, cjk + "表"));
        EXPECT_EQ(out, cjk);
    }
    {
        SCOPED_TRACE("a tab past the cut still asks for preserved space");
        std::string out;
        EXPECT_TRUE(detail::appendCellText(out, cjk + "\t表"));
        EXPECT_EQ(out, cjk);
    }
    {
        SCOPED_TRACE("a four-byte character that would cross the limit");
        std::string head = cjk.substr(0, (detail::MaxCellTextUnits - 1) * 3);
        std::string out;
        EXPECT_FALSE(detail::appendCellText(out, head + "\xF0\x9F\x98\x80" + "x"));
        EXPECT_EQ(out, head);
    }
    {
        SCOPED_TRACE("two-byte characters count one unit each");
        std::string latin;
        for (std::size_t i = 0; i < detail::MaxCellTextUnits + 5; ++i) latin += "é";
        std::string out;
        (void)detail::appendCellText(out, latin);
        EXPECT_EQ(out.size(), detail::MaxCellTextUnits * 2);
    }
}

}  // namespace
}  // namespace spreadsheet
