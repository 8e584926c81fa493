// Reads a .csv file as a book with one worksheet named after the file: UTF-8 (with or
// without BOM), UTF-16 with BOM, else the legacy code page the bytes are in (GB18030 first);
// comma separator unless the file names another or its first line shows one; RFC 4180 quoting;
// values converted as a zh-CN spreadsheet program converts them (detail/csv_values.h), but IDs
// with leading zeros or more than 15 digits kept as text.
//   Result<WorkbookData> book = readCsv(bytes, "月报");
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "spreadsheet/error.h"
#include "spreadsheet/workbook_data.h"

namespace spreadsheet {

// `encoding`, when not empty, is the encoding every byte is read in (any name iconv knows);
// otherwise it is detected, and the text never fails for its encoding. The book's textEncoding
// names the one used. Fails with TextEncoding for an encoding name iconv does not know, with
// CsvLimit past the grid or the cell text limit, with RecordCorrupt for an unclosed quote.
Result<WorkbookData> readCsv(std::span<const std::uint8_t> bytes, const std::string& sheetName,
                             std::string_view encoding = {});

}  // namespace spreadsheet
