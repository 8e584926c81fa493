// Inputs that once crashed, hung or blew up a reader (kept from fuzzing in
// tests/data/regressions/), the hostile fixtures, and the broken files of the shared corpus:
// every one opens or fails with an error code, never a crash.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "spreadsheet/workbook_reader.h"

namespace spreadsheet {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string extension = entry.path().extension().string();
        const bool hidden = entry.path().filename().string().starts_with(".");
        if (entry.is_regular_file() && !hidden && extension != ".py" && extension != ".md")
            files.push_back(entry.path());
    }
    return files;
}

TEST(Regressions, EveryKeptInputOpensOrFailsWithACode) {
    std::vector<fs::path> files = filesIn(fs::path(SHEETMERGE_TEST_DATA) / "regressions");
    for (const fs::path& file : filesIn(fs::path(SHEETMERGE_TEST_DATA) / "hostile"))
        files.push_back(file);
    ASSERT_FALSE(files.empty());
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        Result<WorkbookData> book = openWorkbookFile(file);
        if (book) {
            // A book that opens is whole: rows ascend, and cells ascend within each row.
            for (const Sheet& sheet : book->sheets) {
                for (std::size_t i = 1; i < sheet.rows.size(); ++i)
                    EXPECT_LT(sheet.rows[i - 1].number, sheet.rows[i].number);
                for (const Row& row : sheet.rows) {
                    for (std::size_t i = 1; i < row.cells.size(); ++i)
                        EXPECT_LT(row.cells[i - 1].column, row.cells[i].column);
                }
            }
        } else {
            EXPECT_FALSE(errorText(book.error()).empty());
        }
    }
}

TEST(Regressions, BrokenCorpusFilesFailWithTheirCause) {
    // The damaged and hostile files among the real ones, each with the cause it must report.
    struct Case {
        const char* file;
        ErrorCode code;
    };
    const Case cases[] = {
        {"calamine__pass_protected.xlsx", ErrorCode::EncryptedWorkbook},
        {"sheetjs__password_2002_40_xor.xls", ErrorCode::EncryptedWorkbook},
        {"poi__poc-xmlbomb.xlsx", ErrorCode::XmlForbidden},
        {"calamine__date.xlsb-renamed.xlsx", ErrorCode::BinaryWorkbook},
    };
    const fs::path corpus(SHEETMERGE_CORPUS);
    if (!fs::exists(corpus / "MANIFEST.tsv")) GTEST_SKIP() << "no shared corpus at " << corpus;
    for (const Case& row : cases) {
        SCOPED_TRACE(row.file);
        Result<WorkbookData> book = openWorkbookFile(corpus / row.file);
        ASSERT_FALSE(book);
        EXPECT_EQ(book.error().code, row.code) << errorText(book.error());
    }
    for (const char* file :
         {"openpyxl__null_file.xlsx", "calamine__temperature-table.truncated.xlsx",
          "poi__clusterfuzz-POIHSSFFuzzer-6537773940867072.xls"}) {
        SCOPED_TRACE(file);
        Result<WorkbookData> book = openWorkbookFile(corpus / file);
        EXPECT_FALSE(book);
    }
}

}  // namespace
}  // namespace spreadsheet
