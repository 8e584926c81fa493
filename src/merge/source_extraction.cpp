// Per-source extraction: open, target sheet, preparation, extent and target range, with the
// failure reasons in their fixed order: open (其它), sheet, emptiness, range logic.
#include "merge/source_extraction.h"

#include "merge/texts.h"

#include "merge/password_retry.h"

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

std::optional<ResolvedSource> resolveSource(detail::RunState& run) {
    ErrorState& errors = run.errors();
    ResolvedSource source;
    source.book = openSource(run, run.sources[static_cast<std::size_t>(run.current)]);
    if (!source.book || errors.isSet()) {
        run.recordFailure(FailureReason::Other, run.pendingError(), texts::NotOpened);
        errors.clear();
        return std::nullopt;
    }
    // Books the source under `reason`, with the error recorded so far as its cause.
    auto fail = [&](FailureReason reason,
                    std::string explanation) -> std::optional<ResolvedSource> {
        std::optional<spreadsheet::Error> cause = run.pendingError();
        errors.clear();
        source.sheet.reset();
        source.book->close();
        errors.clear();
        run.recordFailure(reason, std::move(cause), std::move(explanation));
        return std::nullopt;
    };

    if (run.settings.sheet.mode == SheetMode::ByName)
        run.reports[static_cast<std::size_t>(run.current)].sheet = run.settings.sheet.name;
    selectChosenSheet(*source.book, run.settings.sheet, errors);
    if (source.book->worksheetCount() == 0 || errors.isSet())
        return fail(FailureReason::SheetMissing, texts::NoWorksheet);

    source.sheet = source.book->activeSheet();
    if (!source.sheet) return fail(FailureReason::SheetEmpty, texts::SheetHasNoData);
    run.reports[static_cast<std::size_t>(run.current)].sheet = source.sheet->name();
    source.uncalculatedFormulas = source.sheet->uncalculatedFormulaCount();
    prepareSheet(*source.book, *source.sheet, errors);

    const std::shared_ptr<Range> lastByRows = source.sheet->findLast(SearchOrder::ByRows);
    if (!lastByRows) return fail(FailureReason::SheetEmpty, texts::SheetHasNoData);
    source.lastRow = lastByRows->row();
    const std::shared_ptr<Range> lastByColumns = source.sheet->findLast(SearchOrder::ByColumns);
    source.lastColumn = lastByColumns ? lastByColumns->column() : lastByRows->column();

    if (!resolveCorners(source, targetRange(run.settings.range)))
        return fail(FailureReason::RangeIllogical, illogicalRangeText(run.settings.range));
    return source;
}

}  // namespace merge
