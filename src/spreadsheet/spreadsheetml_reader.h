// Reads SpreadsheetML 2003 ("XML Spreadsheet", often saved with an .xls name by business
// systems) into WorkbookData: worksheets with cells, styles, merges, widths, heights, panes.
//   if (looksLikeSpreadsheetMl(bytes)) Result<WorkbookData> book = readSpreadsheetMl(bytes);
#pragma once

#include <cstdint>
#include <span>

#include "spreadsheet/error.h"
#include "spreadsheet/workbook_data.h"

namespace spreadsheet {

// True when the first bytes hold an XML document whose root is a SpreadsheetML Workbook
// (the urn:schemas-microsoft-com:office:spreadsheet namespace or its progid marker).
bool looksLikeSpreadsheetMl(std::span<const std::uint8_t> bytes);

// Fails with XmlMalformed, XmlForbidden, XmlLimit or SheetLimit, and with UnknownFormat when
// the document is not SpreadsheetML.
Result<WorkbookData> readSpreadsheetMl(std::span<const std::uint8_t> bytes);

}  // namespace spreadsheet
