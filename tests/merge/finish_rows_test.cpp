// A result sheet told that its rows are final moves them out of memory: the held top rows stay
// readable, the others can no longer be read, changed or cleared, rows below can still be
// placed, and the saved file holds every row.
#include "merge/engine_application.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <functional>
#include <string>

#include "../support/package_check.h"
#include "spreadsheet/workbook_reader.h"

namespace merge {
namespace {

namespace fs = std::filesystem;

TEST(FinishRows, FinalRowsLeaveMemoryAndStillReachTheFile) {
    const fs::path folder =
        fs::temp_directory_path() / ("finish_rows_" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::unique_ptr<Application> application = makeEngineApplication();
    ErrorState& errors = application->errors();
    std::shared_ptr<Workbook> book = application->addWorkbook();
    const std::string path = (folder / "result.xlsx").string();
    book->saveAs(path, SaveFormat::Xlsx);
    std::shared_ptr<Worksheet> sheet = book->activeSheet();
    sheet->range("A1:A3")->setValues(
        {{CellValue::ofText("head")}, {CellValue::ofText("d1")}, {CellValue::ofText("d2")}});
    sheet->holdTopRows(1);
    sheet->finishRows();
    ASSERT_FALSE(errors.isSet()) << errors.message();

    EXPECT_EQ(sheet->range("A1")->value().text, "head");
    EXPECT_FALSE(errors.isSet());
    struct Refused {
        const char* name;
        std::function<void()> action;
    };
    const Refused refused[] = {
        {"reading a finished row", [&] { (void)sheet->range("A3")->value(); }},
        {"writing a finished row",
         [&] { sheet->range("B2")->setValue(CellValue::ofText("late")); }},
        {"clearing finished rows", [&] { sheet->clearFromRow(2); }},
    };
    for (const Refused& row : refused) {
        SCOPED_TRACE(row.name);
        row.action();
        EXPECT_TRUE(errors.isSet());
        errors.clear();
    }
    sheet->cell(4, 1)->setValue(CellValue::ofText("d3"));
    EXPECT_FALSE(errors.isSet()) << errors.message();
    book->save();
    ASSERT_FALSE(errors.isSet()) << errors.message();
    EXPECT_TRUE(spreadsheet::testing::soundPackage(path));

    spreadsheet::Result<spreadsheet::WorkbookData> saved = spreadsheet::openWorkbookFile(path);
    ASSERT_TRUE(saved) << spreadsheet::errorText(saved.error());
    const char* expected[] = {"head", "d1", "d2", "d3"};
    for (int row = 1; row <= 4; ++row) {
        SCOPED_TRACE(row);
        const spreadsheet::Cell* cell = saved->sheets.at(0).cell(row, 1);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->text, expected[row - 1]);
    }
    book->close();
    fs::remove_all(folder);
}

}  // namespace
}  // namespace merge
