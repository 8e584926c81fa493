// Fuzzes the .xlsx reader on whole packages.
#include <cstdint>

#include "spreadsheet/xlsx_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    spreadsheet::Result<spreadsheet::WorkbookData> book = spreadsheet::readXlsx({data, size});
    (void)book;
    return 0;
}
