// Rows as worksheet XML, shared by the row spool and the package writer, and what the package
// writer needs of a spool: its extent, a final flush and its deflated bytes.
//   Extent extent;
//   if (Result<void> checked = checkRow(row, extent.lastRowNumber); checked)
//       appendRowXml(xml, row, extent, &styles);
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "spreadsheet/error.h"
#include "spreadsheet/row_spool.h"
#include "spreadsheet/workbook_data.h"

namespace spreadsheet {

class StyleRegistry;
class ZipWriter;

namespace detail {

// Rows are turned into XML and handed on in slices of about this size.
constexpr std::size_t RowXmlSliceSize = 256 * 1024;

// What the rows of a sheet cover, for <dimension>, and the largest style id they use.
struct Extent {
    int firstRow = 0;  // 0 while no cell
    int lastRow = 0;   // of the last cell
    int firstColumn = 0;
    int lastColumn = 0;
    int lastRowNumber = 0;  // of the last row, with or without cells
    std::int64_t maxStyle = -1;

    void addCell(int row, int column) {
        if (firstRow == 0) firstRow = row;
        lastRow = row;
        if (firstColumn == 0 || column < firstColumn) firstColumn = column;
        if (column > lastColumn) lastColumn = column;
    }
    void addStyle(std::uint32_t style) { maxStyle = std::max<std::int64_t>(maxStyle, style); }
    void add(const Extent& other) {
        if (other.firstRow != 0) {
            // Rows kept open above a spool come after it here: take the bounds, not the order.
            firstRow = firstRow == 0 ? other.firstRow : std::min(firstRow, other.firstRow);
            lastRow = std::max(lastRow, other.lastRow);
            if (firstColumn == 0 || other.firstColumn < firstColumn)
                firstColumn = other.firstColumn;
            lastColumn = std::max(lastColumn, other.lastColumn);
        }
        lastRowNumber = std::max(lastRowNumber, other.lastRowNumber);
        maxStyle = std::max(maxStyle, other.maxStyle);
    }
};

// Checks a row against the rows before it (`previousRow` is the last row number written): in
// the grid, below them, cells ascending and in the grid.
Result<void> checkRow(const Row& row, int previousRow);

// Appends one checked row as <row> XML and widens `extent` by it. Rich cells are written as
// runs, each with the <rPr> of its font in `styles` (the registry the row's ids belong to);
// without a registry, or for a font it does not hold, a run shows in its cell's font.
void appendRowXml(std::string& out, const Row& row, Extent& extent, const StyleRegistry* styles);

// The spool's rows so far and sizes, for the sheet entry that will hold them.
struct SpooledRows {
    Extent extent;
    std::uint32_t crc = 0;            // of the inflated XML
    std::uint64_t inflatedBytes = 0;  // XML bytes
    std::uint64_t deflatedBytes = 0;  // in the spool file
};

// What the spool holds; valid until the next append.
const Extent& spoolExtent(const RowSpool& spool);

// Ends the spool's deflate blocks on a byte boundary (never a final block) and returns what it
// holds; fails when writing the spool failed, now or before.
Result<SpooledRows> flushSpool(const RowSpool& spool);

// Copies the spool's deflated bytes to the entry being written (after beginDeflatedCopy).
Result<void> copySpool(const RowSpool& spool, ZipWriter& zip);

}  // namespace detail

}  // namespace spreadsheet
