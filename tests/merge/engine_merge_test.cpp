// End-to-end merges with the engine: generated sources in a temporary folder, the result read
// back with the engine's reader, the broken files of the shared corpus mixed in, and the
// sources checked unchanged afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>

#include "../cell_builders.h"
#include "../support/package_check.h"
#include "fake_application.h"
#include "merge/engine_application.h"
#include "merge/merge_run.h"
#include "spreadsheet/workbook_reader.h"
#include "spreadsheet/xlsx_writer.h"

namespace merge {
namespace {

using spreadsheet::testing::numberCell;
using spreadsheet::testing::textCell;

namespace fs = std::filesystem;
using spreadsheet::Cell;
using spreadsheet::CellType;
using spreadsheet::Row;

// A source: a bold title merged over A1:B1, headings in row 3, `rows` data rows from row 4
// (text "<tag>-<n>" in A, n * 1.5 in B with a two-decimal format), column A 18 wide.
void writeSource(const fs::path& path, const std::string& tag, int rows) {
    spreadsheet::StyleRegistry styles;
    spreadsheet::CellStyle bold = spreadsheet::defaultResultStyle();
    bold.font.bold = true;
    spreadsheet::CellStyle money = spreadsheet::defaultResultStyle();
    money.numberFormat = "0.00";
    money.fill.pattern = "solid";
    money.fill.foreground = 0xFFFFFF00;
    const std::uint32_t boldId = styles.intern(bold);
    const std::uint32_t moneyId = styles.intern(money);
    std::vector<Row> data;
    Row title;
    title.number = 1;
    title.cells = {textCell(1, "标题 " + tag, boldId)};
    data.push_back(title);
    Row headings;
    headings.number = 3;
    headings.cells = {textCell(1, "名称"), textCell(2, "金额")};
    data.push_back(headings);
    for (int n = 1; n <= rows; ++n) {
        Row row;
        row.number = 3 + n;
        row.cells = {textCell(1, tag + "-" + std::to_string(n)), numberCell(2, n * 1.5, moneyId)};
        data.push_back(row);
    }
    spreadsheet::SheetToWrite sheet;
    sheet.name = "数据";
    sheet.rows = &data;
    sheet.merges = {{{1, 1}, {1, 2}}};
    spreadsheet::ColumnInfo width;
    width.first = width.last = 1;
    width.width = 18;
    width.customWidth = true;
    sheet.columns = {width};
    spreadsheet::Result<void> written = spreadsheet::writeXlsx(
        path, std::span(&sheet, 1), 0, styles, spreadsheet::ExistingFile::Replace);
    ASSERT_TRUE(written) << spreadsheet::errorText(written.error());
}

struct Snapshot {
    std::string bytes;
    fs::file_time_type modified;
    friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

std::map<std::string, Snapshot> snapshot(const std::vector<std::string>& paths) {
    std::map<std::string, Snapshot> result;
    for (const std::string& path : paths) {
        std::ifstream in(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::error_code ignored;
        result[path] = Snapshot{bytes, fs::last_write_time(path, ignored)};
    }
    return result;
}

// Removes a temporary folder at the end of a test; folders under SHEETMERGE_RESULT_OUT stay
// for the independent check.
struct Cleanup {
    fs::path folder;
    ~Cleanup() {
        std::error_code ignored;
        if (!std::getenv("SHEETMERGE_RESULT_OUT")) fs::remove_all(folder, ignored);
    }
};

fs::path freshFolder(const std::string& name) {
    const char* out = std::getenv("SHEETMERGE_RESULT_OUT");
    fs::path folder =
        out ? fs::path(out) / name
            : fs::temp_directory_path() /
                  ("sheetmerge-" + name + "-" +
                   std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::remove_all(folder);
    fs::create_directories(folder / "sub");
    return folder;
}

std::string text(const spreadsheet::Sheet& sheet, int row, int column) {
    const Cell* cell = sheet.cell(row, column);
    return cell ? cell->text : std::string("<none>");
}

const std::vector<std::string> BrokenCorpusFiles{
    "calamine__pass_protected.xlsx",
    "sheetjs__password_2002_40_xor.xls",
    "calamine__date.xlsb-renamed.xlsx",
    "openpyxl__null_file.xlsx",
    "poi__poc-xmlbomb.xlsx",
    "calamine__temperature-table.truncated.xlsx",
    "poi__clusterfuzz-POIHSSFFuzzer-6537773940867072.xls",
};
// An .xls under an .xlsx name: spreadsheet programs refuse it for its extension, and so does the
// engine: it fails under "其它" after the broken files.
const std::string MisnamedXls = "calamine__date.xls-named.xlsx";

// The run behind the independent check (tests/merge/check_result.py reads its result).
TEST(EngineMerge, HeaderLabelsFormatsAndBrokenFiles) {
    const fs::path folder = freshFolder("e2e");
    const Cleanup cleanup{folder};
    const std::string base = folder.string() + "/";
    writeSource(folder / "a.xlsx", "a", 3);
    writeSource(folder / "sub" / "b.xlsx", "b", 2);
    {
        std::ofstream csv(folder / "c.csv", std::ios::binary);
        csv << "标题 c\n\n名称,金额\nc-1,7\n";
    }
    std::vector<std::string> sources{base + "c.csv", base + "a.xlsx", base + "sub/b.xlsx"};
    for (const std::string& name : BrokenCorpusFiles) {
        const fs::path original = fs::path(SHEETMERGE_CORPUS) / name;
        ASSERT_TRUE(fs::exists(original)) << original;
        fs::copy_file(original, folder / name);
        sources.push_back(base + name);
    }
    fs::copy_file(fs::path(SHEETMERGE_CORPUS) / MisnamedXls, folder / MisnamedXls);
    sources.push_back(base + MisnamedXls);
    const auto before = snapshot(sources);

    std::unique_ptr<Application> application = makeEngineApplication();
    testing::RecordingHost host;
    host.answer.Confirmed = true;
    host.answer.RangeSpec = "24";
    host.answer.CopyHeaderOnce = true;
    host.answer.MarkSource = true;
    RunInput input;
    input.SourceList = sources;
    input.FolderPath = base;
    input.now = [] { return LocalTime{2015, 6, 15, 9, 30, 12}; };
    const RunOutcome outcome = Zelk(input, *application, host);
    application.reset();

    EXPECT_EQ(snapshot(sources), before);
    ASSERT_EQ(outcome.status, RunStatus::Saved) << outcome.message;
    EXPECT_EQ(outcome.resultPath, base + "合并 150615 093012.xlsx");
    EXPECT_EQ(outcome.merged, 3);
    EXPECT_EQ(outcome.failed, 8);
    EXPECT_EQ(host.messages.back().text,
              "共选取【11】个文件，成功合并【3】个，【8】个合并失败。\n合并失败的文件及其原因列在合"
              "并结果的“失败列表”工作表中，将鼠标移到文件名上可查看原因。");
    EXPECT_TRUE(spreadsheet::testing::soundPackage(outcome.resultPath));

    spreadsheet::Result<spreadsheet::WorkbookData> result =
        spreadsheet::openWorkbookFile(outcome.resultPath);
    ASSERT_TRUE(result) << spreadsheet::errorText(result.error());
    ASSERT_EQ(result->sheets.size(), 2u);
    const spreadsheet::Sheet& failures = result->sheets[0];
    const spreadsheet::Sheet& data = result->sheets[1];
    EXPECT_EQ(failures.name, "失败列表(8)");
    EXPECT_EQ(data.name, "成功合并(3)");
    EXPECT_EQ(result->activeSheet, 1);

    // a.xlsx is the sample and comes first; its header once, the merged label cell beside it.
    EXPECT_EQ(text(data, 1, 1), "特征信息");
    EXPECT_EQ(text(data, 1, 2), "标题 a");
    EXPECT_EQ(text(data, 3, 3), "金额");
    std::vector<spreadsheet::RangeRef> merges = data.merges;
    std::sort(merges.begin(), merges.end(),
              [](const auto& x, const auto& y) { return x.first.column < y.first.column; });
    const std::vector<spreadsheet::RangeRef> expectedMerges{{{1, 1}, {3, 1}}, {{1, 2}, {1, 3}}};
    EXPECT_EQ(merges, expectedMerges);
    EXPECT_EQ(data.frozenPane, (spreadsheet::FrozenPane{3, 0}));
    const std::string labels[] = {"a.xlsx", "a.xlsx",     "a.xlsx",
                                  "c.csv",  "sub/b.xlsx", "sub/b.xlsx"};
    const std::string names[] = {"a-1", "a-2", "a-3", "c-1", "b-1", "b-2"};
    const double amounts[] = {1.5, 3, 4.5, 7, 1.5, 3};
    for (int index = 0; index < 6; ++index) {
        SCOPED_TRACE(index);
        EXPECT_EQ(text(data, 4 + index, 1), labels[index]);
        EXPECT_EQ(text(data, 4 + index, 2), names[index]);
        const Cell* amount = data.cell(4 + index, 3);
        ASSERT_NE(amount, nullptr);
        EXPECT_EQ(amount->number, amounts[index]);
    }
    EXPECT_EQ(data.cell(10, 2), nullptr);
    // Formats travel with the cells: the bold title, the filled two-decimal amounts of .xlsx
    // sources (the CSV's amount has none).
    EXPECT_TRUE(result->styles[data.cell(1, 2)->style].font.bold);
    EXPECT_EQ(result->styles[data.cell(4, 3)->style].numberFormat, "0.00");
    EXPECT_EQ(result->styles[data.cell(4, 3)->style].fill.foreground, 0xFFFFFF00u);
    EXPECT_NE(result->styles[data.cell(7, 3)->style].numberFormat, "0.00");

    // Failure list: every broken file under "其它", counts red and centred.
    EXPECT_EQ(text(failures, 1, 1), "失败原因");
    EXPECT_EQ(text(failures, 1, 5), "其它");
    EXPECT_EQ(text(failures, 2, 1), "文件个数");
    ASSERT_NE(failures.cell(2, 5), nullptr);
    EXPECT_EQ(failures.cell(2, 5)->number, 8);
    EXPECT_EQ(failures.cell(2, 4)->number, 0);
    EXPECT_EQ(text(failures, 3, 4), "");
    EXPECT_EQ(text(failures, 3 + static_cast<int>(BrokenCorpusFiles.size()), 5), MisnamedXls);
    for (std::size_t k = 0; k < BrokenCorpusFiles.size(); ++k) {
        SCOPED_TRACE(BrokenCorpusFiles[k]);
        EXPECT_EQ(failures.cell(3 + static_cast<int>(k), 1)->number, static_cast<double>(k + 1));
        EXPECT_EQ(text(failures, 3 + static_cast<int>(k), 5), BrokenCorpusFiles[k]);
    }
    const spreadsheet::CellStyle& count = result->styles[failures.cell(2, 2)->style];
    EXPECT_EQ(count.font.color, 0xFFFF0000u);
    EXPECT_EQ(count.alignment.horizontal, "center");
    EXPECT_TRUE(count.font.bold);
    EXPECT_EQ(count.font.name, "微软雅黑");
    EXPECT_EQ(count.font.size, 10);
    EXPECT_EQ(failures.frozenPane, (spreadsheet::FrozenPane{2, 0}));
}

TEST(EngineMerge, SourcesNeverWrittenAndResultNeverReplaced) {
    const fs::path folder = freshFolder("names");
    const Cleanup cleanup{folder};
    const std::string base = folder.string() + "/";
    writeSource(folder / "a.xlsx", "a", 1);
    writeSource(folder / "b.xlsx", "b", 1);
    // Somebody else's file already bears the time-stamped name.
    { std::ofstream(folder / "合并 150615 093012.xlsx") << "not ours"; }
    const std::vector<std::string> sources{base + "a.xlsx", base + "b.xlsx",
                                           base + "合并 150615 093012.xlsx"};
    const auto before = snapshot(sources);
    std::unique_ptr<Application> application = makeEngineApplication();
    testing::RecordingHost host;
    host.answer.Confirmed = true;
    RunInput input;
    input.SourceList = {sources[0], sources[1]};
    input.FolderPath = base;
    input.now = [] { return LocalTime{2015, 6, 15, 9, 30, 12}; };
    const RunOutcome outcome = Zelk(input, *application, host);
    EXPECT_EQ(snapshot(sources), before);
    EXPECT_EQ(outcome.resultPath, base + "合并 150615 093012 (2).xlsx");
    EXPECT_TRUE(spreadsheet::testing::soundPackage(outcome.resultPath));
    spreadsheet::Result<spreadsheet::WorkbookData> result =
        spreadsheet::openWorkbookFile(outcome.resultPath);
    ASSERT_TRUE(result);
    ASSERT_EQ(result->sheets.size(), 1u);
    EXPECT_EQ(result->sheets[0].name, "成功合并(2)");
    EXPECT_EQ(text(result->sheets[0], 1, 1), "标题 a");
    EXPECT_EQ(text(result->sheets[0], 5, 1), "标题 b");
    EXPECT_FALSE(result->sheets[0].frozenPane.has_value());
}

TEST(EngineMerge, UnwritableFolderMergesNothing) {
    const fs::path folder = freshFolder("unwritable");
    const Cleanup cleanup{folder};
    const std::string base = folder.string() + "/";
    writeSource(folder / "a.xlsx", "a", 1);
    writeSource(folder / "b.xlsx", "b", 1);
    std::unique_ptr<Application> application = makeEngineApplication();
    testing::RecordingHost host;
    host.answer.Confirmed = true;
    RunInput input;
    input.SourceList = {base + "a.xlsx", base + "b.xlsx"};
    input.FolderPath = base;
    input.resultFolder = base + "no/such/folder/";
    const RunOutcome outcome = Zelk(input, *application, host);
    EXPECT_EQ(outcome.status, RunStatus::ResultNotCreated);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].text.find(base + "no/such/folder/合并 "), std::string::npos)
        << host.messages[0].text;
    EXPECT_TRUE(host.progress.empty());
}

// The same formatted grid as .xls and .xlsx (formulas with cached values, an autofilter, a
// merge): both blocks of the result hold the grid's values as constants.
TEST(EngineMerge, XlsAndXlsxSourcesGiveTheSameBlock) {
    const fs::path folder = freshFolder("grid");
    const Cleanup cleanup{folder};
    const std::string data = std::string(SHEETMERGE_TEST_DATA) + "/";
    const std::vector<std::string> sources{data + "xls/grid.xls", data + "xls/grid.xlsx"};
    const auto before = snapshot(sources);
    spreadsheet::Result<spreadsheet::WorkbookData> grid = spreadsheet::openWorkbookFile(sources[1]);
    ASSERT_TRUE(grid);
    const spreadsheet::Sheet& source = grid->sheets[static_cast<std::size_t>(grid->activeSheet)];

    std::unique_ptr<Application> application = makeEngineApplication();
    testing::RecordingHost host;
    host.answer.Confirmed = true;
    RunInput input;
    input.SourceList = sources;
    input.FolderPath = data;
    input.resultFolder = folder.string() + "/";
    const RunOutcome outcome = Zelk(input, *application, host);
    application.reset();
    EXPECT_EQ(snapshot(sources), before);
    ASSERT_EQ(outcome.status, RunStatus::Saved) << outcome.message;
    EXPECT_EQ(outcome.merged, 2);
    EXPECT_TRUE(spreadsheet::testing::soundPackage(outcome.resultPath));
    spreadsheet::Result<spreadsheet::WorkbookData> result =
        spreadsheet::openWorkbookFile(outcome.resultPath);
    ASSERT_TRUE(result);
    const spreadsheet::Sheet& merged = result->sheets[0];
    EXPECT_FALSE(merged.autoFilter.has_value());
    int height = 0;
    int values = 0;
    for (const Row& row : source.rows)
        for (const Cell& cell : row.cells)
            if (cell.type != CellType::Empty) height = std::max(height, row.number);
    ASSERT_GT(height, 0);
    for (int block = 0; block < 2; ++block)
        for (const Row& row : source.rows)
            for (const Cell& cell : row.cells) {
                if (cell.type == CellType::Empty) continue;
                const std::string where =
                    spreadsheet::formatCell({row.number + block * height, cell.column});
                SCOPED_TRACE(where);
                const Cell* copy = merged.cell(row.number + block * height, cell.column);
                ASSERT_NE(copy, nullptr);
                EXPECT_EQ(copy->type, cell.type);
                EXPECT_EQ(copy->text, cell.text);
                EXPECT_DOUBLE_EQ(copy->number, cell.number);
                EXPECT_FALSE(copy->hasFormula);
                ++values;
            }
    EXPECT_GT(values, 10);
}

// Runs one merge of `sources` (in the folder of the first) with the options of `host`, saving
// the result as `format`; every source must merge.
RunOutcome runMerge(const std::vector<std::string>& sources, testing::RecordingHost& host,
                    const fs::path& folder, SaveFormat format = SaveFormat::Xlsx) {
    std::unique_ptr<Application> application = makeEngineApplication();
    host.answer.Confirmed = true;
    RunInput input;
    input.SourceList = sources;
    input.FolderPath = folder.string() + "/";
    input.resultFormat = format;
    input.now = [] { return LocalTime{2025, 1, 3, 9, 30, 12}; };
    const RunOutcome outcome = Zelk(input, *application, host);
    EXPECT_EQ(outcome.status, RunStatus::Saved) << outcome.message;
    EXPECT_EQ(outcome.failed, 0);
    return outcome;
}

// Runs one merge as runMerge does and returns the result read back, after the structural check.
spreadsheet::WorkbookData mergeAndRead(const std::vector<std::string>& sources,
                                       testing::RecordingHost& host, const fs::path& folder) {
    const RunOutcome outcome = runMerge(sources, host, folder);
    EXPECT_TRUE(spreadsheet::testing::soundPackage(outcome.resultPath));
    spreadsheet::Result<spreadsheet::WorkbookData> result =
        spreadsheet::openWorkbookFile(outcome.resultPath);
    EXPECT_TRUE(result) << (result ? "" : spreadsheet::errorText(result.error()));
    return result ? std::move(*result) : spreadsheet::WorkbookData{};
}

std::string copyIn(const fs::path& from, const fs::path& folder, const std::string& name) {
    EXPECT_TRUE(fs::exists(from)) << from;
    fs::copy_file(from, folder / name);
    return (folder / name).string();
}

// A date labels its block as the date it is in its source, also from a 1904 book: the label
// cell gets the value in the 1900 system with the source cell's number format, and the label
// column fitted to the first block is wide enough for its date.
TEST(EngineMerge, CellLabelsShowDatesAsTheirSourcesDo) {
    const fs::path folder = freshFolder("date-labels");
    const Cleanup cleanup{folder};
    const std::vector<std::string> sources{
        copyIn(fs::path(SHEETMERGE_TEST_DATA) / "xlsx/rich_text_runs.xlsx", folder, "a.xlsx"),
        copyIn(fs::path(SHEETMERGE_CORPUS) / "sheetjs__1904.xls", folder, "b.xls")};
    testing::RecordingHost host;
    host.answer.MarkSource = true;
    host.answer.MarkCells = "A7,B2";
    const spreadsheet::WorkbookData result = mergeAndRead(sources, host, folder);
    ASSERT_EQ(result.sheets.size(), 1u);
    const spreadsheet::Sheet& data = result.sheets[0];

    // a.xlsx: A7 is 2025-01-03 as yyyy-mm-dd, B2 a rich text whose label is plain; 7 rows.
    // b.xls (1904 dates): A7 empty, B2 1904-01-12, 1473 in the 1900 system; 5 rows.
    struct Label {
        int row;
        int column;
        std::optional<double> number;
        std::string text;
    };
    const Label labels[] = {{1, 1, 45660, ""},
                            {7, 1, 45660, ""},
                            {1, 2, std::nullopt, "abcdef"},
                            {7, 2, std::nullopt, "abcdef"},
                            {8, 2, 1473, ""},
                            {12, 2, 1473, ""}};
    for (const Label& label : labels) {
        SCOPED_TRACE(spreadsheet::formatCell({label.row, label.column}));
        const Cell* cell = data.cell(label.row, label.column);
        ASSERT_NE(cell, nullptr);
        const std::string& format = result.styles.at(cell->style).numberFormat;
        if (label.number) {
            EXPECT_EQ(cell->type, CellType::Number);
            EXPECT_EQ(cell->number, *label.number);
            EXPECT_TRUE(spreadsheet::isDateFormat(format)) << format;
        } else {
            EXPECT_EQ(cell->text, label.text);
            EXPECT_EQ(format, "General");
            EXPECT_EQ(data.row(label.row)->runs.find(label.column), nullptr);
        }
    }
    EXPECT_EQ(result.styles.at(data.cell(1, 1)->style).numberFormat, "yyyy-mm-dd");
    EXPECT_EQ(data.cell(8, 1), nullptr);
    // The first block's labels are fitted: "2025-01-03" needs ten characters.
    ASSERT_FALSE(data.columns.empty());
    EXPECT_EQ(data.columns.front().first, 1);
    EXPECT_GE(data.columns.front().width, 10);
}

// The columns of a result sheet: column -> width, hidden.
std::map<int, std::pair<double, bool>> columnLooks(const spreadsheet::Sheet& sheet) {
    std::map<int, std::pair<double, bool>> columns;
    for (const spreadsheet::ColumnInfo& info : sheet.columns)
        for (int column = info.first; column <= info.last; ++column)
            columns[column] = {info.width, info.hidden};
    return columns;
}

// The first source decides the widths: columns of its sheet's default width get that width
// (from a base width here), hidden columns stay hidden. Rich texts of .xlsx and BIFF5 .xls
// sources keep their runs, on one stacked sheet as on a sheet per source, where each sheet
// takes the columns of its own source; a CSV result keeps their text.
TEST(EngineMerge, RichTextsAndTheFirstSourcesColumnsReachTheResult) {
    enum class Layout { Stacked, PerSource, Csv };
    for (const Layout layout : {Layout::Stacked, Layout::PerSource, Layout::Csv}) {
        SCOPED_TRACE(static_cast<int>(layout));
        const fs::path folder = freshFolder("fidelity");
        const Cleanup cleanup{folder};
        const fs::path data = SHEETMERGE_TEST_DATA;
        const std::vector<std::string> sources{
            copyIn(data / "xlsx/default_width_hidden_columns.xlsx", folder, "a.xlsx"),
            copyIn(data / "xlsx/rich_text_runs.xlsx", folder, "b.xlsx"),
            copyIn(data / "xls/biff5_rstring.xls", folder, "c.xls")};
        testing::RecordingHost host;
        host.answer.PerSource = layout == Layout::PerSource;

        // Stacked: b.xlsx from row 2, c.xls from row 9. Per source: each from row 1 of its sheet.
        struct Rich {
            int row;
            std::string text;
            std::vector<std::string> pieces;
            std::string boldFont;  // the font of the bold piece
        };
        const Rich riches[] = {
            {2, "plain bold red tail", {"plain ", "bold red", " tail"}, "Calibri"},
            {7, "inline", {"in", "line"}, "Calibri"},
            {9, "plain bold tail", {"plain ", "bold", " tail"}, "Arial"}};

        if (layout == Layout::Csv) {
            const RunOutcome outcome = runMerge(sources, host, folder, SaveFormat::Csv);
            ASSERT_TRUE(fs::is_directory(outcome.resultPath)) << outcome.resultPath;
            std::vector<std::string> lines;
            int dataFiles = 0;
            for (const auto& entry : fs::directory_iterator(outcome.resultPath)) {
                if (entry.path().filename() == "失败列表.csv") continue;
                ++dataFiles;
                std::ifstream in(entry.path(), std::ios::binary);
                for (std::string line; std::getline(in, line);) lines.push_back(line);
            }
            ASSERT_EQ(dataFiles, 1);
            for (const Rich& rich : riches) {
                SCOPED_TRACE(rich.row);
                ASSERT_GE(lines.size(), static_cast<std::size_t>(rich.row));
                const std::string& line = lines[static_cast<std::size_t>(rich.row - 1)];
                EXPECT_EQ(line.substr(0, line.find(',')), rich.text);
            }
            continue;
        }

        const spreadsheet::WorkbookData result = mergeAndRead(sources, host, folder);
        const std::map<int, std::pair<double, bool>> expected{{1, {10.7109375, false}},
                                                              {2, {12, true}},
                                                              {3, {10.7109375, false}},
                                                              {4, {10.7109375, true}},
                                                              {5, {10.7109375, false}}};
        // The sheet that holds the block of `source` (0-based) and the row of a stacked row.
        auto sheetOf = [&](std::size_t source) -> const spreadsheet::Sheet* {
            if (layout == Layout::Stacked)
                return result.sheets.empty() ? nullptr : &result.sheets[0];
            const std::string name(1, static_cast<char>('a' + source));
            for (const spreadsheet::Sheet& sheet : result.sheets)
                if (sheet.name == name) return &sheet;
            return nullptr;
        };
        auto rowOf = [&](int stackedRow) {
            if (layout == Layout::Stacked) return stackedRow;
            return stackedRow >= 9 ? stackedRow - 8 : stackedRow - 1;
        };
        ASSERT_EQ(result.sheets.size(), layout == Layout::Stacked ? 1u : 3u);
        ASSERT_NE(sheetOf(0), nullptr);
        EXPECT_EQ(columnLooks(*sheetOf(0)), expected);

        for (const Rich& rich : riches) {
            SCOPED_TRACE(rich.row);
            const spreadsheet::Sheet* sheet = sheetOf(rich.row >= 9 ? 2 : 1);
            ASSERT_NE(sheet, nullptr);
            const int row = rowOf(rich.row);
            const Cell* cell = sheet->cell(row, 1);
            ASSERT_NE(cell, nullptr);
            EXPECT_EQ(cell->text, rich.text);
            const spreadsheet::TextRuns* runs = sheet->row(row)->runs.find(1);
            ASSERT_NE(runs, nullptr);
            std::vector<std::string> pieces;
            std::string boldFont;
            for (std::size_t k = 0; k < runs->size(); ++k) {
                const std::size_t end =
                    k + 1 < runs->size() ? (*runs)[k + 1].start : cell->text.size();
                pieces.push_back(cell->text.substr((*runs)[k].start, end - (*runs)[k].start));
                if ((*runs)[k].font != spreadsheet::CellFont &&
                    result.runFonts.at((*runs)[k].font).bold)
                    boldFont = result.runFonts.at((*runs)[k].font).name;
            }
            EXPECT_EQ(pieces, rich.pieces);
            EXPECT_EQ(boldFont, rich.boldFont);
        }
        // "only bold": one run is plain.
        ASSERT_NE(sheetOf(1), nullptr);
        EXPECT_EQ(sheetOf(1)->row(rowOf(4))->runs.find(1), nullptr);
        if (layout == Layout::PerSource) {
            // b.xlsx shows no hidden column, so its sheet has none.
            for (const auto& [column, look] : columnLooks(*sheetOf(1)))
                EXPECT_FALSE(look.second) << column;
        }
    }
}

// Blocks placed by header name keep their rich texts' runs, with the fonts of the runs taken
// into the result: the pieces and the underline of "def" come out as in the source.
TEST(EngineMerge, RichTextsKeepTheirRunsWhenColumnsAreMatchedByName) {
    const fs::path folder = freshFolder("fidelity-aligned");
    const Cleanup cleanup{folder};
    const fs::path data = SHEETMERGE_TEST_DATA;
    const std::vector<std::string> sources{
        copyIn(data / "xlsx/rich_text_runs.xlsx", folder, "a.xlsx"),
        copyIn(data / "xlsx/rich_text_runs.xlsx", folder, "b.xlsx")};
    testing::RecordingHost host;
    host.answer.AlignColumns = true;
    host.answer.FillMerged = true;
    const spreadsheet::WorkbookData result = mergeAndRead(sources, host, folder);
    ASSERT_EQ(result.sheets.size(), 1u);
    const spreadsheet::Sheet& sheet = result.sheets[0];

    // Row 1 is the header; each source's rows 2..7 follow it, a's at 2, b's at 8.
    for (const int first : {2, 8}) {
        SCOPED_TRACE(first);
        struct Expected {
            int offset;  // from the block's first row
            std::vector<std::string> pieces;
            std::vector<std::string> underlines;
            std::vector<bool> bold;
        };
        const Expected rows[] = {{0, {"abc", "def"}, {"", "single"}, {false, false}},
                                 {4, {"in", "line"}, {"", ""}, {true, false}}};
        for (const Expected& expected : rows) {
            SCOPED_TRACE(expected.offset);
            const int row = first + expected.offset;
            const Cell* cell = sheet.cell(row, 1);
            ASSERT_NE(cell, nullptr);
            const spreadsheet::TextRuns* runs = sheet.row(row)->runs.find(1);
            ASSERT_NE(runs, nullptr);
            std::vector<std::string> pieces;
            std::vector<std::string> underlines;
            std::vector<bool> bold;
            for (std::size_t k = 0; k < runs->size(); ++k) {
                const std::size_t end =
                    k + 1 < runs->size() ? (*runs)[k + 1].start : cell->text.size();
                pieces.push_back(cell->text.substr((*runs)[k].start, end - (*runs)[k].start));
                const std::uint32_t font = (*runs)[k].font;
                const bool own = font != spreadsheet::CellFont;
                ASSERT_TRUE(!own || font < result.runFonts.size()) << font;
                underlines.push_back(own ? result.runFonts[font].underline : "");
                bold.push_back(own && result.runFonts[font].bold);
            }
            EXPECT_EQ(pieces, expected.pieces);
            EXPECT_EQ(underlines, expected.underlines);
            EXPECT_EQ(bold, expected.bold);
        }
    }
}

}  // namespace
}  // namespace merge
