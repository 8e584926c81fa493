// Recognising this program's results by their extended properties, and never mistaking other
// files for them.
#include "spreadsheet/app_properties.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "spreadsheet/xlsx_writer.h"
#include "spreadsheet/zip_writer.h"

namespace spreadsheet {
namespace {

namespace fs = std::filesystem;

// A zip package holding the given parts (name, content), stored.
std::vector<std::uint8_t> package(const std::vector<std::pair<std::string, std::string>>& parts) {
    MemorySink sink;
    ZipWriter zip(sink);
    for (const auto& [name, content] : parts) {
        EXPECT_TRUE(zip.beginEntry(name, 6));
        EXPECT_TRUE(zip.write(std::string_view(content)));
        EXPECT_TRUE(zip.endEntry());
    }
    EXPECT_TRUE(zip.finish());
    return sink.takeBytes();
}

std::string appXml(const std::string& application) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<Properties "
           "xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\">"
           "<Application>" +
           application + "</Application><DocSecurity>0</DocSecurity></Properties>";
}

fs::path freshFolder() {
    const fs::path folder =
        fs::temp_directory_path() / ("app_properties_test." + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

void writeBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

TEST(AppProperties, RecognisesOnlyPackagesThatNameThisProgram) {
    const fs::path folder = freshFolder();
    // The real writer's output, saved as a result is.
    StyleRegistry styles;
    std::vector<Row> rows(1);
    rows[0].number = 1;
    rows[0].cells.push_back(Cell{1, CellType::Text, false, 0, 0.0, "合计"});
    std::vector<SheetToWrite> sheets(1);
    sheets[0].name = "成功合并(2)";
    sheets[0].rows = &rows;
    const fs::path result = folder / "合并 150615 093012.xlsx";
    ASSERT_TRUE(writeXlsx(result, sheets, 0, styles, ExistingFile::Refuse));
    std::ifstream in(result, std::ios::binary);
    const std::vector<std::uint8_t> resultBytes((std::istreambuf_iterator<char>(in)), {});

    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        bool ours;
    };
    const std::vector<std::uint8_t> half(resultBytes.begin(),
                                         resultBytes.begin() + resultBytes.size() / 2);
    const std::string text = "not a zip at all";
    const std::vector<Case> cases = {
        {"written by the result writer", resultBytes, true},
        {"blanks around the name", package({{"docProps/app.xml", appXml(" sheetmerge\n")}}), true},
        {"another program", package({{"docProps/app.xml", appXml("Microsoft Excel")}}), false},
        {"a longer name", package({{"docProps/app.xml", appXml("sheetmerge-fork")}}), false},
        {"name in another part",
         package({{"docProps/core.xml", appXml("sheetmerge")}, {"xl/workbook.xml", "<x/>"}}),
         false},
        {"element never closed",
         package({{"docProps/app.xml", "<Properties><Application>sheetmerge"}}), false},
        {"truncated result", half, false},
        {"text", std::vector<std::uint8_t>(text.begin(), text.end()), false},
        {"empty file", {}, false},
    };
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const Case& row = cases[k];
        SCOPED_TRACE(row.name);
        const fs::path path = folder / ("case" + std::to_string(k) + ".xlsx");
        writeBytes(path, row.bytes);
        EXPECT_EQ(isSheetmergeResult(path), row.ours);
    }
    EXPECT_EQ(packageApplication(resultBytes), std::string(ProgramName));
    EXPECT_FALSE(isSheetmergeResult(folder / "missing.xlsx"));
    EXPECT_FALSE(isSheetmergeResult(folder));
    fs::remove_all(folder);
}

}  // namespace
}  // namespace spreadsheet
