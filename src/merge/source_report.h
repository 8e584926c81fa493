// What a run did with each source, in merge order: merged, or failed with its reason and
// cause, and what the user should know about the data it gave. The run's outcome carries one
// report per source; the command line prints from them. A merge log extends this record.
#pragma once

#include <optional>
#include <string>

#include "merge/failure_table.h"

namespace merge {

struct SourceReport {
    std::string path;                      // the full path, as the run received it
    std::optional<SourceFailure> failure;  // nullopt: the source was merged
    // Merged sources only: formula cells of the chosen sheet that had no cached value and were
    // therefore merged as empty cells. Counted over the whole sheet, not only the block.
    int uncalculatedFormulas = 0;

    bool merged() const { return !failure; }
};

}  // namespace merge
