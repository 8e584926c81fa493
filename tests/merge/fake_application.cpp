// The in-memory spreadsheet application of the merge tests.
#include "fake_application.h"

#include <algorithm>
#include <cctype>

namespace merge::testing {

namespace {

std::string lower(std::string text) {
    for (char& character : text)
        character = static_cast<char>(std::tolower(static_cast<unsigned char>(character)));
    return text;
}

bool overlaps(const RangeRef& a, const RangeRef& b) {
    return a.first.row <= b.last.row && b.first.row <= a.last.row &&
           a.first.column <= b.last.column && b.first.column <= a.last.column;
}

// 1 to 31 characters, none of []:*?/\ (the rule Excel applies to sheet names).
bool acceptableName(const std::string& name) {
    std::size_t characters = 0;
    for (unsigned char byte : name)
        if ((byte & 0xC0) != 0x80) ++characters;
    return characters >= 1 && characters <= 31 &&
           name.find_first_of("[]:*?/\\") == std::string::npos;
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
        for (int column = m_area.first.column; column <= m_area.last.column; ++column)
            m_sheet->cells[{row, column}] = value;
}

void FakeRange::setValues(const ValueBlock& values) {
    for (std::size_t r = 0; r < values.size(); ++r)
        for (std::size_t c = 0; c < values[r].size(); ++c)
            m_sheet->cells[{row() + static_cast<int>(r), column() + static_cast<int>(c)}] =
                values[r][c];
}

std::shared_ptr<Range> FakeRange::offset(int rows, int columns) {
    RangeRef moved{{row() + rows, column() + columns},
                   {m_area.last.row + rows, m_area.last.column + columns}};
    if (moved.first.row < 1 || moved.first.column < 1 || moved.last.row > m_sheet->maxRows) {
        m_application.errors().set(Error(ErrorCode::InvalidReference, "offset"));
        return nullptr;
    }
    return std::make_shared<FakeRange>(m_application, m_sheet, moved);
}

std::shared_ptr<Range> FakeRange::resize(int rows, int columns) {
    if (rows < 1 || columns < 1 || row() + rows - 1 > m_sheet->maxRows) {
        m_application.errors().set(Error(ErrorCode::InvalidReference, "resize"));
        return nullptr;
    }
    return std::make_shared<FakeRange>(
        m_application, m_sheet, RangeRef{m_area.first, {row() + rows - 1, column() + columns - 1}});
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

static void pasteCells(FakeApplication& application, const FakeRange& from,
                       const std::shared_ptr<FakeSheet>& to, CellRef at, bool values) {
    const RangeRef area = from.area();
    if (at.row + area.rowCount() - 1 > to->maxRows) {
        application.errors().set(Error(ErrorCode::InvalidReference, "paste beyond the last row"));
        return;
    }
    if (values) {
        for (int row = area.first.row; row <= area.last.row; ++row)
            for (int column = area.first.column; column <= area.last.column; ++column) {
                const CellValue value = from.sheet()->at(row, column);
                if (!value.isEmpty())
                    to->cells[{at.row + row - area.first.row,
                               at.column + column - area.first.column}] = value;
            }
        for (const RangeRef& merged : from.sheet()->merges)
            if (area.contains(merged.first) && area.contains(merged.last))
                to->merges.push_back({{at.row + merged.first.row - area.first.row,
                                       at.column + merged.first.column - area.first.column},
                                      {at.row + merged.last.row - area.first.row,
                                       at.column + merged.last.column - area.first.column}});
    } else {
        for (int column = area.first.column; column <= area.last.column; ++column) {
            auto width = from.sheet()->widths.find(column);
            if (width != from.sheet()->widths.end())
                to->widths[at.column + column - area.first.column] = width->second;
        }
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
    pasteCells(m_application, *this, target.sheet(), target.area().first, true);
}

void FakeRange::pasteSpecial(PasteKind kind) {
    if (!m_application.clipboard) {
        m_application.errors().set(Error(ErrorCode::OperationFailed, "clipboard empty"));
        return;
    }
    pasteCells(m_application, *m_application.clipboard, m_sheet, m_area.first,
               kind == PasteKind::All);
}

void FakeRange::merge() {
    if (m_area.rowCount() == 1 && m_area.columnCount() == 1) return;
    for (const RangeRef& merged : m_sheet->merges)
        if (overlaps(merged, m_area)) {
            m_application.errors().set(Error(ErrorCode::OperationFailed, "overlapping merge"));
            return;
        }
    m_sheet->merges.push_back(m_area);
}

void FakeRange::setColumnWidth(double characters) {
    for (int column = m_area.first.column; column <= m_area.last.column; ++column)
        m_sheet->widths[column] = characters;
}

// Worksheet.

void FakeWorksheet::setName(const std::string& name) {
    bool taken = false;
    for (const auto& other : m_book.sheets)
        if (other != m_sheet && lower(other->name) == lower(name)) taken = true;
    if (!acceptableName(name) || taken) {
        m_application.errors().set(Error(ErrorCode::InvalidSheetName, name));
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
    if (area.first.row < 1 || area.first.column < 1 || area.last.row > m_sheet->maxRows) {
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
        if (value.isEmpty()) continue;
        lastRow = std::max(lastRow, key.first);
        lastColumn = std::max(lastColumn, key.second);
    }
    if (lastRow == 0) return nullptr;
    return order == SearchOrder::ByRows ? cell(lastRow, 1) : cell(1, lastColumn);
}

void FakeWorksheet::clearFromRow(int row) {
    std::erase_if(m_sheet->cells, [row](const auto& entry) { return entry.first.first >= row; });
    std::erase_if(m_sheet->merges,
                  [row](const RangeRef& merged) { return merged.last.row >= row; });
    if (row <= 1) m_sheet->widths.clear();
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
        if (sheet->worksheet && lower(sheet->name) == lower(name))
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
        for (const auto& other : sheets) taken = taken || lower(other->name) == lower(sheet->name);
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
