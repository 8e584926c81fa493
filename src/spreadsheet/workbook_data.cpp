#include "spreadsheet/workbook_data.h"

#include <algorithm>

namespace spreadsheet {

const Row* Sheet::row(int number) const {
    auto found = std::lower_bound(rows.begin(), rows.end(), number,
                                  [](const Row& row, int wanted) { return row.number < wanted; });
    if (found == rows.end() || found->number != number) return nullptr;
    return &*found;
}

const Cell* Sheet::cell(int rowNumber, int column) const {
    const Row* found = row(rowNumber);
    if (found == nullptr) return nullptr;
    auto cell = std::lower_bound(found->cells.begin(), found->cells.end(), column,
                                 [](const Cell& cell, int wanted) { return cell.column < wanted; });
    if (cell == found->cells.end() || cell->column != column) return nullptr;
    return &*cell;
}

Cell* Sheet::cell(int rowNumber, int column) {
    return const_cast<Cell*>(static_cast<const Sheet*>(this)->cell(rowNumber, column));
}

}  // namespace spreadsheet
