// A cell's value as text, the way `sheetmerge cat` shows it and a merge sees it: numbers in
// their shortest round-trip form, date-formatted numbers as ISO 8601, TRUE/FALSE, error texts.
//   std::string text = valueText(*sheet.cell(2, 3), book);
#pragma once

#include <string>

#include "spreadsheet/workbook_data.h"

namespace spreadsheet {

// 15 -> "15", 0.1 -> "0.1", 1e20 -> "1e+20", -0 -> "0". Not-a-number and infinities,
// which no cell can hold, show as "#NUM!".
std::string numberText(double number);

// A serial of the 1900 date system as ISO 8601: "2015-06-15" for a whole day,
// "2015-06-15T09:30:12" with a time of day, "09:30:12" for a time below one day. Serial 60 is
// the 1900-02-29 that spreadsheets show although that day never was. Times round to the second.
// Serials below 0 or past 9999-12-31 have no date and show as numbers.
std::string dateTimeText(double serial);

// The value of `cell` as text; its style (an index into book.styles) decides whether a number
// is a date. An empty cell gives "".
std::string valueText(const Cell& cell, const WorkbookData& book);

// The same, where the caller has worked out whether the cell's format shows a date.
std::string valueText(const Cell& cell, bool dateFormatted);

}  // namespace spreadsheet
