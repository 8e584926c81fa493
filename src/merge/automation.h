// The spreadsheet application as the merge run drives it: application, workbook, worksheet and
// range objects, each call able to fail. A failing call records its cause in the application's
// ErrorState, returns an empty handle (nullptr) or does nothing, and the run goes on; the run
// tests and clears the state at the points where a failure becomes a reason of a source.
//   std::shared_ptr<Workbook> book = app.openWorkbook(path);   // nullptr + errors() set on failure
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "merge/block_plan.h"
#include "spreadsheet/cell_ref.h"
#include "spreadsheet/error.h"
#include "spreadsheet/workbook_data.h"

namespace merge {

// The run's error indicator. It keeps the first failure recorded since the last clear(), since
// that is the cause; later failures of the same stretch are usually its consequences.
class ErrorState {
public:
    void set(spreadsheet::Error error);
    bool isSet() const { return m_set; }
    void clear();
    // The cause in words, "" when clear.
    std::string message() const;
    const spreadsheet::Error& error() const { return m_error; }

private:
    bool m_set = false;
    spreadsheet::Error m_error;
};

// One cell's value. Formula cells of sources are only ever seen through their values.
struct CellValue {
    spreadsheet::CellType type = spreadsheet::CellType::Empty;
    double number = 0.0;  // Number; Boolean as 0 or 1
    std::string text;     // Text; Error as its text, e.g. "#N/A"

    static CellValue ofText(std::string text);
    static CellValue ofNumber(double number);
    bool isEmpty() const { return type == spreadsheet::CellType::Empty; }
    friend bool operator==(const CellValue&, const CellValue&) = default;
};

// A value as the row rules compare it: text and errors as they are, numbers in their shortest
// form, booleans as TRUE/FALSE, "" for an empty cell.
std::string displayedText(const CellValue& value);

// A block of values, rows of columns, as Range::values() reads it and Range::setValues() writes it.
using ValueBlock = std::vector<std::vector<CellValue>>;

enum class PasteKind { All, ColumnWidths };
enum class SearchOrder { ByRows, ByColumns };
// Csv: a folder named as the result, holding one UTF-8 CSV file (with byte-order mark) per sheet,
// named after the sheet, values as `sheetmerge cat` shows them.
enum class SaveFormat { Xlsx, Xls, Csv };
enum class Placement { Before, After };

class Worksheet;
class Workbook;

// A rectangle of cells on one sheet. Handles stay valid while their workbook is open.
class Range {
public:
    virtual ~Range() = default;

    // Top-left cell, 1-based, and the size.
    virtual int row() const = 0;
    virtual int column() const = 0;
    virtual int rowCount() const = 0;
    virtual int columnCount() const = 0;

    // The value of the top-left cell.
    virtual CellValue value() = 0;
    // All values, rowCount() rows of columnCount() values.
    virtual ValueBlock values() = 0;
    // Writes `value` into every cell of the range (keeping the cells' formats; a rich text the
    // cell held goes with its runs).
    virtual void setValue(const CellValue& value) = 0;
    // Writes a block from the top-left cell; the block may be smaller than the range.
    virtual void setValues(const ValueBlock& values) = 0;
    // The number format code of the top-left cell, "General" for a cell without one; what a
    // value needs besides itself to show as it does there (a date serial as its date).
    virtual std::string numberFormat() = 0;
    // Gives every cell of the range the number format `code`, keeping values and other formats.
    virtual void setNumberFormat(const std::string& code) = 0;

    // The range moved by rows/columns, or resized from its top-left cell; nullptr and the error
    // state set when the result leaves the grid or a size is below 1.
    virtual std::shared_ptr<Range> offset(int rows, int columns) = 0;
    virtual std::shared_ptr<Range> resize(int rows, int columns) = 0;

    // Puts the range (values, formats, merges inside it, column widths) on the application's own
    // clipboard; the system clipboard is never touched.
    virtual void copy() = 0;
    // Copies values (a rich text with its runs and their fonts), formats and the merges inside
    // the range to `destination`'s top-left cell.
    virtual void copyTo(Range& destination) = 0;
    // Pastes the clipboard at this range's top-left cell; sets the error state when it is empty.
    // PasteKind::All places what copyTo() places; PasteKind::ColumnWidths gives the target
    // columns the widths the copied columns show, their sheet's default width included, and
    // hides those whose copied column is hidden.
    virtual void pasteSpecial(PasteKind kind) = 0;

