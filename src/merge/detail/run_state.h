// The state one merge run shares between its stretches: the application, the result workbook
// and sheet, the failure table and the counters.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "merge/automation.h"
#include "merge/failure_table.h"
#include "merge/merge_options.h"
#include "merge/run_host.h"

namespace merge::detail {

struct RunState {
    Application& application;
    RunHost& host;
    MergeOptions options;
    std::vector<std::string> sources;  // in merge order
    std::string folderPath;
    FailureTable failures;
    std::shared_ptr<Workbook> resultBook;
    std::shared_ptr<Worksheet> resultSheet;  // the data sheet being filled
    int maxRows = 0;
    int mergedCount = 0;  // blocks in the result
    int usedRows = 0;     // rows of resultSheet taken
    std::string sheetBaseName;
    int current = 0;  // 0-based position of the source in `sources`
    // The passwords given for the run and those the user chose to use for later files too.
    std::vector<std::string> passwords;

    ErrorState& errors() { return application.errors(); }
    void recordFailure(FailureReason reason) {
        failures.record(reason,
                        relativePath(sources[static_cast<std::size_t>(current)], folderPath));
    }
};

}  // namespace merge::detail
