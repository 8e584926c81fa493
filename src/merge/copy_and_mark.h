// Copying a resolved block into the result and labelling it with its source: the first block
// with the header rows, later blocks below, a new result sheet when one is full, and the
// roll-back of a block whose copying failed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "merge/detail/run_state.h"
#include "merge/merge_options.h"
#include "merge/source_extraction.h"

namespace merge {

// The start row whose rows above form the header, when CopyHeaderOnce is set and the range
// is given by a start row; nullopt otherwise.
std::optional<int> headerStartRow(const MergeOptions& options);
// The number of header rows: StartRow - 1, or 0.
int headerRowCount(const MergeOptions& options);
// MarkCells split at ",".
std::vector<std::string> markParts(const std::string& markCells);
// The number of label columns: 0 without MarkSource, 1 when labelling by path, else the
// number of addresses.
int markerColumns(const MergeOptions& options);
// The base name of the data sheets: the first merged source's sheet name when the sheet is
// chosen by name, else "成功合并".
std::string dataSheetBaseName(const MergeOptions& options, const std::string& sourceSheetName);

// Places the block of `source` into the result, labels it, and closes the source. Returns false
// when a failure made the block roll back (the source is then booked under "其它").
bool copyAndMark(detail::RunState& run, ResolvedSource& source);

}  // namespace merge