    // The planned copy of a block (block_plan.h). selectRows() judges every row of this range
    // once, by merge::selectRows() over the cells' displayed values (numbers in a date format
    // as dates), against the data rows placed so far (`seen`), and adds the digests of the
    // data rows it keeps to `seen`; it changes no cell.
    virtual RowSelection selectRows(const BlockPlan& plan, RowDigestSet& seen) = 0;
    // Copies the rows of `rows` one below the other from `destination`'s top-left cell, each
    // column of this range to destination column + plan.targetColumn(offset) (none when -1),
    // with values and formats. A merged range inside the block is merged again only when all
    // its rows are kept and its columns stay side by side in order; the others are left
    // unmerged, their cells keeping values and formats. Returns the number of merged ranges
    // left unmerged; 0 and the error state set when the rows do not fit or cannot be placed.
    virtual int copyRows(Range& destination, const RowSelection& rows, const BlockPlan& plan) = 0;

    // Merges the range into one cell keeping the top-left value; a single cell stays as it is.
    virtual void merge() = 0;
    virtual void setFontName(const std::string& name) = 0;
    virtual void setFontSize(double points) = 0;
    virtual void setFontBold(bool bold) = 0;
    // Colour from the 56-colour palette (3 = red).
    virtual void setFontColorIndex(int index) = 0;
    virtual void centreHorizontally() = 0;
    // Width in characters of every column of the range.
    virtual void setColumnWidth(double characters) = 0;
    // Fits every column the range touches to the longest text in that whole column (an estimate:
    // CJK and other wide characters count double).
    virtual void autoFitColumns() = 0;
    // Gives the range's one cell a note (comment) that a spreadsheet program shows when the
    // pointer rests on the cell, replacing the note it had; an empty text removes the note. A
    // range of more than one cell takes no note: nothing changes and the error state is set.
    // Notes stay on their cell and are saved with the workbook, also on rows already final;
    // copies and pastes do not carry them.
    virtual void setNote(const std::string& text) = 0;
    // Selects the range on its sheet; its top-left cell becomes the active cell.
    virtual void select() = 0;
};

// A sheet of a workbook. Chart and other sheets come only through Workbook::activeSheet(); they
// hold no cells.
class Worksheet {
public:
    virtual ~Worksheet() = default;

    virtual std::string name() const = 0;
    // Whether the sheet's tab is shown, hidden or very hidden (shown again only by a macro).
    virtual spreadsheet::Visibility visibility() const = 0;
    // Refused (error state set, name unchanged) when empty, longer than 31 characters, holding
    // one of []:*?/\ or taken by another sheet of the workbook, ignoring case.
    virtual void setName(const std::string& name) = 0;
    // Makes this the workbook's active sheet.
    virtual void select() = 0;
    // Removes filter arrows and shows again the rows the filter hid.
    virtual void removeAutoFilter() = 0;
    // The number of rows of the grid (1,048,576 for .xlsx, 65,536 for .xls).
    virtual int rowCount() const = 0;
    // UsedRange.Columns.Count: the columns from the leftmost to the rightmost used one.
    virtual int usedColumnCount() = 0;

    // A1 text ("B2", "B2:G5"); nullptr and the error state set when invalid or outside the grid.
    virtual std::shared_ptr<Range> range(const std::string& reference) = 0;
    // The rectangle spanned by two cells, in any order.
    virtual std::shared_ptr<Range> range(spreadsheet::CellRef first, spreadsheet::CellRef last) = 0;
    virtual std::shared_ptr<Range> cell(int row, int column) = 0;

    // The number of formula cells; 0 and the error state set when there are none.
    virtual int formulaCellCount() = 0;
    // Replaces every formula by its current value.
    virtual void replaceFormulasByValues() = 0;
    // Splits every merged range that overlaps `area` and gives each of its cells inside `area`
    // the value and format of the range's top-left cell (in memory only, like every change to
    // a source). Returns the number of merged ranges split.
    virtual int fillMergedCells(const spreadsheet::RangeRef& area) = 0;
    // The number of formula cells that came without a cached value: the application cannot
    // calculate them, so replaceFormulasByValues() leaves them empty. Counted over the whole
    // sheet as it was read; replaceFormulasByValues() does not change it.
    virtual int uncalculatedFormulaCount() = 0;
    // The cell of the largest row (ByRows) or column (ByColumns) holding anything, as a backward
    // search from A1 finds it; nullptr without an error when the sheet holds nothing.
    virtual std::shared_ptr<Range> findLast(SearchOrder order) = 0;

