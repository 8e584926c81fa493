// What a run did with each source, in merge order: merged, or failed with its reason and
// cause, and what the user should know about the data it gave. The run's outcome carries one
// report per source; the command line prints from them and the merge log (merge_log.h) lists
// them, one row per block.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "merge/failure_table.h"

namespace merge {

// One block of a source as it went into the result. A source gives one block today; a source
// merged sheet by sheet gives one per sheet.
struct BlockReport {
    std::string sheet;  // the source sheet's name
    int rowsCopied = 0;
    // Rows of the block each cleaning rule left out (see RowSelection).
    int stoppedRows = 0;
    int skippedLastRows = 0;
    int blankRows = 0;
    int headerRepeatRows = 0;
    int duplicateRows = 0;
    // Columns matched by header name: the names of the result's columns this block filled that
    // were there before it, the names it added, and (set when the run ends) the result's
    // columns it did not fill. `filled` holds the result columns (0-based) it filled.
    std::vector<std::string> matchedColumns;
    std::vector<std::string> addedColumns;
    std::vector<std::string> missingColumns;
    std::vector<int> filled;
    int mergesUnmerged = 0;  // merged ranges of the data not merged again in the result
    int mergesFilled = 0;    // merged ranges split, each cell filled with the merged value
    // Formula cells of the block's sheet without a cached value, merged as empty cells.
    int uncalculatedFormulas = 0;
    // Where the block landed: the result data sheet (1-based position; its name once the run
    // has named the sheets) and the first and last row; rows 0 when no row was copied.
    int resultSheet = 0;
    std::string resultSheetName;
    int firstRow = 0;
    int lastRow = 0;
};

struct SourceReport {
    std::string path;                      // the full path, as the run received it
    std::optional<SourceFailure> failure;  // nullopt: the source was merged
    // Merged sources only: formula cells of the chosen sheets that had no cached value and were
    // therefore merged as empty cells. Counted over the whole sheets, not only the blocks.
    int uncalculatedFormulas = 0;
    std::string relativePath;         // the path below the sources' folder, as listed
    std::string sheet;                // the chosen sheet's name, once found; with several
                                      // sheets per source the one the failure is listed under
    std::vector<BlockReport> blocks;  // merged sources: what each block gave

    bool merged() const { return !failure; }
};

}  // namespace merge
