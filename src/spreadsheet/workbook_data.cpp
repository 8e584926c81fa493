#include "spreadsheet/workbook_data.h"

#include <algorithm>

namespace spreadsheet {

const Row* Sheet::row(int number) const {
    auto found = std::lower_bound(rows.begin(), rows.end(), number,
                                  [](const Row& row, int wanted) { return row.number < wanted; });
    if (found == rows.end() || found->number != number) return nullptr;
    return &*found;
}

const Cell* Sheet::cell(int rowNumber, int column) const {
    const Row* found = row(rowNumber);
    if (found == nullptr) return nullptr;
    auto cell = std::lower_bound(found->cells.begin(), found->cells.end(), column,
                                 [](const Cell& cell, int wanted) { return cell.column < wanted; });
    if (cell == found->cells.end() || cell->column != column) return nullptr;
    return &*cell;
}

Cell* Sheet::cell(int rowNumber, int column) {
    return const_cast<Cell*>(static_cast<const Sheet*>(this)->cell(rowNumber, column));
}

void normaliseRuns(TextRuns& runs, std::string_view text) {
    TextRuns kept;
    const auto size = static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), 0xFFFF'FFFEu));
    for (TextRun run : runs) {
        run.start = std::min(run.start, size);
        // A start inside a character moves to the character's end.
        while (run.start < size && (static_cast<unsigned char>(text[run.start]) & 0xC0) == 0x80)
            ++run.start;
        if (run.start >= size) continue;
        if (!kept.empty() && run.start <= kept.back().start) {
            // The run before is empty: this one takes its place. Starts that go back are broken
            // and left out.
            if (run.start == kept.back().start) kept.back().font = run.font;
            continue;
        }
        kept.push_back(run);
    }
    if (!kept.empty() && kept.front().start > 0) kept.insert(kept.begin(), TextRun{0, CellFont});
    runs.clear();
    for (const TextRun& run : kept)
        if (runs.empty() || runs.back().font != run.font) runs.push_back(run);
    if (runs.size() < 2) runs.clear();
}

RowRuns::RowRuns(const RowRuns& other)
    : m_entries(other.empty() ? nullptr : std::make_unique<std::vector<Entry>>(*other.m_entries)) {}

RowRuns& RowRuns::operator=(const RowRuns& other) {
    if (this != &other)
        m_entries =
            other.empty() ? nullptr : std::make_unique<std::vector<Entry>>(*other.m_entries);
    return *this;
}

const TextRuns* RowRuns::find(int column) const {
    if (empty()) return nullptr;
    auto found =
        std::lower_bound(m_entries->begin(), m_entries->end(), column,
                         [](const Entry& entry, int wanted) { return entry.column < wanted; });
    return found != m_entries->end() && found->column == column ? &found->runs : nullptr;
}

void RowRuns::set(int column, TextRuns runs) {
    if (!m_entries) m_entries = std::make_unique<std::vector<Entry>>();
    // Readers and copies go left to right: a new column usually comes last.
    if (m_entries->empty() || m_entries->back().column < column) {
        m_entries->push_back({column, std::move(runs)});
        return;
    }
    auto found =
        std::lower_bound(m_entries->begin(), m_entries->end(), column,
                         [](const Entry& entry, int wanted) { return entry.column < wanted; });
    if (found != m_entries->end() && found->column == column)
        found->runs = std::move(runs);
    else
        m_entries->insert(found, {column, std::move(runs)});
}

void RowRuns::erase(int column) {
    eraseColumns(column, column);
}

void RowRuns::eraseColumns(int first, int last) {
    if (empty()) return;
    std::erase_if(*m_entries, [&](const Entry& entry) {
        return first <= entry.column && entry.column <= last;
    });
    if (m_entries->empty()) m_entries.reset();
}

std::span<const RowRuns::Entry> RowRuns::entries() const {
    if (empty()) return {};
    return *m_entries;
}

}  // namespace spreadsheet
