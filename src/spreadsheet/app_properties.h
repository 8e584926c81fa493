// The package's extended properties (docProps/app.xml) as far as the folder walk needs them:
// which program wrote a workbook, so that results this program wrote earlier are not taken for
// sources of a new merge.
//   if (isSheetmergeResult("/data/合并 150615 093012.xlsx")) { /* leave it out */ }
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace spreadsheet {

// The name the result writer puts into docProps/app.xml.
inline constexpr const char* ProgramName = "sheetmerge";

// The text of the Application element of the package's docProps/app.xml, blanks trimmed;
// nullopt when `packageBytes` is no readable zip package or has no such part or element.
std::optional<std::string> packageApplication(std::span<const std::uint8_t> packageBytes);

// True when the file at `path` is a zip package whose docProps/app.xml names this program.
// Reads only the zip directory and that part (the file is mapped, never read whole); false for
// anything that cannot be opened or read. Opens for reading only, without a lock.
bool isSheetmergeResult(const std::filesystem::path& path);

}  // namespace spreadsheet
