#include "spreadsheet/value_text.h"

#include <cmath>
#include <cstdint>

#include "spreadsheet/detail/xlsx_text.h"

namespace spreadsheet {
namespace {

// 9999-12-31, the last day a spreadsheet can show.
constexpr double LastSerial = 2'958'465.0;

struct CivilDate {
    std::int64_t year;
    int month;
    int day;
};

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's civil_from_days).
CivilDate civilFromDays(std::int64_t days) {
    days += 719'468;
    const std::int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
    const std::int64_t dayOfEra = days - era * 146'097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// Serial 61 is 1900-03-01 and counts on without gaps; the serials 1 to 59 run one day late
// because the 1900 system counts 1900 as a leap year (serial 60 is its 1900-02-29).
CivilDate dateOfSerialDay(std::int64_t serialDay) {
    constexpr std::int64_t Serial61DaysSince1970 = -25'508;  // 1900-03-01
    if (serialDay == 60) return {1900, 2, 29};
    if (serialDay == 0) return {1900, 1, 0};  // what spreadsheets show for serial 0
    const std::int64_t days = serialDay > 60 ? Serial61DaysSince1970 + (serialDay - 61)
                                             : Serial61DaysSince1970 - 1 - (59 - serialDay);
    return civilFromDays(days);
}

}  // namespace

std::string numberText(double number) {
    if (!std::isfinite(number)) return "#NUM!";
    // The writer's form of a number, which is the shortest that reads back to it; it spares
    // to_chars for the whole numbers and short decimals most cells hold. -0 gives "0".
    std::string text;
    detail::appendNumber(text, number);
    return text;
}

std::string dateTimeText(double serial) {
    if (!std::isfinite(serial) || serial < 0.0 || serial >= LastSerial + 1.0)
        return numberText(serial);
    const auto totalSeconds = static_cast<std::int64_t>(std::llround(serial * 86'400.0));
    const std::int64_t serialDay = totalSeconds / 86'400;
    const auto secondOfDay = static_cast<int>(totalSeconds % 86'400);
    const int hours = secondOfDay / 3600;
    const int minutes = secondOfDay / 60 % 60;
    const int seconds = secondOfDay % 60;
    // Written digit by digit: this runs for every date cell a row rule looks at.
    std::string text;
    const auto digits = [&text](long long value, int width) {
        char field[4];
        for (int at = width - 1; at >= 0; --at, value /= 10)
            field[at] = static_cast<char>('0' + value % 10);
        text.append(field, static_cast<std::size_t>(width));
    };
    const auto appendTime = [&] {
        digits(hours, 2);
        text += ':';
        digits(minutes, 2);
        text += ':';
        digits(seconds, 2);
    };
    if (serial < 1.0 && serialDay == 0) {
        appendTime();
        return text;
    }
    if (serialDay > static_cast<std::int64_t>(LastSerial)) return numberText(serial);
    const CivilDate date = dateOfSerialDay(serialDay);
    // Serials 0 to 9999-12-31 give four-digit years.
    digits(date.year, 4);
    text += '-';
    digits(date.month, 2);
    text += '-';
    digits(date.day, 2);
    if (secondOfDay != 0) {
        text += 'T';
        appendTime();
    }
    return text;
}

std::string valueText(const Cell& cell, const WorkbookData& book) {
    // A style index past the table is a reader's fault; read it as General rather than crash.
    const bool dated = cell.type == CellType::Number && cell.style < book.styles.size() &&
                       isDateFormat(book.styles[cell.style].numberFormat);
    return valueText(cell, dated);
}

std::string valueText(const Cell& cell, bool dateFormatted) {
    switch (cell.type) {
        case CellType::Empty:
            return {};
        case CellType::Text:
        case CellType::Error:
            return cell.text;
        case CellType::Boolean:
            return cell.number != 0.0 ? "TRUE" : "FALSE";
        case CellType::Number:
            return dateFormatted ? dateTimeText(cell.number) : numberText(cell.number);
    }
    return {};
}

}  // namespace spreadsheet
