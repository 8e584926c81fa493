// Name patterns as people type them to pick files or sheets by name: "*" stands for any run of
// characters (also none), "?" for exactly one character, every other character for itself (no
// brackets, no escapes). Names match ignoring case over all of Unicode, the way sheet names are
// compared (sheet_name.h): "*销售*" matches "华东销售.XLSX", "ä?.csv" matches "Äb.CSV".
//   if (matchesNamePattern("2025-??.xlsx", name)) take(name);
#pragma once

#include <string_view>

namespace spreadsheet {

// Whether the whole of `name` matches `pattern`. Bytes that are not UTF-8 each count as one
// character and match only themselves (or "?" and "*").
bool matchesNamePattern(std::string_view pattern, std::string_view name);

}  // namespace spreadsheet
