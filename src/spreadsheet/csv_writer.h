// Sheet values as CSV text: what `sheetmerge cat` prints for a worksheet and what a CSV result
// holds for each result sheet. Rows run from 1 to the last row holding a value, each with as
// many fields as the sheet's last column holding a value; values as valueText shows them; fields
// quoted as RFC 4180 asks; lines end in "\n".
//   CsvRowSpool spool = std::move(*CsvRowSpool::create(folder));
//   spool.append(row, styles);                      // final rows, ascending
//   writeCsvSheet(sink, &spool, &rowsInMemory, styles);
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/error.h"
#include "spreadsheet/style_registry.h"
#include "spreadsheet/workbook_data.h"

namespace spreadsheet {

class OutputSink;

// Whether numbers in cells of a style id show as dates (see isDateFormat).
using DateStyleTest = std::function<bool(std::uint32_t style)>;

// The UTF-8 byte-order mark a CSV result starts with, so that spreadsheet programs read it as
// UTF-8 rather than in the system's legacy code page.
inline constexpr std::string_view Utf8ByteOrderMark = "\xEF\xBB\xBF";

// Appends `field` with RFC 4180 quoting: quoted when it holds a comma, a quote or a line break,
// quotes doubled.
void appendCsvField(std::string& out, std::string_view field);

// Appends the fields of `row` from column 1 up to its last cell holding a value, at most
// `lastColumn` (cells further right are left out), separated by commas and without a line end.
// Returns the number of fields appended, 0 when no cell holds a value. A caller pads the line
// to the sheet's width with one comma per missing field.
int appendCsvFields(std::string& out, const Row& row, int lastColumn,
                    const DateStyleTest& isDateStyle);

// A DateStyleTest over a result's style registry that works each style out once. The registry
// must outlive it.
DateStyleTest dateStylesOf(const StyleRegistry& styles);

// The finished rows of one result sheet as CSV fields, kept in an unnamed temporary file so
// that memory does not grow with the sheet; the sheet's width is known only when it is saved,
// so each row is kept with its field count and padded then.
class CsvRowSpool {
public:
    // Creates the temporary file in `directory`.
    static Result<CsvRowSpool> create(const std::filesystem::path& directory);
    ~CsvRowSpool();
    CsvRowSpool(CsvRowSpool&&) noexcept;
    CsvRowSpool& operator=(CsvRowSpool&&) noexcept;

    // Appends a row; its number must be greater than every row appended before, its cells
    // ascending by column. After a failed write every later call fails too (WriteFailed).
    Result<void> append(const Row& row, const DateStyleTest& isDateStyle);
    int lastRow() const;        // the last row holding a value; 0 when none does
    int lastColumn() const;     // the last column holding a value; 0 when none does
    int lastRowNumber() const;  // the number of the last row appended; 0 when empty

    struct Impl;
    Impl& impl() const { return *m_impl; }

private:
    explicit CsvRowSpool(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

enum class ByteOrderMark { No, Yes };

// Writes one sheet as CSV to `sink` (appending only, so a pipe will do): the byte-order mark when
// asked, then the first `headRows` entries of `rows` (rows above the spooled ones: a header kept
// open while the rows below were spooled), then the spooled rows, then the rest of `rows`
// (ascending, all below the spooled ones); either may be null. Rows without a value in between
// become lines of empty fields; rows after the last value are left out, so a sheet without
// values gives no line at all.
Result<void> writeCsvSheet(OutputSink& sink, const CsvRowSpool* spooledRows,
                           const std::vector<Row>* rows, const DateStyleTest& isDateStyle,
                           ByteOrderMark mark, std::size_t headRows = 0);

// One file of a CSV result.
struct CsvSheetToWrite {
    std::string fileName;                      // "成功合并(12).csv": no "/", not "." or ".."
    const CsvRowSpool* spooledRows = nullptr;  // written first; may be null
    const std::vector<Row>* rows = nullptr;    // written after, ascending; may be null
    std::size_t headRows = 0;                  // entries of `rows` written before the spool
};

// Writes the files, each with the byte-order mark, into a new temporary folder beside `target` and
// renames that folder onto `target` (see writeFolderAtomically): `target` holds all of them or, on
// failure, is left as it was. Fails with WriteFailed for a file name that is no plain name.
Result<void> writeCsvFolder(const std::filesystem::path& target,
                            const std::vector<CsvSheetToWrite>& sheets,
                            const DateStyleTest& isDateStyle);

}  // namespace spreadsheet
