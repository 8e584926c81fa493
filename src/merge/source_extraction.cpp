// Per-source extraction: open, target sheet, preparation, extent and target range, with the
// failure reasons in their fixed order: open (其它), sheet, emptiness, range logic.
#include "merge/source_extraction.h"

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

std::optional<ResolvedSource> resolveSource(detail::RunState& run) {
    ErrorState& errors = run.errors();
    ResolvedSource source;
    source.book = run.application.openWorkbook(run.sources[static_cast<std::size_t>(run.current)]);
    if (!source.book || errors.isSet()) {
        errors.clear();
        run.recordFailure(FailureReason::Other);
        return std::nullopt;
    }
    auto fail = [&](FailureReason reason) -> std::optional<ResolvedSource> {
        errors.clear();
        source.sheet.reset();
        source.book->close();
        errors.clear();
        run.recordFailure(reason);
        return std::nullopt;
    };

    const SheetChoice& choice = run.settings.sheet;
    if (choice.mode == SheetMode::ByName) {
        if (const std::shared_ptr<Worksheet> sheet = source.book->worksheet(choice.name))
            sheet->select();
    } else if (choice.mode == SheetMode::ByPosition) {
        if (!choice.position) {
            errors.set(spreadsheet::Error(spreadsheet::ErrorCode::NoSuchSheet));
        } else if (const std::shared_ptr<Worksheet> sheet =
                       source.book->worksheet(*choice.position)) {
            sheet->select();
        }
    }
    if (source.book->worksheetCount() == 0 || errors.isSet())
        return fail(FailureReason::SheetMissing);

    // Preparation, in memory only: the source is never saved.
    source.book->setFreezePanes(false);
    source.sheet = source.book->activeSheet();
    if (!source.sheet) return fail(FailureReason::SheetEmpty);
    source.sheet->removeAutoFilter();
    source.sheet->formulaCellCount();
    if (!errors.isSet())
        source.sheet->replaceFormulasByValues();
    else
        errors.clear();  // no formulas: not a failure

    const std::shared_ptr<Range> lastByRows = source.sheet->findLast(SearchOrder::ByRows);
    if (!lastByRows) return fail(FailureReason::SheetEmpty);
    source.lastRow = lastByRows->row();
    const std::shared_ptr<Range> lastByColumns = source.sheet->findLast(SearchOrder::ByColumns);
    source.lastColumn = lastByColumns ? lastByColumns->column() : lastByRows->column();

    const TargetRange target = targetRange(run.settings.range);
    // A start row or cell the source's grid cannot hold (row 70000 of an .xls source) has no
    // data below it: the range makes no sense for this source.
    const std::shared_ptr<Range> topLeft = source.sheet->range(target.topLeft);
    if (!topLeft) return fail(FailureReason::RangeIllogical);
    source.topLeft = {topLeft->row(), topLeft->column()};
    if (target.bottomRight) {
        const std::shared_ptr<Range> bottomRight = source.sheet->range(*target.bottomRight);
        if (!bottomRight) return fail(FailureReason::RangeIllogical);
        source.bottomRight = {bottomRight->row() + bottomRight->rowCount() - 1,
                              bottomRight->column() + bottomRight->columnCount() - 1};
    } else {
        source.bottomRight = {source.lastRow, source.lastColumn};
    }
    if (target.checkOrder && (source.bottomRight.row < source.topLeft.row ||
                              source.bottomRight.column < source.topLeft.column))
        return fail(FailureReason::RangeIllogical);
    return source;
}

}  // namespace merge
