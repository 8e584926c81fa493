// The failure table: which source failed for which of the four reasons, laid out as the grid
// the failure-list sheet shows (row 1 headings, row 2 counts, rows 3 on the failed sources),
// and beside the grid the cause of each failure.
//   FailureTable table(sourceCount);
//   table.record(relativePath(source, folder), SourceFailure{FailureReason::SheetEmpty});
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "merge/automation.h"
#include "spreadsheet/error.h"

namespace merge {

// The reasons, by the column of the failure table they are counted in.
enum class FailureReason { SheetMissing = 2, SheetEmpty = 3, RangeIllogical = 4, Other = 5 };

// The failure list's heading of a reason: "不存在目标工作表", "目标工作表内容为空", ...
std::string reasonText(FailureReason reason);

// Why one source failed.
struct SourceFailure {
    FailureReason reason = FailureReason::Other;
    // The application's error that made the source fail (a corrupt zip, a file over the memory
    // budget, a sheet that does not exist); nullopt when nothing failed in the application and
    // the source simply does not fit the options (an empty sheet, no data below the start row).
    std::optional<spreadsheet::Error> error;
    // What was wrong, in the user's words, for a failure without an error.
    std::string explanation;

    // The cause as users read it: the error's text (spreadsheet::errorText), else the
    // explanation.
    std::string cause() const;
};

class FailureTable {
public:
    // One failed source: its path as listed and why it failed.
    struct Entry {
        std::string path;
        SourceFailure failure;
        int gridRow = 0;  // 1-based row of the grid holding the path, in the reason's column
    };

    // Room for `sourceCount` failures; rows 1 and 2 already hold headings and zero counts.
    explicit FailureTable(int sourceCount);

    // Books one source under `failure.reason`: the reason's count goes up to k, row k + 2 gets
    // k in column A and `relativePath` in the reason's column; the failure is kept with it.
    void record(const std::string& relativePath, SourceFailure failure);
    // The same without a cause.
    void record(FailureReason reason, const std::string& relativePath);

    int count(FailureReason reason) const;
    // All failed sources.
    int failCount() const;
    bool empty() const { return failCount() == 0; }
    // The whole grid, sourceCount + 2 rows of 5 columns; cells nothing wrote are empty.
    const ValueBlock& grid() const { return m_grid; }
    // The failed sources in the order they were booked.
    const std::vector<Entry>& entries() const { return m_entries; }

private:
    ValueBlock m_grid;
    std::vector<Entry> m_entries;
};

// `source` with `folder` removed when it is its leading part ("sub/a.xlsx"), else unchanged.
std::string relativePath(const std::string& source, const std::string& folder);

}  // namespace merge
