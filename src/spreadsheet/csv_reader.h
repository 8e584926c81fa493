// Reads a .csv file as a book with one worksheet named after the file: UTF-8 (with or
// without BOM), UTF-16 with BOM, else GB18030; comma separator, RFC 4180 quoting; numbers,
// booleans and text converted like a spreadsheet program, but IDs with leading zeros or more
// than 15 digits kept as text.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "spreadsheet/error.h"
#include "spreadsheet/workbook_data.h"

namespace spreadsheet {

Result<WorkbookData> readCsv(std::span<const std::uint8_t> bytes, const std::string& sheetName);

}  // namespace spreadsheet
