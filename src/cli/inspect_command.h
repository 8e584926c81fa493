// `sheetmerge inspect FILE`: one tab-separated line per sheet of a workbook (position, name,
// kind, visibility, active mark, last used row and column, formulas without a cached value, the
// encoding a text source was read in).
#pragma once

#include <string>

#include "spreadsheet/workbook_data.h"

namespace cli {

// Runs the command; argv[1] is "inspect". Returns 0, 1 when the file cannot be read, 2 on
// wrong usage.
int runInspectCommand(int argc, char** argv);

// The listing of `book` with its header line, each line ending in "\n".
std::string inspectListing(const spreadsheet::WorkbookData& book);

}  // namespace cli
