// Opens a source workbook read-only and reads it into WorkbookData, recognising the format
// by its first bytes (zip, compound file, text) rather than by its extension alone.
//   Result<WorkbookData> book = openWorkbookFile("/data/a.xlsx");
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "spreadsheet/error.h"
#include "spreadsheet/workbook_data.h"

namespace spreadsheet {

enum class ContentKind { Zip, CompoundFile, Biff, Text, Empty, Unknown };

// Classifies a file by its first bytes alone.
ContentKind sniffContent(std::span<const std::uint8_t> firstBytes);

// Reads the whole file (opened for reading only, never locked or written) and dispatches to
// the reader its content calls for. `path` gives a CSV book its sheet name.
Result<WorkbookData> openWorkbookFile(const std::filesystem::path& path);

// The same, on bytes already in memory; `fileName` names a CSV book's sheet and breaks ties
// (a text file is read as CSV).
Result<WorkbookData> readWorkbook(std::span<const std::uint8_t> bytes, const std::string& fileName);

}  // namespace spreadsheet
