#include "spreadsheet/xlsx_styles.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>
#include <string>

#include "spreadsheet/detail/value_parsing.h"
#include "spreadsheet/detail/xml_reader.h"
#include "spreadsheet/reader_limits.h"

namespace spreadsheet {

namespace {

using detail::XmlAttributes;

constexpr std::array<std::uint32_t, 64> DefaultPalette{
    0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF,
    0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF,
    0x800000, 0x008000, 0x000080, 0x808000, 0x800080, 0x008080, 0xC0C0C0, 0x808080,
    0x9999FF, 0x993366, 0xFFFFCC, 0xCCFFFF, 0x660066, 0xFF8080, 0x0066CC, 0xCCCCFF,
    0x000080, 0xFF00FF, 0xFFFF00, 0x00FFFF, 0x800080, 0x800000, 0x008080, 0x0000FF,
    0x00CCFF, 0xCCFFFF, 0xCCFFCC, 0xFFFF99, 0x99CCFF, 0xFF99CC, 0xCC99FF, 0xFFCC99,
    0x3366FF, 0x33CCCC, 0x99CC00, 0xFFCC00, 0xFF9900, 0xFF6600, 0x666699, 0x969696,
    0x003366, 0x339966, 0x003300, 0x333300, 0x993300, 0x993366, 0x333399, 0x333333,
};

std::optional<std::uint32_t> parseHexColor(std::string_view text) {
    if (text.size() != 6 && text.size() != 8) return std::nullopt;
    std::uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (text.size() == 6) value |= 0xFF000000u;
    return value;
}

// A number attribute: a decimal through the readers' number parser, or a whole number of type
// Number (a leading '+' allowed, as for decimals).
template <typename Number>
std::optional<Number> numberAttribute(std::optional<std::string_view> text) {
    if (!text) return std::nullopt;
    if constexpr (std::is_floating_point_v<Number>) {
        return detail::parseNumber(*text);
    } else {
        std::string_view view = *text;
        if (!view.empty() && view.front() == '+') view.remove_prefix(1);
        Number value{};
        auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), value);
        if (error != std::errc() || end != view.data() + view.size()) return std::nullopt;
        return value;
    }
}

// An xsd:boolean attribute; an element such as <b/> without val means true.
bool parseFlag(std::optional<std::string_view> text, bool absent) {
    if (!text) return absent;
    return *text == "1" || *text == "true";
}

// A colour as the file states it, resolved once the whole stylesheet (with its optional
// indexedColors, which come last) is known.
struct RawColor {
    enum class Kind { None, Rgb, Theme, Indexed } kind = Kind::None;
    std::uint32_t value = 0;
    double tint = 0.0;
};

RawColor readColor(const XmlAttributes& attributes) {
    RawColor color;
    color.tint = numberAttribute<double>(attributes.get("tint")).value_or(0.0);
    if (auto rgb = attributes.get("rgb")) {
        if (auto value = parseHexColor(*rgb)) {
            color.kind = RawColor::Kind::Rgb;
            color.value = *value;
        }
    } else if (auto theme = numberAttribute<int>(attributes.get("theme"))) {
        color.kind = RawColor::Kind::Theme;
        color.value = static_cast<std::uint32_t>(std::max(*theme, 0));
    } else if (auto indexed = numberAttribute<int>(attributes.get("indexed"))) {
        color.kind = RawColor::Kind::Indexed;
        color.value = static_cast<std::uint32_t>(std::max(*indexed, 0));
    }
    return color;
}

struct RawFont {
    Font font;
    RawColor color;
};

