// The automation interface over the engine. Sources are WorkbookData read whole (announced ones
// ahead of their turn, see read_ahead.h) and changed in memory only. A result sheet keeps its
// rows in memory until a block is placed below them; the rows above a new block are final (a
// failed block rolls back only its own rows) and go to its spool (result_sheet.h), as do a
// full sheet's rows once it is finished, so memory stays about one source, the two announced
// sources being read ahead, and the rows a sheet was asked to hold on to.
#include "merge/engine_application.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <optional>
#include <unordered_map>

#include "merge/read_ahead.h"
#include "merge/result_sheet.h"
#include "spreadsheet/csv_writer.h"
#include "spreadsheet/sheet_extent.h"
#include "spreadsheet/sheet_name.h"
#include "spreadsheet/value_text.h"
#include "spreadsheet/workbook_reader.h"
#include "spreadsheet/xlsx_writer.h"

namespace merge {

namespace {

using spreadsheet::Cell;
using spreadsheet::CellRef;
using spreadsheet::CellType;
using spreadsheet::Error;
using spreadsheet::ErrorCode;
using spreadsheet::RangeRef;
using spreadsheet::Row;

// Formats are set cell by cell; a range larger than a whole column is refused rather than
// filled.
constexpr long long MaxFormattedCells = spreadsheet::XlsxMaxRows;

struct EngineSheet {
    std::string name;
    spreadsheet::SheetKind kind = spreadsheet::SheetKind::Worksheet;
    spreadsheet::Visibility visibility = spreadsheet::Visibility::Visible;
    std::vector<Row> rows;  // in memory, ascending; result sheets: only rows not yet spooled
    std::vector<RangeRef> merges;
    std::map<int, ColumnLook> columnLooks;         // result sheets: column -> look
    std::vector<spreadsheet::ColumnInfo> columns;  // source sheets
    double defaultColumnWidth = 0.0;               // source sheets; 0 = not given
    std::optional<RangeRef> autoFilter;
    std::optional<spreadsheet::FrozenPane> frozenPane;
    int uncalculatedFormulas = 0;  // source sheets: as the reader counted them
    CellRef activeCell{1, 1};
    // Notes by (row, column). They are kept apart from the rows, so rows that go to the spool
    // keep theirs until the save.
    std::map<std::pair<int, int>, std::string> notes;
    // Result sheets only: the final rows. Its first failure to spool (a full disk) means the
    // sheet can hold no more rows, and every later placement and the save report that cause
    // instead of a follow-on symptom.
    ResultSheetSpool spooled;
    int firstColumn = 0;  // used columns, spooled rows included
    int lastColumn = 0;

    Row* findRow(int number) {
        auto found = std::lower_bound(rows.begin(), rows.end(), number,
                                      [](const Row& row, int value) { return row.number < value; });
        return found != rows.end() && found->number == number ? &*found : nullptr;
    }
    Row& rowAt(int number) {
        // Blocks are placed top to bottom: a new row usually goes at the end.
        if (rows.empty() || rows.back().number < number) {
            Row& row = rows.emplace_back();
            row.number = number;
            return row;
        }
        auto found = std::lower_bound(rows.begin(), rows.end(), number,
                                      [](const Row& row, int value) { return row.number < value; });
        if (found != rows.end() && found->number == number) return *found;
        Row row;
        row.number = number;
        return *rows.insert(found, std::move(row));
    }
    // A readable row: in memory, or held after spooling; nullptr when absent. `lost` is set when
    // the row was spooled and not held.
    const Row* readRow(int number, bool& lost) {
        if (spooled.isFinal(number)) return spooled.heldRow(number, lost);
        return findRow(number);
    }
    void noteColumns(int first, int last) {
        firstColumn = firstColumn == 0 ? first : std::min(firstColumn, first);
        lastColumn = std::max(lastColumn, last);
    }
    // How a source column shows: the width of its run, else the sheet's default width (0 when
    // neither is given), and hidden as its run says.
    ColumnLook sourceLook(int column) const {
        auto run = std::upper_bound(
            columns.begin(), columns.end(), column,
            [](int wanted, const spreadsheet::ColumnInfo& info) { return wanted < info.first; });
        if (run != columns.begin() && std::prev(run)->last >= column) {
            const spreadsheet::ColumnInfo& info = *std::prev(run);
            return {info.width > 0 ? info.width : defaultColumnWidth, info.hidden};
        }
        return {defaultColumnWidth, false};
    }
};

struct EngineBook {
    std::string path;  // full path once opened or saved
    bool result = false;
    bool closed = false;
    std::vector<std::shared_ptr<EngineSheet>> sheets;
    int active = 0;
    spreadsheet::GridLimits grid = spreadsheet::XlsxGrid;
    std::vector<spreadsheet::CellStyle> sourceStyles;      // sources
    std::vector<spreadsheet::Font> sourceRunFonts;         // sources
    spreadsheet::WorkbookData dates;                       // sources: styles for date checks
    std::shared_ptr<spreadsheet::StyleRegistry> registry;  // results
    // Results: the format of the last saveAs; a CSV result spools its rows as CSV fields, which
    // need to know the styles that show dates.
    SaveFormat format = SaveFormat::Xlsx;
    spreadsheet::DateStyleTest csvDates;
    // Source style index -> result id, and source run font -> result run font, per result
    // registry.
    std::unordered_map<std::uint32_t, std::uint32_t> styleMap;
    std::unordered_map<std::uint32_t, std::uint32_t> runFontMap;
    // Held weakly: a registry made where a freed one was is still another registry.
    std::weak_ptr<const spreadsheet::StyleRegistry> mappedFor;
    // Sources: whether each style formats numbers as dates (1), not (0), or not yet known (-1).
    std::vector<std::int8_t> dateStyles;

    bool isDateStyle(std::uint32_t style) {
        if (style >= sourceStyles.size()) return false;
        if (dateStyles.size() != sourceStyles.size()) dateStyles.assign(sourceStyles.size(), -1);
        std::int8_t& known = dateStyles[style];
        if (known < 0) known = spreadsheet::isDateFormat(sourceStyles[style].numberFormat) ? 1 : 0;
        return known == 1;
    }

    // The style of a cell, as this book's own styles give it.
    const spreadsheet::CellStyle& styleOf(std::uint32_t style) const {
        if (registry) return registry->style(style);
        return style < sourceStyles.size() ? sourceStyles[style] : sourceStyles.front();
    }
};

class EngineApplication;

struct Clip {
    std::shared_ptr<EngineBook> book;
    std::shared_ptr<EngineSheet> sheet;
    RangeRef area;
};

class EngineRange;

class EngineApplication : public Application {
public:
    ErrorState& errors() override { return m_errors; }
    std::shared_ptr<Workbook> openWorkbook(const std::string& path) override;
    int sheetsInNewWorkbook() const override { return m_sheetsInNewWorkbook; }
    void setSheetsInNewWorkbook(int count) override {
        if (count < 1 || count > 255) {
            m_errors.set(Error(ErrorCode::OperationFailed, "SheetsInNewWorkbook"));
            return;
        }
        m_sheetsInNewWorkbook = count;
    }
    std::shared_ptr<Workbook> addWorkbook() override;
    void clearClipboard() override { clipboard.reset(); }
    void setDisplayAlerts(bool) override {}
    void setVisible(bool) override {}
    void maximise() override {}
    void quit() override {
        clipboard.reset();
        m_readAhead.clear();
    }
    void expectOpen(const std::string& path) override { m_readAhead.announce(path); }
    void setPasswords(std::vector<std::string> passwords) override {
        m_readAhead.setPasswords(std::move(passwords));
    }
    void setCsvEncoding(std::string encoding) override {
        m_readAhead.setCsvEncoding(std::move(encoding));
    }

