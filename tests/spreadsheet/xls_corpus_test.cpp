// The .xls files of the shared corpus, checked against the independent reader's observations
// in the corpus's expected.json (numbers copied from there by hand, not from our reader).
#include "spreadsheet/xls_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace spreadsheet {
namespace {

std::optional<std::vector<std::uint8_t>> corpusFile(const std::string& name) {
    std::ifstream in(std::filesystem::path(SHEETMERGE_CORPUS) / name, std::ios::binary);
    if (!in) return std::nullopt;
    return std::vector<std::uint8_t>{std::istreambuf_iterator<char>(in), {}};
}

struct SheetExpectation {
    std::string name;
    Visibility visibility;
    int lastRow;     // value_max_row
    int lastColumn;  // value_max_col
    int nonEmpty;    // nonempty_cells
};

struct FileExpectation {
    std::string file;
    std::string singleSheetName;  // for raw BIFF4 files, which carry no sheet name
    std::vector<SheetExpectation> sheets;
};

bool holdsValue(const Cell& cell) {
    return cell.type != CellType::Empty && !(cell.type == CellType::Text && cell.text.empty());
}

TEST(XlsCorpus, ReadsAsTheIndependentReaderDid) {
    const std::vector<FileExpectation> files = {
        {"sheetjs__1904.xls", "", {{"Sheet1", Visibility::Visible, 5, 4, 20}}},
        {"poi__TwoSheetsOneHidden.xls",
         "",
         {{"Sheet1", Visibility::Hidden, 1, 1, 1}, {"Sheet2", Visibility::Visible, 1, 1, 1}}},
        {"calamine__sst_continue.xls", "", {{"Sheet1", Visibility::Visible, 136, 1, 136}}},
        {"poi__DBCSSheetName.xls",
         "",
         {{"जा", Visibility::Visible, 0, 0, 0},
          {"एक", Visibility::Visible, 0, 0, 0},
          {"Sheet3", Visibility::Visible, 0, 0, 0}}},
        {"poi__testEXCEL_95.xls",
         "",
         {{"Feuil1", Visibility::Visible, 22, 5, 46},
          {"Feuil2", Visibility::Visible, 0, 0, 0},
          {"Feuil3", Visibility::Visible, 0, 0, 0}}},
        {"poi__testEXCEL_4.xls",
         "poi__testEXCEL_4",
         {{"poi__testEXCEL_4", Visibility::Visible, 163, 12, 980}}},
        {"xlrd__ragged.xls",
         "",
         {{"Sheet1", Visibility::Visible, 5, 4, 12},
          {"Sheet2", Visibility::Visible, 0, 0, 0},
          {"Sheet3", Visibility::Visible, 0, 0, 0}}},
    };
    for (const FileExpectation& expected : files) {
        SCOPED_TRACE(expected.file);
        std::optional<std::vector<std::uint8_t>> bytes = corpusFile(expected.file);
        if (!bytes) GTEST_SKIP() << "corpus not available at " << SHEETMERGE_CORPUS;
        Result<WorkbookData> data = readXls(*bytes, expected.singleSheetName);
        ASSERT_TRUE(data) << data.error().detail;
        ASSERT_EQ(data->sheets.size(), expected.sheets.size());
        for (std::size_t i = 0; i < expected.sheets.size(); ++i) {
            const SheetExpectation& sheetExpected = expected.sheets[i];
            const Sheet& sheet = data->sheets[i];
            SCOPED_TRACE(sheetExpected.name);
            EXPECT_EQ(sheet.name, sheetExpected.name);
            EXPECT_EQ(sheet.kind, SheetKind::Worksheet);
            EXPECT_EQ(sheet.visibility, sheetExpected.visibility);
            int lastRow = 0, lastColumn = 0, nonEmpty = 0;
            for (const Row& row : sheet.rows) {
                for (const Cell& cell : row.cells) {
                    if (!holdsValue(cell)) continue;
                    ++nonEmpty;
                    lastRow = std::max(lastRow, row.number);
                    lastColumn = std::max(lastColumn, cell.column);
                }
            }
            EXPECT_EQ(lastRow, sheetExpected.lastRow);
            EXPECT_EQ(lastColumn, sheetExpected.lastColumn);
            EXPECT_EQ(nonEmpty, sheetExpected.nonEmpty);
        }
    }
}

TEST(XlsCorpus, ReadsSampleValues) {
    struct Sample {
        const char* file;
        int row, column;
        const char* textPrefix;  // nullptr for a number
        double number;
    };
    const Sample samples[] = {
        {"calamine__sst_continue.xls", 1, 1,
         "This is a long string with a serial number at the end 0001", 0},
        {"calamine__sst_continue.xls", 5, 1,
         "This is a long string with a serial number at the end 0005", 0},
        {"poi__testEXCEL_95.xls", 1, 1, "Sample Excel Worksheet - Numbers and their Squares", 0},
        {"poi__testEXCEL_95.xls", 4, 2, "Number", 0},
        {"poi__testEXCEL_95.xls", 6, 2, nullptr, 1.0},
        {"poi__testEXCEL_4.xls", 1, 1,
         "Table 10 -- Examination Coverage:  Recommended and Average Recommended", 0},
        {"poi__testEXCEL_4.xls", 5, 10, "Percentage of", 0},
        {"sheetjs__1904.xls", 1, 1, nullptr, 1.0},
        // 1904-01-02 in a 1904 book is serial 1463 once moved to the 1900 system.
        {"sheetjs__1904.xls", 1, 2, nullptr, 1463.0},
        {"sheetjs__1904.xls", 2, 1, nullptr, 11.0},
        {"xlrd__ragged.xls", 1, 3, "c", 0},
    };
    for (const Sample& sample : samples) {
        SCOPED_TRACE(std::string(sample.file) + " R" + std::to_string(sample.row) + "C" +
                     std::to_string(sample.column));
        std::optional<std::vector<std::uint8_t>> bytes = corpusFile(sample.file);
        if (!bytes) GTEST_SKIP() << "corpus not available";
        Result<WorkbookData> data = readXls(*bytes);
        ASSERT_TRUE(data) << data.error().detail;
        const Cell* cell = data->sheets.at(0).cell(sample.row, sample.column);
        ASSERT_NE(cell, nullptr);
        if (sample.textPrefix) {
            EXPECT_EQ(cell->type, CellType::Text);
            EXPECT_EQ(cell->text.rfind(sample.textPrefix, 0), 0u) << cell->text;
        } else {
            EXPECT_EQ(cell->type, CellType::Number);
            EXPECT_DOUBLE_EQ(cell->number, sample.number);
        }
    }
}

TEST(XlsCorpus, BrokenFilesFailCleanly) {
    struct Broken {
        const char* file;
        ErrorCode code;
    };
    const Broken files[] = {
        {"sheetjs__password_2002_40_xor.xls", ErrorCode::EncryptedWorkbook},
        // A fuzzer-made file whose workbook stream claims more bytes than the file holds.
        {"poi__clusterfuzz-POIHSSFFuzzer-6537773940867072.xls", ErrorCode::CfbCorrupt},
        {"calamine__pass_protected.xlsx", ErrorCode::EncryptedWorkbook},
    };
    for (const Broken& broken : files) {
        SCOPED_TRACE(broken.file);
        std::optional<std::vector<std::uint8_t>> bytes = corpusFile(broken.file);
        if (!bytes) GTEST_SKIP() << "corpus not available";
        Result<WorkbookData> data = readXls(*bytes);
        ASSERT_FALSE(data);
        EXPECT_EQ(data.error().code, broken.code) << data.error().detail;
    }
}

}  // namespace
}  // namespace spreadsheet
