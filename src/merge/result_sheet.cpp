// Spooling the final rows of a result sheet, and its column widths as the writer takes them.
#include "merge/result_sheet.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace merge {

using spreadsheet::Row;

void ResultSheetSpool::holdTopRows(int rows) {
    if (rows > m_spooledThrough) m_heldRows = std::max(m_heldRows, rows);
}

void ResultSheetSpool::keepTopRowsOpen(int rows) {
    if (m_spooledThrough == 0 || m_spooledThrough <= m_openRows)
        m_openRows = std::max(m_openRows, rows);
}

const Row* ResultSheetSpool::heldRow(int number, bool& lost) const {
    if (number > m_heldRows) {
        lost = true;
        return nullptr;
    }
    for (const Row& row : m_held)
        if (row.number == number) return &row;
    return nullptr;
}

bool ResultSheetSpool::readable(int first, int last) const {
    return std::max(first, m_heldRows + 1) > std::min(last, m_spooledThrough);
}

spreadsheet::Result<void> ResultSheetSpool::spoolAbove(std::vector<Row>& rows, int row,
                                                       const std::string& bookPath,
                                                       const spreadsheet::StyleRegistry& styles,
                                                       const spreadsheet::DateStyleTest* csvDates) {
    const auto below = [](const Row& existing, int value) { return existing.number < value; };
    // Rows kept open stay at the front of `rows`.
    const auto begin = std::lower_bound(rows.begin(), rows.end(), m_openRows + 1, below);
    auto end = std::lower_bound(begin, rows.end(), row, below);
    if (end == begin) return {};
    if (m_failure) return *m_failure;
    if ((csvDates && m_spool) || (!csvDates && m_csvSpool))
        return spreadsheet::Error(spreadsheet::ErrorCode::OperationFailed,
                                  "rows already written out in another format");
    if (!m_spool && !m_csvSpool) {
        std::filesystem::path folder = std::filesystem::path(bookPath).parent_path();
        std::error_code ignored;
        if (folder.empty() || !std::filesystem::is_directory(folder, ignored))
            folder = std::filesystem::temp_directory_path(ignored);
        if (csvDates) {
            spreadsheet::Result<spreadsheet::CsvRowSpool> spool =
                spreadsheet::CsvRowSpool::create(folder);
            if (!spool) return spool.error();
            m_csvSpool.emplace(std::move(*spool));
        } else {
            spreadsheet::Result<spreadsheet::RowSpool> spool =
                spreadsheet::RowSpool::create(folder, &styles);
            if (!spool) return spool.error();
            m_spool.emplace(std::move(*spool));
        }
    }
    for (auto it = begin; it != end; ++it) {
        if (it->number <= m_heldRows) m_held.push_back(*it);
        spreadsheet::Result<void> appended =
            csvDates ? m_csvSpool->append(*it, *csvDates) : m_spool->append(*it);
        if (!appended) {
            m_failure = appended.error();
            rows.erase(begin, it);
            return appended;
        }
        m_spooledThrough = it->number;
    }
    m_spooledThrough = std::max(m_spooledThrough, row - 1);
    rows.erase(begin, end);
    return {};
}

std::vector<spreadsheet::ColumnInfo> columnRuns(const std::map<int, ColumnLook>& columns) {
    std::vector<spreadsheet::ColumnInfo> runs;
    for (const auto& [column, look] : columns) {
        if (!runs.empty() && runs.back().last == column - 1 && runs.back().width == look.width &&
            runs.back().hidden == look.hidden) {
            runs.back().last = column;
            continue;
        }
        spreadsheet::ColumnInfo info;
        info.first = column;
        info.last = column;
        info.width = look.width;
        info.customWidth = look.width > 0;
        info.hidden = look.hidden;
        runs.push_back(info);
    }
    return runs;
}

}  // namespace merge
