// Matching a source's header names with the result's columns.
#include "merge/column_alignment.h"

#include <map>
#include <utility>

#include "merge/block_plan.h"

namespace merge {

namespace {

// A column's identity: name and occurrence, or for an empty header cell its sheet column.
using ColumnIdentity = std::pair<std::string, int>;

ColumnIdentity identityOf(const ResultColumn& column) {
    return column.key.empty() ? ColumnIdentity{std::string(), -column.sheetColumn}
                              : ColumnIdentity{column.key, column.occurrence};
}

}  // namespace

std::vector<std::string> headerKeys(const std::vector<std::string>& header) {
    std::vector<std::string> keys;
    keys.reserve(header.size());
    for (const std::string& text : header) keys.push_back(normalizeHeader(text));
    return keys;
}

ColumnMatch ColumnUnion::match(const std::vector<std::string>& header, int firstColumn) const {
    std::map<ColumnIdentity, int> known;
    for (std::size_t index = 0; index < m_columns.size(); ++index)
        known.emplace(identityOf(m_columns[index]), static_cast<int>(index));
    ColumnMatch match;
    std::map<std::string, int> seen;  // occurrences of each name so far in this header
    int next = size();
    for (std::size_t offset = 0; offset < header.size(); ++offset) {
        ResultColumn column;
        column.key = normalizeHeader(header[offset]);
        column.title = header[offset];
        if (column.key.empty())
            column.sheetColumn = firstColumn + static_cast<int>(offset);
        else
            column.occurrence = ++seen[column.key];
        const auto found = known.find(identityOf(column));
        if (found != known.end()) {
            match.map.push_back(found->second);
            match.matched.push_back(found->second);
            continue;
        }
        match.map.push_back(next++);
        match.addedOffsets.push_back(static_cast<int>(offset));
        match.added.push_back(std::move(column));
    }
    return match;
}

void ColumnUnion::commit(const ColumnMatch& match) {
    for (const ResultColumn& column : match.added) m_columns.push_back(column);
}

}  // namespace merge
