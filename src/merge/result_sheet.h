// The final rows of a result sheet: once a block is placed below them they can no longer change,
// so they go to a RowSpool and leave memory, except copies of the top rows the run holds on to
// (its header rows, copied onto every new sheet). The writer then takes the spool as it is.
//   ResultSheetSpool spool;
//   spool.holdTopRows(1);
//   spool.spoolAbove(rows, 7, bookPath, styles);  // rows 1-6 final; row 1 stays readable
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "spreadsheet/csv_writer.h"
#include "spreadsheet/error.h"
#include "spreadsheet/row_spool.h"
#include "spreadsheet/style_registry.h"
#include "spreadsheet/workbook_data.h"

namespace merge {

class ResultSheetSpool {
public:
    // Rows up to this number are final (spooled, or empty when they were spooled past).
    int spooledThrough() const { return m_spooledThrough; }
    bool isFinal(int row) const { return row > m_openRows && row <= m_spooledThrough; }

    // Rows 1..rows never go to the spool: they stay in memory, writable, and are written before
    // the spooled rows (a header that grows while blocks are placed below it). Only rows not yet
    // spooled can be kept open.
    void keepTopRowsOpen(int rows);
    int openRows() const { return m_openRows; }
    // Whether the rows from `row` down may be cleared: none of them was spooled.
    bool clearable(int row) const {
        return m_spooledThrough <= m_openRows || row > m_spooledThrough;
    }

    // Keeps copies of rows 1..rows readable once they are spooled; rows already spooled stay
    // as they were.
    void holdTopRows(int rows);

    // A final row as held: the copy, nullptr when the row held nothing, and nullptr with `lost`
    // set when the row was spooled without being held. `number` must be final.
    const spreadsheet::Row* heldRow(int number, bool& lost) const;

    // Whether every final row of `first`..`last` was held (rows not final do not count).
    bool readable(int first, int last) const;

    // Moves the rows of `rows` above `row` (ascending, none final yet), except the rows kept
    // open, to the spool, creating it
    // in the folder of `bookPath` or else the temporary folder; rows up to row - 1 are final
    // afterwards. Nothing happens when no row lies above `row`. `styles` is the registry of the
    // rows' ids; it must outlive this object. The first failure to spool (a full disk) is kept:
    // the rows spooled before it leave `rows`, and this and every later call returns that cause.
    // With `csvDates` the rows are kept as CSV fields, for a result saved as CSV (it tells which
    // styles show dates; rich texts keep their text alone); the first rows spooled fix the
    // kind, and a later call asking for the other one fails.
    spreadsheet::Result<void> spoolAbove(std::vector<spreadsheet::Row>& rows, int row,
                                         const std::string& bookPath,
                                         const spreadsheet::StyleRegistry& styles,
                                         const spreadsheet::DateStyleTest* csvDates = nullptr);

    // The first failure to spool, kept for the save to report.
    const std::optional<spreadsheet::Error>& failure() const { return m_failure; }
    // The spooled rows for the writer; nullptr while nothing was spooled.
    const spreadsheet::RowSpool* spool() const { return m_spool ? &*m_spool : nullptr; }
    // The spooled rows as CSV fields; nullptr while nothing was spooled that way.
    const spreadsheet::CsvRowSpool* csvSpool() const { return m_csvSpool ? &*m_csvSpool : nullptr; }

private:
    std::optional<spreadsheet::RowSpool> m_spool;
    std::optional<spreadsheet::CsvRowSpool> m_csvSpool;
    int m_spooledThrough = 0;
    std::optional<spreadsheet::Error> m_failure;
    int m_heldRows = 0;
    int m_openRows = 0;
    std::vector<spreadsheet::Row> m_held;  // copies of spooled rows 1..m_heldRows
};

// How one column of a result sheet shows: its width in characters (0: the default width) and
// whether it is hidden.
struct ColumnLook {
    double width = 0.0;
    bool hidden = false;
    friend bool operator==(const ColumnLook&, const ColumnLook&) = default;
};

// Columns (column -> look) as the writer's runs: neighbouring columns of one look form one run.
std::vector<spreadsheet::ColumnInfo> columnRuns(const std::map<int, ColumnLook>& columns);

}  // namespace merge