// One property element of a <font> in styles.xml or of a run's <rPr>; its colour goes to `color`
// to be resolved with the stylesheet's palette. Returns the property it set, 0 for none.
std::uint16_t readFontProperty(Font& font, RawColor& color, std::string_view name,
                               const XmlAttributes& attributes) {
    using Property = RunFontSpec::Property;
    const auto value = attributes.get("val");
    if (name == "b") {
        font.bold = parseFlag(value, true);
        return Property::Bold;
    }
    if (name == "i") {
        font.italic = parseFlag(value, true);
        return Property::Italic;
    }
    if (name == "strike") {
        font.strike = parseFlag(value, true);
        return Property::Strike;
    }
    if (name == "u") {
        const std::string_view style = value.value_or("single");
        font.underline = style == "none" ? std::string() : std::string(style);
        return Property::Underline;
    }
    if (name == "vertAlign") {
        const std::string_view align = value.value_or("baseline");
        font.verticalAlign = align == "baseline" ? std::string() : std::string(align);
        return Property::VerticalAlign;
    }
    if (name == "sz") {
        if (auto size = numberAttribute<double>(value); size && *size > 0) {
            font.size = *size;
            return Property::Size;
        }
        return 0;
    }
    if (name == "name" || name == "rFont") {
        if (!value) return 0;
        font.name = std::string(*value);
        return Property::Name;
    }
    if (name == "family") {
        font.family = numberAttribute<int>(value).value_or(0);
        return Property::Family;
    }
    if (name == "charset") {
        font.charset = numberAttribute<int>(value).value_or(-1);
        return Property::Charset;
    }
    if (name == "color") {
        color = readColor(attributes);
        return Property::TextColor;
    }
    return 0;
}
struct RawFill {
    Fill fill;
    RawColor foreground, background;
    bool gradientColorTaken = false;
};
struct RawBorder {
    Border border;
    RawColor left, right, top, bottom, diagonal;
};
struct RawXf {
    int numberFormatId = 0;
    std::size_t fontId = 0, fillId = 0, borderId = 0;
    Alignment alignment;
    Protection protection;
};

class StylesHandler : public detail::XmlHandler {
public:
    std::map<int, std::string> numberFormats;
    std::vector<RawFont> fonts;
    std::vector<RawFill> fills;
    std::vector<RawBorder> borders;
    std::vector<RawXf> xfs;
    std::vector<std::uint32_t> indexedColors;

    void startElement(std::string_view name, const XmlAttributes& attributes) override {
        ++m_depth;
        if (m_depth == 3 &&
            std::max({fonts.size(), fills.size(), borders.size(), xfs.size(), numberFormats.size(),
                      indexedColors.size()}) > MaxStyleTableEntries) {
            fail(Error(ErrorCode::XmlLimit, "more than " + std::to_string(MaxStyleTableEntries) +
                                                " entries in " + m_section +
                                                " (style table limit)"));
            return;
        }
        if (m_depth == 2) {
            m_section = std::string(name);
            return;
        }
        if (m_section == "numFmts" && m_depth == 3 && name == "numFmt") {
            auto id = numberAttribute<int>(attributes.get("numFmtId"));
            auto code = attributes.get("formatCode");
            if (id && code) numberFormats[*id] = std::string(*code);
        } else if (m_section == "fonts") {
            if (m_depth == 3 && name == "font")
                fonts.emplace_back();
            else if (m_depth == 4 && !fonts.empty())
                readFontProperty(fonts.back().font, fonts.back().color, name, attributes);
        } else if (m_section == "fills") {
            readFillElement(name, attributes);
        } else if (m_section == "borders") {
            readBorderElement(name, attributes);
        } else if (m_section == "cellXfs") {
            if (m_depth == 3 && name == "xf") {
                RawXf xf;
                xf.numberFormatId = numberAttribute<int>(attributes.get("numFmtId")).value_or(0);
                xf.fontId = numberAttribute<std::size_t>(attributes.get("fontId")).value_or(0);
                xf.fillId = numberAttribute<std::size_t>(attributes.get("fillId")).value_or(0);
                xf.borderId = numberAttribute<std::size_t>(attributes.get("borderId")).value_or(0);
                xfs.push_back(xf);
            } else if (m_depth == 4 && !xfs.empty()) {
                if (name == "alignment")
                    readAlignment(xfs.back().alignment, attributes);
                else if (name == "protection") {
                    xfs.back().protection.locked = parseFlag(attributes.get("locked"), true);
                    xfs.back().protection.hidden = parseFlag(attributes.get("hidden"), false);
                }
            }
        } else if (m_section == "colors" && name == "rgbColor" && m_depth == 4) {
            indexedColors.push_back(
                parseHexColor(attributes.get("rgb").value_or("")).value_or(0xFF000000u));
        }
    }

    void endElement(std::string_view) override {
        if (m_depth == 2) m_section.clear();
        if (m_depth == 4) m_edge = nullptr;
        --m_depth;
    }

private:
    int m_depth = 0;
    std::string m_section;
    RawColor* m_edge = nullptr;  // the border edge whose <color> comes next
    bool m_inGradient = false;

