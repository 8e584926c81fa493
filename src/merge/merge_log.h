// The merge log: one row per block of a merged source and one per failed source, in merge order,
// as the result's last sheet "合并明细" shows it and as the JSON report for scripts gives it
// (docs/report-schema.md). Both are made from the same entries, so they always agree.
//   ValueBlock grid = logGrid(outcome.sources, settings);
//   std::string json = reportJson(outcome, settings);
#pragma once

#include <string>
#include <vector>

#include "merge/automation.h"
#include "merge/merge_options.h"
#include "merge/merge_run.h"
#include "merge/source_report.h"

namespace merge {

// One row of the log: a source and, when it was merged, one of its blocks.
struct LogEntry {
    int number = 0;  // 1-based, in merge order
    const SourceReport* source = nullptr;
    const BlockReport* block = nullptr;  // nullptr for a failed source
};

// The rows of the log, in merge order.
std::vector<LogEntry> logEntries(const std::vector<SourceReport>& reports);

// The log sheet's cells: a row of headings, then one row per entry. Columns for the cleaning
// rules, the columns matched by name and the merged cells appear only when their options are on.
ValueBlock logGrid(const std::vector<SourceReport>& reports, const MergeSettings& settings);

// The same log as a JSON document, with the run's result, status and counts.
std::string reportJson(const RunOutcome& outcome, const MergeSettings& settings);

}  // namespace merge
