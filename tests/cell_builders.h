// Cells for tests that build sheets by hand, in the engine's model.
//   row.cells = {textCell(1, "名称"), numberCell(2, 3.5, amountStyle)};
#pragma once

#include <cstdint>
#include <string>

#include "spreadsheet/workbook_data.h"

namespace spreadsheet::testing {

inline Cell textCell(int column, std::string text, std::uint32_t style = 0) {
    Cell cell;
    cell.column = column;
    cell.type = CellType::Text;
    cell.text = std::move(text);
    cell.style = style;
    return cell;
}

inline Cell numberCell(int column, double number, std::uint32_t style = 0) {
    Cell cell;
    cell.column = column;
    cell.type = CellType::Number;
    cell.number = number;
    cell.style = style;
    return cell;
}

// No value, only a format: a cell that shows but holds nothing.
inline Cell styledEmptyCell(int column, std::uint32_t style) {
    Cell cell;
    cell.column = column;
    cell.style = style;
    return cell;
}

}  // namespace spreadsheet::testing