    void readFillElement(std::string_view name, const XmlAttributes& attributes) {
        if (m_depth == 3 && name == "fill") {
            fills.emplace_back();
            m_inGradient = false;
            return;
        }
        if (fills.empty()) return;
        RawFill& fill = fills.back();
        if (m_depth == 4 && name == "patternFill") {
            fill.fill.pattern = std::string(attributes.get("patternType").value_or("none"));
        } else if (m_depth == 4 && name == "gradientFill") {
            // A gradient has no pattern equivalent; its first stop's colour as a solid fill
            // keeps the cell's look closest.
            fill.fill.pattern = "solid";
            m_inGradient = true;
        } else if (m_depth == 5 && !m_inGradient && name == "fgColor") {
            fill.foreground = readColor(attributes);
        } else if (m_depth == 5 && !m_inGradient && name == "bgColor") {
            fill.background = readColor(attributes);
        } else if (m_depth == 6 && m_inGradient && name == "color" && !fill.gradientColorTaken) {
            fill.foreground = readColor(attributes);
            fill.gradientColorTaken = true;
        }
    }

    void readBorderElement(std::string_view name, const XmlAttributes& attributes) {
        if (m_depth == 3 && name == "border") {
            RawBorder border;
            border.border.diagonalUp = parseFlag(attributes.get("diagonalUp"), false);
            border.border.diagonalDown = parseFlag(attributes.get("diagonalDown"), false);
            borders.push_back(border);
            return;
        }
        if (borders.empty()) return;
        RawBorder& raw = borders.back();
        if (m_depth == 4) {
            BorderEdge* edge = nullptr;
            if (name == "left" || name == "start")
                edge = &raw.border.left, m_edge = &raw.left;
            else if (name == "right" || name == "end")
                edge = &raw.border.right, m_edge = &raw.right;
            else if (name == "top")
                edge = &raw.border.top, m_edge = &raw.top;
            else if (name == "bottom")
                edge = &raw.border.bottom, m_edge = &raw.bottom;
            else if (name == "diagonal")
                edge = &raw.border.diagonal, m_edge = &raw.diagonal;
            if (edge) {
                const std::string_view style = attributes.get("style").value_or("");
                edge->style = style == "none" ? std::string() : std::string(style);
            }
        } else if (m_depth == 5 && name == "color" && m_edge) {
            *m_edge = readColor(attributes);
        }
    }

    static void readAlignment(Alignment& alignment, const XmlAttributes& attributes) {
        const std::string_view horizontal = attributes.get("horizontal").value_or("");
        alignment.horizontal = horizontal == "general" ? std::string() : std::string(horizontal);
        const std::string_view vertical = attributes.get("vertical").value_or("");
        alignment.vertical = vertical == "bottom" ? std::string() : std::string(vertical);
        alignment.wrapText = parseFlag(attributes.get("wrapText"), false);
        alignment.shrinkToFit = parseFlag(attributes.get("shrinkToFit"), false);
        alignment.indent =
            std::clamp(numberAttribute<int>(attributes.get("indent")).value_or(0), 0, 250);
        const int rotation = numberAttribute<int>(attributes.get("textRotation")).value_or(0);
        alignment.textRotation =
            (rotation >= 0 && rotation <= 180) || rotation == 255 ? rotation : 0;
    }
};

Color resolve(const RawColor& raw, const ThemeColors& theme,
              const std::vector<std::uint32_t>& indexedColors) {
    Color color;
    switch (raw.kind) {
        case RawColor::Kind::None:
            return std::nullopt;
        case RawColor::Kind::Rgb:
            color = raw.value;
            break;
        case RawColor::Kind::Theme:
            color = theme.color(static_cast<int>(raw.value));
            break;
        case RawColor::Kind::Indexed:
            if (raw.value < indexedColors.size())
                color = indexedColors[raw.value] | 0xFF000000u;
            else
                color = indexedColor(static_cast<int>(raw.value));
            break;
    }
    if (color && raw.tint != 0.0) color = applyTint(*color, raw.tint);
    return color;
}

class ThemeHandler : public detail::XmlHandler {
public:
    ThemeColors colors;

