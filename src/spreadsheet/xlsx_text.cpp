// The text pieces of the .xlsx writer (detail/xlsx_text.h): escaping of cell and attribute text,
// numbers, column letters and references. The writer's own UTF-8 decoding lives here too.
#include "spreadsheet/detail/xlsx_text.h"

#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace spreadsheet::detail {

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

void appendEscapeCode(std::string& out, std::uint32_t codeUnit) {
    char code[7] = {'_',
                    'x',
                    HexDigits[(codeUnit >> 12) & 15],
                    HexDigits[(codeUnit >> 8) & 15],
                    HexDigits[(codeUnit >> 4) & 15],
                    HexDigits[codeUnit & 15],
                    '_'};
    out.append(code, 7);
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

constexpr std::string_view ReplacementCharacter = "\xEF\xBF\xBD";

bool isXmlWhitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

std::size_t decodeUtf8(std::string_view text, std::size_t i, std::uint32_t& codePoint) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char lead = byte(0);
    const std::size_t remaining = text.size() - i;
    const auto continuation = [&](std::size_t k) {
        return k < remaining && (byte(k) & 0xC0) == 0x80;
    };
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        if (!continuation(1)) return 0;
        codePoint = ((lead & 0x1Fu) << 6) | (byte(1) & 0x3Fu);
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!continuation(1) || !continuation(2)) return 0;
        codePoint = ((lead & 0x0Fu) << 12) | ((byte(1) & 0x3Fu) << 6) | (byte(2) & 0x3Fu);
        if (codePoint < 0x800) return 0;  // overlong
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
        codePoint = ((lead & 0x07u) << 18) | ((byte(1) & 0x3Fu) << 12) | ((byte(2) & 0x3Fu) << 6) |
                    (byte(3) & 0x3Fu);
        if (codePoint < 0x10000 || codePoint > 0x10FFFF) return 0;
        return 4;
    }
    return 0;
}

bool appendCellText(std::string& out, std::string_view text) {
    std::size_t units = 0;
    std::size_t i = 0;
    const std::size_t size = text.size();
    bool lineBreakOrTab = false;  // seen in the part written
    while (i < size) {
        // Copy a run at once: ASCII that needs no escape, and two- and three-byte UTF-8 that can
        // be neither a surrogate nor U+FFFE/U+FFFF (leads C2-DF, E1-EC, EE), one unit each.
        std::size_t run = i;
        std::size_t runUnits = units;
        while (run < size && runUnits < MaxCellTextUnits) {
            const unsigned char c = static_cast<unsigned char>(text[run]);
            if (c < 0x80) {
                if (c < 0x20 || c == '&' || c == '<' || c == '>' || c == '_') break;
                ++run;
            } else if (c >= 0xC2 && c <= 0xDF) {
                if (run + 1 >= size || (static_cast<unsigned char>(text[run + 1]) & 0xC0) != 0x80)
                    break;
                run += 2;
            } else if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE) {
                if (run + 2 >= size || (static_cast<unsigned char>(text[run + 1]) & 0xC0) != 0x80 ||
                    (static_cast<unsigned char>(text[run + 2]) & 0xC0) != 0x80)
                    break;
                run += 3;
            } else {
                break;
            }
            ++runUnits;
        }
        if (run > i) {
            out.append(text.data() + i, run - i);
            units = runUnits;
            i = run;
        }
        if (i >= size || units >= MaxCellTextUnits) break;
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '\t' || c == '\n' || c == '\r') lineBreakOrTab = true;
            switch (c) {
                case '&':
                    out += "&amp;";
                    break;
                case '<':
                    out += "&lt;";
                    break;
                case '>':
                    out += "&gt;";
                    break;
                case '\t':
                    out += '\t';
                    break;
                case '\n':
                    out += '\n';
                    break;
                case '_':
                    // A literal _xHHHH_ would read back as the escaped character: escape its '_'.
                    if (i + 6 < size && text[i + 1] == 'x' && isHex(text[i + 2]) &&
                        isHex(text[i + 3]) && isHex(text[i + 4]) && isHex(text[i + 5]) &&
                        text[i + 6] == '_')
                        out += "_x005F_";
                    else
                        out += '_';
                    break;
                default:
                    // Control characters, CR included: XML would drop or normalise them.
                    appendEscapeCode(out, c);
                    break;
            }
            ++units;
            ++i;
            continue;
        }
        std::uint32_t codePoint = 0;
        const std::size_t length = decodeUtf8(text, i, codePoint);
        if (length == 0) {
            out += ReplacementCharacter;
            ++units;
            ++i;
            continue;
        }
        const std::size_t charUnits = codePoint >= 0x10000 ? 2 : 1;
        if (units + charUnits > MaxCellTextUnits) break;
        if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint == 0xFFFE ||
            codePoint == 0xFFFF)
            appendEscapeCode(out, codePoint);
        else
            out.append(text.data() + i, length);
        units += charUnits;
        i += length;
    }
    if (text.empty()) return false;
    if (isXmlWhitespace(text.front()) || isXmlWhitespace(text.back()) || lineBreakOrTab)
        return true;
    // A text cut at the limit still asks for xml:space by what it held past the cut.
    return i < size && text.find_first_of("\t\n\r", i) != std::string_view::npos;
}

