// Reads every .xlsx/.xlsm of the shared corpus and compares sheet names, kinds, states, value
// extents and non-empty cell counts with what an independent reader saw (expected.json,
// extracted into tests/data/xlsx/corpus_expected.tsv by make_corpus_table.py).
#include "spreadsheet/xlsx_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace spreadsheet {
namespace {

struct ExpectedSheet {
    std::string name, type, state;
    int valueMaxRow = -1, valueMaxColumn = -1, nonemptyCells = -1;
};

struct ExpectedFile {
    bool ok = true;
    std::vector<ExpectedSheet> sheets;
};

std::map<std::string, ExpectedFile> loadExpectations() {
    std::map<std::string, ExpectedFile> files;
    std::ifstream in(std::string(SHEETMERGE_TEST_DATA) + "/xlsx/corpus_expected.tsv");
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream stream(line);
        for (std::string field; std::getline(stream, field, '\t');) fields.push_back(field);
        if (fields.size() < 2) continue;
        ExpectedFile& file = files[fields[0]];
        file.ok = fields[1] == "ok";
        if (!file.ok || fields.size() < 9) continue;
        file.sheets.push_back({fields[3], fields[4], fields[5], std::stoi(fields[6]),
                               std::stoi(fields[7]), std::stoi(fields[8])});
    }
    return files;
}

std::vector<std::uint8_t> corpusFile(const std::string& name) {
    std::ifstream in(std::string(SHEETMERGE_CORPUS) + "/" + name, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string kindName(SheetKind kind) {
    return kind == SheetKind::Worksheet ? "worksheet"
           : kind == SheetKind::Chart   ? "chartsheet"
                                        : "other";
}

std::string stateName(Visibility visibility) {
    return visibility == Visibility::Visible  ? "visible"
           : visibility == Visibility::Hidden ? "hidden"
                                              : "veryHidden";
}

TEST(XlsxCorpus, ReadsEveryGoodFileAsTheIndependentReaderDid) {
    if (!std::filesystem::exists(SHEETMERGE_CORPUS))
        GTEST_SKIP() << "no corpus at " << SHEETMERGE_CORPUS;
    const std::map<std::string, ExpectedFile> files = loadExpectations();
    ASSERT_FALSE(files.empty());
    int checked = 0;
    for (const auto& [name, expected] : files) {
        if (!expected.ok) continue;
        SCOPED_TRACE(name);
        Result<WorkbookData> book = readXlsx(corpusFile(name));
        ASSERT_TRUE(book) << book.error().detail;
        ASSERT_EQ(book->sheets.size(), expected.sheets.size());
        // The macro-enabled content type marks .xlsm books.
        EXPECT_EQ(book->format, name.ends_with(".xlsm") ? FileFormat::Xlsm : FileFormat::Xlsx);
        for (std::size_t i = 0; i < expected.sheets.size(); ++i) {
            const Sheet& sheet = book->sheets[i];
            const ExpectedSheet& want = expected.sheets[i];
            SCOPED_TRACE(want.name);
            EXPECT_EQ(sheet.name, want.name);
            EXPECT_EQ(kindName(sheet.kind), want.type == "macrosheet" || want.type == "dialogsheet"
                                                ? "other"
                                                : want.type);
            EXPECT_EQ(stateName(sheet.visibility), want.state);
            if (want.type != "worksheet") continue;
            int maxRow = 0, maxColumn = 0, nonempty = 0;
            for (const Row& row : sheet.rows) {
                for (const Cell& cell : row.cells) {
                    if (cell.type == CellType::Empty) continue;
                    ++nonempty;
                    maxRow = std::max(maxRow, row.number);
                    maxColumn = std::max(maxColumn, cell.column);
                }
            }
            EXPECT_EQ(maxRow, want.valueMaxRow);
            EXPECT_EQ(maxColumn, want.valueMaxColumn);
            EXPECT_EQ(nonempty, want.nonemptyCells);
        }
        ++checked;
    }
    EXPECT_GE(checked, 15);
}

TEST(XlsxCorpus, FailsCleanlyOnEveryBrokenFile) {
    if (!std::filesystem::exists(SHEETMERGE_CORPUS))
        GTEST_SKIP() << "no corpus at " << SHEETMERGE_CORPUS;
    const std::map<std::string, ExpectedFile> files = loadExpectations();
    const std::map<std::string, ErrorCode> codes = {
        {"calamine__date.xlsb-renamed.xlsx", ErrorCode::BinaryWorkbook},
        {"openpyxl__null_file.xlsx", ErrorCode::UnknownFormat},
        {"poi__poc-xmlbomb.xlsx", ErrorCode::XmlForbidden},
        {"calamine__temperature-table.truncated.xlsx", ErrorCode::ZipCorrupt},
        {"calamine__pass_protected.xlsx", ErrorCode::UnknownFormat},
        {"calamine__date.xls-named.xlsx", ErrorCode::UnknownFormat},
    };
    int checked = 0;
    for (const auto& [name, expected] : files) {
        if (expected.ok) continue;
        SCOPED_TRACE(name);
        Result<WorkbookData> book = readXlsx(corpusFile(name));
        ASSERT_FALSE(book);
        EXPECT_FALSE(book.error().detail.empty());
        auto code = codes.find(name);
        if (code != codes.end()) {
            EXPECT_EQ(book.error().code, code->second) << book.error().detail;
        }
        ++checked;
    }
    EXPECT_GE(checked, 5);
}

}  // namespace
}  // namespace spreadsheet
