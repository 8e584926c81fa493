// The failure table and the relative paths it lists.
#include "merge/failure_table.h"

#include <cassert>

#include "merge/texts.h"

namespace merge {

FailureTable::FailureTable(int sourceCount)
    : m_grid(static_cast<std::size_t>(sourceCount) + 2, std::vector<CellValue>(5)) {
    m_grid[0] = {CellValue::ofText(texts::FailureReasonHeading),
                 CellValue::ofText(texts::SheetMissing), CellValue::ofText(texts::SheetEmpty),
                 CellValue::ofText(texts::RangeIllogical), CellValue::ofText(texts::OtherReason)};
    m_grid[1] = {CellValue::ofText(texts::FileCountHeading), CellValue::ofNumber(0),
                 CellValue::ofNumber(0), CellValue::ofNumber(0), CellValue::ofNumber(0)};
}

void FailureTable::record(FailureReason reason, const std::string& relativePath) {
    const auto column = static_cast<std::size_t>(reason) - 1;
    const int k = count(reason) + 1;
    // Every source fails at most once, so k never passes the number of sources.
    assert(static_cast<std::size_t>(k) + 2 <= m_grid.size());
    m_grid[1][column] = CellValue::ofNumber(k);
    m_grid[static_cast<std::size_t>(k) + 1][0] = CellValue::ofNumber(k);
    m_grid[static_cast<std::size_t>(k) + 1][column] = CellValue::ofText(relativePath);
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
