// The engine's in-memory model of a workbook as the readers produce it: sheets in tab order
// with kind and visibility, sparse rows of cells with the text runs of rich cells, merges,
// column widths, panes, autofilter, and the workbook's resolved cell styles and run fonts.
// Rows and columns are 1-based.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/cell_ref.h"
#include "spreadsheet/style.h"

namespace spreadsheet {

enum class CellType : std::uint8_t { Empty, Number, Text, Boolean, Error };

// One cell. A formula cell holds its cached value (the engine has no calculator); a formula
// without a cached value is Empty with hasFormula set.
struct Cell {
    int column = 1;
    CellType type = CellType::Empty;
    bool hasFormula = false;
    std::uint32_t style = 0;  // index into WorkbookData::styles
    double number = 0.0;      // Number; Boolean as 0 or 1
    std::string text;  // Text (UTF-8, rich runs concatenated); Error as its text, e.g. "#DIV/0!"
};

// A run's font when the run has none of its own: it shows in the font of its cell's style.
constexpr std::uint32_t CellFont = 0xFFFF'FFFF;

// One stretch of a rich cell's text in a font of its own: from byte `start` of Cell::text
// (UTF-8, on a character boundary) up to the next run's start, or to the end of the text.
// `font` indexes the run fonts of the workbook that holds the cell (WorkbookData::runFonts
// for a source, StyleRegistry::runFont for a result), or is CellFont.
struct TextRun {
    std::uint32_t start = 0;
    std::uint32_t font = CellFont;
    friend bool operator==(const TextRun&, const TextRun&) = default;
};
using TextRuns = std::vector<TextRun>;

// Puts the runs of `text` in the form the model keeps: ascending starts inside the text on
// character boundaries, the first at 0 (text before the first run shows in the cell's font),
// no empty runs, no two neighbours in one font. Fewer than two runs leave nothing: such a text
// is plain.
void normaliseRuns(TextRuns& runs, std::string_view text);

// The runs of a row's rich cells, by column. A row without rich cells holds one empty pointer,
// so plain rows and cells cost nothing more. Runs belong to the Text cell of their column;
// whoever replaces or empties that cell takes its runs away (erase) or replaces them (set).
class RowRuns {
public:
    RowRuns() = default;
    RowRuns(const RowRuns& other);
    RowRuns& operator=(const RowRuns& other);
    RowRuns(RowRuns&&) noexcept = default;
    RowRuns& operator=(RowRuns&&) noexcept = default;

    bool empty() const { return !m_entries || m_entries->empty(); }
    // The runs of the cell in `column`, or nullptr when it is plain.
    const TextRuns* find(int column) const;
    // Gives the cell in `column` these runs (two or more), replacing any it had.
    void set(int column, TextRuns runs);
    void erase(int column);
    // Removes the runs of the columns first..last.
    void eraseColumns(int first, int last);
    void clear() { m_entries.reset(); }

    struct Entry {
        int column = 0;
        TextRuns runs;
    };
    // Ascending by column; empty when the row has no rich cell.
    std::span<const Entry> entries() const;

private:
    std::unique_ptr<std::vector<Entry>> m_entries;
};

// A row with at least one cell or a format of its own. Cells are ascending by column.
struct Row {
    int number = 1;
    bool customHeight = false;
    bool hidden = false;
    double height = 0.0;                 // points; 0 = the sheet's default
    std::optional<std::uint32_t> style;  // a row-wide format
    std::vector<Cell> cells;
    RowRuns runs;  // of the rich cells among `cells`
};

// A run of columns sharing a width and format (never expanded to single columns).
struct ColumnInfo {
    int first = 1;
    int last = 1;
    double width = 0.0;  // in characters, as OOXML stores it; 0 = default
    bool customWidth = false;
    bool hidden = false;
    std::optional<std::uint32_t> style;
};

// Frozen panes as counts: `rows` rows above and `columns` columns left stay in view.
struct FrozenPane {
    int rows = 0;
    int columns = 0;
    friend bool operator==(const FrozenPane&, const FrozenPane&) = default;
};

struct FormulaText {
    int row = 1;
    int column = 1;
    std::string text;  // without the leading "="; "" for a shared-formula member
};

enum class SheetKind { Worksheet, Chart, Other };
enum class Visibility { Visible, Hidden, VeryHidden };

struct Sheet {
    std::string name;
    SheetKind kind = SheetKind::Worksheet;
    Visibility visibility = Visibility::Visible;
    std::vector<Row> rows;  // ascending by number
    std::vector<RangeRef> merges;
    std::vector<ColumnInfo> columns;  // ascending, not overlapping
    double defaultColumnWidth = 0.0;  // of columns without a run of their own; 0 = not given
    double defaultRowHeight = 0.0;    // points; 0 = not given
    std::optional<FrozenPane> frozenPane;
    std::optional<RangeRef> autoFilter;
    std::vector<FormulaText> formulas;  // formula texts of the cells with hasFormula
    int uncalculatedFormulas = 0;       // formula cells that carry no cached value

    // The cell at (row, column), or nullptr. Binary search; O(log rows + log cells).
    const Cell* cell(int row, int column) const;
    Cell* cell(int row, int column);
    // The row numbered `row`, or nullptr.
    const Row* row(int row) const;
};

enum class FileFormat { Xlsx, Xlsm, Xls, Csv, Html, SpreadsheetMl };

struct WorkbookData {
    FileFormat format = FileFormat::Xlsx;
    std::vector<Sheet> sheets;  // all sheets in tab order, charts and others included
    int activeSheet = 0;        // 0-based index into `sheets`
    bool date1904 = false;      // as read; date cells are already converted to the 1900 system
    std::vector<CellStyle> styles{CellStyle{}};  // never empty; Cell::style indexes it
    std::vector<Font> runFonts;                  // TextRun::font indexes it
    GridLimits grid = XlsxGrid;
    // The encoding a text source (CSV) was read in, as text_encoding.h names it; "" for others.
    std::string textEncoding;
};

}  // namespace spreadsheet
