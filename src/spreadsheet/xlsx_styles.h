// Turns a package's styles.xml (with the theme's colour scheme) into resolved CellStyle
// values, one per cellXfs entry, so that Cell::style indexes them directly; and reads the fonts
// of rich text runs (<rPr>) with the same colours.
//   Result<ThemeColors> theme = readThemeColors(themeXml);
//   Result<std::vector<CellStyle>> styles = readXlsxStyles(stylesXml, *theme);
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/error.h"
#include "spreadsheet/style.h"

namespace spreadsheet {

namespace detail {
class XmlAttributes;
}  // namespace detail

// The twelve scheme colours in clrScheme order: dk1 lt1 dk2 lt2 accent1-6 hlink folHlink,
// as 0xFFRRGGBB. The defaults are those of the standard Office theme.
struct ThemeColors {
    std::array<std::uint32_t, 12> scheme{0xFF000000, 0xFFFFFFFF, 0xFF44546A, 0xFFE7E6E6,
                                         0xFF4472C4, 0xFFED7D31, 0xFFA5A5A5, 0xFFFFC000,
                                         0xFF5B9BD5, 0xFF70AD47, 0xFF0563C1, 0xFF954F72};
    // A `theme="n"` colour index: 0 and 1 name lt1 and dk1, 2 and 3 lt2 and dk2 (the
    // well-known swap), the rest follow the scheme order.
    std::uint32_t color(int themeIndex) const;
};

// Reads a:clrScheme out of theme1.xml; colours it does not give keep their defaults.
Result<ThemeColors> readThemeColors(std::string_view themeXml);

// Lightens (tint > 0) or darkens (tint < 0) an ARGB colour in HLS space, as spreadsheet
// programs apply a colour's tint attribute.
std::uint32_t applyTint(std::uint32_t argb, double tint);

// The default 64-entry indexed palette; index 64 and beyond are system colours (nullopt).
Color indexedColor(int index);

// One CellStyle per cellXfs entry, in order; never empty (a stylesheet without cellXfs gives
// one default style). Fails with XmlMalformed, XmlForbidden or XmlLimit.
Result<std::vector<CellStyle>> readXlsxStyles(std::string_view stylesXml, const ThemeColors& theme);

// What the fonts of a book's runs are resolved with: the colours of its cell fonts (the theme's,
// and the stylesheet's own palette, <colors><indexedColors>, when it has one) and its default
// font (the first of its fonts, the Normal style's).
struct RunFontContext {
    ThemeColors theme;
    std::vector<std::uint32_t> indexedColors;
    Font defaultFont;
};

// The cell styles with what the runs read later need.
struct XlsxStyleSheet {
    std::vector<CellStyle> styles;
    RunFontContext runFonts;
};
Result<XlsxStyleSheet> readXlsxStyleSheet(std::string_view stylesXml, const ThemeColors& theme);

// A rich text run's font as its <rPr> gives it: the properties it names, with colours resolved.
// An <rPr> describes the run's whole font, as Excel writes and reads it: a flag it does not name
// (<b/>, <i/>, <strike/>, <u/>, <vertAlign/>) is off, whatever the cell's font, and a name,
// size or colour it does not give is the book's default font's.
struct RunFontSpec {
    enum Property : std::uint16_t {
        Name = 1,
        Size = 2,
        Bold = 4,
        Italic = 8,
        Strike = 16,
        Underline = 32,
        VerticalAlign = 64,
        TextColor = 128,
        Family = 256,
        Charset = 512,
    };
    Font font;
    std::uint16_t given = 0;  // Property bits
    friend bool operator==(const RunFontSpec&, const RunFontSpec&) = default;

    // Applies one property element of an <rPr> (b, i, strike, u, vertAlign, sz, color, rFont,
    // family, charset; others are left alone) by its local name and `val` or colour attributes.
    void apply(std::string_view name, const detail::XmlAttributes& attributes,
               const RunFontContext& context);
    // The run's font in a book whose default font is `defaultFont`.
    Font over(const Font& defaultFont) const;
};

}  // namespace spreadsheet
