// Streaming .xlsx writer for the result workbook. Each sheet's finished rows are spooled to a
// temporary file as they come, so memory stays bounded by the rows still being changed; the
// package is assembled at save time: header elements (dimension, panes, widths) first, then the
// spooled rows, then the merges. Saving writes a temporary file in the target folder and renames
// it into place, so a crash never leaves a half-written result.
//   StyleRegistry styles;
//   Result<RowSpool> spool = RowSpool::create(folder);
//   spool->append(row);                        // rows ascending
//   writeXlsx(path, sheets, 0, styles, ExistingFile::Refuse);
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "spreadsheet/atomic_file.h"
#include "spreadsheet/error.h"
#include "spreadsheet/row_spool.h"
#include "spreadsheet/sheet_name.h"
#include "spreadsheet/style_registry.h"
#include "spreadsheet/workbook_data.h"

namespace spreadsheet {

// A cell's note (comment): shown when the pointer rests on the cell. Every note the writer
// writes has this program as its author.
struct CellNote {
    CellRef cell;
    std::string text;  // UTF-8; cut at the longest text a cell holds
};

// One sheet of the package as the writer sees it.
struct SheetToWrite {
    std::string name;  // already validated (see isValidSheetName)
    Visibility visibility = Visibility::Visible;
    const RowSpool* spooledRows = nullptr;  // written first; may be null
    const std::vector<Row>* rows =
        nullptr;  // written after, ascending, all below the spooled ones; may be null
    std::vector<RangeRef> merges;     // not overlapping, none of one cell
    std::vector<ColumnInfo> columns;  // ascending, not overlapping
    std::optional<FrozenPane> frozenPane;
    std::optional<CellRef> activeCell;  // the selected cell; A1 when not given
    std::vector<CellNote> notes;        // ascending by row, then column; one per cell
};

// Writes the package to `target` through a temporary file in the same folder, then renames it
// into place. Notes out of order, on one cell twice or outside the grid fail the write
// (OperationFailed) before a byte is written, as rows out of order do. With ExistingFile::Refuse an
// existing `target` is never replaced: TargetExists. Fails with WriteFailed (and removes the
// temporary file) when the file system refuses. `activeSheet` is 0-based; exactly that sheet is
// tab-selected.
Result<void> writeXlsx(const std::filesystem::path& target, std::span<const SheetToWrite> sheets,
                       int activeSheet, const StyleRegistry& styles, ExistingFile existing);

// The same package written to memory (tests).
Result<std::vector<std::uint8_t>> writeXlsxToMemory(std::span<const SheetToWrite> sheets,
                                                    int activeSheet, const StyleRegistry& styles);

}  // namespace spreadsheet
