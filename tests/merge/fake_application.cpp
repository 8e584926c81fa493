// The in-memory spreadsheet application of the merge tests.
#include "fake_application.h"

#include <algorithm>

#include "spreadsheet/sheet_name.h"
#include "spreadsheet/value_text.h"

namespace merge::testing {

namespace {

using spreadsheet::sameSheetName;

// The grid of every sheet: rows as the sheet has them, columns as in .xlsx.
bool inGrid(const RangeRef& area, int maxRows) {
    return area.first.row >= 1 && area.first.column >= 1 && area.last.row <= maxRows &&
           area.last.column <= spreadsheet::XlsxMaxColumns;
}

// A value the last-cell search finds: not empty, and not an empty text.
bool holdsValue(const CellValue& value) {
    return !value.isEmpty() && !(value.type == spreadsheet::CellType::Text && value.text.empty());
}

bool overlaps(const RangeRef& a, const RangeRef& b) {
    return a.first.row <= b.last.row && b.first.row <= a.last.row &&
           a.first.column <= b.last.column && b.first.column <= a.last.column;
}

}  // namespace

FakeSheet gridSheet(const std::string& name, const std::string& tag, int rows, int columns,
                    int firstRow) {
    FakeSheet sheet;
    sheet.name = name;
    for (int row = firstRow; row < firstRow + rows; ++row)
        for (int column = 1; column <= columns; ++column)
            sheet.cells[{row, column}] =
                CellValue::ofText(tag + std::to_string(row) + "," + std::to_string(column));
    return sheet;
}

// Range.

ValueBlock FakeRange::values() {
    ValueBlock block;
    for (int row = m_area.first.row; row <= m_area.last.row; ++row) {
        block.emplace_back();
        for (int column = m_area.first.column; column <= m_area.last.column; ++column)
            block.back().push_back(m_sheet->at(row, column));
    }
    return block;
}

void FakeRange::setValue(const CellValue& value) {
    for (int row = m_area.first.row; row <= m_area.last.row; ++row)
        for (int column = m_area.first.column; column <= m_area.last.column; ++column) {
            m_sheet->cells[{row, column}] = value;
            m_sheet->runs.erase({row, column});
        }
}

void FakeRange::setValues(const ValueBlock& values) {
    for (std::size_t r = 0; r < values.size(); ++r)
        for (std::size_t c = 0; c < values[r].size(); ++c) {
            const std::pair<int, int> key{row() + static_cast<int>(r),
                                          column() + static_cast<int>(c)};
            m_sheet->cells[key] = values[r][c];
            m_sheet->runs.erase(key);
        }
}

std::string FakeRange::numberFormat() {
    auto format = m_sheet->cellFormats.find({row(), column()});
    if (format == m_sheet->cellFormats.end() || format->second.numberFormat.empty())
        return "General";
    return format->second.numberFormat;
}

std::shared_ptr<Range> FakeRange::offset(int rows, int columns) {
    RangeRef moved{{row() + rows, column() + columns},
                   {m_area.last.row + rows, m_area.last.column + columns}};
    if (!inGrid(moved, m_sheet->maxRows)) {
        m_application.errors().set(Error(ErrorCode::InvalidReference, "offset"));
        return nullptr;
    }
    return std::make_shared<FakeRange>(m_application, m_sheet, moved);
}

std::shared_ptr<Range> FakeRange::resize(int rows, int columns) {
    const RangeRef resized{m_area.first, {row() + rows - 1, column() + columns - 1}};
    if (rows < 1 || columns < 1 || !inGrid(resized, m_sheet->maxRows)) {
        m_application.errors().set(Error(ErrorCode::InvalidReference, "resize"));
        return nullptr;
    }
    return std::make_shared<FakeRange>(m_application, m_sheet, resized);
}

void FakeRange::copy() {
    for (const auto& book : m_application.books)
        for (const auto& sheet : book->sheets)
            if (sheet == m_sheet && book->copyFails) {
                m_application.errors().set(Error(ErrorCode::OperationFailed, "copy"));
                return;
            }
    m_application.clipboard = std::make_shared<FakeRange>(*this);
}

// Places the cells of `from` at `at` as the engine does: cells holding a value or a format
// replace the target's (holes of the source leave the target as it was); the target's merges
// within the block go and the source's merges are clipped to the block (one cell left: none).
static void pasteCells(FakeApplication& application, const FakeRange& from,
                       const std::shared_ptr<FakeSheet>& to, CellRef at) {
    const RangeRef area = from.area();
    const FakeSheet& source = *from.sheet();
    const int rowShift = at.row - area.first.row;
    const int columnShift = at.column - area.first.column;
    const RangeRef placed{at, {area.last.row + rowShift, area.last.column + columnShift}};
    if (!inGrid(placed, to->maxRows)) {
        application.errors().set(Error(ErrorCode::InvalidReference, "paste beyond the grid"));
        return;
    }
    // Collect first: the block may be copied onto itself.
    struct Copied {
        std::pair<int, int> key;
        CellValue value;
        std::optional<FakeCellFormat> format;
        std::optional<std::vector<FakeRun>> runs;
    };
    std::vector<Copied> copied;
    for (int row = area.first.row; row <= area.last.row; ++row)
        for (int column = area.first.column; column <= area.last.column; ++column) {
            const CellValue value = source.at(row, column);
            auto format = source.cellFormats.find({row, column});
            const bool formatted = format != source.cellFormats.end();
            if (value.isEmpty() && !formatted) continue;
            auto runs = source.runs.find({row, column});
            copied.push_back(
                {{row + rowShift, column + columnShift},
                 value,
                 formatted ? std::optional(format->second) : std::nullopt,
                 runs != source.runs.end() ? std::optional(runs->second) : std::nullopt});
        }
    const std::vector<RangeRef> sourceMerges = source.merges;
    for (const Copied& cell : copied) {
        to->cells[cell.key] = cell.value;
        if (cell.format)
            to->cellFormats[cell.key] = *cell.format;
        else
            to->cellFormats.erase(cell.key);
        if (cell.runs)
            to->runs[cell.key] = *cell.runs;
        else
            to->runs.erase(cell.key);
    }
    std::erase_if(to->merges, [&](const RangeRef& merged) { return overlaps(merged, placed); });
    for (const RangeRef& merged : sourceMerges) {
        const RangeRef clipped{{std::max(merged.first.row, area.first.row),
                                std::max(merged.first.column, area.first.column)},
                               {std::min(merged.last.row, area.last.row),
                                std::min(merged.last.column, area.last.column)}};
        if (clipped.first.row > clipped.last.row || clipped.first.column > clipped.last.column)
            continue;
        if (clipped.rowCount() == 1 && clipped.columnCount() == 1) continue;
        to->merges.push_back({{clipped.first.row + rowShift, clipped.first.column + columnShift},
                              {clipped.last.row + rowShift, clipped.last.column + columnShift}});
    }
}

// The widths the source's columns show (their own, else the sheet's default) at the target's
// columns, hidden where the source's are; a column of no width takes away the target's.
static void pasteColumnWidths(const FakeRange& from, FakeSheet& to, CellRef at) {
    const RangeRef area = from.area();
    const FakeSheet& source = *from.sheet();
    for (int column = area.first.column; column <= area.last.column; ++column) {
        const int target = at.column + column - area.first.column;
        auto width = source.widths.find(column);
        const double shown =
            width != source.widths.end() && width->second > 0 ? width->second : source.defaultWidth;
        if (shown > 0)
            to.widths[target] = std::min(shown, 255.0);
        else
            to.widths.erase(target);
        if (source.hiddenColumns.count(column))
            to.hiddenColumns.insert(target);
        else
            to.hiddenColumns.erase(target);
    }
}

void FakeRange::copyTo(Range& destination) {
    for (const auto& book : m_application.books)
        for (const auto& sheet : book->sheets)
            if (sheet == m_sheet && book->copyFails) {
                m_application.errors().set(Error(ErrorCode::OperationFailed, "copy"));
                return;
            }
    auto& target = static_cast<FakeRange&>(destination);
    pasteCells(m_application, *this, target.sheet(), target.area().first);
}

void FakeRange::pasteSpecial(PasteKind kind) {
    if (!m_application.clipboard) {
        m_application.errors().set(Error(ErrorCode::OperationFailed, "clipboard empty"));
        return;
    }
    if (kind == PasteKind::ColumnWidths)
        pasteColumnWidths(*m_application.clipboard, *m_sheet, m_area.first);
    else
        pasteCells(m_application, *m_application.clipboard, m_sheet, m_area.first);
}

RowSelection FakeRange::selectRows(const BlockPlan& plan, RowDigestSet& seen) {
    const RangeRef area = m_area;
    const FakeSheet& sheet = *m_sheet;
    // The fake gives every text, which a walk may always do.
    const RowWalk walk = [&](int first, int last, RowTexts, const RowVisit& visit) {
        // The fake's cells are ordered by (row, column): one row's cells are neighbours.
        auto cell = sheet.cells.lower_bound({first, 0});
        while (cell != sheet.cells.end() && cell->first.first <= last) {
            const int row = cell->first.first;
            std::vector<std::string> texts;
            std::vector<int> offsets;
            for (; cell != sheet.cells.end() && cell->first.first == row; ++cell) {
                const int column = cell->first.second;
                if (column < area.first.column || column > area.last.column) continue;
                // The fake has no number formats: numbers show in their shortest form.
                std::string text = displayedText(cell->second);
                if (text.empty()) continue;
                texts.push_back(std::move(text));
                offsets.push_back(column - area.first.column);
            }
            if (texts.empty()) continue;
            std::vector<RowCell> cells;
            for (std::size_t k = 0; k < texts.size(); ++k) cells.push_back({offsets[k], texts[k]});
            if (!visit(row, cells)) return;
        }
    };
    return merge::selectRows(plan, seen, area.first.row, area.last.row, walk);
}

int FakeRange::copyRows(Range& destination, const RowSelection& selection, const BlockPlan& plan) {
    for (const auto& book : m_application.books)
        for (const auto& sheet : book->sheets)
            if (sheet == m_sheet && book->copyFails) {
                m_application.errors().set(Error(ErrorCode::OperationFailed, "copy"));
                return 0;
            }
    auto& target = static_cast<FakeRange&>(destination);
    const std::shared_ptr<FakeSheet>& to = target.sheet();
    const CellRef at = target.area().first;
    const int rows = static_cast<int>(selection.rows.size());
    int lowest = -1;
    int highest = -1;
    for (int offset = 0; offset < m_area.columnCount(); ++offset) {
        const int column = plan.targetColumn(offset);
        if (column < 0) continue;
        lowest = lowest < 0 ? column : std::min(lowest, column);
        highest = std::max(highest, column);
    }
    if (rows == 0 || highest < 0) return 0;
    const RangeRef placed{{at.row, at.column + lowest}, {at.row + rows - 1, at.column + highest}};
    if (!inGrid(placed, to->maxRows)) {
        m_application.errors().set(Error(ErrorCode::InvalidReference, "rows beyond the grid"));
        return 0;
    }
    for (int index = 0; index < rows; ++index) {
        const int row = selection.rows[static_cast<std::size_t>(index)];
        for (int column = m_area.first.column; column <= m_area.last.column; ++column) {
            const int mapped = plan.targetColumn(column - m_area.first.column);
            if (mapped < 0) continue;
            const CellValue value = m_sheet->at(row, column);
            auto format = m_sheet->cellFormats.find({row, column});
            const bool formatted = format != m_sheet->cellFormats.end();
            if (value.isEmpty() && !formatted) continue;
            const std::pair<int, int> key{at.row + index, at.column + mapped};
            to->cells[key] = value;
            if (formatted)
                to->cellFormats[key] = format->second;
            else
                to->cellFormats.erase(key);
        }
    }
    std::erase_if(to->merges, [&](const RangeRef& merged) { return overlaps(merged, placed); });
    int split = 0;
    for (const RangeRef& merged : m_sheet->merges) {
        const RangeRef clipped{{std::max(merged.first.row, m_area.first.row),
                                std::max(merged.first.column, m_area.first.column)},
                               {std::min(merged.last.row, m_area.last.row),
                                std::min(merged.last.column, m_area.last.column)}};
        if (clipped.first.row > clipped.last.row || clipped.first.column > clipped.last.column)
            continue;
        if (clipped.rowCount() == 1 && clipped.columnCount() == 1) continue;
        std::vector<int> kept;  // the positions of the merge's rows among the placed rows
        for (int index = 0; index < rows; ++index) {
            const int row = selection.rows[static_cast<std::size_t>(index)];
            if (clipped.first.row <= row && row <= clipped.last.row) kept.push_back(index);
        }
        if (kept.empty()) continue;
        bool together = static_cast<int>(kept.size()) == clipped.rowCount();
        const int firstColumn = plan.targetColumn(clipped.first.column - m_area.first.column);
        for (int column = clipped.first.column; column <= clipped.last.column; ++column)
            together = together && firstColumn >= 0 &&
                       plan.targetColumn(column - m_area.first.column) ==
                           firstColumn + column - clipped.first.column;
        if (!together) {
            ++split;
            continue;
        }
        to->merges.push_back(
            {{at.row + kept.front(), at.column + firstColumn},
             {at.row + kept.back(), at.column + firstColumn + clipped.columnCount() - 1}});
    }
    return split;
}

void FakeRange::merge() {
    if (m_area.rowCount() == 1 && m_area.columnCount() == 1) return;
    // The new merge replaces those it overlaps.
    std::erase_if(m_sheet->merges,
                  [&](const RangeRef& merged) { return overlaps(merged, m_area); });
    m_sheet->merges.push_back(m_area);
}

void FakeRange::setNote(const std::string& text) {
    if (m_area.rowCount() != 1 || m_area.columnCount() != 1) {
        m_application.errors().set(Error(ErrorCode::OperationFailed, "note on several cells"));
        return;
    }
    if (text.empty())
        m_sheet->notes.erase({row(), column()});
    else
        m_sheet->notes[{row(), column()}] = text;
}

void FakeRange::setColumnWidth(double characters) {
    for (int column = m_area.first.column; column <= m_area.last.column; ++column) {
        m_sheet->widths[column] = characters;
        m_sheet->hiddenColumns.erase(column);  // a column given a width shows again
    }
}

// Worksheet.

void FakeWorksheet::setName(const std::string& name) {
    if (!spreadsheet::isValidSheetName(name)) {
        m_application.errors().set(Error(ErrorCode::InvalidSheetName, name));
        return;
    }
    for (const auto& other : m_book.sheets)
        if (other != m_sheet && sameSheetName(other->name, name)) {
            m_application.errors().set(Error(ErrorCode::DuplicateSheetName, name));
            return;
        }
    m_sheet->name = name;
}

void FakeWorksheet::select() {
    for (std::size_t index = 0; index < m_book.sheets.size(); ++index)
        if (m_book.sheets[index] == m_sheet) m_book.active = static_cast<int>(index);
}

int FakeWorksheet::usedColumnCount() {
    int first = 0;
    int last = 0;
    for (const auto& [key, value] : m_sheet->cells) {
        if (value.isEmpty()) continue;
        first = first == 0 ? key.second : std::min(first, key.second);
        last = std::max(last, key.second);
    }
    return first == 0 ? 1 : last - first + 1;
}

std::shared_ptr<Range> FakeWorksheet::range(const std::string& reference) {
    spreadsheet::GridLimits grid{m_sheet->maxRows, spreadsheet::XlsxMaxColumns};
    spreadsheet::Result<RangeRef> parsed = spreadsheet::parseRange(reference, grid);
    if (!m_sheet->worksheet || !parsed) {
        m_application.errors().set(Error(ErrorCode::InvalidReference, reference));
        return nullptr;
    }
    return std::make_shared<FakeRange>(m_application, m_sheet, *parsed);
}

std::shared_ptr<Range> FakeWorksheet::range(CellRef first, CellRef last) {
    RangeRef area{{std::min(first.row, last.row), std::min(first.column, last.column)},
                  {std::max(first.row, last.row), std::max(first.column, last.column)}};
    if (!inGrid(area, m_sheet->maxRows)) {
        m_application.errors().set(Error(ErrorCode::InvalidReference, "cells"));
        return nullptr;
    }
    return std::make_shared<FakeRange>(m_application, m_sheet, area);
}

int FakeWorksheet::formulaCellCount() {
    if (m_sheet->formulas.empty()) {
        m_application.errors().set(Error(ErrorCode::OperationFailed, "no formula cells"));
        return 0;
    }
    return static_cast<int>(m_sheet->formulas.size());
}

std::shared_ptr<Range> FakeWorksheet::findLast(SearchOrder order) {
    int lastRow = 0;
    int lastColumn = 0;
    for (const auto& [key, value] : m_sheet->cells) {
        if (!holdsValue(value)) continue;
        lastRow = std::max(lastRow, key.first);
        lastColumn = std::max(lastColumn, key.second);
    }
    if (lastRow == 0) return nullptr;
    return order == SearchOrder::ByRows ? cell(lastRow, 1) : cell(1, lastColumn);
}

int FakeWorksheet::fillMergedCells(const RangeRef& area) {
    int split = 0;
    std::vector<RangeRef> kept;
    for (const RangeRef& merged : m_sheet->merges) {
        if (!overlaps(merged, area)) {
            kept.push_back(merged);
            continue;
        }
        const CellValue value = m_sheet->at(merged.first.row, merged.first.column);
        auto format = m_sheet->cellFormats.find({merged.first.row, merged.first.column});
        const std::optional<FakeCellFormat> model =
            format == m_sheet->cellFormats.end() ? std::nullopt : std::optional(format->second);
        auto runs = m_sheet->runs.find({merged.first.row, merged.first.column});
        const std::vector<FakeRun> modelRuns =
            runs == m_sheet->runs.end() ? std::vector<FakeRun>{} : runs->second;
        for (int row = std::max(merged.first.row, area.first.row);
             row <= std::min(merged.last.row, area.last.row); ++row)
            for (int column = std::max(merged.first.column, area.first.column);
                 column <= std::min(merged.last.column, area.last.column); ++column) {
                if (row == merged.first.row && column == merged.first.column) continue;
                m_sheet->cells[{row, column}] = value;
                if (model)
                    m_sheet->cellFormats[{row, column}] = *model;
                else
                    m_sheet->cellFormats.erase({row, column});
                if (modelRuns.empty())
                    m_sheet->runs.erase({row, column});
                else
                    m_sheet->runs[{row, column}] = modelRuns;
            }
        ++split;
    }
    m_sheet->merges = std::move(kept);
    return split;
}

void FakeWorksheet::clearFromRow(int row) {
    std::erase_if(m_sheet->cells, [row](const auto& entry) { return entry.first.first >= row; });
    std::erase_if(m_sheet->cellFormats,
                  [row](const auto& entry) { return entry.first.first >= row; });
    std::erase_if(m_sheet->runs, [row](const auto& entry) { return entry.first.first >= row; });
    std::erase_if(m_sheet->notes, [row](const auto& entry) { return entry.first.first >= row; });
    std::erase_if(m_sheet->merges,
                  [row](const RangeRef& merged) { return merged.last.row >= row; });
    if (row <= 1) {
        m_sheet->widths.clear();
        m_sheet->hiddenColumns.clear();
    }
}

void FakeWorksheet::remove() {
    if (m_book.sheets.size() <= 1) {
        m_application.errors().set(Error(ErrorCode::OperationFailed, "last sheet"));
        return;
    }
    std::erase(m_book.sheets, m_sheet);
    m_book.active = 0;
}

// Workbook.

std::string FakeWorkbook::name() const {
    const std::size_t slash = m_path.rfind('/');
    return slash == std::string::npos ? m_path : m_path.substr(slash + 1);
}

std::shared_ptr<Worksheet> FakeWorkbook::activeSheet() {
    if (sheets.empty()) return nullptr;
    return std::make_shared<FakeWorksheet>(m_application, *this,
                                           sheets[static_cast<std::size_t>(active)]);
}

int FakeWorkbook::worksheetCount() {
    return static_cast<int>(std::count_if(sheets.begin(), sheets.end(),
                                          [](const auto& sheet) { return sheet->worksheet; }));
}

std::shared_ptr<Worksheet> FakeWorkbook::worksheet(int position) {
    int seen = 0;
    for (const auto& sheet : sheets)
        if (sheet->worksheet && ++seen == position)
            return std::make_shared<FakeWorksheet>(m_application, *this, sheet);
    m_application.errors().set(Error(ErrorCode::NoSuchSheet, std::to_string(position)));
    return nullptr;
}

std::shared_ptr<Worksheet> FakeWorkbook::worksheet(const std::string& name) {
    for (const auto& sheet : sheets)
        if (sheet->worksheet && sameSheetName(sheet->name, name))
            return std::make_shared<FakeWorksheet>(m_application, *this, sheet);
    m_application.errors().set(Error(ErrorCode::NoSuchSheet, name));
    return nullptr;
}

std::shared_ptr<Worksheet> FakeWorkbook::addWorksheet(Worksheet& anchor, Placement placement) {
    auto sheet = std::make_shared<FakeSheet>();
    sheet->maxRows = m_application.resultMaxRows;
    for (int number = 1;; ++number) {
        sheet->name = "Sheet" + std::to_string(number);
        bool taken = false;
        for (const auto& other : sheets) taken = taken || sameSheetName(other->name, sheet->name);
        if (!taken) break;
    }
    auto found =
        std::find(sheets.begin(), sheets.end(), static_cast<FakeWorksheet&>(anchor).sheet());
    if (placement == Placement::After && found != sheets.end()) ++found;
    found = sheets.insert(found, sheet);
    active = static_cast<int>(found - sheets.begin());
    return std::make_shared<FakeWorksheet>(m_application, *this, sheet);
}

void FakeWorkbook::setFreezePanes(bool frozen) {
    if (sheets.empty()) return;
    FakeSheet& sheet = *sheets[static_cast<std::size_t>(active)];
    if (frozen)
        sheet.frozenAt = sheet.activeCell;
    else
        sheet.frozenAt.reset();
}

void FakeWorkbook::saveAs(const std::string& path, SaveFormat saveFormat) {
    if (saveFormat == SaveFormat::Xlsx && !m_application.canWriteXlsx) {
        m_application.errors().set(Error(ErrorCode::FormatNotAvailable, ".xlsx"));
        return;
    }
    if (m_application.unwritablePaths.count(path)) {
        m_application.errors().set(Error(ErrorCode::WriteFailed, path));
        return;
    }
    if (m_application.written.count(path) || m_application.files.count(path)) {
        m_application.errors().set(Error(ErrorCode::TargetExists, path));
        return;
    }
    m_path = path;
    format = saveFormat;
    if (saveFormat == SaveFormat::Xls)
        for (auto& sheet : sheets) sheet->maxRows = spreadsheet::XlsMaxRows;
    m_application.written[path] = saveFormat;
    ++saves;
}

void FakeWorkbook::save() {
    if (!m_application.saveFailsWith.empty()) {
        m_application.errors().set(Error(ErrorCode::WriteFailed, m_application.saveFailsWith));
        return;
    }
    ++saves;
}

void FakeWorkbook::close() {
    closed = true;
    m_application.calls.push_back("close " + name());
}

// Application.

std::shared_ptr<Workbook> FakeApplication::openWorkbook(const std::string& path) {
    calls.push_back("open " + path);
    auto file = files.find(path);
    if (file == files.end()) {
        m_errors.set(Error(ErrorCode::FileNotFound, path));
        return nullptr;
    }
    const std::optional<std::string>& password = file->second.password;
    if (password &&
        std::find(m_passwords.begin(), m_passwords.end(), *password) == m_passwords.end()) {
        m_errors.set(Error(ErrorCode::EncryptedWorkbook, m_passwords.empty() ? "none" : "wrong"));
        return nullptr;
    }
    auto book = std::make_shared<FakeWorkbook>(*this, path);
    for (const FakeSheet& sheet : file->second.sheets)
        book->sheets.push_back(std::make_shared<FakeSheet>(sheet));
    book->active = file->second.activeSheet;
    book->copyFails = file->second.copyFails;
    books.push_back(book);
    return book;
}

void FakeApplication::setSheetsInNewWorkbook(int count) {
    if (count < 1 || count > 255) {
        m_errors.set(Error(ErrorCode::OperationFailed, "SheetsInNewWorkbook"));
        return;
    }
    m_sheetsInNewWorkbook = count;
}

std::shared_ptr<Workbook> FakeApplication::addWorkbook() {
    calls.push_back("add workbook");
    maxSheetsAllowed = m_sheetsInNewWorkbook;
    auto book = std::make_shared<FakeWorkbook>(*this, "Book1");
    for (int index = 1; index <= m_sheetsInNewWorkbook; ++index) {
        auto sheet = std::make_shared<FakeSheet>();
        sheet->name = "Sheet" + std::to_string(index);
        sheet->maxRows = resultMaxRows;
        book->sheets.push_back(sheet);
    }
    books.push_back(book);
    result = book;
    return book;
}

}  // namespace merge::testing
