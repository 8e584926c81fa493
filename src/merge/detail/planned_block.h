// Placing a block through a plan (block_plan.h): columns matched by header name, rows cleaned,
// merged cells in the data filled. The plain copy of copy_and_mark.cpp stays as it was for
// merges that use none of these options.
#pragma once

#include <memory>

#include "merge/automation.h"
#include "merge/detail/run_state.h"
#include "merge/source_extraction.h"
#include "merge/source_report.h"

namespace merge {

// Places the block of `source` at the end of the result (the first block with the header
// rows), with its labels; `addedSheet` is set when a new result sheet was started for it and
// `block` gets the rows, columns and merges it gave. Failures set the run's error state; the
// caller rolls the block back. The columns and row digests of the block join the run's only
// when nothing failed.
void placePlannedBlock(detail::RunState& run, ResolvedSource& source, bool firstBlock,
                       std::shared_ptr<Worksheet>& addedSheet, BlockReport& block);

// The names of the result's columns that `block` did not fill.
std::vector<std::string> missingColumns(const ColumnUnion& columns, const BlockReport& block);

}  // namespace merge
