// Test support for the decryption tests: fixture paths and a comparison of a decrypted
// workbook with its unencrypted original that names the first difference.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "spreadsheet/cell_ref.h"
#include "spreadsheet/workbook_data.h"

namespace spreadsheet::testing {

inline std::filesystem::path cryptoFixture(const std::string& name) {
    return std::filesystem::path(SHEETMERGE_TEST_DATA) / "crypto" / name;
}

// Sheets, cells (values and resolved formats), merges and widths must agree; the first cell
// that differs is reported as A1 text.
inline ::testing::AssertionResult sameWorkbook(const WorkbookData& actual,
                                               const WorkbookData& expected) {
    if (actual.sheets.size() != expected.sheets.size())
        return ::testing::AssertionFailure()
               << actual.sheets.size() << " sheets, expected " << expected.sheets.size();
    for (std::size_t index = 0; index < expected.sheets.size(); ++index) {
        const Sheet& got = actual.sheets[index];
        const Sheet& want = expected.sheets[index];
        if (got.name != want.name)
            return ::testing::AssertionFailure()
                   << "sheet " << got.name << ", expected " << want.name;
        if (got.rows.size() != want.rows.size())
            return ::testing::AssertionFailure()
                   << got.name << ": " << got.rows.size() << " rows, expected " << want.rows.size();
        for (std::size_t r = 0; r < want.rows.size(); ++r) {
            const Row& gotRow = got.rows[r];
            const Row& wantRow = want.rows[r];
            if (gotRow.number != wantRow.number || gotRow.cells.size() != wantRow.cells.size())
                return ::testing::AssertionFailure()
                       << got.name << " row " << wantRow.number << " differs in its cells";
            for (std::size_t c = 0; c < wantRow.cells.size(); ++c) {
                const Cell& a = gotRow.cells[c];
                const Cell& b = wantRow.cells[c];
                const bool sameStyle = a.style < actual.styles.size() &&
                                       b.style < expected.styles.size() &&
                                       actual.styles[a.style] == expected.styles[b.style];
                if (a.column != b.column || a.type != b.type || a.number != b.number ||
                    a.text != b.text || !sameStyle)
                    return ::testing::AssertionFailure()
                           << got.name << "!" << formatCell({wantRow.number, b.column})
                           << " differs: '" << a.text << "' " << a.number << " vs '" << b.text
                           << "' " << b.number;
            }
        }
        if (got.merges != want.merges || got.columns.size() != want.columns.size())
            return ::testing::AssertionFailure() << got.name << ": merges or columns differ";
    }
    return ::testing::AssertionSuccess();
}

}  // namespace spreadsheet::testing
