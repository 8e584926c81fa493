// Values from the texts the readers find: numbers (plain decimals of up to 15 digits without a
// library call, the bulk of what cells hold), whole numbers, ISO 8601 dates as serials, and the
// _xHHHH_ escapes of OOXML text. The one number parser of every reader.
//   std::optional<double> value = detail::parseNumber(trimXmlSpace(text));
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace spreadsheet::detail {

// `text` without the XML white space (space, tab, line feed, carriage return) around it.
inline std::string_view trimXmlSpace(std::string_view text) {
    auto isSpace = [](char character) {
        return character == ' ' || character == '\t' || character == '\n' || character == '\r';
    };
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

// The part of parseNumber that goes through std::from_chars.
std::optional<double> parseNumberFully(std::string_view text);

// A decimal number spanning all of `text`: an optional sign ('+' too), digits with an optional
// point, an optional exponent. Nullopt for anything else, for infinities and not-a-number, and
// for values out of the range of a double.
inline std::optional<double> parseNumber(std::string_view text) {
    // Plain decimals of up to 15 digits: the digits make an integer below 2^53 and the power of
    // ten is exact, so one division rounds correctly, as from_chars does.
    static constexpr double PowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    std::size_t position = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) ++position;
    std::uint64_t digits = 0;
    int count = 0;
    int fraction = -1;  // digits after the point, once there is one
    for (; position < text.size(); ++position) {
        const char character = text[position];
        if (character >= '0' && character <= '9') {
            if (++count > 15) return parseNumberFully(text);
            digits = digits * 10 + static_cast<std::uint64_t>(character - '0');
            if (fraction >= 0) ++fraction;
        } else if (character == '.' && fraction < 0) {
            fraction = 0;
        } else {
            return parseNumberFully(text);
        }
    }
    if (count == 0 || fraction == 0) return parseNumberFully(text);
    double value = static_cast<double>(digits);
    if (fraction > 0) value /= PowersOfTen[fraction];
    return negative ? -value : value;
}

// A whole number, also written as "12.0" (seen in row numbers), with white space around it.
std::optional<long long> parseWholeNumber(std::string_view text);

// An int spanning all of `text`: an optional '-' and digits; nullopt for anything else and for
// values out of range.
std::optional<int> parseInteger(std::string_view text);

// ISO 8601 "2015-06-15", "2015-06-15T09:30:12(.5)(Z|+08:00)" or "09:30:12" as a serial number
// of the 1900 date system (with its fictitious 1900-02-29); nullopt for anything else. Time
// zones are ignored: the clock time as written is what the cell shows.
std::optional<double> isoToSerial(std::string_view text);

// Decodes the `_xHHHH_` escapes that stand for characters XML cannot carry (surrogate pairs
// joined, lone surrogates as U+FFFD); `_x005F_` is an escaped underscore, so "_x005F_x000D_"
// reads as the literal text "_x000D_".
std::string decodeXlsxEscapes(std::string_view text);

}  // namespace spreadsheet::detail
