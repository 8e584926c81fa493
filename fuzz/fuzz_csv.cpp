// Fuzzes the .csv reader with its encoding detection.
#include <cstdint>

#include "spreadsheet/csv_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    spreadsheet::Result<spreadsheet::WorkbookData> book =
        spreadsheet::readCsv({data, size}, "fuzz");
    (void)book;
    return 0;
}
