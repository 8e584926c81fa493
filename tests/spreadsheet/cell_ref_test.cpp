#include "spreadsheet/cell_ref.h"

#include <gtest/gtest.h>

namespace spreadsheet {
namespace {

TEST(CellRef, ParsesAbsoluteRelativeAndLowerCaseReferences) {
    struct Case {
        const char* input;
        RangeRef expected;
    };
    const Case cases[] = {
        {"B2", {{2, 2}, {2, 2}}},
        {"$B$2", {{2, 2}, {2, 2}}},
        {"b2", {{2, 2}, {2, 2}}},
        {"$b2", {{2, 2}, {2, 2}}},
        {"B$2", {{2, 2}, {2, 2}}},
        {"A1", {{1, 1}, {1, 1}}},
        {"B2:G5", {{2, 2}, {5, 7}}},
        {"$B$2:$G$5", {{2, 2}, {5, 7}}},
        {"g5:b2", {{2, 2}, {5, 7}}},
        {"G2:B5", {{2, 2}, {5, 7}}},
        {"AA10", {{10, 27}, {10, 27}}},
        {"XFD1048576", {{1'048'576, 16'384}, {1'048'576, 16'384}}},
        {"A1:XFD1048576", {{1, 1}, {1'048'576, 16'384}}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.input);
        Result<RangeRef> range = parseRange(row.input);
        ASSERT_TRUE(range);
        EXPECT_EQ(*range, row.expected);
    }
}

TEST(CellRef, RejectsTextThatIsNoReference) {
    const char* cases[] = {"",     "B",    "2",         "2B",    "B2:", ":B2",  "B2:C3:D4",
                           "B 2",  " B2",  "B2 ",       "B-2",   "B0",  "A1.5", "$$B2",
                           "B$$2", "R1C1", "Sheet1!A1", "B2,C3", "Ａ1", "B2$"};
    for (const char* input : cases) {
        SCOPED_TRACE(input);
        Result<RangeRef> range = parseRange(input);
        ASSERT_FALSE(range);
        EXPECT_EQ(range.error().code, ErrorCode::InvalidReference);
    }
}

TEST(CellRef, RejectsCellsOutsideTheBooksGrid) {
    struct Case {
        const char* input;
        GridLimits grid;
        bool valid;
    };
    const Case cases[] = {
        {"XFD1048576", XlsxGrid, true},
        {"XFE1", XlsxGrid, false},
        {"A1048577", XlsxGrid, false},
        {"IV65536", XlsGrid, true},
        {"IW1", XlsGrid, false},
        {"A65537", XlsGrid, false},
        {"A1:IW1", XlsGrid, false},
        {"A99999999999999", XlsxGrid, false},
        {"ZZZZZZZZZZZZ1", XlsxGrid, false},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.input);
        Result<RangeRef> range = parseRange(row.input, row.grid);
        EXPECT_EQ(static_cast<bool>(range), row.valid);
        if (!range) {
            EXPECT_EQ(range.error().code, ErrorCode::InvalidReference);
        }
    }
}

TEST(CellRef, ConvertsColumnLettersAtEveryCarry) {
    struct Case {
        int column;
        const char* letters;
    };
    const Case cases[] = {{1, "A"},    {26, "Z"},   {27, "AA"},   {52, "AZ"},     {53, "BA"},
                          {256, "IV"}, {702, "ZZ"}, {703, "AAA"}, {16'384, "XFD"}};
    for (const Case& row : cases) {
        SCOPED_TRACE(row.letters);
        EXPECT_EQ(columnLetters(row.column), row.letters);
        CellRef cell;
        ASSERT_TRUE(parseCellRefLoose(std::string(row.letters) + "7", cell));
        EXPECT_EQ(cell, (CellRef{7, row.column}));
    }
}

TEST(CellRef, LooseParseTakesNoDollarsAndNoRanges) {
    CellRef cell;
    EXPECT_TRUE(parseCellRefLoose("c12", cell));
    EXPECT_EQ(cell, (CellRef{12, 3}));
    EXPECT_FALSE(parseCellRefLoose("$C$12", cell));
    EXPECT_FALSE(parseCellRefLoose("C12:D13", cell));
    EXPECT_FALSE(parseCellRefLoose("12", cell));
    EXPECT_FALSE(parseCellRefLoose("XFE1", cell));
    EXPECT_FALSE(parseCellRefLoose("A1048577", cell));
}

// A worksheet's cell references: the reader tells a cell past the grid (its own error) from
// text that is no reference at all, whatever the length of the letters or digits.
TEST(CellRef, ScanTellsCellsPastTheGridFromMalformedText) {
    struct Case {
        const char* text;
        CellRefScan result;
        CellRef cell;
    };
    const Case cases[] = {
        {"A1", CellRefScan::Cell, {1, 1}},
        {"$xfd$1048576", CellRefScan::Cell, {1'048'576, 16'384}},
        {"A0001", CellRefScan::Cell, {1, 1}},
        {"XFE1", CellRefScan::OutsideGrid, {}},
        {"A1048577", CellRefScan::OutsideGrid, {}},
        {"A0", CellRefScan::OutsideGrid, {}},
        {"ZZZZZZZZZZZZ99999999999999999999", CellRefScan::OutsideGrid, {}},
        {"", CellRefScan::Malformed, {}},
        {"A", CellRefScan::Malformed, {}},
        {"12", CellRefScan::Malformed, {}},
        {"A1 ", CellRefScan::Malformed, {}},
        {"A-1", CellRefScan::Malformed, {}},
        {"A$$1", CellRefScan::Malformed, {}},
        {"\xC3\x81"
         "1",
         CellRefScan::Malformed,
         {}},
        {"[1", CellRefScan::Malformed, {}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.text);
        CellRef cell;
        EXPECT_EQ(scanCellRef(row.text, DollarSigns::Allowed, cell), row.result);
        if (row.result == CellRefScan::Cell) {
            EXPECT_EQ(cell, row.cell);
        }
    }
    CellRef cell;
    EXPECT_EQ(scanCellRef("$A$1", DollarSigns::Refused, cell), CellRefScan::Malformed);
}

TEST(CellRef, FormatsCellsAndRanges) {
    EXPECT_EQ(formatCell({1'048'576, 16'384}), "XFD1048576");
    EXPECT_EQ(formatRange({{2, 2}, {5, 7}}), "B2:G5");
    EXPECT_EQ(formatRange({{3, 28}, {3, 28}}), "AB3");
}

}  // namespace
}  // namespace spreadsheet
