// The state one merge run shares between its stretches: the application, the result workbook
// and sheet, the failure table, the per-source reports and the counters.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "merge/automation.h"
#include "merge/block_plan.h"
#include "merge/column_alignment.h"
#include "merge/failure_table.h"
#include "merge/merge_options.h"
#include "merge/run_host.h"
#include "merge/source_report.h"

namespace merge::detail {

struct RunState {
    Application& application;
    RunHost& host;
    MergeSettings settings;
    std::vector<std::string> sources;  // in merge order
    std::string folderPath;
    FailureTable failures;
    std::vector<SourceReport> reports;  // one per source, in merge order
    std::shared_ptr<Workbook> resultBook;
    std::shared_ptr<Worksheet> resultSheet;  // the data sheet being filled
    int maxRows = 0;
    int mergedCount = 0;    // blocks in the result
    int mergedSources = 0;  // sources that gave at least one block and did not fail
    // One result sheet per block: the name each data sheet is to get, before it is made
    // valid and unique, in sheet order.
    std::vector<std::string> sheetBases;
    int usedRows = 0;  // rows of resultSheet taken
    std::string sheetBaseName;
    int current = 0;  // 0-based position of the source in `sources`
    // The passwords given for the run and those the user chose to use for later files too.
    std::vector<std::string> passwords;
    SaveFormat resultFormat = SaveFormat::Xlsx;  // how the result is saved
    // The planned copy: the result's columns by header name, the digests of the data rows
    // placed (duplicates), and the first block's header keys when blocks carry no header row
    // of their own.
    ColumnUnion columns;
    RowDigestSet digests;
    std::vector<std::string> firstBlockKeys;

    ErrorState& errors() { return application.errors(); }
    // The application's error recorded since the last clear, if any: the cause of a failure
    // about to be booked.
    std::optional<spreadsheet::Error> pendingError() {
        return errors().isSet() ? std::optional<spreadsheet::Error>(errors().error())
                                : std::nullopt;
    }
    // Books the current source under `reason`, with the application's error as its cause, or
    // `explanation` when there is none.
    void recordFailure(FailureReason reason, std::optional<spreadsheet::Error> error,
                       std::string explanation) {
        SourceFailure failure{reason, std::move(error), std::move(explanation)};
        const std::string& path = sources[static_cast<std::size_t>(current)];
        failures.record(relativePath(path, folderPath), failure);
        reports[static_cast<std::size_t>(current)].failure = std::move(failure);
    }
};

}  // namespace merge::detail
