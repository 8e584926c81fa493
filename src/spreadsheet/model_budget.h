// Bounds the memory one source's cell model may take while a reader fills it. A small file can
// expand into tens of millions of cells, or repeat one long shared string in every cell; such a
// source fails with SheetLimit once its cells pass the bound instead of exhausting the machine.
//   ModelBudget budget;
//   if (!budget.addCell(cell)) return budget.error();
#pragma once

#include <cstdint>
#include <string>

#include "spreadsheet/error.h"
#include "spreadsheet/reader_limits.h"
#include "spreadsheet/workbook_data.h"

namespace spreadsheet {

class ModelBudget {
public:
    // MaxModelBytes (reader_limits.h) unless a test asks for less.
    explicit ModelBudget(std::uint64_t limit = MaxModelBytes) : m_limit(limit) {}

    // Counts a cell about to be stored, its text included; false once the source is over the
    // bound (and from then on).
    [[nodiscard]] bool addCell(const Cell& cell) {
        return addBytes(sizeof(Cell) + heapBytes(cell.text));
    }
    // Counts the runs of a rich cell, kept in its row beside the cells.
    [[nodiscard]] bool addRuns(const TextRuns& runs) {
        return addBytes(RunEntryBytes + runs.size() * sizeof(TextRun));
    }
    // Counts a text kept outside the cells (a formula, a shared string table).
    [[nodiscard]] bool addText(const std::string& text) {
        return addBytes(sizeof(std::string) + heapBytes(text));
    }
    [[nodiscard]] bool addBytes(std::uint64_t bytes) {
        m_used += bytes;
        return m_used <= m_limit;
    }
    std::uint64_t used() const { return m_used; }

    // The limit error for the source, naming the bound.
    Error error() const {
        return Error(ErrorCode::SheetLimit, "cells need more than " +
                                                std::to_string(m_limit >> 20) +
                                                " MiB of memory (memory per source limit)");
    }

    // What a rich cell's entry in its row costs besides its runs.
    static constexpr std::uint64_t RunEntryBytes = sizeof(RowRuns::Entry) + 16;

private:
    // Bytes a string holds beyond its own object; short texts live inside it.
    static std::uint64_t heapBytes(const std::string& text) {
        return text.size() < sizeof(std::string) / 2 ? 0 : text.size() + 1;
    }

    std::uint64_t m_limit;
    std::uint64_t m_used = 0;
};

}  // namespace spreadsheet
