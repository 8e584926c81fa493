// What a spreadsheet program set to zh-CN makes of the text of a CSV field: numbers (IDs with
// leading zeros or more than 15 digits stay text), TRUE/FALSE, percentages, numbers with
// thousands separators, dates (2026-01-05, 2026/1/5, 2026年1月5日, each with an optional time)
// and times of day, the last four with the number format that shows them as written.
//   CsvValue value = detail::readCsvValue("12.5%");  // Number 0.125, format "0.0%"
#pragma once

#include <optional>
#include <string_view>

#include "spreadsheet/workbook_data.h"

namespace spreadsheet::detail {

struct CsvValue {
    CellType type = CellType::Text;  // Number, Boolean or Text
    double number = 0.0;             // Number; Boolean as 0 or 1
    // The number format that shows the value as the field wrote it; nullptr for General. Points
    // to storage that lives as long as the program.
    const char* numberFormat = nullptr;
};

// The value of a non-empty field; Text when it is none of the above. Impossible dates
// (2026-02-30, 2026-13-01), years before 1900 and times past 23:59:59 stay text.
CsvValue readCsvValue(std::string_view field);

// The serial of a day of the 1900 date system (1900-01-01 is 1, and the fictitious 1900-02-29
// that spreadsheets count is skipped); nullopt for a day that does not exist or lies outside
// 1900-01-01 to 9999-12-31.
std::optional<double> daySerial(int year, int month, int day);

// Whether `text` is `upperWord` (ASCII capitals) with ASCII letters in either case: TRUE, SEP=.
bool equalsIgnoringCase(std::string_view text, std::string_view upperWord);

}  // namespace spreadsheet::detail
