// Reads .xls workbooks (BIFF8 and BIFF5 in a compound file) into WorkbookData.
#pragma once

#include <cstdint>
#include <span>

#include "spreadsheet/error.h"
#include "spreadsheet/workbook_data.h"

namespace spreadsheet {

Result<WorkbookData> readXls(std::span<const std::uint8_t> bytes);

}  // namespace spreadsheet
