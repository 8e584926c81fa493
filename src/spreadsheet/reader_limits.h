// Every bound the readers put on a source, in one table. A hostile or broken file fails with the
// limit it ran into (the error's detail names it, e.g. "(cells per sheet limit)") instead of
// exhausting memory or time. README's "Limits on hostile files" states the same numbers; a new
// limit is declared here and listed there.
#pragma once

#include <cstddef>
#include <cstdint>

namespace spreadsheet {

// The file. Sources are read whole into memory; a larger file is refused before any reader
// sees it.
constexpr std::uint64_t MaxFileBytes = 2ULL << 30;

// Zip packages, checked against the bytes inflating really produces, never against the sizes a
// file claims (ZipLimits takes its defaults from here).
constexpr std::size_t MaxZipEntries = 10'000;
constexpr std::uint64_t MaxZipSheetPartBytes = 4ULL << 30;  // one worksheet part
constexpr std::uint64_t MaxZipPartBytes = 256ULL << 20;     // any other part
constexpr std::uint64_t MaxZipTotalBytes = 16ULL << 30;     // everything inflated from one file
constexpr std::uint64_t ZipRatioGraceBytes = 1ULL << 20;    // no ratio check below this many
constexpr std::uint64_t MaxZipRatio = 1000;                 // inflated bytes per compressed byte

// XML parts (XmlLimits takes its defaults from here). No DOCTYPE or entity is ever accepted.
constexpr int MaxXmlDepth = 64;
constexpr std::size_t MaxXmlTextBytes = 1 << 20;      // text of one element, one attribute value
constexpr std::size_t MaxXmlMarkupBytes = 64u << 20;  // one tag, comment or declaration
// Shared strings are kept in one arena with 32-bit offsets.
constexpr std::uint64_t MaxSharedStringBytes = 0xFFFF'FFFFULL;

// Style tables: entries of each table of an .xlsx styles part (number formats, fonts, fills,
// borders, cell formats, colours), styles of a SpreadsheetML book, and fonts, number formats and
// cell formats of an .xls book. Far above the 64,000 formats a spreadsheet program keeps.
constexpr std::size_t MaxStyleTableEntries = 1 << 18;

// The cell model of one source, counted over all its sheets: cells with their texts, formula
// texts and shared strings. A sheet of plain numbers reaches it at about 38 million cells.
// Fuzz builds lower it (SHEETMERGE_MAX_MODEL_BYTES) to stay inside the fuzzer's memory limit.
#ifdef SHEETMERGE_MAX_MODEL_BYTES
constexpr std::uint64_t MaxModelBytes = SHEETMERGE_MAX_MODEL_BYTES;
#else
constexpr std::uint64_t MaxModelBytes = 2ULL << 30;
#endif

// Sheets, applied by the sheet builder to every reader alike.
constexpr std::size_t MaxSheets = 10'000;
constexpr std::size_t MaxCellsPerSheet = 50'000'000;
constexpr std::size_t MaxMergesPerSheet = 1'000'000;
// Row formats handed over (an .xlsx row element with attributes, an .xls ROW record): more than
// the grid has rows can only be repeats.
constexpr std::size_t MaxRowEntriesPerSheet = 1'048'576;
// The text of one cell, in UTF-16 units as spreadsheet programs count it: a longer CSV field,
// HTML table cell or SpreadsheetML cell is refused rather than cut.
constexpr std::size_t MaxCellTextUnits = 32'767;

// Encrypted sources, checked before any password is tried. The most hashing rounds of a
// password a file may ask for: real files ask for 100,000; a file asking for billions would hold
// the reader for hours on every password it tries. Salts, keys and encrypted values of real files
// are 16 to 64 bytes; the schema allows salts up to 65,536 bytes, which is the bound here too.
// The decrypted package or workbook stream then passes every limit above.
constexpr std::uint32_t MaxSpinCount = 10'000'000;
constexpr std::size_t MaxSaltBytes = 65'536;
constexpr std::size_t MaxEncryptionInfoBytes = 1 << 20;

}  // namespace spreadsheet