    void fail(ErrorCode code, std::string detail) { m_errors.set(Error(code, std::move(detail))); }
    std::optional<Clip> clipboard;

private:
    ErrorState m_errors;
    int m_sheetsInNewWorkbook = 1;
    ReadAhead m_readAhead;
};

// Copies cells, merges inside the area and nothing else from one sheet to another.
bool copyCells(EngineApplication& application, const Clip& from, EngineBook& toBook,
               EngineSheet& to, CellRef at);
void placeColumnWidths(const Clip& from, EngineSheet& to, CellRef at);
RowSelection selectBlockRows(EngineBook& book, const EngineSheet& sheet, const RangeRef& area,
                             const BlockPlan& plan, RowDigestSet& seen);
int copyChosenRows(EngineApplication& application, const Clip& from, EngineBook& toBook,
                   EngineSheet& to, CellRef at, const RowSelection& selection,
                   const BlockPlan& plan);
void flushAbove(EngineApplication& application, EngineBook& book, EngineSheet& sheet, int row);

class EngineRange : public Range {
public:
    EngineRange(EngineApplication& application, std::shared_ptr<EngineBook> book,
                std::shared_ptr<EngineSheet> sheet, RangeRef area)
        : m_application(application),
          m_book(std::move(book)),
          m_sheet(std::move(sheet)),
          m_area(area) {}

    int row() const override { return m_area.first.row; }
    int column() const override { return m_area.first.column; }
    int rowCount() const override { return m_area.rowCount(); }
    int columnCount() const override { return m_area.columnCount(); }

    CellValue value() override {
        if (!usable()) return {};
        bool lost = false;
        const Row* row = m_sheet->readRow(m_area.first.row, lost);
        if (lost) m_application.fail(ErrorCode::OperationFailed, "row already written out");
        if (!row) return {};
        for (const Cell& cell : row->cells)
            if (cell.column == m_area.first.column) return toValue(cell);
        return {};
    }
    ValueBlock values() override {
        ValueBlock block;
        if (!usable() || static_cast<long long>(rowCount()) * columnCount() > MaxFormattedCells) {
            m_application.fail(ErrorCode::OperationFailed, "values");
            return block;
        }
        bool lost = false;  // a row spooled without being held: its values are gone
        for (int r = m_area.first.row; r <= m_area.last.row; ++r) {
            block.emplace_back(static_cast<std::size_t>(columnCount()));
            const Row* row = m_sheet->readRow(r, lost);
            if (row)
                for (const Cell& cell : row->cells)
                    if (m_area.first.column <= cell.column && cell.column <= m_area.last.column)
                        block.back()[static_cast<std::size_t>(cell.column - m_area.first.column)] =
                            toValue(cell);
        }
        if (lost) m_application.fail(ErrorCode::OperationFailed, "row already written out");
        return block;
    }
    void setValue(const CellValue& value) override {
        if (!writable(m_area.first.row)) return;
        for (int r = m_area.first.row; r <= m_area.last.row; ++r)
            for (int c = m_area.first.column; c <= m_area.last.column; ++c) store(r, c, value);
    }
    void setValues(const ValueBlock& values) override {
        if (!writable(m_area.first.row)) return;
        for (std::size_t r = 0; r < values.size(); ++r)
            for (std::size_t c = 0; c < values[r].size(); ++c)
                store(row() + static_cast<int>(r), column() + static_cast<int>(c), values[r][c]);
    }
    std::string numberFormat() override {
        if (!usable()) return "General";
        bool lost = false;
        const Row* row = m_sheet->readRow(m_area.first.row, lost);
        if (lost) m_application.fail(ErrorCode::OperationFailed, "row already written out");
        if (row)
            for (const Cell& cell : row->cells)
                if (cell.column == m_area.first.column) {
                    const std::string& code = m_book->styleOf(cell.style).numberFormat;
                    return code.empty() ? "General" : code;
                }
        return "General";
    }
    void setNumberFormat(const std::string& code) override {
        restyle([&](spreadsheet::CellStyle& style) { style.numberFormat = code; });
    }
    std::shared_ptr<Range> offset(int rows, int columns) override {
        return make({{m_area.first.row + rows, m_area.first.column + columns},
                     {m_area.last.row + rows, m_area.last.column + columns}});
    }
    std::shared_ptr<Range> resize(int rows, int columns) override {
        if (rows < 1 || columns < 1) {
            m_application.fail(ErrorCode::InvalidReference, "resize");
            return nullptr;
        }
        return make(
            {m_area.first, {m_area.first.row + rows - 1, m_area.first.column + columns - 1}});
    }
    void copy() override {
        if (usable()) m_application.clipboard = Clip{m_book, m_sheet, m_area};
    }
    void copyTo(Range& destination) override {
        auto& target = static_cast<EngineRange&>(destination);
        if (!usable() || !target.usable()) return;
        const Clip from{m_book, m_sheet, m_area};
        if (target.m_book->result)
            flushAbove(m_application, *target.m_book, *target.m_sheet, target.m_area.first.row);
        copyCells(m_application, from, *target.m_book, *target.m_sheet, target.m_area.first);
    }
    void pasteSpecial(PasteKind kind) override {
        if (!usable()) return;
        if (!m_application.clipboard) {
            m_application.fail(ErrorCode::OperationFailed, "clipboard empty");
            return;
        }
        const Clip from = *m_application.clipboard;
        if (kind == PasteKind::ColumnWidths) {
            placeColumnWidths(from, *m_sheet, m_area.first);
            return;
        }
        if (m_book->result) flushAbove(m_application, *m_book, *m_sheet, m_area.first.row);
        copyCells(m_application, from, *m_book, *m_sheet, m_area.first);
    }
    RowSelection selectRows(const BlockPlan& plan, RowDigestSet& seen) override {
        if (!usable()) return {};
        return selectBlockRows(*m_book, *m_sheet, m_area, plan, seen);
    }
    int copyRows(Range& destination, const RowSelection& rows, const BlockPlan& plan) override {
        auto& target = static_cast<EngineRange&>(destination);
        if (!usable() || !target.usable()) return 0;
        return copyChosenRows(m_application, Clip{m_book, m_sheet, m_area}, *target.m_book,
                              *target.m_sheet, target.m_area.first, rows, plan);
    }
    void merge() override {
        if (!writable(m_area.first.row)) return;
        if (rowCount() == 1 && columnCount() == 1) return;
        std::erase_if(m_sheet->merges,
                      [&](const RangeRef& merged) { return intersects(merged, m_area); });
        m_sheet->merges.push_back(m_area);
    }
    void setFontName(const std::string& name) override {
        restyle([&](spreadsheet::CellStyle& style) { style.font.name = name; });
    }
    void setFontSize(double points) override {
        restyle([&](spreadsheet::CellStyle& style) { style.font.size = points; });
    }
    void setFontBold(bool bold) override {
        restyle([&](spreadsheet::CellStyle& style) { style.font.bold = bold; });
    }
    void setFontColorIndex(int index) override {
        // The first entries of the default palette; the run uses 3, red.
        static const std::uint32_t palette[] = {0xFF000000, 0xFFFFFFFF, 0xFFFF0000, 0xFF00FF00,
                                                0xFF0000FF, 0xFFFFFF00, 0xFFFF00FF, 0xFF00FFFF};
        if (index < 1 || index > 8) {
            m_application.fail(ErrorCode::OperationFailed, "colour index");
            return;
        }
        restyle([&](spreadsheet::CellStyle& style) { style.font.color = palette[index - 1]; });
    }
    void centreHorizontally() override {
        restyle([](spreadsheet::CellStyle& style) { style.alignment.horizontal = "center"; });
    }
    void setColumnWidth(double characters) override {
        if (!usable() || characters < 0 || characters > 255) {
            m_application.fail(ErrorCode::OperationFailed, "column width");
            return;
        }
        // A column given a width shows again.
        for (int c = m_area.first.column; c <= m_area.last.column; ++c)
            m_sheet->columnLooks[c] = ColumnLook{characters, false};
    }
    void autoFitColumns() override;
    void setNote(const std::string& text) override {
        if (!usable()) return;
        if (rowCount() != 1 || columnCount() != 1) {
            m_application.fail(ErrorCode::OperationFailed, "a note belongs to one cell");
            return;
        }
        const std::pair<int, int> cell{m_area.first.row, m_area.first.column};
        if (text.empty())
            m_sheet->notes.erase(cell);
        else
            m_sheet->notes[cell] = text;
    }
    void select() override {
        if (usable()) m_sheet->activeCell = m_area.first;
    }

