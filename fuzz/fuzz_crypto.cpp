// Fuzzes the decryption of password-protected workbooks: the encryption descriptors and
// FILEPASS records, the key derivation with the fixtures' passwords, and the readers behind
// them on the decrypted bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "spreadsheet/workbook_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The passwords of tests/data/crypto, so that mutated fixtures still decrypt.
    static const spreadsheet::OpenOptions options{
        {"standard-pw", "api-Pass", "lo-Pass1", "xor-pw"}};
    spreadsheet::Result<spreadsheet::WorkbookData> book =
        spreadsheet::readWorkbook({data, size}, "fuzz.xlsx", options);
    (void)book;
    return 0;
}
