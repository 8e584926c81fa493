// Per-source extraction: open, target sheet, preparation, extent and target range, with the
// failure reasons in their fixed order: open (其它), sheet, emptiness, range logic.
#include "merge/source_extraction.h"

#include <cctype>

#include "merge/password_retry.h"

namespace merge {

namespace {

// The byte length of the UTF-8 character starting at `lead`.
std::size_t characterLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 1;
}

std::vector<std::string> splitAt(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(
            text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

}  // namespace

std::optional<int> sheetPosition(const std::string& sheetSpec) {
    // "2第 3 个": the kind marker and 第 go, then every 个, then the blanks at both ends.
    std::size_t start = 0;
    for (int skipped = 0; skipped < 2 && start < sheetSpec.size(); ++skipped)
        start += characterLength(static_cast<unsigned char>(sheetSpec[start]));
    std::string rest = start < sheetSpec.size() ? sheetSpec.substr(start) : std::string();
    const std::string unit = "个";
    for (std::size_t found = rest.find(unit); found != std::string::npos; found = rest.find(unit))
        rest.erase(found, unit.size());
    const std::size_t first = rest.find_first_not_of(' ');
    if (first == std::string::npos) return std::nullopt;
    rest = rest.substr(first, rest.find_last_not_of(' ') - first + 1);
    if (rest.empty() || rest.size() > 5) return std::nullopt;
    int value = 0;
    for (char character : rest) {
        if (!std::isdigit(static_cast<unsigned char>(character))) return std::nullopt;
        value = value * 10 + (character - '0');
    }
    if (value > 32767) return std::nullopt;
    return value;
}

TargetRange targetRange(const std::string& rangeSpec) {
    if (rangeSpec.empty()) return TargetRange{"A1", std::nullopt, false};
    if (rangeSpec[0] == '2') return TargetRange{"A" + rangeSpec.substr(1), std::nullopt, true};
    const std::vector<std::string> parts = splitAt(rangeSpec, '|');
    TargetRange range;
    range.checkOrder = true;
    range.topLeft = parts.size() > 1 ? parts[1] : std::string();
    if (parts.size() > 2 && !parts[2].empty()) range.bottomRight = parts[2];
    return range;
}

std::optional<ResolvedSource> resolveSource(detail::RunState& run) {
    ErrorState& errors = run.errors();
    ResolvedSource source;
    source.book = openSource(run, run.sources[static_cast<std::size_t>(run.current)]);
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

    const std::string& sheetSpec = run.options.SheetSpec;
    if (!sheetSpec.empty() && sheetSpec[0] == '3') {
        if (const std::shared_ptr<Worksheet> sheet = source.book->worksheet(sheetSpec.substr(1)))
            sheet->select();
    } else if (!sheetSpec.empty()) {
        const std::optional<int> position = sheetPosition(sheetSpec);
        if (!position) {
            errors.set(spreadsheet::Error(spreadsheet::ErrorCode::NoSuchSheet, sheetSpec));
        } else if (const std::shared_ptr<Worksheet> sheet = source.book->worksheet(*position)) {
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

    const TargetRange target = targetRange(run.options.RangeSpec);
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
