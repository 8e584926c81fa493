#include "spreadsheet/style.h"

#include <cctype>
#include <functional>
#include <string_view>

namespace spreadsheet {

namespace {

// Mixes one value into a running hash (the boost::hash_combine recipe).
void combine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

std::size_t hashOf(std::string_view text) {
    return std::hash<std::string_view>{}(text);
}

std::size_t hashOf(const Color& color) {
    return color ? static_cast<std::size_t>(*color) + 1 : 0;
}

void combineEdge(std::size_t& seed, const BorderEdge& edge) {
    combine(seed, hashOf(edge.style));
    combine(seed, hashOf(edge.color));
}

}  // namespace

std::size_t hashFont(const Font& font) {
    std::size_t seed = hashOf(font.name);
    combine(seed, std::hash<double>{}(font.size));
    combine(seed, (font.bold ? 1u : 0u) | (font.italic ? 2u : 0u) | (font.strike ? 4u : 0u));
    combine(seed, hashOf(font.underline));
    combine(seed, hashOf(font.verticalAlign));
    combine(seed, hashOf(font.color));
    combine(seed, static_cast<std::size_t>(font.family));
    combine(seed, static_cast<std::size_t>(font.charset + 1));
    return seed;
}

std::size_t hashStyle(const CellStyle& style) {
    std::size_t seed = hashOf(style.numberFormat);
    combine(seed, hashFont(style.font));
    combine(seed, hashOf(style.fill.pattern));
    combine(seed, hashOf(style.fill.foreground));
    combine(seed, hashOf(style.fill.background));
    const Border& border = style.border;
    for (const BorderEdge* edge :
         {&border.left, &border.right, &border.top, &border.bottom, &border.diagonal})
        combineEdge(seed, *edge);
    combine(seed, (border.diagonalUp ? 1u : 0u) | (border.diagonalDown ? 2u : 0u));
    const Alignment& alignment = style.alignment;
    combine(seed, hashOf(alignment.horizontal));
    combine(seed, hashOf(alignment.vertical));
    combine(seed, static_cast<std::size_t>(alignment.indent));
    combine(seed, static_cast<std::size_t>(alignment.textRotation));
    combine(seed, (alignment.wrapText ? 1u : 0u) | (alignment.shrinkToFit ? 2u : 0u));
    combine(seed, (style.protection.locked ? 1u : 0u) | (style.protection.hidden ? 2u : 0u));
    return seed;
}

bool isDateFormat(const std::string& numberFormat) {
    const std::string_view code = numberFormat;
    if (code.empty() || code == "General" || code == "@") return false;
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char character = code[i];
        switch (character) {
            case ';':
                // Only the first section decides: the others format negatives, zero and text.
                return false;
            case '"': {
                const std::size_t close = code.find('"', i + 1);
                if (close == std::string_view::npos) return false;
                i = close;
                break;
            }
            case '\\':
            case '_':
            case '*':
                // An escaped character, a padding width or a fill character: never a date token.
                ++i;
                break;
            case '[': {
                const std::size_t close = code.find(']', i + 1);
                if (close == std::string_view::npos) return false;
                const std::string_view block = code.substr(i + 1, close - i - 1);
                // Elapsed time [h] [mm] [ss] is a time; colours, conditions and locales are not.
                if (!block.empty() && block.find_first_not_of("hHmMsS") == std::string_view::npos) {
                    const char first =
                        static_cast<char>(std::tolower(static_cast<unsigned char>(block[0])));
                    if (block.find_first_not_of(std::string(1, first) +
                                                static_cast<char>(std::toupper(first))) ==
                        std::string_view::npos)
                        return true;
                }
                i = close;
                break;
            }
            default: {
                const char lower =
                    static_cast<char>(std::tolower(static_cast<unsigned char>(character)));
                if (lower == 'd' || lower == 'm' || lower == 'y' || lower == 'h' || lower == 's')
                    return true;
                if (lower == 'a' && (code.substr(i, 5) == "AM/PM" || code.substr(i, 5) == "am/pm" ||
                                     code.substr(i, 3) == "A/P" || code.substr(i, 3) == "a/p"))
                    return true;
                // "上午/下午" (the Chinese AM/PM marker) always comes with an hour token, so the
                // hour decides.
                break;
            }
        }
    }
    return false;
}

std::string builtinNumberFormat(int id) {
    // The locale-independent ids as ECMA-376 lists them; 14 and 22 in the form zh-CN Excel
    // displays them, and the zh-CN meanings of the East Asian ids 27-36 and 50-58.
    switch (id) {
        case 0:
            return "General";
        case 1:
            return "0";
        case 2:
            return "0.00";
        case 3:
            return "#,##0";
        case 4:
            return "#,##0.00";
        case 5:
            return "\"$\"#,##0_);(\"$\"#,##0)";
        case 6:
            return "\"$\"#,##0_);[Red](\"$\"#,##0)";
        case 7:
            return "\"$\"#,##0.00_);(\"$\"#,##0.00)";
        case 8:
            return "\"$\"#,##0.00_);[Red](\"$\"#,##0.00)";
        case 9:
            return "0%";
        case 10:
            return "0.00%";
        case 11:
            return "0.00E+00";
        case 12:
            return "# ?/?";
        case 13:
            return "# \?\?/\?\?";
        case 14:
            return "yyyy/m/d";
        case 15:
            return "d-mmm-yy";
        case 16:
            return "d-mmm";
        case 17:
            return "mmm-yy";
        case 18:
            return "h:mm AM/PM";
        case 19:
            return "h:mm:ss AM/PM";
        case 20:
            return "h:mm";
        case 21:
            return "h:mm:ss";
        case 22:
            return "yyyy/m/d h:mm";
        case 27:
        case 36:
        case 50:
        case 52:
        case 57:
            return "yyyy\"年\"m\"月\"";
        case 28:
        case 29:
        case 51:
        case 53:
        case 54:
        case 58:
            return "m\"月\"d\"日\"";
        case 30:
            return "m-d-yy";
        case 31:
            return "yyyy\"年\"m\"月\"d\"日\"";
        case 32:
            return "h\"时\"mm\"分\"";
        case 33:
            return "h\"时\"mm\"分\"ss\"秒\"";
        case 34:
        case 55:
            return "上午/下午h\"时\"mm\"分\"";
        case 35:
        case 56:
            return "上午/下午h\"时\"mm\"分\"ss\"秒\"";
        case 37:
            return "#,##0_);(#,##0)";
        case 38:
            return "#,##0_);[Red](#,##0)";
        case 39:
            return "#,##0.00_);(#,##0.00)";
        case 40:
            return "#,##0.00_);[Red](#,##0.00)";
        case 41:
            return "_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)";
        case 42:
            return "_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)";
        case 43:
            return "_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)";
        case 44:
            return "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)";
        case 45:
            return "mm:ss";
        case 46:
            return "[h]:mm:ss";
        case 47:
            return "mmss.0";
        case 48:
            return "##0.0E+0";
        case 49:
            return "@";
        default:
            return "";
    }
}

}  // namespace spreadsheet