    void startElement(std::string_view name, const XmlAttributes& attributes) override {
        if (name == "clrScheme") {
            if (!m_done) m_inScheme = true;
            return;
        }
        if (!m_inScheme) return;
        static constexpr std::array<std::string_view, 12> Slots{
            "dk1",     "lt1",     "dk2",     "lt2",     "accent1", "accent2",
            "accent3", "accent4", "accent5", "accent6", "hlink",   "folHlink"};
        auto slot = std::find(Slots.begin(), Slots.end(), name);
        if (slot != Slots.end()) {
            m_slot = static_cast<int>(slot - Slots.begin());
            return;
        }
        if (m_slot < 0) return;
        std::optional<std::uint32_t> value;
        if (name == "srgbClr")
            value = parseHexColor(attributes.get("val").value_or(""));
        else if (name == "sysClr")
            value = parseHexColor(attributes.get("lastClr").value_or(""));
        if (value) colors.scheme[static_cast<std::size_t>(m_slot)] = *value | 0xFF000000u;
    }

    void endElement(std::string_view name) override {
        if (name == "clrScheme" && m_inScheme) {
            m_inScheme = false;
            m_done = true;
        } else if (m_inScheme && name.size() <= 8 && m_slot >= 0 &&
                   (name.starts_with("dk") || name.starts_with("lt") ||
                    name.starts_with("accent") || name == "hlink" || name == "folHlink")) {
            m_slot = -1;
        }
    }

private:
    bool m_inScheme = false;
    bool m_done = false;
    int m_slot = -1;
};

}  // namespace

std::uint32_t ThemeColors::color(int themeIndex) const {
    static constexpr std::array<int, 4> Swapped{1, 0, 3, 2};
    if (themeIndex < 0 || themeIndex >= static_cast<int>(scheme.size())) return 0xFF000000u;
    const int slot = themeIndex < 4 ? Swapped[static_cast<std::size_t>(themeIndex)] : themeIndex;
    return scheme[static_cast<std::size_t>(slot)];
}

Result<ThemeColors> readThemeColors(std::string_view themeXml) {
    ThemeHandler handler;
    Result<void> parsed = detail::parseXml(handler, "theme", themeXml);
    if (!parsed) return parsed.error();
    return handler.colors;
}

std::uint32_t applyTint(std::uint32_t argb, double tint) {
    tint = std::clamp(tint, -1.0, 1.0);
    const double red = ((argb >> 16) & 0xFF) / 255.0;
    const double green = ((argb >> 8) & 0xFF) / 255.0;
    const double blue = (argb & 0xFF) / 255.0;
    const double maximum = std::max({red, green, blue});
    const double minimum = std::min({red, green, blue});
    double hue = 0.0, saturation = 0.0;
    double lightness = (maximum + minimum) / 2.0;
    const double delta = maximum - minimum;
    if (delta > 0.0) {
        saturation =
            lightness < 0.5 ? delta / (maximum + minimum) : delta / (2.0 - maximum - minimum);
        if (maximum == red)
            hue = std::fmod((green - blue) / delta + 6.0, 6.0);
        else if (maximum == green)
            hue = (blue - red) / delta + 2.0;
        else
            hue = (red - green) / delta + 4.0;
        hue /= 6.0;
    }
    lightness = tint < 0 ? lightness * (1.0 + tint) : lightness * (1.0 - tint) + tint;

    auto channel = [](double p, double q, double t) {
        if (t < 0) t += 1;
        if (t > 1) t -= 1;
        if (t < 1.0 / 6) return p + (q - p) * 6 * t;
        if (t < 0.5) return q;
        if (t < 2.0 / 3) return p + (q - p) * (2.0 / 3 - t) * 6;
        return p;
    };
    double outRed = lightness, outGreen = lightness, outBlue = lightness;
    if (saturation > 0.0) {
        const double q = lightness < 0.5 ? lightness * (1 + saturation)
                                         : lightness + saturation - lightness * saturation;
        const double p = 2 * lightness - q;
        outRed = channel(p, q, hue + 1.0 / 3);
        outGreen = channel(p, q, hue);
        outBlue = channel(p, q, hue - 1.0 / 3);
    }
    auto toByte = [](double value) {
        return static_cast<std::uint32_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
    };
    return (argb & 0xFF000000u) | (toByte(outRed) << 16) | (toByte(outGreen) << 8) |
           toByte(outBlue);
}

