// Reads .xlsx and .xlsm packages (transitional and strict OOXML) into WorkbookData: parts
// found through relationships, shared strings, styles resolved to CellStyle, sparse cells.
#pragma once

#include <cstdint>
#include <span>

#include "spreadsheet/error.h"
#include "spreadsheet/workbook_data.h"

namespace spreadsheet {

Result<WorkbookData> readXlsx(std::span<const std::uint8_t> bytes);

}  // namespace spreadsheet
