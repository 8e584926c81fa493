// Unicode's simple case folding, the rule behind "the same sheet name": a sorted table of runs
// generated from CaseFolding.txt by tools/make_case_folding.py, and its look-up.
//   simpleCaseFold(U'Σ') == U'σ'; simpleCaseFold(U'ς') == U'σ'; simpleCaseFold(U'表') == U'表'
#pragma once

#include <cstdint>
#include <span>

namespace spreadsheet::detail {

// Code points first, first + step, ... (count of them) fold to themselves plus delta.
struct CaseFoldRun {
    std::uint32_t first;
    std::uint16_t count;
    std::uint16_t step;
    std::int32_t delta;
};

// Ascending by first; runs do not overlap (case_folding_table.cpp, generated).
extern const std::span<const CaseFoldRun> CaseFoldRuns;

// The simple case folding of a code point; the code point itself when it has none.
char32_t simpleCaseFold(char32_t codePoint);

}  // namespace spreadsheet::detail