void appendAttributeText(std::string& out, std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
                case '&':
                    out += "&amp;";
                    break;
                case '<':
                    out += "&lt;";
                    break;
                case '>':
                    out += "&gt;";
                    break;
                case '"':
                    out += "&quot;";
                    break;
                case '\'':
                    out += "&apos;";
                    break;
                case '\t':
                    out += "&#9;";
                    break;
                case '\n':
                    out += "&#10;";
                    break;
                case '\r':
                    out += "&#13;";
                    break;
                default:
                    if (c >= 0x20) out += static_cast<char>(c);
                    break;
            }
            ++i;
            continue;
        }
        std::uint32_t codePoint = 0;
        const std::size_t length = decodeUtf8(text, i, codePoint);
        if (length == 0) {
            out += ReplacementCharacter;
            ++i;
            continue;
        }
        if (!((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint == 0xFFFE ||
              codePoint == 0xFFFF))
            out.append(text.data() + i, length);
        i += length;
    }
}

void appendNumber(std::string& out, double value) {
    if (value == 0.0) {
        out += '0';
        return;
    }
    // Whole numbers below 2^53 (counts, dates, codes) are exactly their digits, so their
    // shortest round-trip form is those digits without the trailing zeros, written plain or
    // as an exponent, whichever is shorter (plain on a tie): 123456, 1e+05, 1200000, 1.2e+07.
    // Only the exponent form is left to to_chars.
    if (value > -9'007'199'254'740'992.0 && value < 9'007'199'254'740'992.0) {
        const auto whole = static_cast<long long>(value);
        if (static_cast<double>(whole) == value) {
            char digits[24];
            const char* end = std::to_chars(digits, digits + sizeof digits, whole).ptr;
            const char* first = digits + (whole < 0 ? 1 : 0);
            const char* significantEnd = end;
            while (significantEnd[-1] == '0') --significantEnd;
            const long significant = significantEnd - first;
            // d.ddde+NN: the point only with two digits or more; exponents stay below 100.
            const long exponentForm = significant + (significant > 1 ? 1 : 0) + 4;
            if (end - first <= exponentForm) {
                out.append(digits, static_cast<std::size_t>(end - digits));
                return;
            }
        }
    }
    if (value > -100'000.0 && value < 100'000.0) {
        // Amounts and rates: a value that is the nearest double to a decimal of at most four
        // places is written as that decimal. With nine significant digits at most no shorter
        // decimal reads back to the same double, and from 0.001 up the plain form is never
        // longer than the exponent form, so this is exactly the shortest round-trip form.
        const double magnitude = std::fabs(value);
        if (magnitude >= 0.001) {
            static constexpr double Scales[] = {10.0, 100.0, 1'000.0, 10'000.0};
            static constexpr long long IntegerScales[] = {10, 100, 1'000, 10'000};
            for (int places = 1; places <= 4; ++places) {
                const double scale = Scales[places - 1];
                const long long scaled = std::llround(magnitude * scale);
                if (static_cast<double>(scaled) / scale != magnitude) continue;
                const long long unit = IntegerScales[places - 1];
                char digits[24];
                char* end = digits;
                if (value < 0) *end++ = '-';
                end = std::to_chars(end, digits + sizeof digits, scaled / unit).ptr;
                *end++ = '.';
                long long fraction = scaled % unit;
                for (long long digit = unit / 10; digit > 0; digit /= 10) {
                    *end++ = static_cast<char>('0' + fraction / digit);
                    fraction %= digit;
                }
                out.append(digits, end);
                return;
            }
        }
    }
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void appendColumnLetters(std::string& out, int column) {
    assert(column >= 1 && column <= XlsxMaxColumns);
    char letters[4];
    int count = 0;
    while (column > 0 && count < 4) {
        const int digit = (column - 1) % 26;
        letters[count++] = static_cast<char>('A' + digit);
        column = (column - 1) / 26;
    }
    while (count > 0) out += letters[--count];
}

std::size_t utf16Length(std::string_view text) {
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        std::uint32_t codePoint = 0;
        const std::size_t length = decodeUtf8(text, i, codePoint);
        if (length == 0) {
            ++units;
            ++i;
            continue;
        }
        units += codePoint >= 0x10000 ? 2 : 1;
        i += length;
    }
    return units;
}

void appendInt(std::string& out, long long value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void appendCellRef(std::string& out, int row, int column) {
    appendColumnLetters(out, column);
    appendInt(out, row);
}

void appendRange(std::string& out, const RangeRef& range) {
    appendCellRef(out, range.first.row, range.first.column);
    if (range.first != range.last) {
        out += ':';
        appendCellRef(out, range.last.row, range.last.column);
    }
}

}  // namespace spreadsheet::detail
