// The helper that runs the structural check for the C++ tests: it passes what the writer writes
// and fails, with the checker's lines, on what is no sound package, so that a check that cannot
// run or reports nothing is noticed.
#include "../support/package_check.h"

#include <gtest/gtest.h>

#include "../cell_builders.h"
#include "spreadsheet/xlsx_writer.h"

namespace spreadsheet {
namespace {

TEST(PackageCheck, PassesTheWritersPackageAndReportsABrokenOne) {
    StyleRegistry styles;
    std::vector<Row> rows(1);
    rows[0].number = 1;
    rows[0].cells = {testing::textCell(1, "结果"), testing::numberCell(2, 1.5)};
    SheetToWrite sheet;
    sheet.name = "S";
    sheet.rows = &rows;
    Result<std::vector<std::uint8_t>> bytes = writeXlsxToMemory({&sheet, 1}, 0, styles);
    ASSERT_TRUE(bytes);
    EXPECT_TRUE(testing::soundPackage(*bytes));

    std::vector<std::uint8_t> truncated(bytes->begin(), bytes->begin() + 100);
    const ::testing::AssertionResult broken = testing::soundPackage(truncated);
    EXPECT_FALSE(broken);
    EXPECT_NE(std::string(broken.message()).find("zip: cannot be opened"), std::string::npos)
        << broken.message();
}

}  // namespace
}  // namespace spreadsheet
