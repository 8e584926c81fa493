// Opens a source workbook read-only and reads it into WorkbookData, recognising the format
// by its first bytes (zip, compound file, text) rather than by its extension alone.
//   Result<WorkbookData> book = openWorkbookFile("/data/a.xlsx");
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "spreadsheet/error.h"
#include "spreadsheet/workbook_data.h"

namespace spreadsheet {

enum class ContentKind { Zip, CompoundFile, Biff, Text, Empty, Unknown };

// How a source is opened.
struct OpenOptions {
    // Passwords (UTF-8) tried in order on an encrypted workbook; an .xls is tried with the
    // default password spreadsheet programs use before these.
    std::vector<std::string> passwords;
};

// Classifies a file by its first bytes alone.
ContentKind sniffContent(std::span<const std::uint8_t> firstBytes);

// Reads the whole file (opened for reading only, never locked or written) and dispatches to
// the reader its content calls for. `path` gives a CSV book its sheet name. An encrypted
// workbook is decrypted in memory with the passwords of `options`; it fails with
// EncryptedWorkbook when none of them opens it.
Result<WorkbookData> openWorkbookFile(const std::filesystem::path& path,
                                      const OpenOptions& options = {});

// The same, on bytes already in memory; `fileName` names a CSV book's sheet and breaks ties
// (a text file is read as CSV).
Result<WorkbookData> readWorkbook(std::span<const std::uint8_t> bytes, const std::string& fileName,
                                  const OpenOptions& options = {});

}  // namespace spreadsheet
