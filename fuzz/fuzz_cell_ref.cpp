// Fuzzes the A1 reference parser; a parsed range must lie inside the grid it was parsed for.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "spreadsheet/cell_ref.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace spreadsheet;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (GridLimits grid : {XlsxGrid, XlsGrid}) {
        Result<RangeRef> range = parseRange(text, grid);
        if (!range) continue;
        const RangeRef& found = range.value();
        if (found.first.row < 1 || found.first.column < 1 || found.last.row > grid.rows ||
            found.last.column > grid.columns || found.first.row > found.last.row ||
            found.first.column > found.last.column) {
            std::abort();
        }
        if (parseRange(formatRange(found), grid).value() != found) std::abort();
    }
    return 0;
}
