// Reads an HTML page with tables (the "export to Excel" of many business systems, saved with
// an .xls name) as a book of one worksheet: the rows of all tables in document order, with
// colspan/rowspan as merged cells, numbers converted the way the CSV reader does.
//   if (looksLikeHtmlTable(bytes)) Result<WorkbookData> book = readHtmlTable(bytes, "report");
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "spreadsheet/error.h"
#include "spreadsheet/workbook_data.h"

namespace spreadsheet {

// True when the bytes start (after a byte-order mark, white space and comments) with HTML
// markup and hold a <table> within their first 64 KiB.
bool looksLikeHtmlTable(std::span<const std::uint8_t> bytes);

// `sheetName` names the one worksheet (callers pass the file name without extension). The
// text is decoded by its byte-order mark, else the charset its <meta> names, else UTF-8 when
// valid, else GB18030. Fails with TextEncoding, SheetLimit, or UnknownFormat without a table.
Result<WorkbookData> readHtmlTable(std::span<const std::uint8_t> bytes,
                                   const std::string& sheetName);

}  // namespace spreadsheet
