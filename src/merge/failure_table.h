// The failure table: which source failed for which of the four reasons, laid out as the grid
// the failure-list sheet shows (row 1 headings, row 2 counts, rows 3 on the failed sources).
//   FailureTable table(sourceCount);
//   table.record(FailureReason::SheetEmpty, relativePath(source, folder));
#pragma once

#include <string>
#include <vector>

#include "merge/automation.h"

namespace merge {

// The reasons, by the column of the failure table they are counted in.
enum class FailureReason { SheetMissing = 2, SheetEmpty = 3, RangeIllogical = 4, Other = 5 };

class FailureTable {
public:
    // Room for `sourceCount` failures; rows 1 and 2 already hold headings and zero counts.
    explicit FailureTable(int sourceCount);

    // Books one source under `reason`: the reason's count goes up to k, row k + 2 gets k in
    // column A and `relativePath` in the reason's column.
    void record(FailureReason reason, const std::string& relativePath);

    int count(FailureReason reason) const;
    // All failed sources.
    int failCount() const;
    bool empty() const { return failCount() == 0; }
    // The whole grid, sourceCount + 2 rows of 5 columns; cells nothing wrote are empty.
    const ValueBlock& grid() const { return m_grid; }

private:
    ValueBlock m_grid;
};

// `source` with `folder` removed when it is its leading part ("sub/a.xlsx"), else unchanged.
std::string relativePath(const std::string& source, const std::string& folder);

}  // namespace merge
