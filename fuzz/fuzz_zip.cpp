// Fuzzes the zip reader: the directory, then every entry read whole under small limits.
#include <cstdint>

#include "spreadsheet/zip_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace spreadsheet;
    ZipLimits limits;
    limits.maxPartBytes = 8 << 20;
    limits.maxTotalBytes = 32 << 20;
    Result<ZipReader> zip = ZipReader::open({data, size}, limits);
    if (!zip) return 0;
    for (const ZipEntry& entry : zip->entries()) {
        Result<std::string> content = zip->readWhole(entry, limits.maxPartBytes);
        (void)content;
    }
    return 0;
}
