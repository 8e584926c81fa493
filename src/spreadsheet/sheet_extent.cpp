#include "spreadsheet/sheet_extent.h"

#include <algorithm>

namespace spreadsheet {

bool holdsValue(const Cell& cell) {
    if (cell.hasFormula) return true;
    switch (cell.type) {
        case CellType::Empty:
            return false;
        case CellType::Text:
            return !cell.text.empty();
        case CellType::Number:
        case CellType::Boolean:
        case CellType::Error:
            return true;
    }
    return false;
}

int lastUsedRow(const Sheet& sheet) {
    for (auto row = sheet.rows.rbegin(); row != sheet.rows.rend(); ++row)
        if (std::any_of(row->cells.begin(), row->cells.end(), holdsValue)) return row->number;
    return 0;
}

int lastUsedColumn(const Sheet& sheet) {
    int last = 0;
    for (const Row& row : sheet.rows) {
        // Cells are ascending by column, so the first value from the right is the row's last.
        for (auto cell = row.cells.rbegin(); cell != row.cells.rend() && cell->column > last;
             ++cell) {
            if (holdsValue(*cell)) {
                last = cell->column;
                break;
            }
        }
    }
    return last;
}

}  // namespace spreadsheet
