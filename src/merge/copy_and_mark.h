// Copying a resolved block into the result and labelling it with its source: the first block
// with the header rows, later blocks below, a new result sheet when one is full, and the
// roll-back of a block whose copying failed.
#pragma once

#include <string>

#include "merge/detail/run_state.h"
#include "merge/merge_options.h"
#include "merge/source_extraction.h"

namespace merge {

// The number of header rows copied once: the start row - 1 with the header option and a start
// row, else 0.
int headerRowCount(const MergeSettings& settings);
// The number of rows above the data of every result sheet: the header rows copied once, or with
// columns matched by header name in the range modes the one header row of names.
int resultHeaderRows(const MergeSettings& settings);
// The label of the file-name choice: the file name without folder and extension.
std::string fileNameLabel(const std::string& path);
// The number of label columns: 0 without labels, 1 when labelling by path or by file name, else
// the number of addresses; one more with the sheet-name label.
int markerColumns(const MergeSettings& settings);
// The base name of the data sheets: the first merged source's sheet name when the sheet is
// chosen by name, else "成功合并".
std::string dataSheetBaseName(const SheetChoice& sheet, const std::string& sourceSheetName);

// The name a result sheet of its own is to get for a block, before it is made valid and
// unique: the file's name without its extension, and with several sheets per source "-" and
// the sheet's name.
std::string sourceSheetBase(const std::string& path, const std::string& sheetName,
                            bool severalSheets);

// Writes the labels of result rows firstRow .. firstRow + rows - 1 of the current result sheet,
// one assignment per label column.
void writeLabels(detail::RunState& run, ResolvedSource& source, int firstRow, int rows,
                 bool autoFit);
// Starts a new result sheet after the last one, with the header rows and column widths of the
// first. Returns the new sheet, or nullptr when it could not be added.
std::shared_ptr<Worksheet> startNewSheet(detail::RunState& run);
// Starts an empty result sheet after the last one for a block of its own. Returns the new
// sheet, or nullptr (and the error state set) when it could not be added.
std::shared_ptr<Worksheet> startSourceSheet(detail::RunState& run);

// Places the block of `source` into the result and labels it; the source stays open. Returns
// false when a failure made the block roll back (the source is then booked under "其它").
bool copyAndMark(detail::RunState& run, ResolvedSource& source);

}  // namespace merge