    bool usable() const {
        if (m_book->closed) {
            m_application.fail(ErrorCode::OperationFailed, "workbook closed");
            return false;
        }
        return true;
    }

private:
    static bool intersects(const RangeRef& a, const RangeRef& b) {
        return a.first.row <= b.last.row && b.first.row <= a.last.row &&
               a.first.column <= b.last.column && b.first.column <= a.last.column;
    }
    CellValue toValue(const Cell& cell) const {
        CellValue value;
        value.type = cell.type;
        value.number = cell.number;
        value.text = cell.text;
        return value;
    }
    bool writable(int firstRow) const {
        if (!usable()) return false;
        if (m_sheet->spooled.isFinal(firstRow)) {
            m_application.fail(ErrorCode::OperationFailed, "row already written out");
            return false;
        }
        return true;
    }
    void store(int r, int c, const CellValue& value) {
        Row& row = m_sheet->rowAt(r);
        auto found =
            std::lower_bound(row.cells.begin(), row.cells.end(), c,
                             [](const Cell& cell, int column) { return cell.column < column; });
        if (found == row.cells.end() || found->column != c) {
            Cell cell;
            cell.column = c;
            found = row.cells.insert(found, cell);
        }
        found->type = value.type;
        found->number = value.number;
        found->text = value.text;
        found->hasFormula = false;
        row.runs.erase(c);  // a value written is plain
        m_sheet->noteColumns(c, c);
    }
    template <typename Change>
    void restyle(Change change) {
        if (!writable(m_area.first.row) || !m_book->registry) return;
        if (static_cast<long long>(rowCount()) * columnCount() > MaxFormattedCells) {
            m_application.fail(ErrorCode::OperationFailed, "range too large to format");
            return;
        }
        // Cells of a range mostly share their style: each distinct one is changed once.
        std::unordered_map<std::uint32_t, std::uint32_t> changed;
        for (int r = m_area.first.row; r <= m_area.last.row; ++r) {
            Row& row = m_sheet->rowAt(r);
            for (int c = m_area.first.column; c <= m_area.last.column; ++c) {
                auto found = std::lower_bound(
                    row.cells.begin(), row.cells.end(), c,
                    [](const Cell& cell, int column) { return cell.column < column; });
                if (found == row.cells.end() || found->column != c) {
                    Cell cell;
                    cell.column = c;
                    found = row.cells.insert(found, cell);
                }
                auto [entry, added] = changed.try_emplace(found->style, 0);
                if (added) {
                    spreadsheet::CellStyle style = m_book->registry->style(found->style);
                    change(style);
                    entry->second = m_book->registry->intern(style);
                }
                found->style = entry->second;
            }
        }
    }
    std::shared_ptr<Range> make(RangeRef area) {
        if (area.first.row < 1 || area.first.column < 1 || area.last.row > m_book->grid.rows ||
            area.last.column > m_book->grid.columns) {
            m_application.fail(ErrorCode::InvalidReference, "outside the grid");
            return nullptr;
        }
        return std::make_shared<EngineRange>(m_application, m_book, m_sheet, area);
    }

