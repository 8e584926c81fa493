// CSV text of result sheets: the same lines whether rows come from the spool or from memory,
// rows padded to the sheet's width, values as `cat` shows them; and the result folder, which
// appears whole or not at all and never replaces anything.
#include "spreadsheet/csv_writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>

#include "../cell_builders.h"
#include "spreadsheet/atomic_file.h"
#include "spreadsheet/zip_writer.h"

namespace spreadsheet {
namespace {

namespace fs = std::filesystem;
using testing::numberCell;
using testing::styledEmptyCell;
using testing::textCell;

fs::path freshFolder(const std::string& name) {
    const fs::path folder =
        fs::temp_directory_path() /
        ("sheetmerge-csv-" + name + "-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(folder);
    return folder;
}

struct Cleanup {
    fs::path folder;
    ~Cleanup() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Row row(int number, std::vector<Cell> cells) {
    Row made;
    made.number = number;
    made.cells = std::move(cells);
    return made;
}

Cell booleanCell(int column, bool value) {
    Cell cell = numberCell(column, value ? 1 : 0);
    cell.type = CellType::Boolean;
    return cell;
}

Cell errorCell(int column, std::string text) {
    Cell cell = textCell(column, std::move(text));
    cell.type = CellType::Error;
    return cell;
}

// A sheet with every kind of value, gaps between rows and columns, formats without values past
// the last value, and texts that need quoting.
struct MixedSheet {
    StyleRegistry styles;
    std::vector<Row> rows;
    std::string expected;

    MixedSheet() {
        CellStyle date = defaultResultStyle();
        date.numberFormat = "yyyy-mm-dd";
        CellStyle money = defaultResultStyle();
        money.numberFormat = "#,##0.00";
        CellStyle filled = defaultResultStyle();
        filled.fill.pattern = "solid";
        const std::uint32_t dateId = styles.intern(date);
        const std::uint32_t moneyId = styles.intern(money);
        const std::uint32_t filledId = styles.intern(filled);
        rows = {
            row(1, {textCell(1, "名称"), textCell(2, "金额"), textCell(3, "日期")}),
            row(2, {textCell(1, "甲,乙"), numberCell(2, 1234.5, moneyId),
                    numberCell(3, 45658, dateId), styledEmptyCell(9, filledId)}),
            row(3, {styledEmptyCell(1, filledId)}),  // a format only: an empty line
            row(5, {textCell(1, "说\"明\"\n第二行"), booleanCell(4, true)}),
            row(6, {errorCell(2, "#N/A"), numberCell(3, 0.5, dateId), textCell(5, "")}),
            row(7, {numberCell(1, -0.0), booleanCell(2, false)}),
            row(9, {styledEmptyCell(2, filledId), styledEmptyCell(12, filledId)}),
        };
        // Width 4: column D holds the last value; rows 4 and 8 have no entry, row 9 only formats
        // and is past the last value.
        expected =
            "名称,金额,日期,\n"
            "\"甲,乙\",1234.5,2025-01-01,\n"
            ",,,\n"
            ",,,\n"
            "\"说\"\"明\"\"\n第二行\",,,TRUE\n"
            ",#N/A,12:00:00,\n"
            "0,FALSE,,\n";
    }
};

std::string sheetText(const CsvRowSpool* spool, const std::vector<Row>* rows,
                      const StyleRegistry& styles, ByteOrderMark mark, std::size_t headRows = 0) {
    MemorySink sink;
    Result<void> written = writeCsvSheet(sink, spool, rows, dateStylesOf(styles), mark, headRows);
    EXPECT_TRUE(written) << (written ? "" : errorText(written.error()));
    return std::string(sink.bytes().begin(), sink.bytes().end());
}

TEST(CsvWriter, SpooledAndInMemoryRowsGiveTheSameLines) {
    const MixedSheet sheet;
    const Cleanup cleanup{freshFolder("spool")};
    // Every split between the rows spooled and the rows still in memory, all spooled included.
    for (std::size_t split = 0; split <= sheet.rows.size(); ++split) {
        SCOPED_TRACE("rows spooled: " + std::to_string(split));
        Result<CsvRowSpool> spool = CsvRowSpool::create(cleanup.folder);
        ASSERT_TRUE(spool);
        const DateStyleTest dates = dateStylesOf(sheet.styles);
        for (std::size_t k = 0; k < split; ++k) ASSERT_TRUE(spool->append(sheet.rows[k], dates));
        const std::vector<Row> rest(sheet.rows.begin() + static_cast<std::ptrdiff_t>(split),
                                    sheet.rows.end());
        EXPECT_EQ(sheetText(&*spool, &rest, sheet.styles, ByteOrderMark::Yes),
                  std::string(Utf8ByteOrderMark) + sheet.expected);
    }
    EXPECT_EQ(sheetText(nullptr, &sheet.rows, sheet.styles, ByteOrderMark::No), sheet.expected);
}

TEST(CsvWriter, RowsKeptOpenAboveTheSpoolComeFirst) {
    const MixedSheet sheet;
    const Cleanup cleanup{freshFolder("open")};
    // The first `head` rows stay in memory ahead of the rows spooled, the rest after them.
    for (std::size_t split = 1; split <= sheet.rows.size(); ++split)
        for (std::size_t head = 1; head < split; ++head) {
            SCOPED_TRACE("rows kept open: " + std::to_string(head) +
                         ", spooled up to: " + std::to_string(split));
            Result<CsvRowSpool> spool = CsvRowSpool::create(cleanup.folder);
            ASSERT_TRUE(spool);
            const DateStyleTest dates = dateStylesOf(sheet.styles);
            for (std::size_t k = head; k < split; ++k)
                ASSERT_TRUE(spool->append(sheet.rows[k], dates));
            std::vector<Row> inMemory(sheet.rows.begin(),
                                      sheet.rows.begin() + static_cast<std::ptrdiff_t>(head));
            inMemory.insert(inMemory.end(), sheet.rows.begin() + static_cast<std::ptrdiff_t>(split),
                            sheet.rows.end());
            EXPECT_EQ(sheetText(&*spool, &inMemory, sheet.styles, ByteOrderMark::No, head),
                      sheet.expected);
        }
}

TEST(CsvWriter, WidthComesFromTheWholeSheetAndEmptySheetsHaveNoLines) {
    StyleRegistry styles;
    const Cleanup cleanup{freshFolder("width")};
    Result<CsvRowSpool> spool = CsvRowSpool::create(cleanup.folder);
    ASSERT_TRUE(spool);
    const DateStyleTest dates = dateStylesOf(styles);
    // The widest row comes last, after the narrow ones went to the spool.
    ASSERT_TRUE(spool->append(row(2, {textCell(1, "a")}), dates));
    ASSERT_TRUE(spool->append(row(3, {}), dates));
    EXPECT_EQ(spool->lastRow(), 2);
    EXPECT_EQ(spool->lastColumn(), 1);
    const std::vector<Row> rest{row(4, {textCell(3, "c")})};
    EXPECT_EQ(sheetText(&*spool, &rest, styles, ByteOrderMark::No), ",,\na,,\n,,\n,,c\n");
    // Rows must come in order.
    EXPECT_FALSE(spool->append(row(3, {textCell(1, "late")}), dates));

    const std::vector<Row> formatsOnly{row(1, {styledEmptyCell(1, 0), textCell(2, "")})};
    EXPECT_EQ(sheetText(nullptr, &formatsOnly, styles, ByteOrderMark::Yes), Utf8ByteOrderMark);
    EXPECT_EQ(sheetText(nullptr, nullptr, styles, ByteOrderMark::No), "");
}

TEST(CsvWriter, LongSpooledRowsCrossTheReadBuffer) {
    // Rows of about 300 KB each pass the spool's write slices and its 1 MiB read buffer.
    StyleRegistry styles;
    const Cleanup cleanup{freshFolder("long")};
    Result<CsvRowSpool> spool = CsvRowSpool::create(cleanup.folder);
    ASSERT_TRUE(spool);
    std::string expected;
    for (int number = 1; number <= 8; ++number) {
        const std::string text(300'000 + number, static_cast<char>('a' + number));
        ASSERT_TRUE(spool->append(row(number, {textCell(2, text)}), dateStylesOf(styles)));
        expected += "," + text + "\n";
    }
    EXPECT_EQ(sheetText(&*spool, nullptr, styles, ByteOrderMark::No), expected);
}

TEST(CsvWriter, FolderAppearsWholeAndNeverReplacesAnything) {
    const MixedSheet sheet;
    const Cleanup cleanup{freshFolder("folder")};
    const fs::path target = cleanup.folder / "合并 150615 093012";
    const std::vector<Row> failures{row(1, {textCell(1, "失败原因")})};
    const std::vector<CsvSheetToWrite> files{{"成功合并(7).csv", nullptr, &sheet.rows},
                                             {"失败列表.csv", nullptr, &failures}};
    const auto entries = [](const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };

    // The name is claimed first, as the run does, and only once.
    ASSERT_TRUE(createFolderExclusively(target));
    Result<void> again = createFolderExclusively(target);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().code, ErrorCode::TargetExists);

    Result<void> written = writeCsvFolder(target, files, dateStylesOf(sheet.styles));
    ASSERT_TRUE(written) << errorText(written.error());
    EXPECT_EQ(entries(target), (std::vector<std::string>{"失败列表.csv", "成功合并(7).csv"}));
    EXPECT_EQ(readFile(target / "成功合并(7).csv"),
              std::string(Utf8ByteOrderMark) + sheet.expected);
    EXPECT_EQ(readFile(target / "失败列表.csv"), std::string(Utf8ByteOrderMark) + "失败原因\n");
    // Nothing but the result beside it: the temporary folder went with the rename.
    EXPECT_EQ(entries(cleanup.folder), std::vector<std::string>{target.filename().string()});

    // A folder holding anything is never replaced, and the attempt leaves nothing behind.
    Result<void> over =
        writeCsvFolder(target, {{"other.csv", nullptr, &failures}}, dateStylesOf(sheet.styles));
    ASSERT_FALSE(over);
    EXPECT_EQ(over.error().code, ErrorCode::TargetExists);
    EXPECT_EQ(entries(target), (std::vector<std::string>{"失败列表.csv", "成功合并(7).csv"}));
    EXPECT_EQ(entries(cleanup.folder), std::vector<std::string>{target.filename().string()});

    // Nor is a file or a dangling link of that name.
    const fs::path file = cleanup.folder / "a file";
    std::ofstream(file) << "mine";
    EXPECT_EQ(writeCsvFolder(file, files, dateStylesOf(sheet.styles)).error().code,
              ErrorCode::TargetExists);
    EXPECT_EQ(readFile(file), "mine");
    const fs::path link = cleanup.folder / "a link";
    fs::create_symlink(cleanup.folder / "nowhere", link);
    EXPECT_EQ(createFolderExclusively(link).error().code, ErrorCode::TargetExists);
    EXPECT_EQ(writeCsvFolder(link, files, dateStylesOf(sheet.styles)).error().code,
              ErrorCode::TargetExists);
    EXPECT_TRUE(fs::is_symlink(link));
}

TEST(CsvWriter, FailedFolderLeavesNothingBehind) {
    const MixedSheet sheet;
    const Cleanup cleanup{freshFolder("failed")};
    const fs::path target = cleanup.folder / "result";
    ASSERT_TRUE(createFolderExclusively(target));
    struct Case {
        const char* what;
        std::vector<CsvSheetToWrite> files;
    };
    const std::vector<Case> cases{
        {"a name with a slash", {{"a/b.csv", nullptr, &sheet.rows}}},
        {"a name that is the folder itself", {{"..", nullptr, &sheet.rows}}},
        {"an empty name", {{"", nullptr, &sheet.rows}}},
        // The second file fails after the first was written.
        {"two files of one name",
         {{"a.csv", nullptr, &sheet.rows}, {"a.csv", nullptr, &sheet.rows}}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.what);
        EXPECT_FALSE(writeCsvFolder(target, row.files, dateStylesOf(sheet.styles)));
        EXPECT_TRUE(fs::is_empty(target));
        std::size_t entries = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(cleanup.folder)) ++entries;
        EXPECT_EQ(entries, 1u);
    }
}

}  // namespace
}  // namespace spreadsheet