    // Removes every cell, format, merge and note from `row` downwards; with row 1 the sheet is
    // as new (column widths reset too). Used to roll back a block that failed.
    virtual void clearFromRow(int row) = 0;
    // Deletes the sheet from its workbook; refused for the last sheet.
    virtual void remove() = 0;
    // Asks the sheet to keep its top `rows` rows readable (for copying) after rows further down
    // were placed. An application that keeps every row readable ignores it.
    virtual void holdTopRows(int rows) = 0;
    // Keeps the top `rows` rows writable after rows further down were placed: a header row that
    // grows while blocks are placed below it. An application that keeps every row writable
    // ignores it.
    virtual void keepTopRowsOpen(int rows) { (void)rows; }
    // Tells the sheet that its rows are final: none will be written or cleared again (except the
    // rows kept open) and only
    // the rows held by holdTopRows() will be read, so the application may move them out of
    // memory; writing or clearing them afterwards fails. An application may ignore it.
    virtual void finishRows() {}
};

class Workbook {
public:
    virtual ~Workbook() = default;

    // The file name without folder ("a.xlsx"); the full path once saved or opened.
    virtual std::string name() const = 0;
    virtual std::string fullName() const = 0;

    // The active sheet, of any kind.
    virtual std::shared_ptr<Worksheet> activeSheet() = 0;
    // Worksheets only (chart sheets are not counted), 1-based positions in tab order.
    virtual int worksheetCount() = 0;
    // nullptr and the error state set when there is no such worksheet (names compare
    // ignoring case).
    virtual std::shared_ptr<Worksheet> worksheet(int position) = 0;
    virtual std::shared_ptr<Worksheet> worksheet(const std::string& name) = 0;
    // A new empty worksheet before or after `anchor`, under a free default name; it becomes the
    // active sheet.
    virtual std::shared_ptr<Worksheet> addWorksheet(Worksheet& anchor, Placement placement) = 0;

    // Freezes the panes of the active sheet above and left of its active cell, or unfreezes them.
    virtual void setFreezePanes(bool frozen) = 0;

    // Saves under a new name. Never replaces an existing file (TargetExists); FormatNotAvailable
    // when the application cannot write `format`. With SaveFormat::Csv it creates the folder
    // `path`, empty, which takes the name; the files come with save().
    virtual void saveAs(const std::string& path, SaveFormat format) = 0;
    // Saves again to the name of the last saveAs (replacing the file the run wrote). A CSV
    // folder is written whole beside its name and then put in place of the empty folder, so the
    // name holds an empty folder or all the files, never some of them; a folder that holds
    // anything by then is never replaced (TargetExists).
    virtual void save() = 0;
    // Closes without saving. The handle must not be used afterwards.
    virtual void close() = 0;
};

class Application {
public:
    virtual ~Application() = default;

    // The run's error indicator; every failing call below and on the objects sets it.
    virtual ErrorState& errors() = 0;

    // Opens a workbook read-only, links not updated; nullptr and the error state set on failure.
    // The file is never written; changes stay in memory.
    virtual std::shared_ptr<Workbook> openWorkbook(const std::string& path) = 0;
    // Announces a workbook the run will open later, after the ones announced before it, so the
    // application may read files ahead in the background. Announcements never change what
    // openWorkbook() returns or which failure it records; an application may ignore them.
    virtual void expectOpen(const std::string& path) { (void)path; }
    // Passwords (UTF-8) tried in order on every encrypted workbook opened from now on, files read
    // ahead included; a workbook none of them opens fails with EncryptedWorkbook. An application
    // that reads no encrypted files may ignore them.
    virtual void setPasswords(std::vector<std::string> passwords) { (void)passwords; }
    // The encoding every CSV workbook opened from now on is read in ("" detects it per file).
    // An application that reads no CSV files may ignore it.
    virtual void setCsvEncoding(std::string encoding) { (void)encoding; }
    // The number of sheets a new workbook gets.
    virtual int sheetsInNewWorkbook() const = 0;
    virtual void setSheetsInNewWorkbook(int count) = 0;
    virtual std::shared_ptr<Workbook> addWorkbook() = 0;

    // Empties the application's clipboard.
    virtual void clearClipboard() = 0;

    virtual void setDisplayAlerts(bool shown) = 0;
    // Window state of an application that has windows; no-ops for a headless one.
    virtual void setVisible(bool visible) = 0;
    virtual void maximise() = 0;
    // Ends the application; open workbooks are closed without saving.
    virtual void quit() = 0;
};

}  // namespace merge
