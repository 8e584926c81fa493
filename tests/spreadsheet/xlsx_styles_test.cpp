#include "spreadsheet/xlsx_styles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace spreadsheet {
namespace {

// Greys have one exact answer; for coloured tints the spreadsheet program's colour picker shows
// values within a step or two of the HLS formula (it rounds differently), so those allow two.
TEST(ApplyTint, LightensAndDarkensInHlsSpace) {
    struct Case {
        std::uint32_t base;
        double tint;
        std::uint32_t expected;
        int tolerance;
    };
    const Case cases[] = {
        {0xFF4472C4, 0.0, 0xFF4472C4, 0},
        {0xFF000000, 0.499984740745262, 0xFF7F7F7F, 0},
        {0xFFFFFFFF, -0.249977111117893, 0xFFBFBFBF, 0},
        {0xFFFFFFFF, -0.499984740745262, 0xFF808080, 0},
        {0xFFFFFFFF, 1.0, 0xFFFFFFFF, 0},
        {0xFF123456, -1.0, 0xFF000000, 0},
        {0x00123456, -1.0, 0x00000000, 0},  // alpha stays
        {0xFF4472C4, 0.79998168889431442, 0xFFD9E1F2, 2},
        {0xFF4472C4, 0.59999389629810485, 0xFFB4C6E7, 2},
        {0xFF4472C4, 0.39997558519241921, 0xFF8EA9DB, 2},
        {0xFF4472C4, -0.249977111117893, 0xFF2F5597, 2},
        {0xFF4472C4, -0.499984740745262, 0xFF1F3864, 2},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(std::to_string(row.base) + " " + std::to_string(row.tint));
        const std::uint32_t tinted = applyTint(row.base, row.tint);
        EXPECT_EQ(tinted >> 24, row.expected >> 24);
        for (int shift : {16, 8, 0}) {
            const int got = static_cast<int>((tinted >> shift) & 0xFF);
            const int want = static_cast<int>((row.expected >> shift) & 0xFF);
            EXPECT_LE(std::abs(got - want), row.tolerance) << "channel at bit " << shift;
        }
    }
}

TEST(ThemeColors, SwapsDarkAndLightForTheFirstFourIndexes) {
    ThemeColors theme;
    theme.scheme = {0xFF000001, 0xFF000002, 0xFF000003, 0xFF000004, 0xFF000005, 0xFF000006,
                    0xFF000007, 0xFF000008, 0xFF000009, 0xFF00000A, 0xFF00000B, 0xFF00000C};
    const std::uint32_t expected[] = {0xFF000002, 0xFF000001, 0xFF000004, 0xFF000003,
                                      0xFF000005, 0xFF000006, 0xFF000007, 0xFF000008,
                                      0xFF000009, 0xFF00000A, 0xFF00000B, 0xFF00000C};
    for (int index = 0; index < 12; ++index) {
        SCOPED_TRACE(index);
        EXPECT_EQ(theme.color(index), expected[index]);
    }
}

TEST(IndexedColor, UsesTheDefaultPaletteAndLeavesSystemColoursAutomatic) {
    struct Case {
        int index;
        Color color;
    };
    const Case cases[] = {{0, 0xFF000000u},   {8, 0xFF000000u},   {10, 0xFFFF0000u},
                          {22, 0xFFC0C0C0u},  {44, 0xFF99CCFFu},  {63, 0xFF333333u},
                          {64, std::nullopt}, {65, std::nullopt}, {-1, std::nullopt}};
    for (const Case& row : cases) {
        SCOPED_TRACE(row.index);
        EXPECT_EQ(indexedColor(row.index), row.color);
    }
}

TEST(ReadXlsxStyles, RefusesDoctypeAndGivesOneDefaultStyleForAnEmptySheet) {
    Result<std::vector<CellStyle>> hostile =
        readXlsxStyles("<!DOCTYPE s [<!ENTITY x 'y'>]><styleSheet/>", ThemeColors{});
    ASSERT_FALSE(hostile);
    EXPECT_EQ(hostile.error().code, ErrorCode::XmlForbidden);

    Result<std::vector<CellStyle>> empty = readXlsxStyles("<styleSheet/>", ThemeColors{});
    ASSERT_TRUE(empty);
    ASSERT_EQ(empty->size(), 1u);
    EXPECT_EQ(empty->front(), CellStyle{});
}

}  // namespace
}  // namespace spreadsheet
