// The merge log's rows, as sheet cells and as JSON.
#include "merge/merge_log.h"

#include "merge/json.h"
#include "merge/texts.h"

namespace merge {

namespace {

// The columns a log has for `settings`, in order.
enum class LogColumn {
    Number,
    Path,
    Sheet,
    Outcome,
    Reason,
    Cause,
    RowsCopied,
    Stopped,
    SkippedLast,
    Blank,
    HeaderRepeats,
    Duplicates,
    Matched,
    Missing,
    Added,
    Uncalculated,
    Unmerged,
    Filled,
    ResultSheet,
    FirstRow,
    LastRow,
};

std::vector<LogColumn> logColumns(const MergeSettings& settings) {
    std::vector<LogColumn> columns{LogColumn::Number,    LogColumn::Path,   LogColumn::Sheet,
                                   LogColumn::Outcome,   LogColumn::Reason, LogColumn::Cause,
                                   LogColumn::RowsCopied};
    const RowCleaning& cleaning = settings.cleaning;
    if (!cleaning.stopAt.empty()) columns.push_back(LogColumn::Stopped);
    if (cleaning.skipLast > 0) columns.push_back(LogColumn::SkippedLast);
    if (cleaning.skipBlankRows) columns.push_back(LogColumn::Blank);
    if (cleaning.dropHeaderRepeats) columns.push_back(LogColumn::HeaderRepeats);
    if (cleaning.dedupe) columns.push_back(LogColumn::Duplicates);
    if (settings.alignColumns) {
        columns.push_back(LogColumn::Matched);
        columns.push_back(LogColumn::Missing);
        columns.push_back(LogColumn::Added);
    }
    columns.push_back(LogColumn::Uncalculated);
    if (settings.plannedCopy()) columns.push_back(LogColumn::Unmerged);
    if (cleaning.fillMerged) columns.push_back(LogColumn::Filled);
    columns.push_back(LogColumn::ResultSheet);
    columns.push_back(LogColumn::FirstRow);
    columns.push_back(LogColumn::LastRow);
    return columns;
}

const char* heading(LogColumn column) {
    switch (column) {
        case LogColumn::Number:
            return texts::LogNumber;
        case LogColumn::Path:
            return texts::LogPath;
        case LogColumn::Sheet:
            return texts::LogSheet;
        case LogColumn::Outcome:
            return texts::LogOutcome;
        case LogColumn::Reason:
            return texts::LogReason;
        case LogColumn::Cause:
            return texts::LogCause;
        case LogColumn::RowsCopied:
            return texts::LogRowsCopied;
        case LogColumn::Stopped:
            return texts::LogStopped;
        case LogColumn::SkippedLast:
            return texts::LogSkippedLast;
        case LogColumn::Blank:
            return texts::LogBlank;
        case LogColumn::HeaderRepeats:
            return texts::LogHeaderRepeats;
        case LogColumn::Duplicates:
            return texts::LogDuplicates;
        case LogColumn::Matched:
            return texts::LogMatched;
        case LogColumn::Missing:
            return texts::LogMissing;
        case LogColumn::Added:
            return texts::LogAdded;
        case LogColumn::Uncalculated:
            return texts::LogUncalculated;
        case LogColumn::Unmerged:
            return texts::LogUnmerged;
        case LogColumn::Filled:
            return texts::LogFilled;
        case LogColumn::ResultSheet:
            return texts::LogResultSheet;
        case LogColumn::FirstRow:
            return texts::LogFirstRow;
        case LogColumn::LastRow:
            return texts::LogLastRow;
    }
    return "";
}

// "3（日期、数量、金额）", or "0".
std::string columnList(const std::vector<std::string>& names) {
    std::string text = std::to_string(names.size());
    if (names.empty()) return text;
    text += texts::LogListOpen;
    for (std::size_t k = 0; k < names.size(); ++k) {
        if (k > 0) text += texts::LogListSeparator;
        text += names[k];
    }
    return text + texts::LogListClose;
}

CellValue number(long long value) {
    return CellValue::ofNumber(static_cast<double>(value));
}

// One cell of the log; failed sources leave the block's columns empty.
CellValue cellOf(LogColumn column, const LogEntry& entry) {
    const SourceReport& source = *entry.source;
    const BlockReport* block = entry.block;
    switch (column) {
        case LogColumn::Number:
            return number(entry.number);
        case LogColumn::Path:
            return CellValue::ofText(source.relativePath);
        case LogColumn::Sheet:
            return CellValue::ofText(block ? block->sheet : source.sheet);
        case LogColumn::Outcome:
            return CellValue::ofText(block ? texts::LogMerged : texts::LogFailed);
        case LogColumn::Reason:
            return !block && source.failure ? CellValue::ofText(reasonText(source.failure->reason))
                                            : CellValue{};
        case LogColumn::Cause:
            return !block && source.failure ? CellValue::ofText(source.failure->cause())
                                            : CellValue{};
        default:
            break;
    }
    if (!block) return {};
    switch (column) {
        case LogColumn::RowsCopied:
            return number(block->rowsCopied);
        case LogColumn::Uncalculated:
            return number(block->uncalculatedFormulas);
        case LogColumn::Stopped:
            return number(block->stoppedRows);
        case LogColumn::SkippedLast:
            return number(block->skippedLastRows);
        case LogColumn::Blank:
            return number(block->blankRows);
        case LogColumn::HeaderRepeats:
            return number(block->headerRepeatRows);
        case LogColumn::Duplicates:
            return number(block->duplicateRows);
        case LogColumn::Matched:
            return CellValue::ofText(columnList(block->matchedColumns));
        case LogColumn::Missing:
            return CellValue::ofText(columnList(block->missingColumns));
        case LogColumn::Added:
            return CellValue::ofText(columnList(block->addedColumns));
        case LogColumn::Unmerged:
            return number(block->mergesUnmerged);
        case LogColumn::Filled:
            return number(block->mergesFilled);
        case LogColumn::ResultSheet:
            return CellValue::ofText(block->resultSheetName);
        case LogColumn::FirstRow:
            return block->rowsCopied > 0 ? number(block->firstRow) : CellValue{};
        case LogColumn::LastRow:
            return block->rowsCopied > 0 ? number(block->lastRow) : CellValue{};
        default:
            return {};
    }
}

std::string quotedList(const std::vector<std::string>& names) {
    std::string out = "[";
    for (std::size_t k = 0; k < names.size(); ++k) {
        if (k > 0) out += ", ";
        out += json::quoted(names[k]);
    }
    return out + "]";
}

std::string statusName(RunStatus status) {
    switch (status) {
        case RunStatus::Saved:
            return "saved";
        case RunStatus::SaveFailed:
            return "save-failed";
        case RunStatus::Stopped:
            return "stopped";
        case RunStatus::Cancelled:
            return "cancelled";
        case RunStatus::StartFailed:
            return "start-failed";
        case RunStatus::NoWorksheetInSample:
            return "no-worksheet-in-sample";
        case RunStatus::ResultNotCreated:
            return "result-not-created";
    }
    return "";
}

std::string entryJson(const LogEntry& entry, const MergeSettings& settings) {
    const SourceReport& source = *entry.source;
    const BlockReport* block = entry.block;
    const RowCleaning& cleaning = settings.cleaning;
    std::string json = "    {\"number\": " + std::to_string(entry.number);
    json += ", \"path\": " + json::quoted(source.path);
    json += ", \"relativePath\": " + json::quoted(source.relativePath);
    json += ", \"sheet\": " + json::quoted(block ? block->sheet : source.sheet);
    // A block row stands for a block in the result; the source's failure has a row of its own.
    const SourceFailure* failure = !block && source.failure ? &*source.failure : nullptr;
    json += ", \"outcome\": " + std::string(block ? "\"merged\"" : "\"failed\"");
    json += ", \"reason\": " +
            (failure ? json::quoted(reasonText(failure->reason)) : std::string("null"));
    json += ", \"cause\": " + (failure ? json::quoted(failure->cause()) : std::string("null"));
    if (!block) return json + "}";
    json += ", \"rowsCopied\": " + std::to_string(block->rowsCopied);
    json += ", \"leftOut\": {";
    std::string leftOut;
    const auto add = [&](const char* name, int count) {
        if (!leftOut.empty()) leftOut += ", ";
        leftOut += std::string("\"") + name + "\": " + std::to_string(count);
    };
    if (!cleaning.stopAt.empty()) add("stopAt", block->stoppedRows);
    if (cleaning.skipLast > 0) add("skipLast", block->skippedLastRows);
    if (cleaning.skipBlankRows) add("blankRows", block->blankRows);
    if (cleaning.dropHeaderRepeats) add("headerRepeats", block->headerRepeatRows);
    if (cleaning.dedupe) add("duplicates", block->duplicateRows);
    json += leftOut + "}";
    if (settings.alignColumns)
        json += ", \"columns\": {\"matched\": " + quotedList(block->matchedColumns) +
                ", \"missing\": " + quotedList(block->missingColumns) +
                ", \"extra\": " + quotedList(block->addedColumns) + "}";
    json += ", \"uncalculatedFormulas\": " + std::to_string(block->uncalculatedFormulas);
    if (settings.plannedCopy())
        json += ", \"mergedRangesUnmerged\": " + std::to_string(block->mergesUnmerged);
    if (cleaning.fillMerged)
        json += ", \"mergedRangesFilled\": " + std::to_string(block->mergesFilled);
    json += ", \"resultSheet\": " + json::quoted(block->resultSheetName);
    if (block->rowsCopied > 0)
        json += ", \"firstRow\": " + std::to_string(block->firstRow) +
                ", \"lastRow\": " + std::to_string(block->lastRow);
    else
        json += ", \"firstRow\": null, \"lastRow\": null";
    return json + "}";
}

}  // namespace

std::vector<LogEntry> logEntries(const std::vector<SourceReport>& reports) {
    std::vector<LogEntry> entries;
    int number = 0;
    for (const SourceReport& report : reports) {
        // A source merged sheet by sheet keeps the blocks placed before one failed: they are
        // in the result, so they are listed before the failure.
        for (const BlockReport& block : report.blocks)
            entries.push_back(LogEntry{++number, &report, &block});
        if (!report.merged() || report.blocks.empty())
            entries.push_back(LogEntry{++number, &report, nullptr});
    }
    return entries;
}

ValueBlock logGrid(const std::vector<SourceReport>& reports, const MergeSettings& settings) {
    const std::vector<LogColumn> columns = logColumns(settings);
    ValueBlock grid;
    grid.emplace_back();
    for (LogColumn column : columns) grid.back().push_back(CellValue::ofText(heading(column)));
    for (const LogEntry& entry : logEntries(reports)) {
        grid.emplace_back();
        for (LogColumn column : columns) grid.back().push_back(cellOf(column, entry));
    }
    return grid;
}

std::string reportJson(const RunOutcome& outcome, const MergeSettings& settings) {
    const RowCleaning& cleaning = settings.cleaning;
    std::string json = "{\n  \"format\": \"sheetmerge-report\",\n  \"version\": 1,\n";
    json += "  \"status\": " + json::quoted(statusName(outcome.status)) + ",\n";
    json += "  \"result\": " + json::quoted(outcome.resultPath) + ",\n";
    json += "  \"logSheet\": " +
            (settings.logSheet ? json::quoted(texts::LogSheetName) : std::string("null")) + ",\n";
    json += "  \"chosen\": " + std::to_string(outcome.chosen) +
            ", \"merged\": " + std::to_string(outcome.merged) +
            ", \"failed\": " + std::to_string(outcome.failed) + ",\n";
    json += "  \"options\": {\"alignColumns\": " +
            std::string(settings.alignColumns ? "true" : "false") +
            ", \"skipBlankRows\": " + (cleaning.skipBlankRows ? "true" : "false") +
            ", \"dropHeaderRepeats\": " + (cleaning.dropHeaderRepeats ? "true" : "false") +
            ", \"stopAt\": " +
            (cleaning.stopAt.empty() ? std::string("null") : json::quoted(cleaning.stopAt)) +
            ", \"skipLast\": " + std::to_string(cleaning.skipLast) +
            ", \"dedupe\": " + (cleaning.dedupe ? "true" : "false") +
            ", \"fillMerged\": " + (cleaning.fillMerged ? "true" : "false") + "},\n";
    json += "  \"entries\": [";
    const std::vector<LogEntry> entries = logEntries(outcome.sources);
    for (std::size_t k = 0; k < entries.size(); ++k)
        json += (k == 0 ? "\n" : ",\n") + entryJson(entries[k], settings);
    json += entries.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return json;
}

}  // namespace merge
