// Fuzzes the readers of markup saved under a spreadsheet name: the HTML table reader and the
// SpreadsheetML reader, each on every input whatever its first bytes look like.
#include <cstdint>

#include "spreadsheet/html_table_reader.h"
#include "spreadsheet/spreadsheetml_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    spreadsheet::Result<spreadsheet::WorkbookData> table =
        spreadsheet::readHtmlTable({data, size}, "fuzz");
    (void)table;
    spreadsheet::Result<spreadsheet::WorkbookData> book =
        spreadsheet::readSpreadsheetMl({data, size});
    (void)book;
    return 0;
}
