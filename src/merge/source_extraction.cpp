// Per-source extraction: open, target sheet, preparation, extent and target range, with the
// failure reasons in their fixed order: open (其它), sheet, emptiness, range logic.
#include "merge/source_extraction.h"

#include "merge/password_retry.h"
#include "merge/texts.h"
#include "spreadsheet/name_pattern.h"

namespace merge {

TargetRange targetRange(const RangeChoice& range) {
    switch (range.mode) {
        case RangeMode::UsedRectangle:
            break;
        case RangeMode::FromRow:
            return TargetRange{"A" + std::to_string(range.startRow), std::nullopt, true};
        case RangeMode::Cells:
            return TargetRange{range.topLeft, range.bottomRight, true};
    }
    return TargetRange{"A1", std::nullopt, false};
}

namespace {

// Makes the chosen worksheet the active sheet of `book`; the error state is set when the
// choice names no worksheet of it.
void selectChosenSheet(Workbook& book, const SheetChoice& choice, ErrorState& errors) {
    if (choice.mode == SheetMode::ByName) {
        if (const std::shared_ptr<Worksheet> sheet = book.worksheet(choice.name)) sheet->select();
    } else if (choice.mode == SheetMode::ByPosition) {
        if (!choice.position) {
            errors.set(spreadsheet::Error(spreadsheet::ErrorCode::NoSuchSheet));
        } else if (const std::shared_ptr<Worksheet> sheet = book.worksheet(*choice.position)) {
            sheet->select();
        }
    }
}

// Preparation, in memory only (the source is never saved): panes and filter off, formulas
// replaced by their values.
void prepareSheet(Workbook& book, Worksheet& sheet, ErrorState& errors) {
    book.setFreezePanes(false);
    sheet.removeAutoFilter();
    sheet.formulaCellCount();
    if (!errors.isSet())
        sheet.replaceFormulasByValues();
    else
        errors.clear();  // no formulas: not a failure
}

// The corners of the block `target` names on the prepared sheet of `source`; false when the
// range makes no sense for this source.
bool resolveCorners(ResolvedSource& source, const TargetRange& target) {
    // A start row or cell the source's grid cannot hold (row 70000 of an .xls source) has no
    // data below it: the range makes no sense for this source.
    const std::shared_ptr<Range> topLeft = source.sheet->range(target.topLeft);
    if (!topLeft) return false;
    source.topLeft = {topLeft->row(), topLeft->column()};
    if (target.bottomRight) {
        const std::shared_ptr<Range> bottomRight = source.sheet->range(*target.bottomRight);
        if (!bottomRight) return false;
        source.bottomRight = {bottomRight->row() + bottomRight->rowCount() - 1,
                              bottomRight->column() + bottomRight->columnCount() - 1};
    } else {
        source.bottomRight = {source.lastRow, source.lastColumn};
    }
    return !target.checkOrder || (source.bottomRight.row >= source.topLeft.row &&
                                  source.bottomRight.column >= source.topLeft.column);
}

// Why a range made no sense for a source when the application reported no error: the data
// ends above or left of where the block begins.
std::string illogicalRangeText(const RangeChoice& range) {
    if (range.mode == RangeMode::FromRow)
        return texts::NoDataFromRowHead + std::to_string(range.startRow) + texts::NoDataFromRowTail;
    return texts::CornerBeforeHead + range.topLeft + texts::CornerBeforeTail;
}

}  // namespace

bool sheetNameMatches(const std::string& pattern, const std::string& name) {
    return spreadsheet::matchesNamePattern(pattern, name);
}

std::vector<int> chosenSheets(Workbook& book, const SheetChoice& choice) {
    std::vector<int> positions;
    const int count = book.worksheetCount();
    for (int position = 1; position <= count; ++position) {
        const std::shared_ptr<Worksheet> sheet = book.worksheet(position);
        if (!sheet) continue;
        if (choice.skipHidden && sheet->visibility() != spreadsheet::Visibility::Visible) continue;
        if (choice.mode == SheetMode::ByPattern && !sheetNameMatches(choice.pattern, sheet->name()))
            continue;
        positions.push_back(position);
    }
    return positions;
}

std::shared_ptr<Workbook> openCurrentSource(detail::RunState& run) {
    ErrorState& errors = run.errors();
    std::shared_ptr<Workbook> book =
        openSource(run, run.sources[static_cast<std::size_t>(run.current)]);
    if (!book || errors.isSet()) {
        run.recordFailure(FailureReason::Other, run.pendingError(), texts::NotOpened);
        errors.clear();
        return nullptr;
    }
    return book;
}

namespace {

// The block of the active `source.sheet`: preparation, extent and corners. False with
// `refusal` set (the application's error as its cause, then cleared) when it has none.
bool findBlock(detail::RunState& run, ResolvedSource& source, SourceFailure& refusal) {
    ErrorState& errors = run.errors();
    auto refuse = [&](FailureReason reason, std::string explanation) {
        refusal = SourceFailure{reason, run.pendingError(), std::move(explanation)};
        errors.clear();
        return false;
    };
    source.uncalculatedFormulas = source.sheet->uncalculatedFormulaCount();
    prepareSheet(*source.book, *source.sheet, errors);

    const std::shared_ptr<Range> lastByRows = source.sheet->findLast(SearchOrder::ByRows);
    if (!lastByRows) return refuse(FailureReason::SheetEmpty, texts::SheetHasNoData);
    source.lastRow = lastByRows->row();
    const std::shared_ptr<Range> lastByColumns = source.sheet->findLast(SearchOrder::ByColumns);
    source.lastColumn = lastByColumns ? lastByColumns->column() : lastByRows->column();

    if (!resolveCorners(source, targetRange(run.settings.range)))
        return refuse(FailureReason::RangeIllogical, illogicalRangeText(run.settings.range));
    return true;
}

}  // namespace

bool resolveSheetBlock(detail::RunState& run, ResolvedSource& source, SourceFailure& refusal) {
    // Panes are switched off on the active sheet: the chosen one becomes it first.
    source.sheet->select();
    return findBlock(run, source, refusal);
}

std::optional<ResolvedSource> resolveSource(detail::RunState& run) {
    ErrorState& errors = run.errors();
    ResolvedSource source;
    source.book = openCurrentSource(run);
    if (!source.book) return std::nullopt;
    // Books the source under `failure`'s reason and closes it.
    auto fail = [&](SourceFailure failure) -> std::optional<ResolvedSource> {
        errors.clear();
        source.sheet.reset();
        source.book->close();
        errors.clear();
        run.recordFailure(failure.reason, std::move(failure.error), std::move(failure.explanation));
        return std::nullopt;
    };

    SourceReport& report = run.reports[static_cast<std::size_t>(run.current)];
    if (run.settings.sheet.mode == SheetMode::ByName) report.sheet = run.settings.sheet.name;
    selectChosenSheet(*source.book, run.settings.sheet, errors);
    if (source.book->worksheetCount() == 0 || errors.isSet())
        return fail({FailureReason::SheetMissing, run.pendingError(), texts::NoWorksheet});

    source.sheet = source.book->activeSheet();
    if (!source.sheet)
        return fail({FailureReason::SheetEmpty, run.pendingError(), texts::SheetHasNoData});
    report.sheet = source.sheet->name();
    SourceFailure refusal;
    if (!findBlock(run, source, refusal)) return fail(std::move(refusal));
    return source;
}

}  // namespace merge
