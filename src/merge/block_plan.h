// A block plan: which rows of a source block go into the result and where each of its columns
// lands. The run makes the plan (row rules from the options, the column map from the header
// names), the application applies it in two calls: Range::selectRows() judges every row once,
// Range::copyRows() copies the chosen rows with their formats. The row decisions themselves are
// made here, by selectRows() below, so every application decides alike.
//   RowSelection chosen = block->selectRows(plan, run.digests);  // digests of kept rows added
//   block->copyRows(*target, chosen, plan);
//   if (failed) run.digests.erase(chosen.digests);
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace merge {

// A fixed-size fingerprint of one data row's displayed values in the result's columns.
struct RowDigest {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    friend bool operator==(const RowDigest&, const RowDigest&) = default;
};

// The digests of every data row placed so far: 16 bytes a row in an open-addressed table, so a
// run of millions of rows keeps no row itself.
class RowDigestSet {
public:
    bool contains(const RowDigest& digest) const;
    // Adds `digest`; false when it was there already.
    bool insert(const RowDigest& digest);
    // Takes `digests` out again (the rows of a block that was not placed); rebuilds the table.
    void erase(const std::vector<RowDigest>& digests);
    std::size_t size() const { return m_count; }

private:
    std::size_t slotOf(const RowDigest& digest) const;
    void grow();

    std::vector<RowDigest> m_slots;  // {0, 0} marks a free slot; a real {0, 0} is kept apart
    std::size_t m_count = 0;
    bool m_hasZero = false;
};

// How the rows of one block are chosen. Offsets are 0-based within the block's columns.
struct BlockPlan {
    // For each column of the block, the 0-based column of the result's data it goes to, or -1
    // when it is left out. Empty: every column stays where it is.
    std::vector<int> columnMap;
    bool skipBlankRows = false;
    std::string stopAt;  // "" = no stop row
    int skipLast = 0;
    bool dedupe = false;
    // Rows equal to these normalised header texts (one per block column; "" for an empty
    // header cell) are header repeats; empty = no header-repeat rule.
    std::vector<std::string> headerKeys;
    // The block's first row is the header itself and always kept.
    bool firstRowIsHeader = false;

    int targetColumn(int offset) const {
        if (columnMap.empty()) return offset;
        return offset < static_cast<int>(columnMap.size()) ? columnMap[offset] : -1;
    }
};

// The rows a plan keeps, and how many rows each rule left out. Every row of the block is
// counted once: kept + stopped + skippedLast + blank + headerRepeats + duplicates = the
// block's rows.
struct RowSelection {
    std::vector<int> rows;  // source row numbers kept, ascending (empty rows included when kept)
    int stopped = 0;        // the stop row and every row below it
    int skippedLast = 0;
    int blank = 0;
    int headerRepeats = 0;
    int duplicates = 0;
    // The digests of the kept data rows, added to the run's set by the selection; taken out
    // again when the block is not placed.
    std::vector<RowDigest> digests;
};

// One non-empty cell of a row as the decisions see it: its 0-based offset in the block and
// its value as displayed.
struct RowCell {
    int offset = 0;
    std::string_view text;
};

// Which displayed texts a walk must give: every cell's, or only those up to the row's first
// cell that is not blank (the others may stand as any text that is not blank).
enum class RowTexts { All, UpToFirstValue };

// Calls `visit(rowNumber, cells)` for the rows of first..last that hold a non-empty cell,
// ascending, each row's cells ascending by offset, until a visit returns false. The views live
// until the call returns.
using RowVisit = std::function<bool(int, std::span<const RowCell>)>;
using RowWalk = std::function<void(int first, int last, RowTexts texts, const RowVisit& visit)>;

// The rows of first..last that `plan` keeps, judged in the documented order against the rows
// already in the result (`seen`), to which the digests of the kept data rows are added.
RowSelection selectRows(const BlockPlan& plan, RowDigestSet& seen, int first, int last,
                        const RowWalk& walk);

// A header or cell text in the form names are compared in: full-width characters as their
// half-width forms, blanks trimmed at both ends and runs of inner blanks as one space, Latin
// letters in lower case. "  单价（元） " and "单价(元)" give the same text.
std::string normalizeHeader(std::string_view text);

// `text` without blanks (ASCII white space, the ideographic and the no-break space) at both
// ends.
std::string_view trimBlanks(std::string_view text);

}  // namespace merge
