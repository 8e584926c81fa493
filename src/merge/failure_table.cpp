// The failure table and the relative paths it lists.
#include "merge/failure_table.h"

#include <cassert>

#include "merge/texts.h"

namespace merge {

std::string reasonText(FailureReason reason) {
    switch (reason) {
        case FailureReason::SheetMissing:
            return texts::SheetMissing;
        case FailureReason::SheetEmpty:
            return texts::SheetEmpty;
        case FailureReason::RangeIllogical:
            return texts::RangeIllogical;
        case FailureReason::Other:
            return texts::OtherReason;
    }
    return texts::OtherReason;
}

std::string SourceFailure::cause() const {
    return error ? spreadsheet::errorText(*error) : explanation;
}

FailureTable::FailureTable(int sourceCount)
    : m_grid(static_cast<std::size_t>(sourceCount) + 2, std::vector<CellValue>(5)) {
    m_grid[0] = {CellValue::ofText(texts::FailureReasonHeading),
                 CellValue::ofText(reasonText(FailureReason::SheetMissing)),
                 CellValue::ofText(reasonText(FailureReason::SheetEmpty)),
                 CellValue::ofText(reasonText(FailureReason::RangeIllogical)),
                 CellValue::ofText(reasonText(FailureReason::Other))};
    m_grid[1] = {CellValue::ofText(texts::FileCountHeading), CellValue::ofNumber(0),
                 CellValue::ofNumber(0), CellValue::ofNumber(0), CellValue::ofNumber(0)};
}

void FailureTable::record(const std::string& relativePath, SourceFailure failure) {
    const auto column = static_cast<std::size_t>(failure.reason) - 1;
    const int k = count(failure.reason) + 1;
    // Every source fails at most once, so k never passes the number of sources.
    assert(static_cast<std::size_t>(k) + 2 <= m_grid.size());
    m_grid[1][column] = CellValue::ofNumber(k);
    m_grid[static_cast<std::size_t>(k) + 1][0] = CellValue::ofNumber(k);
    m_grid[static_cast<std::size_t>(k) + 1][column] = CellValue::ofText(relativePath);
    m_entries.push_back(Entry{relativePath, std::move(failure), k + 2});
}

void FailureTable::record(FailureReason reason, const std::string& relativePath) {
    record(relativePath, SourceFailure{reason, std::nullopt, {}});
}

int FailureTable::count(FailureReason reason) const {
    return static_cast<int>(m_grid[1][static_cast<std::size_t>(reason) - 1].number);
}

int FailureTable::failCount() const {
    return count(FailureReason::SheetMissing) + count(FailureReason::SheetEmpty) +
           count(FailureReason::RangeIllogical) + count(FailureReason::Other);
}

std::string relativePath(const std::string& source, const std::string& folder) {
    // On this platform the folder can occur again inside a path (/d/x/d/x/a.xlsx), so only a
    // leading occurrence is the folder.
    if (!folder.empty() && source.compare(0, folder.size(), folder) == 0)
        return source.substr(folder.size());
    return source;
}

}  // namespace merge
