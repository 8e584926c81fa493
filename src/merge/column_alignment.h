// Columns matched by their header names: the result's columns are the first source's, then every
// name first seen in a later source, in the order seen. Names are compared normalised (see
// normalizeHeader); the k-th column of one name matches the k-th of that name elsewhere; an
// empty header cell matches only an empty header cell in the same sheet column.
//   ColumnUnion columns;
//   ColumnMatch match = columns.match(headerTexts, firstSheetColumn);
//   ... copy with match.map ...
//   columns.commit(match);
#pragma once

#include <string>
#include <vector>

namespace merge {

// One column of the result's data, as the union of the headers knows it.
struct ResultColumn {
    std::string key;      // the normalised name, "" for an empty header cell
    int occurrence = 1;   // the k-th column of this name in a header
    int sheetColumn = 0;  // empty header cells only: the sheet column they stand in
    std::string title;    // the header text as first seen, unnormalised
};

// How one source's header meets the result's columns.
struct ColumnMatch {
    // For each column of the source's block, the 0-based result data column it goes to.
    std::vector<int> map;
    // Result columns (0-based) that this source's columns matched, in the source's order.
    std::vector<int> matched;
    // The source's columns new to the result, as they will be appended (titles), in order.
    std::vector<ResultColumn> added;
    // Block offsets of the added columns, in order.
    std::vector<int> addedOffsets;
};

class ColumnUnion {
public:
    // Matches `header` (the header cells' displayed texts, one per block column; the block's
    // first column stands in sheet column `firstColumn`) without changing the union.
    ColumnMatch match(const std::vector<std::string>& header, int firstColumn) const;
    // Adds the match's new columns to the union.
    void commit(const ColumnMatch& match);

    const std::vector<ResultColumn>& columns() const { return m_columns; }
    int size() const { return static_cast<int>(m_columns.size()); }

private:
    std::vector<ResultColumn> m_columns;
};

// The normalised keys of a header, one per column ("" for an empty cell).
std::vector<std::string> headerKeys(const std::vector<std::string>& header);

}  // namespace merge
