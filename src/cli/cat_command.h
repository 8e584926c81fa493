// `sheetmerge cat FILE [--sheet-index N | --sheet-name NAME]`: one worksheet as CSV on stdout,
// from A1 to the last used row and column, values as a merge sees them.
#pragma once

#include <string>

#include "spreadsheet/error.h"
#include "spreadsheet/workbook_data.h"

namespace cli {

// Runs the command; argv[1] is "cat". Returns 0, 1 when the file or the sheet cannot be read,
// 2 on wrong usage.
int runCatCommand(int argc, char** argv);

enum class SheetChoice { Active, ByPosition, ByName };

// The index into book.sheets of the chosen worksheet: the active sheet, the `position`-th
// worksheet (1-based, chart sheets not counted) or the worksheet named `name` (exact, else
// ignoring ASCII case). Fails with NoSuchSheet and a message users can read.
spreadsheet::Result<int> chooseWorksheet(const spreadsheet::WorkbookData& book, SheetChoice choice,
                                         int position, const std::string& name);

}  // namespace cli
