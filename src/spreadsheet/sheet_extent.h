// The extent of a sheet's data as the backward "Find *" search sees it: the largest row and
// the largest column that hold a value. Cells that only carry a format do not count.
//   const int lastRow = lastUsedRow(sheet);  // 0 for a sheet without values
#pragma once

#include "spreadsheet/workbook_data.h"

namespace spreadsheet {

// True when the cell holds something a search for "*" finds: a number, a boolean, an error,
// non-empty text, or a formula (also one without a cached value, which a spreadsheet program
// would calculate on opening).
bool holdsValue(const Cell& cell);

// The largest row number holding a value; 0 when there is none.
int lastUsedRow(const Sheet& sheet);

// The largest column number holding a value in any row; 0 when there is none.
int lastUsedColumn(const Sheet& sheet);

}  // namespace spreadsheet
