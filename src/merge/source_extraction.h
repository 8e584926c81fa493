// Per-source extraction: open a source, make its target sheet active, prepare it (panes off,
// filter off, formulas to values, in memory only), find the extent of its data and resolve the
// target range, or close it and book the first reason it fails for.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "merge/automation.h"
#include "merge/detail/run_state.h"
#include "merge/merge_options.h"

namespace merge {

// The cells a range choice names, as A1 texts for each source's sheet to resolve.
struct TargetRange {
    std::string topLeft;                     // A1 text
    std::optional<std::string> bottomRight;  // A1 text; nullopt = (lastRow, lastColumn)
    bool checkOrder = false;                 // start-row and cell modes
};
TargetRange targetRange(const RangeChoice& range);

// A source ready to be copied.
struct ResolvedSource {
    std::shared_ptr<Workbook> book;
    std::shared_ptr<Worksheet> sheet;
    spreadsheet::CellRef topLeft;
    spreadsheet::CellRef bottomRight;
    int lastRow = 0;
    int lastColumn = 0;
    int uncalculatedFormulas = 0;  // of the chosen sheet, before its formulas became values
};

// Resolves the current source of `run` for a choice of one sheet; on failure the source is
// closed, the reason booked with its cause and nullopt returned.
std::optional<ResolvedSource> resolveSource(detail::RunState& run);

// Whether `name` matches `pattern` as a whole: "*" any run of characters (also none), "?" one
// character, every other character itself, ignoring case as sheet names are compared.
bool sheetNameMatches(const std::string& pattern, const std::string& name);

// The 1-based worksheet positions of `book` a choice of several sheets takes, in workbook
// order: every worksheet, or those whose name matches the pattern, hidden and very hidden
// ones left out when asked. Chart and other sheets are never among them.
std::vector<int> chosenSheets(Workbook& book, const SheetChoice& choice);

// Opens the current source of `run`; on failure the reason is booked and nullptr returned.
std::shared_ptr<Workbook> openCurrentSource(detail::RunState& run);

// Makes `source.sheet` of the open `source.book` the active sheet, prepares it and finds its
// block. Returns false with `refusal` saying why when it has none; nothing is booked and the
// source stays open.
bool resolveSheetBlock(detail::RunState& run, ResolvedSource& source, SourceFailure& refusal);

}  // namespace merge
