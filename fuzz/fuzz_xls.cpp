// Fuzzes the .xls reader (compound file and BIFF records).
#include <cstdint>

#include "spreadsheet/xls_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    spreadsheet::Result<spreadsheet::WorkbookData> book = spreadsheet::readXls({data, size});
    (void)book;
    return 0;
}