    EngineApplication& m_application;
    std::shared_ptr<EngineBook> m_book;
    std::shared_ptr<EngineSheet> m_sheet;
    RangeRef m_area;
};

// The width a text needs, in characters: wide (CJK, full-width) characters count double.
double textWidth(const std::string& text) {
    double width = 0;
    for (std::size_t index = 0; index < text.size();) {
        const auto lead = static_cast<unsigned char>(text[index]);
        std::size_t length = 1;
        char32_t code = lead;
        if (lead >= 0xF0) {
            length = 4;
            code = 0x10000;
        } else if (lead >= 0xE0) {
            length = 3;
            if (index + 2 < text.size())
                code = ((lead & 0x0F) << 12) |
                       ((static_cast<unsigned char>(text[index + 1]) & 0x3F) << 6) |
                       (static_cast<unsigned char>(text[index + 2]) & 0x3F);
        } else if (lead >= 0xC0) {
            length = 2;
            code = 0x100;
        }
        const bool wide =
            (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
            (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
            (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
            (code >= 0xFFE0 && code <= 0xFFE6) || code >= 0x10000;
        width += wide ? 2 : 1;
        index += length;
    }
    return width;
}

// What a number format shows besides the digits, as an estimate of its width: the first
// section's code without quotes, escapes and [..] blocks ("yyyy\"年\"m\"月\"d\"日\"" gives
// yyyy年m月d日, as wide as the dates it shows).
std::string formatCodeText(const std::string& code) {
    std::string text;
    bool quoted = false;
    for (std::size_t index = 0; index < code.size(); ++index) {
        const char character = code[index];
        if (character == '"') {
            quoted = !quoted;
        } else if (quoted) {
            text += character;
        } else if (character == ';') {
            break;
        } else if (character == '[') {
            const std::size_t close = code.find(']', index);
            if (close == std::string::npos) break;
            index = close;
        } else if ((character == '\\' || character == '_' || character == '*') &&
                   index + 1 < code.size()) {
            // An escaped character shows; the padding of _x and the fill of *x take one place.
            text += character == '\\' ? code[index + 1] : ' ';
            ++index;
        } else {
            text += character;
        }
    }
    return text;
}

void EngineRange::autoFitColumns() {
    if (!usable() || !m_book->registry) return;
    for (int c = m_area.first.column; c <= m_area.last.column; ++c) {
        double widest = 0;
        for (const Row& row : m_sheet->rows)
            for (const Cell& cell : row.cells) {
                if (cell.column != c || cell.type == CellType::Empty) continue;
                const spreadsheet::CellStyle& style = m_book->registry->style(cell.style);
                const std::string text =
                    cell.type == CellType::Number    ? spreadsheet::numberText(cell.number)
                    : cell.type == CellType::Boolean ? (cell.number != 0 ? "TRUE" : "FALSE")
                                                     : cell.text;
                double width = textWidth(text);
                // A formatted number shows as wide as its format makes it, a date as its date.
                if (cell.type == CellType::Number && style.numberFormat != "General") {
                    width = std::max(width, textWidth(formatCodeText(style.numberFormat)));
                    if (spreadsheet::isDateFormat(style.numberFormat))
                        width = std::max(width, textWidth(spreadsheet::dateTimeText(cell.number)));
                }
                widest = std::max(widest, width * style.font.size / 11.0);
            }
        if (widest > 0) m_sheet->columnLooks[c].width = std::min(255.0, std::ceil(widest + 1.5));
    }
}

// Makes the style and run-font maps of `fromBook` those into `toBook`'s registry, starting
// them afresh when they were made for another.
void mapInto(EngineBook& fromBook, const EngineBook& toBook) {
    const std::shared_ptr<spreadsheet::StyleRegistry>& registry = toBook.registry;
    if (!fromBook.mappedFor.owner_before(registry) && !registry.owner_before(fromBook.mappedFor))
        return;
    fromBook.styleMap.clear();
    fromBook.runFontMap.clear();
    fromBook.mappedFor = registry;
}

std::uint32_t resultStyle(EngineBook& fromBook, EngineBook& toBook, std::uint32_t style) {
    if (fromBook.registry == toBook.registry)
        return style;  // the same registry: header rows copied between result sheets
    mapInto(fromBook, toBook);
    auto found = fromBook.styleMap.find(style);
    if (found != fromBook.styleMap.end()) return found->second;
    // Another new workbook's styles are its registry's; a source's are the ones it was read with.
    const std::uint32_t id = toBook.registry->intern(fromBook.styleOf(style));
    fromBook.styleMap.emplace(style, id);
    return id;
}

// The target's id of a run font of `fromBook`: the same font interned in the target's registry.
std::uint32_t resultRunFont(EngineBook& fromBook, EngineBook& toBook, std::uint32_t font) {
    if (font == spreadsheet::CellFont || fromBook.registry == toBook.registry) return font;
    mapInto(fromBook, toBook);
    auto found = fromBook.runFontMap.find(font);
    if (found != fromBook.runFontMap.end()) return found->second;
    std::uint32_t id = spreadsheet::CellFont;
    if (fromBook.registry && font < fromBook.registry->runFontCount())
        id = toBook.registry->internRunFont(fromBook.registry->runFont(font));
    else if (!fromBook.registry && font < fromBook.sourceRunFonts.size())
        id = toBook.registry->internRunFont(fromBook.sourceRunFonts[font]);
    fromBook.runFontMap.emplace(font, id);
    return id;
}

// Whether a block of `area`'s size fits at `at` and may be placed there, and its rows can be
// read; sets the error state when not.
bool canPlace(EngineApplication& application, const Clip& from, const EngineBook& toBook,
              const EngineSheet& to, CellRef at) {
    const RangeRef area = from.area;
    if (at.row + area.rowCount() - 1 > toBook.grid.rows ||
        at.column + area.columnCount() - 1 > toBook.grid.columns) {
        application.fail(ErrorCode::InvalidReference,
                         "the block does not fit below row " + std::to_string(at.row));
        return false;
    }
    if (to.spooled.isFinal(at.row)) {
        application.fail(ErrorCode::OperationFailed, "row already written out");
        return false;
    }
    if (!toBook.registry) {
        application.fail(ErrorCode::OperationFailed, "source workbooks are read-only");
        return false;
    }
    // A row spooled and not held cannot be read: refuse before anything is placed.
    if (!from.sheet->spooled.readable(area.first.row, area.last.row)) {
        application.fail(ErrorCode::OperationFailed, "row already written out");
        return false;
    }
    return true;
}

// Takes copied cells' styles and their rich texts' run fonts from one book into another's
// registry. The cells of a block come in runs of one style, so the last style is remembered and
// each run of them is looked up once.
class Restyler {
public:
    Restyler(EngineBook& from, EngineBook& to) : m_from(from), m_to(to) {}

    std::uint32_t style(std::uint32_t source) {
        if (!m_known || source != m_lastStyle) {
            m_known = true;
            m_lastStyle = source;
            m_lastResultStyle = resultStyle(m_from, m_to, source);
        }
        return m_lastResultStyle;
    }

    // Gives `runs` the runs of `row`'s rich cell in `column`, if it is one, under `target`.
    void copyRuns(const Row& row, const Cell& cell, int target, spreadsheet::RowRuns& runs) {
        if (row.runs.empty() || cell.type != CellType::Text) return;
        if (const spreadsheet::TextRuns* found = row.runs.find(cell.column)) {
            spreadsheet::TextRuns moved = *found;
            for (spreadsheet::TextRun& run : moved)
                run.font = resultRunFont(m_from, m_to, run.font);
            runs.set(target, std::move(moved));
        }
    }

private:
    EngineBook& m_from;
    EngineBook& m_to;
    bool m_known = false;
    std::uint32_t m_lastStyle = 0;
    std::uint32_t m_lastResultStyle = 0;
};

// Puts copied cells with their runs into row `number` of `to`, replacing cells of the same
// columns with theirs. `cells` are ascending by column.
void placeCells(EngineSheet& to, int number, std::vector<Cell> cells, spreadsheet::RowRuns runs) {
    Row& target = to.rowAt(number);
    if (target.cells.empty()) {
        target.cells = std::move(cells);
        target.runs = std::move(runs);
        return;
    }
    if (!target.runs.empty())
        for (const Cell& cell : cells) target.runs.erase(cell.column);
    for (const auto& entry : runs.entries()) target.runs.set(entry.column, entry.runs);
    for (Cell& cell : cells) {
        auto found = std::lower_bound(
            target.cells.begin(), target.cells.end(), cell.column,
            [](const Cell& existing, int column) { return existing.column < column; });
        if (found != target.cells.end() && found->column == cell.column)
            *found = std::move(cell);
        else
            target.cells.insert(found, std::move(cell));
    }
}

// One block being copied: the cells of the clip's area moved to `at`, with their styles taken
// into the target's registry, and the merges inside the area.
class BlockCopy {
public:
    BlockCopy(const Clip& from, EngineBook& toBook, EngineSheet& to, CellRef at)
        : m_from(from),
          m_area(from.area),
          m_to(to),
          m_rowShift(at.row - from.area.first.row),
          m_columnShift(at.column - from.area.first.column),
          m_restyler(*from.book, toBook) {}

    void copyRows() {
        if (m_from.sheet.get() == &m_to) {
            // Collect first: the rows read are the rows written.
            std::vector<Row> copied;
            forEachRow([&](const Row& row) {
                Row out;
                out.number = row.number + m_rowShift;
                out.cells = copiedCells(row, out.runs);
                if (!out.cells.empty()) copied.push_back(std::move(out));
            });
            for (Row& row : copied)
                placeCells(m_to, row.number, std::move(row.cells), std::move(row.runs));
            return;
        }
        forEachRow([&](const Row& row) {
            spreadsheet::RowRuns runs;
            std::vector<Cell> cells = copiedCells(row, runs);
            if (!cells.empty())
                placeCells(m_to, row.number + m_rowShift, std::move(cells), std::move(runs));
        });
    }

    // Merges of the target within the placed block go; the source's merges are clipped to the
    // area, and what is left of one cell goes too.
    void copyMerges() {
        const RangeRef placed{{m_area.first.row + m_rowShift, m_area.first.column + m_columnShift},
                              {m_area.last.row + m_rowShift, m_area.last.column + m_columnShift}};
        std::erase_if(m_to.merges, [&](const RangeRef& merged) {
            return merged.first.row <= placed.last.row && placed.first.row <= merged.last.row &&
                   merged.first.column <= placed.last.column &&
                   placed.first.column <= merged.last.column;
        });
        for (const RangeRef& merged : m_from.sheet->merges) {
            RangeRef clipped{{std::max(merged.first.row, m_area.first.row),
                              std::max(merged.first.column, m_area.first.column)},
                             {std::min(merged.last.row, m_area.last.row),
                              std::min(merged.last.column, m_area.last.column)}};
            if (clipped.first.row > clipped.last.row || clipped.first.column > clipped.last.column)
                continue;
            if (clipped.rowCount() == 1 && clipped.columnCount() == 1) continue;
            m_to.merges.push_back(
                {{clipped.first.row + m_rowShift, clipped.first.column + m_columnShift},
                 {clipped.last.row + m_rowShift, clipped.last.column + m_columnShift}});
        }
    }

private:
    // Visits the area's rows in order: those in memory by walking them, others one by one.
    template <typename Visit>
    void forEachRow(Visit&& visit) {
        const EngineSheet& source = *m_from.sheet;
        if (!source.spooled.isFinal(m_area.first.row)) {
            auto row = std::lower_bound(
                source.rows.begin(), source.rows.end(), m_area.first.row,
                [](const Row& existing, int value) { return existing.number < value; });
            for (; row != source.rows.end() && row->number <= m_area.last.row; ++row) visit(*row);
            return;
        }
        for (int r = m_area.first.row; r <= m_area.last.row; ++r) {
            bool lost = false;
            if (const Row* row = m_from.sheet->readRow(r, lost)) visit(*row);
        }
    }

    // The row's cells inside the area that hold a value or a format, moved and restyled; the
    // runs of its rich cells go to `runs` with their fonts taken into the target's registry.
    std::vector<Cell> copiedCells(const Row& row, spreadsheet::RowRuns& runs) {
        std::vector<Cell> cells;
        auto first =
            std::lower_bound(row.cells.begin(), row.cells.end(), m_area.first.column,
                             [](const Cell& cell, int column) { return cell.column < column; });
        for (auto it = first; it != row.cells.end() && it->column <= m_area.last.column; ++it) {
            const Cell& cell = *it;
            if (cell.type == CellType::Empty && cell.style == 0) continue;
            if (cells.empty()) cells.reserve(static_cast<std::size_t>(row.cells.end() - it));
            Cell& copy = cells.emplace_back(cell);
            copy.column = cell.column + m_columnShift;
            copy.hasFormula = false;
            copy.style = m_restyler.style(cell.style);
            m_restyler.copyRuns(row, cell, copy.column, runs);
        }
        return cells;
    }

    const Clip& m_from;
    const RangeRef m_area;
    EngineSheet& m_to;
    const int m_rowShift;
    const int m_columnShift;
    Restyler m_restyler;
};

bool copyCells(EngineApplication& application, const Clip& from, EngineBook& toBook,
               EngineSheet& to, CellRef at) {
    if (!canPlace(application, from, toBook, to, at)) return false;
    BlockCopy block(from, toBook, to, at);
    block.copyRows();
    to.noteColumns(at.column, at.column + from.area.columnCount() - 1);
    block.copyMerges();
    return true;
}

// The displayed text of a value cell, as the engine's valueText gives it (dates where the style
// formats dates); texts and errors are viewed where they are, not copied.
std::string_view displayedText(EngineBook& book, const Cell& cell, std::string& scratch) {
    if (cell.type == CellType::Text || cell.type == CellType::Error) return cell.text;
    scratch =
        spreadsheet::valueText(cell, cell.type == CellType::Number && book.isDateStyle(cell.style));
    return scratch;
}

RowSelection selectBlockRows(EngineBook& book, const EngineSheet& sheet, const RangeRef& area,
                             const BlockPlan& plan, RowDigestSet& seen) {
    // Texts of the row's numbers, one slot per column so that views into them stay valid while
    // the row is judged; reused row after row.
    std::vector<std::string> numbers(static_cast<std::size_t>(area.columnCount()));
    std::vector<RowCell> cells;
    const RowWalk walk = [&](int first, int last, RowTexts wanted, const RowVisit& visit) {
        auto row = std::lower_bound(
            sheet.rows.begin(), sheet.rows.end(), first,
            [](const Row& existing, int value) { return existing.number < value; });
        for (; row != sheet.rows.end() && row->number <= last; ++row) {
            auto cell = std::lower_bound(
                row->cells.begin(), row->cells.end(), area.first.column,
                [](const Cell& existing, int column) { return existing.column < column; });
            cells.clear();
            std::size_t used = 0;
            bool valueSeen = false;
            for (; cell != row->cells.end() && cell->column <= area.last.column; ++cell) {
                if (cell->type == CellType::Empty) continue;
                const int offset = cell->column - area.first.column;
                if (valueSeen && wanted == RowTexts::UpToFirstValue) {
                    // Past the row's first value only "not blank" matters.
                    cells.push_back(RowCell{offset, "?"});
                    continue;
                }
                const std::string_view text = displayedText(book, *cell, numbers[used]);
                if (text.empty()) continue;
                if (cell->type == CellType::Number) ++used;
                cells.push_back(RowCell{offset, text});
                valueSeen = valueSeen || !trimBlanks(text).empty();
            }
            if (cells.empty()) continue;
            if (!visit(row->number, cells)) return;
        }
    };
    return selectRows(plan, seen, area.first.row, area.last.row, walk);
}

// The planned copy of a block: the chosen rows one below the other, each column to its mapped
// column, with formats; merges only where their rows and columns stay together. Kept apart
// from BlockCopy so that the plain copy stays as it is.
class PlannedCopy {
public:
    PlannedCopy(const Clip& from, EngineBook& toBook, EngineSheet& to, CellRef at,
                const RowSelection& selection, const BlockPlan& plan)
        : m_from(from),
          m_to(to),
          m_at(at),
          m_selection(selection),
          m_plan(plan),
          m_restyler(*from.book, toBook) {
        for (int offset = 0; offset < from.area.columnCount(); ++offset) {
            const int column = plan.targetColumn(offset);
            if (column < 0) continue;
            m_lowest = m_lowest < 0 ? column : std::min(m_lowest, column);
            m_highest = std::max(m_highest, column);
            if (column != offset) m_reordered = true;
        }
    }

    // The result's last row and column that the block takes; false when none.
    bool fits(const spreadsheet::GridLimits& grid) const {
        const long long lastRow = static_cast<long long>(m_at.row) + rowCount() - 1;
        return lastRow <= grid.rows && m_at.column + m_highest <= grid.columns;
    }
    int rowCount() const { return static_cast<int>(m_selection.rows.size()); }
    bool hasColumns() const { return m_highest >= 0; }

    void copyRows() {
        const std::vector<Row>& rows = m_from.sheet->rows;
        auto next = rows.begin();
        const RangeRef& area = m_from.area;
        for (std::size_t index = 0; index < m_selection.rows.size(); ++index) {
            const int number = m_selection.rows[index];
            next = std::lower_bound(next, rows.end(), number, [](const Row& existing, int value) {
                return existing.number < value;
            });
            if (next == rows.end()) break;
            if (next->number != number) continue;
            std::vector<Cell> cells;
            spreadsheet::RowRuns runs;
            auto cell = std::lower_bound(
                next->cells.begin(), next->cells.end(), area.first.column,
                [](const Cell& existing, int column) { return existing.column < column; });
            for (; cell != next->cells.end() && cell->column <= area.last.column; ++cell) {
                if (cell->type == CellType::Empty && cell->style == 0) continue;
                const int column = m_plan.targetColumn(cell->column - area.first.column);
                if (column < 0) continue;
                // Room too for the label cells the run writes left of the block next.
                if (cells.empty())
                    cells.reserve(static_cast<std::size_t>(next->cells.end() - cell) +
                                  static_cast<std::size_t>(m_at.column - 1));
                Cell& copy = cells.emplace_back(*cell);
                copy.column = m_at.column + column;
                copy.hasFormula = false;
                copy.style = m_restyler.style(cell->style);
                m_restyler.copyRuns(*next, *cell, copy.column, runs);
            }
            if (cells.empty()) continue;
            if (m_reordered)
                std::sort(cells.begin(), cells.end(),
                          [](const Cell& a, const Cell& b) { return a.column < b.column; });
            placeCells(m_to, m_at.row + static_cast<int>(index), std::move(cells), std::move(runs));
        }
        if (hasColumns()) m_to.noteColumns(m_at.column + m_lowest, m_at.column + m_highest);
    }

    // Returns the number of merged ranges of the block left unmerged.
    int copyMerges() {
        if (rowCount() == 0 || !hasColumns()) return 0;
        const RangeRef placed{{m_at.row, m_at.column + m_lowest},
                              {m_at.row + rowCount() - 1, m_at.column + m_highest}};
        std::erase_if(m_to.merges, [&](const RangeRef& merged) {
            return merged.first.row <= placed.last.row && placed.first.row <= merged.last.row &&
                   merged.first.column <= placed.last.column &&
                   placed.first.column <= merged.last.column;
        });
        const RangeRef& area = m_from.area;
        const std::vector<int>& kept = m_selection.rows;
        int split = 0;
        for (const RangeRef& merged : m_from.sheet->merges) {
            const RangeRef clipped{{std::max(merged.first.row, area.first.row),
                                    std::max(merged.first.column, area.first.column)},
                                   {std::min(merged.last.row, area.last.row),
                                    std::min(merged.last.column, area.last.column)}};
            if (clipped.first.row > clipped.last.row || clipped.first.column > clipped.last.column)
                continue;
            if (clipped.rowCount() == 1 && clipped.columnCount() == 1) continue;
            const auto top = std::lower_bound(kept.begin(), kept.end(), clipped.first.row);
            const auto bottom = std::upper_bound(kept.begin(), kept.end(), clipped.last.row);
            if (top == bottom) continue;  // none of its rows is placed
            bool together = bottom - top == clipped.rowCount();
            const int firstColumn = m_plan.targetColumn(clipped.first.column - area.first.column);
            for (int column = clipped.first.column; together && column <= clipped.last.column;
                 ++column) {
                const int target = m_plan.targetColumn(column - area.first.column);
                together =
                    firstColumn >= 0 && target == firstColumn + column - clipped.first.column;
            }
            if (!together) {
                ++split;
                continue;
            }
            const int row = m_at.row + static_cast<int>(top - kept.begin());
            m_to.merges.push_back({{row, m_at.column + firstColumn},
                                   {row + clipped.rowCount() - 1,
                                    m_at.column + firstColumn + clipped.columnCount() - 1}});
        }
        return split;
    }

private:
    const Clip& m_from;
    EngineSheet& m_to;
    const CellRef m_at;
    const RowSelection& m_selection;
    const BlockPlan& m_plan;
    int m_lowest = -1;
    int m_highest = -1;
    bool m_reordered = false;
    Restyler m_restyler;
};

int copyChosenRows(EngineApplication& application, const Clip& from, EngineBook& toBook,
                   EngineSheet& to, CellRef at, const RowSelection& selection,
                   const BlockPlan& plan) {
    PlannedCopy copy(from, toBook, to, at, selection, plan);
    if (copy.rowCount() == 0) return 0;
    if (!copy.fits(toBook.grid)) {
        application.fail(ErrorCode::InvalidReference,
                         "the block does not fit below row " + std::to_string(at.row));
        return 0;
    }
    if (to.spooled.isFinal(at.row)) {
        application.fail(ErrorCode::OperationFailed, "row already written out");
        return 0;
    }
    if (!toBook.registry) {
        application.fail(ErrorCode::OperationFailed, "source workbooks are read-only");
        return 0;
    }
    if (from.book->result) {
        // Only source blocks are planned; their rows are all in memory.
        application.fail(ErrorCode::OperationFailed, "planned copies come from sources");
        return 0;
    }
    if (toBook.result) flushAbove(application, toBook, to, at.row);
    copy.copyRows();
    return copy.copyMerges();
}

// The target columns take the look of the copied ones: the width each shows (its own, or its
// sheet's default) and whether it is hidden. A copied column of the default width and shown
// gives the target column back its default.
void placeColumnWidths(const Clip& from, EngineSheet& to, CellRef at) {
    for (int c = from.area.first.column; c <= from.area.last.column; ++c) {
        const int target = at.column + c - from.area.first.column;
        ColumnLook look;
        if (from.book->result) {
            auto found = from.sheet->columnLooks.find(c);
            if (found != from.sheet->columnLooks.end()) look = found->second;
        } else {
            look = from.sheet->sourceLook(c);
        }
        if (look.width > 0 || look.hidden)
            to.columnLooks[target] = ColumnLook{std::min(look.width, 255.0), look.hidden};
        else
            to.columnLooks.erase(target);
    }
}

// Rows above `row` are final once a block is placed at `row`: they go to the spool.
void flushAbove(EngineApplication& application, EngineBook& book, EngineSheet& sheet, int row) {
    spreadsheet::Result<void> spooled =
        sheet.spooled.spoolAbove(sheet.rows, row, book.path, *book.registry,
                                 book.format == SaveFormat::Csv ? &book.csvDates : nullptr);
    if (!spooled) application.errors().set(spooled.error());
}

class EngineWorkbook;

class EngineWorksheet : public Worksheet {
public:
    EngineWorksheet(EngineApplication& application, std::shared_ptr<EngineBook> book,
                    std::shared_ptr<EngineSheet> sheet)
        : m_application(application), m_book(std::move(book)), m_sheet(std::move(sheet)) {}

    std::string name() const override { return m_sheet->name; }
    spreadsheet::Visibility visibility() const override { return m_sheet->visibility; }
    void setName(const std::string& name) override {
        if (!usable()) return;
        if (!spreadsheet::isValidSheetName(name)) {
            m_application.fail(ErrorCode::InvalidSheetName, name);
            return;
        }
        for (const auto& other : m_book->sheets)
            if (other != m_sheet && spreadsheet::sameSheetName(other->name, name)) {
                m_application.fail(ErrorCode::DuplicateSheetName, name);
                return;
            }
        m_sheet->name = name;
    }
    void select() override {
        if (!usable()) return;
        for (std::size_t index = 0; index < m_book->sheets.size(); ++index)
            if (m_book->sheets[index] == m_sheet) m_book->active = static_cast<int>(index);
    }
    void removeAutoFilter() override {
        if (!usable() || !m_sheet->autoFilter) return;
        // The rows a filter hid are shown again.
        for (Row& row : m_sheet->rows)
            if (m_sheet->autoFilter->first.row <= row.number &&
                row.number <= m_sheet->autoFilter->last.row)
                row.hidden = false;
        m_sheet->autoFilter.reset();
    }
    int rowCount() const override { return m_book->grid.rows; }
    int usedColumnCount() override {
        if (!usable()) return 0;
        if (m_book->result)
            return m_sheet->firstColumn == 0 ? 1 : m_sheet->lastColumn - m_sheet->firstColumn + 1;
        int first = 0;
        int last = 0;
        for (const Row& row : m_sheet->rows)
            if (!row.cells.empty()) {
                first = first == 0 ? row.cells.front().column
                                   : std::min(first, row.cells.front().column);
                last = std::max(last, row.cells.back().column);
            }
        return first == 0 ? 1 : last - first + 1;
    }
    std::shared_ptr<Range> range(const std::string& reference) override {
        if (!usable()) return nullptr;
        if (m_sheet->kind != spreadsheet::SheetKind::Worksheet) {
            m_application.fail(ErrorCode::InvalidReference, reference);
            return nullptr;
        }
        spreadsheet::Result<RangeRef> parsed = spreadsheet::parseRange(reference, m_book->grid);
        if (!parsed) {
            m_application.errors().set(parsed.error());
            return nullptr;
        }
        return std::make_shared<EngineRange>(m_application, m_book, m_sheet, *parsed);
    }
    std::shared_ptr<Range> range(CellRef first, CellRef last) override {
        const RangeRef area{{std::min(first.row, last.row), std::min(first.column, last.column)},
                            {std::max(first.row, last.row), std::max(first.column, last.column)}};
        if (!usable()) return nullptr;
        if (area.first.row < 1 || area.first.column < 1 || area.last.row > m_book->grid.rows ||
            area.last.column > m_book->grid.columns) {
            m_application.fail(ErrorCode::InvalidReference, "outside the grid");
            return nullptr;
        }
        return std::make_shared<EngineRange>(m_application, m_book, m_sheet, area);
    }
    std::shared_ptr<Range> cell(int row, int column) override {
        return range(CellRef{row, column}, CellRef{row, column});
    }
    int formulaCellCount() override {
        int count = 0;
        for (const Row& row : m_sheet->rows)
            for (const Cell& cell : row.cells) count += cell.hasFormula ? 1 : 0;
        if (count == 0) m_application.fail(ErrorCode::OperationFailed, "no formula cells");
        return count;
    }
    int uncalculatedFormulaCount() override { return m_sheet->uncalculatedFormulas; }
    int fillMergedCells(const RangeRef& area) override {
        if (!usable()) return 0;
        int split = 0;
        std::vector<RangeRef> kept;
        std::vector<RangeRef> filled;
        for (const RangeRef& merged : m_sheet->merges) {
            const bool overlaps =
                merged.first.row <= area.last.row && area.first.row <= merged.last.row &&
                merged.first.column <= area.last.column && area.first.column <= merged.last.column;
            (overlaps ? filled : kept).push_back(merged);
        }
        for (const RangeRef& merged : filled) {
            const Cell* topLeft = nullptr;
            if (const Row* row = m_sheet->findRow(merged.first.row))
                for (const Cell& cell : row->cells)
                    if (cell.column == merged.first.column) topLeft = &cell;
            const Cell model = topLeft ? *topLeft : Cell{};
            // A rich text fills with its runs; whatever runs a filled cell had go.
            const spreadsheet::TextRuns* modelRuns = nullptr;
            if (const Row* row = topLeft ? m_sheet->findRow(merged.first.row) : nullptr)
                modelRuns = row->runs.find(merged.first.column);
            const spreadsheet::TextRuns runs = modelRuns ? *modelRuns : spreadsheet::TextRuns{};
            for (int r = std::max(merged.first.row, area.first.row);
                 r <= std::min(merged.last.row, area.last.row); ++r) {
                Row& row = m_sheet->rowAt(r);
                for (int c = std::max(merged.first.column, area.first.column);
                     c <= std::min(merged.last.column, area.last.column); ++c) {
                    if (r == merged.first.row && c == merged.first.column) continue;
                    auto found = std::lower_bound(
                        row.cells.begin(), row.cells.end(), c,
                        [](const Cell& cell, int column) { return cell.column < column; });
                    Cell copy = model;
                    copy.column = c;
                    copy.hasFormula = false;
                    if (runs.empty())
                        row.runs.erase(c);
                    else
                        row.runs.set(c, runs);
                    if (found != row.cells.end() && found->column == c)
                        *found = std::move(copy);
                    else
                        row.cells.insert(found, std::move(copy));
                }
            }
            ++split;
        }
        m_sheet->merges = std::move(kept);
        return split;
    }
    void replaceFormulasByValues() override {
        // The cached value is the value; a formula without one leaves an empty cell.
        for (Row& row : m_sheet->rows)
            for (Cell& cell : row.cells) cell.hasFormula = false;
    }
    std::shared_ptr<Range> findLast(SearchOrder order) override {
        if (!usable() || m_sheet->kind != spreadsheet::SheetKind::Worksheet) return nullptr;
        const auto& rows = m_sheet->rows;  // ascending by number, cells by column
        if (order == SearchOrder::ByRows) {
            // The last row holding a value, searched from the bottom.
            for (auto row = rows.rbegin(); row != rows.rend(); ++row)
                for (const Cell& value : row->cells)
                    if (spreadsheet::holdsValue(value)) return cell(row->number, 1);
            return nullptr;
        }
        // The rightmost value: in each row, only the cells right of the best so far can count.
        int lastColumn = 0;
        for (const Row& row : rows)
            for (auto value = row.cells.rbegin();
                 value != row.cells.rend() && value->column > lastColumn; ++value)
                if (spreadsheet::holdsValue(*value)) {
                    lastColumn = value->column;
                    break;
                }
        if (lastColumn == 0) return nullptr;
        return cell(1, lastColumn);
    }
    void clearFromRow(int row) override {
        if (!usable()) return;
        if (!m_sheet->spooled.clearable(row)) {
            m_application.fail(ErrorCode::OperationFailed, "row already written out");
            return;
        }
        std::erase_if(m_sheet->rows, [row](const Row& existing) { return existing.number >= row; });
        std::erase_if(m_sheet->merges,
                      [row](const RangeRef& merged) { return merged.last.row >= row; });
        m_sheet->notes.erase(m_sheet->notes.lower_bound({row, 0}), m_sheet->notes.end());
        if (row <= 1) {
            m_sheet->columnLooks.clear();
            m_sheet->firstColumn = 0;
            m_sheet->lastColumn = 0;
        }
    }
    void remove() override {
        if (!usable()) return;
        if (m_book->sheets.size() <= 1) {
            m_application.fail(ErrorCode::OperationFailed, "the last sheet cannot be deleted");
            return;
        }
        std::erase(m_book->sheets, m_sheet);
        m_book->active = std::min<int>(m_book->active, static_cast<int>(m_book->sheets.size()) - 1);
    }
    void holdTopRows(int rows) override { m_sheet->spooled.holdTopRows(rows); }
    void keepTopRowsOpen(int rows) override {
        if (usable() && m_book->result) m_sheet->spooled.keepTopRowsOpen(rows);
    }
    void finishRows() override {
        if (!usable() || !m_book->result || m_sheet->rows.empty()) return;
        flushAbove(m_application, *m_book, *m_sheet, m_sheet->rows.back().number + 1);
    }

    const std::shared_ptr<EngineSheet>& sheet() const { return m_sheet; }

private:
    bool usable() const {
        if (m_book->closed) {
            m_application.fail(ErrorCode::OperationFailed, "workbook closed");
            return false;
        }
        return true;
    }
    EngineApplication& m_application;
    std::shared_ptr<EngineBook> m_book;
    std::shared_ptr<EngineSheet> m_sheet;
};

class EngineWorkbook : public Workbook {
public:
    EngineWorkbook(EngineApplication& application, std::shared_ptr<EngineBook> book)
        : m_application(application), m_book(std::move(book)) {}

    std::string name() const override {
        return std::filesystem::path(m_book->path).filename().string();
    }
    std::string fullName() const override { return m_book->path; }
    std::shared_ptr<Worksheet> activeSheet() override {
        if (m_book->closed || m_book->sheets.empty()) {
            m_application.fail(ErrorCode::NoSuchSheet, "active sheet");
            return nullptr;
        }
        return wrap(m_book->sheets[static_cast<std::size_t>(m_book->active)]);
    }
    int worksheetCount() override {
        return static_cast<int>(std::count_if(
            m_book->sheets.begin(), m_book->sheets.end(),
            [](const auto& sheet) { return sheet->kind == spreadsheet::SheetKind::Worksheet; }));
    }
    std::shared_ptr<Worksheet> worksheet(int position) override {
        int seen = 0;
        for (const auto& sheet : m_book->sheets)
            if (sheet->kind == spreadsheet::SheetKind::Worksheet && ++seen == position)
                return wrap(sheet);
        m_application.fail(ErrorCode::NoSuchSheet, std::to_string(position));
        return nullptr;
    }
    std::shared_ptr<Worksheet> worksheet(const std::string& name) override {
        for (const auto& sheet : m_book->sheets)
            if (sheet->kind == spreadsheet::SheetKind::Worksheet &&
                spreadsheet::sameSheetName(sheet->name, name))
                return wrap(sheet);
        m_application.fail(ErrorCode::NoSuchSheet, name);
        return nullptr;
    }
    std::shared_ptr<Worksheet> addWorksheet(Worksheet& anchor, Placement placement) override {
        if (m_book->closed) return nullptr;
        auto sheet = std::make_shared<EngineSheet>();
        for (int number = static_cast<int>(m_book->sheets.size()) + 1;; ++number) {
            sheet->name = "Sheet" + std::to_string(number);
            bool taken = false;
            for (const auto& other : m_book->sheets)
                taken = taken || spreadsheet::sameSheetName(other->name, sheet->name);
            if (!taken) break;
        }
        const auto& anchorSheet = static_cast<EngineWorksheet&>(anchor).sheet();
        auto found = std::find(m_book->sheets.begin(), m_book->sheets.end(), anchorSheet);
        if (placement == Placement::After && found != m_book->sheets.end()) ++found;
        found = m_book->sheets.insert(found, sheet);
        m_book->active = static_cast<int>(found - m_book->sheets.begin());
        return wrap(sheet);
    }
    void setFreezePanes(bool frozen) override {
        if (m_book->closed || m_book->sheets.empty()) return;
        EngineSheet& sheet = *m_book->sheets[static_cast<std::size_t>(m_book->active)];
        const spreadsheet::FrozenPane pane{sheet.activeCell.row - 1, sheet.activeCell.column - 1};
        if (frozen && (pane.rows > 0 || pane.columns > 0))
            sheet.frozenPane = pane;
        else
            sheet.frozenPane.reset();
    }
    void saveAs(const std::string& path, SaveFormat format) override {
        if (format == SaveFormat::Xls) {
            m_application.fail(ErrorCode::FormatNotAvailable, ".xls");
            return;
        }
        if (format == SaveFormat::Csv) {
            if (!writable()) return;
            spreadsheet::Result<void> created = spreadsheet::createFolderExclusively(path);
            if (!created) {
                m_application.errors().set(created.error());
                return;
            }
            m_book->path = path;
            m_book->format = SaveFormat::Csv;
            m_book->csvDates = spreadsheet::dateStylesOf(*m_book->registry);
            return;
        }
        if (write(path, spreadsheet::ExistingFile::Refuse)) {
            m_book->path = path;
            m_book->format = SaveFormat::Xlsx;
        }
    }
    void save() override {
        if (m_book->path.empty()) {
            m_application.fail(ErrorCode::WriteFailed, "no file name");
            return;
        }
        if (m_book->format == SaveFormat::Csv)
            writeCsv(m_book->path);
        else
            write(m_book->path, spreadsheet::ExistingFile::Replace);
    }
    void close() override {
        // Sources are never written: closing only lets their memory go.
        m_book->closed = true;
        m_book->sheets.clear();
        m_book->sourceStyles.clear();
        m_book->sourceRunFonts.clear();
        m_book->dates = {};
        if (m_application.clipboard && m_application.clipboard->book == m_book)
            m_application.clipboard.reset();
    }

private:
    std::shared_ptr<Worksheet> wrap(const std::shared_ptr<EngineSheet>& sheet) {
        return std::make_shared<EngineWorksheet>(m_application, m_book, sheet);
    }
    // Whether the book is a result that can be saved; sets the error state when not.
    bool writable() {
        if (m_book->closed || !m_book->registry) {
            m_application.fail(ErrorCode::WriteFailed, "source workbooks are never saved");
            return false;
        }
        return true;
    }
    // Whether every sheet's spooled rows are there and can go into `format`; sets the error
    // state when not.
    bool spoolsUsable(SaveFormat format) {
        for (const auto& sheet : m_book->sheets) {
            if (sheet->spooled.failure()) {
                m_application.errors().set(*sheet->spooled.failure());
                return false;
            }
            const bool otherFormat = format == SaveFormat::Csv
                                         ? sheet->spooled.spool() != nullptr
                                         : sheet->spooled.csvSpool() != nullptr;
            if (otherFormat) {
                m_application.fail(ErrorCode::OperationFailed,
                                   "rows already written out in another format");
                return false;
            }
        }
        return true;
    }
    // The entries of the sheet's rows kept open: they lie above the spooled ones and are
    // written before them.
    static std::size_t openRowEntries(const EngineSheet& sheet) {
        return static_cast<std::size_t>(
            std::lower_bound(sheet.rows.begin(), sheet.rows.end(), sheet.spooled.openRows() + 1,
                             [](const Row& row, int value) { return row.number < value; }) -
            sheet.rows.begin());
    }
    bool writeCsv(const std::string& path) {
        if (!writable() || !spoolsUsable(SaveFormat::Csv)) return false;
        std::vector<spreadsheet::CsvSheetToWrite> files;
        for (const auto& sheet : m_book->sheets)
            files.push_back({sheet->name + ".csv", sheet->spooled.csvSpool(), &sheet->rows,
                             openRowEntries(*sheet)});
        spreadsheet::Result<void> written =
            spreadsheet::writeCsvFolder(std::filesystem::path(path), files, m_book->csvDates);
        if (!written) {
            m_application.errors().set(written.error());
            return false;
        }
        return true;
    }
    bool write(const std::string& path, spreadsheet::ExistingFile existing) {
        if (!writable() || !spoolsUsable(SaveFormat::Xlsx)) return false;
        std::vector<spreadsheet::SheetToWrite> sheets;
        for (const auto& sheet : m_book->sheets) {
            spreadsheet::SheetToWrite out;
            out.name = sheet->name;
            out.spooledRows = sheet->spooled.spool();
            out.rows = &sheet->rows;
            out.headRows = openRowEntries(*sheet);
            out.merges = sheet->merges;
            out.columns = columnRuns(sheet->columnLooks);
            out.frozenPane = sheet->frozenPane;
            out.activeCell = sheet->activeCell;
            for (const auto& [cell, text] : sheet->notes)
                out.notes.push_back({CellRef{cell.first, cell.second}, text});
            sheets.push_back(std::move(out));
        }
        spreadsheet::Result<void> written = spreadsheet::writeXlsx(
            std::filesystem::path(path), sheets, m_book->active, *m_book->registry, existing);
        if (!written) {
            m_application.errors().set(written.error());
            return false;
        }
        return true;
    }

    EngineApplication& m_application;
    std::shared_ptr<EngineBook> m_book;
};

std::shared_ptr<Workbook> EngineApplication::openWorkbook(const std::string& path) {
    spreadsheet::Result<spreadsheet::WorkbookData> data = m_readAhead.read(path);
    if (!data) {
        m_errors.set(data.error());
        return nullptr;
    }
    auto book = std::make_shared<EngineBook>();
    book->path = path;
    book->grid = data->grid;
    book->active =
        std::clamp(data->activeSheet, 0, std::max(0, static_cast<int>(data->sheets.size()) - 1));
    for (spreadsheet::Sheet& sheet : data->sheets) {
        auto engineSheet = std::make_shared<EngineSheet>();
        engineSheet->name = std::move(sheet.name);
        engineSheet->kind = sheet.kind;
        engineSheet->visibility = sheet.visibility;
        engineSheet->rows = std::move(sheet.rows);
        engineSheet->merges = std::move(sheet.merges);
        engineSheet->columns = std::move(sheet.columns);
        engineSheet->defaultColumnWidth = sheet.defaultColumnWidth;
        engineSheet->autoFilter = sheet.autoFilter;
        engineSheet->frozenPane = sheet.frozenPane;
        engineSheet->uncalculatedFormulas = sheet.uncalculatedFormulas;
        book->sheets.push_back(std::move(engineSheet));
    }
    book->sourceStyles = std::move(data->styles);
    if (book->sourceStyles.empty()) book->sourceStyles.emplace_back();
    book->sourceRunFonts = std::move(data->runFonts);
    return std::make_shared<EngineWorkbook>(*this, book);
}

std::shared_ptr<Workbook> EngineApplication::addWorkbook() {
    auto book = std::make_shared<EngineBook>();
    book->result = true;
    book->registry = std::make_shared<spreadsheet::StyleRegistry>();
    for (int index = 1; index <= m_sheetsInNewWorkbook; ++index) {
        auto sheet = std::make_shared<EngineSheet>();
        sheet->name = "Sheet" + std::to_string(index);
        book->sheets.push_back(std::move(sheet));
    }
    return std::make_shared<EngineWorkbook>(*this, book);
}

}  // namespace

std::unique_ptr<Application> makeEngineApplication() {
    return std::make_unique<EngineApplication>();
}

}  // namespace merge
