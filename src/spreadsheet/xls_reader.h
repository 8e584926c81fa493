// Reads .xls workbooks (BIFF8 and BIFF5 in a compound file, and single BIFF4 worksheets
// as a raw record stream) into WorkbookData.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "spreadsheet/error.h"
#include "spreadsheet/workbook_data.h"

namespace spreadsheet {

Result<WorkbookData> readXls(std::span<const std::uint8_t> bytes);

// The same; a file that holds a single worksheet without a sheet name (BIFF4) names its sheet
// `singleSheetName` (callers pass the file name without extension), "Sheet1" when empty. An
// encrypted workbook stream is decrypted in memory with the default password or one of
// `passwords` (UTF-8).
Result<WorkbookData> readXls(std::span<const std::uint8_t> bytes,
                             const std::string& singleSheetName,
                             std::span<const std::string> passwords = {});

}  // namespace spreadsheet