Color indexedColor(int index) {
    if (index < 0 || index >= static_cast<int>(DefaultPalette.size())) return std::nullopt;
    return DefaultPalette[static_cast<std::size_t>(index)] | 0xFF000000u;
}

void RunFontSpec::apply(std::string_view name, const XmlAttributes& attributes,
                        const RunFontContext& context) {
    RawColor color;
    const std::uint16_t property = readFontProperty(font, color, name, attributes);
    if (property == Property::TextColor)
        font.color = resolve(color, context.theme, context.indexedColors);
    given |= property;
}

Font RunFontSpec::over(const Font& defaultFont) const {
    Font result;
    result.name = defaultFont.name;
    result.size = defaultFont.size;
    result.color = defaultFont.color;
    result.family = defaultFont.family;
    result.charset = defaultFont.charset;
    if (given & Name) result.name = font.name;
    if (given & Size) result.size = font.size;
    if (given & Bold) result.bold = font.bold;
    if (given & Italic) result.italic = font.italic;
    if (given & Strike) result.strike = font.strike;
    if (given & Underline) result.underline = font.underline;
    if (given & VerticalAlign) result.verticalAlign = font.verticalAlign;
    if (given & TextColor) result.color = font.color;
    if (given & Family) result.family = font.family;
    if (given & Charset) result.charset = font.charset;
    return result;
}

Result<std::vector<CellStyle>> readXlsxStyles(std::string_view stylesXml,
                                              const ThemeColors& theme) {
    Result<XlsxStyleSheet> sheet = readXlsxStyleSheet(stylesXml, theme);
    if (!sheet) return sheet.error();
    return std::move(sheet->styles);
}

Result<XlsxStyleSheet> readXlsxStyleSheet(std::string_view stylesXml, const ThemeColors& theme) {
    StylesHandler handler;
    Result<void> parsed = detail::parseXml(handler, "styles", stylesXml);
    if (!parsed) return parsed.error();

    std::vector<Font> fonts;
    for (const RawFont& raw : handler.fonts) {
        Font font = raw.font;
        font.color = resolve(raw.color, theme, handler.indexedColors);
        fonts.push_back(std::move(font));
    }
    std::vector<Fill> fills;
    for (const RawFill& raw : handler.fills) {
        Fill fill = raw.fill;
        fill.foreground = resolve(raw.foreground, theme, handler.indexedColors);
        fill.background = resolve(raw.background, theme, handler.indexedColors);
        fills.push_back(std::move(fill));
    }
    std::vector<Border> borders;
    for (const RawBorder& raw : handler.borders) {
        Border border = raw.border;
        border.left.color = resolve(raw.left, theme, handler.indexedColors);
        border.right.color = resolve(raw.right, theme, handler.indexedColors);
        border.top.color = resolve(raw.top, theme, handler.indexedColors);
        border.bottom.color = resolve(raw.bottom, theme, handler.indexedColors);
        border.diagonal.color = resolve(raw.diagonal, theme, handler.indexedColors);
        borders.push_back(std::move(border));
    }

    std::vector<CellStyle> styles;
    styles.reserve(handler.xfs.size());
    for (const RawXf& xf : handler.xfs) {
        CellStyle style;
        // Files may redefine low ids, so their own table comes first.
        auto custom = handler.numberFormats.find(xf.numberFormatId);
        if (custom != handler.numberFormats.end())
            style.numberFormat = custom->second;
        else if (std::string builtin = builtinNumberFormat(xf.numberFormatId); !builtin.empty())
            style.numberFormat = std::move(builtin);
        if (xf.fontId < fonts.size())
            style.font = fonts[xf.fontId];
        else if (!fonts.empty())
            style.font = fonts.front();
        if (xf.fillId < fills.size()) style.fill = fills[xf.fillId];
        if (xf.borderId < borders.size()) style.border = borders[xf.borderId];
        style.alignment = xf.alignment;
        style.protection = xf.protection;
        styles.push_back(std::move(style));
    }
    if (styles.empty()) {
        styles.emplace_back();
        if (!fonts.empty()) styles.front().font = fonts.front();
    }
    return XlsxStyleSheet{std::move(styles),
                          RunFontContext{theme, std::move(handler.indexedColors),
                                         fonts.empty() ? Font{} : fonts.front()}};
}

}  // namespace spreadsheet
