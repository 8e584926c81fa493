#include "spreadsheet/detail/csv_values.h"

#include <array>
#include <charconv>
#include <cmath>
#include <string>

#include "spreadsheet/detail/value_parsing.h"

namespace spreadsheet::detail {
namespace {

// The decimals a percentage or a separated number may show and keep a format that shows them:
// more than 15 significant digits stay text anyway.
constexpr int MaxShownDecimals = 15;

bool isDigit(char character) {
    return character >= '0' && character <= '9';
}

// The digits of a decimal number as written: where the integer and fraction digits are.
struct DecimalShape {
    std::size_t integerStart = 0;
    std::size_t integerDigits = 0;  // digits only, separators not counted
    std::size_t fractionDigits = 0;
    std::size_t significantDigits = 0;
};

std::size_t countSignificant(std::string_view digits) {
    std::size_t significant = 0;
    bool seenNonZero = false;
    for (const char character : digits) {
        if (!isDigit(character)) continue;
        if (character != '0') seenNonZero = true;
        if (seenNonZero) ++significant;
    }
    return significant;
}

// Numbers a spreadsheet program would damage are IDs and stay text: leading zeros ("007",
// "-00.5") and more than 15 significant digits, as account and ID card numbers are.
bool damagedAsNumber(std::string_view text, const DecimalShape& shape) {
    if (shape.integerDigits >= 2 && text[shape.integerStart] == '0') return true;
    return shape.significantDigits > 15;
}

// A plain number: optional sign, digits with an optional decimal point, optional exponent.
std::optional<double> plainNumber(std::string_view text) {
    std::size_t position = 0;
    if (position < text.size() && (text[position] == '+' || text[position] == '-')) ++position;
    DecimalShape shape;
    shape.integerStart = position;
    while (position < text.size() && isDigit(text[position])) ++position;
    shape.integerDigits = position - shape.integerStart;
    if (position < text.size() && text[position] == '.') {
        ++position;
        const std::size_t fractionStart = position;
        while (position < text.size() && isDigit(text[position])) ++position;
        shape.fractionDigits = position - fractionStart;
    }
    if (shape.integerDigits + shape.fractionDigits == 0) return std::nullopt;
    const std::size_t mantissaEnd = position;
    if (position < text.size() && (text[position] == 'e' || text[position] == 'E')) {
        ++position;
        if (position < text.size() && (text[position] == '+' || text[position] == '-')) ++position;
        const std::size_t exponentStart = position;
        while (position < text.size() && isDigit(text[position])) ++position;
        if (position == exponentStart) return std::nullopt;
    }
    if (position != text.size()) return std::nullopt;
    shape.significantDigits =
        countSignificant(text.substr(shape.integerStart, mantissaEnd - shape.integerStart));
    if (damagedAsNumber(text, shape)) return std::nullopt;
    return parseNumber(text);
}

// "12.5%": a plain number without exponent, then the percent sign. The value is read with the
// exponent moved by two, so 1.1% is 0.011 exactly as the text says, not 1.1 / 100.
std::optional<CsvValue> percentage(std::string_view text) {
    if (text.size() < 2 || text.back() != '%') return std::nullopt;
    const std::string_view number = text.substr(0, text.size() - 1);
    if (number.find_first_of("eE") != std::string_view::npos) return std::nullopt;
    if (!plainNumber(number)) return std::nullopt;
    const std::size_t point = number.find('.');
    const std::size_t decimals = point == std::string_view::npos ? 0 : number.size() - point - 1;
    if (decimals > MaxShownDecimals) return std::nullopt;
    std::string scaled(number);
    scaled += "e-2";
    const std::optional<double> value = parseNumber(scaled);
    if (!value) return std::nullopt;
    static const std::array<std::string, MaxShownDecimals + 1> Formats = [] {
        std::array<std::string, MaxShownDecimals + 1> formats;
        for (int count = 0; count <= MaxShownDecimals; ++count)
            formats[count] = (count == 0 ? "0" : "0." + std::string(count, '0')) + "%";
        return formats;
    }();
    return CsvValue{CellType::Number, *value, Formats[decimals].c_str()};
}

// "-1,234,567.5": an optional sign, one to three digits (not a leading zero), one or more
// groups of a comma and three digits, an optional fraction.
std::optional<CsvValue> separatedNumber(std::string_view text) {
    std::size_t position = 0;
    if (position < text.size() && (text[position] == '+' || text[position] == '-')) ++position;
    const std::size_t start = position;
    while (position < text.size() && isDigit(text[position])) ++position;
    const std::size_t leading = position - start;
    if (leading == 0 || leading > 3 || (text[start] == '0')) return std::nullopt;
    std::size_t groups = 0;
    while (position < text.size() && text[position] == ',') {
        if (position + 4 > text.size() || !isDigit(text[position + 1]) ||
            !isDigit(text[position + 2]) || !isDigit(text[position + 3]))
            return std::nullopt;
        position += 4;
        ++groups;
    }
    if (groups == 0) return std::nullopt;
    std::size_t decimals = 0;
    if (position < text.size() && text[position] == '.') {
        ++position;
        const std::size_t fractionStart = position;
        while (position < text.size() && isDigit(text[position])) ++position;
        decimals = position - fractionStart;
    }
    if (position != text.size() || decimals > MaxShownDecimals) return std::nullopt;
    if (countSignificant(text.substr(start)) > 15) return std::nullopt;
    std::string plain;
    plain.reserve(text.size());
    for (const char character : text)
        if (character != ',') plain += character;
    const std::optional<double> value = parseNumber(plain);
    if (!value) return std::nullopt;
    static const std::array<std::string, MaxShownDecimals + 1> Formats = [] {
        std::array<std::string, MaxShownDecimals + 1> formats;
        for (int count = 0; count <= MaxShownDecimals; ++count)
            formats[count] = "#,##0" + (count == 0 ? std::string() : "." + std::string(count, '0'));
        return formats;
    }();
    return CsvValue{CellType::Number, *value, Formats[decimals].c_str()};
}

// Reads one to `most` digits at `position` as a number.
std::optional<int> digitsAt(std::string_view text, std::size_t& position, std::size_t least,
                            std::size_t most) {
    const std::size_t start = position;
    int value = 0;
    while (position < text.size() && position - start < most && isDigit(text[position]))
        value = value * 10 + (text[position++] - '0');
    if (position - start < least) return std::nullopt;
    if (position < text.size() && isDigit(text[position])) return std::nullopt;
    return value;
}

bool takeText(std::string_view text, std::size_t& position, std::string_view expected) {
    if (text.substr(position, expected.size()) != expected) return false;
    position += expected.size();
    return true;
}

// "h:mm" or "h:mm:ss" from `position` to the end, hours 0-23: the fraction of a day; sets
// `withSeconds`.
std::optional<double> timeOfDay(std::string_view text, std::size_t position, bool& withSeconds) {
    const std::optional<int> hour = digitsAt(text, position, 1, 2);
    if (!hour || !takeText(text, position, ":")) return std::nullopt;
    const std::optional<int> minute = digitsAt(text, position, 2, 2);
    if (!minute) return std::nullopt;
    int second = 0;
    withSeconds = takeText(text, position, ":");
    if (withSeconds) {
        const std::optional<int> seconds = digitsAt(text, position, 2, 2);
        if (!seconds) return std::nullopt;
        second = *seconds;
    }
    if (position != text.size() || *hour > 23 || *minute > 59 || second > 59) return std::nullopt;
    return (*hour * 3600.0 + *minute * 60.0 + second) / 86400.0;
}

enum class DateForm { Dash, Slash, Chinese };

// The number formats of each date form: the day alone, with a time of day in minutes, with one
// in seconds. The ISO form always shows seconds, as its readers expect a fixed width.
struct DateFormats {
    const char* day;
    const char* withMinutes;
    const char* withSeconds;
};

constexpr DateFormats FormatsOf(DateForm form) {
    switch (form) {
        case DateForm::Dash:
            return {"yyyy-mm-dd", "yyyy-mm-dd hh:mm:ss", "yyyy-mm-dd hh:mm:ss"};
        case DateForm::Slash:
            return {"yyyy/m/d", "yyyy/m/d h:mm", "yyyy/m/d h:mm:ss"};
        case DateForm::Chinese:
            break;
    }
    return {"yyyy\"年\"m\"月\"d\"日\"", "yyyy\"年\"m\"月\"d\"日\" h:mm",
            "yyyy\"年\"m\"月\"d\"日\" h:mm:ss"};
}

// "2026-01-05", "2026/1/5" or "2026年1月5日", then optionally a space and a time of day.
std::optional<CsvValue> date(std::string_view text) {
    std::size_t position = 0;
    const std::optional<int> year = digitsAt(text, position, 4, 4);
    if (!year || position >= text.size()) return std::nullopt;
    DateForm form;
    std::string_view afterMonth;
    std::string_view afterDay;
    if (text[position] == '-' || text[position] == '/') {
        form = text[position] == '-' ? DateForm::Dash : DateForm::Slash;
        afterMonth = text.substr(position, 1);
        ++position;
    } else if (takeText(text, position, "年")) {
        form = DateForm::Chinese;
        afterMonth = "月";
        afterDay = "日";
    } else {
        return std::nullopt;
    }
    const std::optional<int> month = digitsAt(text, position, 1, 2);
    if (!month || !takeText(text, position, afterMonth)) return std::nullopt;
    const std::optional<int> day = digitsAt(text, position, 1, 2);
    if (!day || !takeText(text, position, afterDay)) return std::nullopt;
    const std::optional<double> serial = daySerial(*year, *month, *day);
    if (!serial) return std::nullopt;
    if (position == text.size()) return CsvValue{CellType::Number, *serial, FormatsOf(form).day};
    if (text[position] != ' ') return std::nullopt;
    bool withSeconds = false;
    const std::optional<double> time = timeOfDay(text, position + 1, withSeconds);
    if (!time) return std::nullopt;
    const DateFormats formats = FormatsOf(form);
    return CsvValue{CellType::Number, *serial + *time,
                    withSeconds ? formats.withSeconds : formats.withMinutes};
}

}  // namespace

bool equalsIgnoringCase(std::string_view text, std::string_view upperWord) {
    if (text.size() != upperWord.size()) return false;
    for (std::size_t index = 0; index < text.size(); ++index) {
        char character = text[index];
        if (character >= 'a' && character <= 'z') character = static_cast<char>(character - 32);
        if (character != upperWord[index]) return false;
    }
    return true;
}

std::optional<double> daySerial(int year, int month, int day) {
    if (year < 1900 || year > 9999 || month < 1 || month > 12 || day < 1) return std::nullopt;
    static constexpr int DaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > DaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0)) return std::nullopt;
    // Days from the civil date (proleptic Gregorian), counted from 1899-12-30.
    const int shiftedYear = year - (month <= 2 ? 1 : 0);
    const int era = shiftedYear / 400;
    const int yearOfEra = shiftedYear - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const long long daysSince1970 = static_cast<long long>(era) * 146097 + dayOfEra - 719468;
    double serial = static_cast<double>(daysSince1970 + 25569);
    if (serial < 61) serial -= 1;  // before 1900-03-01 the serials skip the fictitious leap day
    return serial;
}

CsvValue readCsvValue(std::string_view field) {
    const char first = field.front();
    if (isDigit(first) || first == '+' || first == '-' || first == '.') {
        if (const std::optional<double> number = plainNumber(field))
            return CsvValue{CellType::Number, *number, nullptr};
        if (const std::optional<CsvValue> value = percentage(field)) return *value;
        if (const std::optional<CsvValue> value = separatedNumber(field)) return *value;
        if (isDigit(first)) {
            if (const std::optional<CsvValue> value = date(field)) return *value;
            bool withSeconds = false;
            if (const std::optional<double> time = timeOfDay(field, 0, withSeconds))
                return CsvValue{CellType::Number, *time, withSeconds ? "h:mm:ss" : "h:mm"};
        }
        return CsvValue{};
    }
    if (equalsIgnoringCase(field, "TRUE")) return CsvValue{CellType::Boolean, 1.0, nullptr};
    if (equalsIgnoringCase(field, "FALSE")) return CsvValue{CellType::Boolean, 0.0, nullptr};
    // Everything else, "=..." included, is text: the engine does not evaluate formulas.
    return CsvValue{};
}

}  // namespace spreadsheet::detail
