#include "spreadsheet/detail/value_parsing.h"

#include <charconv>
#include <cmath>

#include "spreadsheet/text_encoding.h"

namespace spreadsheet::detail {
namespace {

// The four hex digits of an `_xHHHH_` escape starting at `position`, if there is one.
std::optional<std::uint32_t> escapeAt(std::string_view text, std::size_t position) {
    if (position + 7 > text.size() || text[position] != '_' || text[position + 1] != 'x' ||
        text[position + 6] != '_')
        return std::nullopt;
    std::uint32_t value = 0;
    auto [end, error] =
        std::from_chars(text.data() + position + 2, text.data() + position + 6, value, 16);
    if (error != std::errc() || end != text.data() + position + 6) return std::nullopt;
    return value;
}

}  // namespace

std::optional<double> parseNumberFully(std::string_view text) {
    // from_chars does not take a leading '+'.
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<long long> parseWholeNumber(std::string_view text) {
    if (!text.empty() && text.size() <= 9) {
        long long value = 0;
        std::size_t position = 0;
        while (position < text.size() && text[position] >= '0' && text[position] <= '9')
            value = value * 10 + (text[position++] - '0');
        if (position == text.size()) return value;
    }
    text = trimXmlSpace(text);
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data()) return std::nullopt;
    std::string_view rest(end, static_cast<std::size_t>(text.data() + text.size() - end));
    if (!rest.empty()) {
        if (rest.front() != '.' || rest.find_first_not_of('0', 1) != std::string_view::npos)
            return std::nullopt;
    }
    return value;
}

std::optional<int> parseInteger(std::string_view text) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> isoToSerial(std::string_view text) {
    text = trimXmlSpace(text);
    auto number = [&](std::size_t position, std::size_t length) -> std::optional<int> {
        if (position + length > text.size()) return std::nullopt;
        int value = 0;
        for (std::size_t i = position; i < position + length; ++i) {
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    double serial = 0.0;
    std::size_t position = 0;
    const bool hasDate = text.size() >= 10 && text[4] == '-' && text[7] == '-';
    if (hasDate) {
        auto year = number(0, 4), month = number(5, 2), day = number(8, 2);
        if (!year || !month || !day || *month < 1 || *month > 12 || *day < 1 || *day > 31)
            return std::nullopt;
        // Days from civil (proleptic Gregorian), counted from 1899-12-30.
        const int y = *year - (*month <= 2 ? 1 : 0);
        const int era = (y >= 0 ? y : y - 399) / 400;
        const int yearOfEra = y - era * 400;
        const int dayOfYear = (153 * (*month + (*month > 2 ? -3 : 9)) + 2) / 5 + *day - 1;
        const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
        const long long daysSince1970 = static_cast<long long>(era) * 146097 + dayOfEra - 719468;
        serial = static_cast<double>(daysSince1970 + 25569);
        if (serial < 61) serial -= 1;  // before 1900-03-01 the serials skip the fictitious leap day
        if (serial < 0) return std::nullopt;
        position = 10;
        if (position == text.size()) return serial;
        if (text[position] != 'T' && text[position] != ' ') return std::nullopt;
        ++position;
    }
    auto hour = number(position, 2), minute = number(position + 3, 2);
    if (!hour || !minute || text.size() < position + 5 || text[position + 2] != ':' || *hour > 24 ||
        *minute > 59)
        return std::nullopt;
    double seconds = 0.0;
    std::size_t end = position + 5;
    if (end < text.size() && text[end] == ':') {
        std::size_t secondsEnd = end + 1;
        while (secondsEnd < text.size() &&
               ((text[secondsEnd] >= '0' && text[secondsEnd] <= '9') || text[secondsEnd] == '.'))
            ++secondsEnd;
        auto parsed = parseNumber(text.substr(end + 1, secondsEnd - end - 1));
        if (!parsed || *parsed < 0 || *parsed >= 61) return std::nullopt;
        seconds = *parsed;
        end = secondsEnd;
    }
    const std::string_view zone = text.substr(end);
    if (!zone.empty() && zone != "Z" && !((zone[0] == '+' || zone[0] == '-') && zone.size() <= 6))
        return std::nullopt;
    serial += (*hour * 3600.0 + *minute * 60.0 + seconds) / 86400.0;
    return serial;
}

std::string decodeXlsxEscapes(std::string_view text) {
    if (text.find("_x") == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    // Escapes are UTF-16 units: a run of them is decoded as one, so that pairs join.
    std::u16string units;
    for (std::size_t i = 0; i < text.size();) {
        if (std::optional<std::uint32_t> unit = escapeAt(text, i)) {
            units.push_back(static_cast<char16_t>(*unit));
            i += 7;
            continue;
        }
        appendUtf16(units, out);
        units.clear();
        out.push_back(text[i++]);
    }
    appendUtf16(units, out);
    return out;
}

}  // namespace spreadsheet::detail
