// Opens a source workbook read-only and reads it into WorkbookData, recognising the format
// by its first bytes (zip, compound file, text) within what its extension allows, as
// spreadsheet programs do: an .xlsx or .xlsm file must be a zip package (or a password-protected
// one), a .csv file text; an .xls file may be BIFF, an HTML table, SpreadsheetML or text.
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
    // The encoding every CSV source is read in (any name iconv knows); "" detects it per file.
    std::string csvEncoding;
};

// Classifies a file by its first bytes alone.
ContentKind sniffContent(std::span<const std::uint8_t> firstBytes);

// Reads the whole file (opened for reading only, never locked or written) and dispatches to
// the reader its content calls for. `path` gives a CSV book its sheet name. An encrypted
// workbook is decrypted in memory with the passwords of `options`; it fails with
// EncryptedWorkbook when none of them opens it.
Result<WorkbookData> openWorkbookFile(const std::filesystem::path& path,
                                      const OpenOptions& options = {});

// The same, on bytes already in memory; `fileName` names a CSV book's sheet and its extension
// (compared as written: ".xlsx", ".xlsm", ".csv") says what the bytes may be. Content the
// extension does not allow fails with ExtensionMismatch.
Result<WorkbookData> readWorkbook(std::span<const std::uint8_t> bytes, const std::string& fileName,
                                  const OpenOptions& options = {});

}  // namespace spreadsheet
