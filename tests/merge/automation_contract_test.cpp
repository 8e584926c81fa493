// What the automation interface promises, checked on both of its implementations: the engine
// and the merge tests' fake. The merge run is tested against the fake, so every promise it
// relies on must hold there exactly as in the engine; a case failing for one type only is a
// drift. What the interface cannot read back (merges, column widths and hidden columns, bold
// cells, number formats, the runs of rich texts) each type's probe finds: the engine's by saving
// and reading the file, the fake's in its sheets. A source with rich texts, number formats and
// a default column width each type makes its own way: the engine's as an .xlsx file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "../support/package_check.h"
#include "fake_application.h"
#include "merge/engine_application.h"
#include "spreadsheet/detail/value_parsing.h"
#include "spreadsheet/detail/xml_reader.h"
#include "spreadsheet/sheet_name.h"
#include "spreadsheet/workbook_reader.h"
#include "spreadsheet/zip_reader.h"
#include "spreadsheet/zip_writer.h"

namespace merge {
namespace {

namespace fs = std::filesystem;
using spreadsheet::CellRef;
using spreadsheet::ErrorCode;
using spreadsheet::RangeRef;

using Cell = std::pair<int, int>;  // (row, column)

// One run of a rich text as both types can tell it: its piece of the text and what its font
// shows ("" for the cell's own font). Family and charset, which a file fills in from the cell's
// font, do not count.
struct RunLook {
    std::string text;
    std::string font;
    friend bool operator==(const RunLook&, const RunLook&) = default;
};

std::ostream& operator<<(std::ostream& out, const RunLook& run) {
    return out << '"' << run.text << "\" " << run.font;
}

std::string fontLook(const std::optional<spreadsheet::Font>& font) {
    if (!font) return "";
    std::ostringstream out;
    out << font->name << ' ' << font->size << (font->bold ? " bold" : "")
        << (font->italic ? " italic" : "") << (font->strike ? " strike" : "") << ' '
        << font->underline << ' ' << font->verticalAlign << ' ' << std::hex
        << font->color.value_or(0);
    return out.str();
}

// What the interface cannot read back of one worksheet.
struct SheetLook {
    std::vector<RangeRef> merges;  // in the order they were made
    std::map<int, double> widths;  // column -> characters, set columns only
    std::set<int> hiddenColumns;
    std::set<Cell> boldCells;
    std::map<Cell, std::string> numberFormats;  // cells of a format other than General
    std::map<Cell, std::vector<RunLook>> runs;  // rich cells
    std::pair<int, int> frozen{0, 0};           // rows above and columns left of frozen panes
    std::map<Cell, std::string> notes;          // (row, column) -> note text
};

// The rich source both types open: sheet 源 with
//   A1 "plain bold red" in three runs: "plain " in the cell's font, "bold" in Arial 12 bold,
//      " red" in Arial 12 italic, underlined, superscript and red;
//   B1 "b"; C1 "中文abc": "中文" in 宋体 14 struck through, "abc" in the cell's font;
//   A2 45660 as yyyy-mm-dd, B2 0.125 as 0.0%, C2 "x";
// a default column width of 20, column B 12 wide and hidden, column C 7.5 wide.
spreadsheet::Font arialBold() {
    spreadsheet::Font font;
    font.name = "Arial";
    font.size = 12;
    font.bold = true;
    font.color = 0xFF000000;
    return font;
}
spreadsheet::Font arialRed() {
    spreadsheet::Font font;
    font.name = "Arial";
    font.size = 12;
    font.italic = true;
    font.underline = "single";
    font.verticalAlign = "superscript";
    font.color = 0xFFFF0000;
    return font;
}
spreadsheet::Font songtiStruck() {
    spreadsheet::Font font;
    font.name = "宋体";
    font.size = 14;
    font.strike = true;
    font.color = 0xFF000000;
    return font;
}
const std::vector<RunLook> PlainBoldRed{
    {"plain ", ""}, {"bold", fontLook(arialBold())}, {" red", fontLook(arialRed())}};
const std::vector<RunLook> ChineseAbc{{"中文", fontLook(songtiStruck())}, {"abc", ""}};

// The source as an .xlsx package, written by hand.
std::vector<std::uint8_t> richSourcePackage() {
    const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    const std::string officeRelationships =
        "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    const std::string packageRelationships =
        "http://schemas.openxmlformats.org/package/2006/relationships";
    const std::vector<std::pair<std::string, std::string>> parts = {
        {"[Content_Types].xml",
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" "
         "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/></Types>"},
        {"_rels/.rels", "<Relationships xmlns=\"" + packageRelationships +
                            "\"><Relationship Id=\"rId1\" Type=\"" + officeRelationships +
                            "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/workbook.xml", "<workbook xmlns=\"" + main + "\" xmlns:r=\"" + officeRelationships +
                                "\"><sheets><sheet name=\"源\" sheetId=\"1\" "
                                "r:id=\"rId1\"/></sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels",
         "<Relationships xmlns=\"" + packageRelationships + "\"><Relationship Id=\"rId1\" Type=\"" +
             officeRelationships +
             "/worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" Type=\"" +
             officeRelationships + "/styles\" Target=\"styles.xml\"/></Relationships>"},
        {"xl/styles.xml", "<styleSheet xmlns=\"" + main +
                              "\"><numFmts count=\"2\"><numFmt numFmtId=\"164\" "
                              "formatCode=\"yyyy-mm-dd\"/><numFmt numFmtId=\"165\" "
                              "formatCode=\"0.0%\"/></numFmts><fonts count=\"1\"><font>"
                              "<sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
                              "<cellXfs count=\"3\"><xf/><xf numFmtId=\"164\"/>"
                              "<xf numFmtId=\"165\"/></cellXfs></styleSheet>"},
        {"xl/worksheets/sheet1.xml",
         "<worksheet xmlns=\"" + main +
             "\"><sheetFormatPr defaultColWidth=\"20\" defaultRowHeight=\"15\"/><cols>"
             "<col min=\"2\" max=\"2\" width=\"12\" hidden=\"1\" customWidth=\"1\"/>"
             "<col min=\"3\" max=\"3\" width=\"7.5\" customWidth=\"1\"/></cols><sheetData>"
             "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><r><t xml:space=\"preserve\">plain "
             "</t></r><r><rPr><b/><sz val=\"12\"/><color rgb=\"FF000000\"/><rFont val=\"Arial\"/>"
             "</rPr><t>bold</t></r><r><rPr><i/><u/><vertAlign val=\"superscript\"/><sz val=\"12\"/>"
             "<color rgb=\"FFFF0000\"/><rFont val=\"Arial\"/></rPr><t xml:space=\"preserve\"> "
             "red</t>"
             "</r></is></c><c r=\"B1\" t=\"inlineStr\"><is><t>b</t></is></c><c r=\"C1\" "
             "t=\"inlineStr\"><is><r><rPr><strike/><sz val=\"14\"/><color rgb=\"FF000000\"/>"
             "<rFont val=\"宋体\"/></rPr><t>中文</t></r><r><t>abc</t></r></is></c></row>"
             "<row r=\"2\"><c r=\"A2\" s=\"1\"><v>45660</v></c><c r=\"B2\" s=\"2\"><v>0.125</v>"
             "</c><c r=\"C2\" t=\"inlineStr\"><is><t>x</t></is></c></row></sheetData></worksheet>"},
    };
    spreadsheet::MemorySink sink;
    spreadsheet::ZipWriter zip(sink);
    for (const auto& [name, xml] : parts) {
        EXPECT_TRUE(zip.beginEntry(name, 6));
        EXPECT_TRUE(zip.write(xml));
        EXPECT_TRUE(zip.endEntry());
    }
    EXPECT_TRUE(zip.finish());
    return sink.takeBytes();
}

// The notes of the `position`-th sheet of a saved package: the sheet's relationships name its
// comments part, whose comments give cell and text.
class NoteReader : public spreadsheet::detail::XmlHandler {
public:
    std::string commentsTarget;  // from the sheet's relationships
    std::map<std::pair<int, int>, std::string> notes;

    void startElement(std::string_view name,
                      const spreadsheet::detail::XmlAttributes& attributes) override {
        if (name == "Relationship" && attributes.get("Type").value_or("").ends_with("/comments")) {
            commentsTarget = std::string(attributes.get("Target").value_or(""));
        } else if (name == "comment") {
            spreadsheet::Result<RangeRef> cell =
                spreadsheet::parseRange(std::string(attributes.get("ref").value_or("")));
            m_cell = cell ? std::pair(cell->first.row, cell->first.column) : std::pair(0, 0);
            m_text.clear();
        } else if (name == "t") {
            setCollectingText(true);
        }
    }
    void endElement(std::string_view name) override {
        if (name == "t") setCollectingText(false);
        if (name == "comment") notes[m_cell] = spreadsheet::detail::decodeXlsxEscapes(m_text);
    }
    void characters(std::string_view text) override { m_text += text; }

private:
    std::pair<int, int> m_cell;
    std::string m_text;
};

std::map<std::pair<int, int>, std::string> savedNotes(const std::string& path, int position) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    spreadsheet::Result<spreadsheet::ZipReader> zip = spreadsheet::ZipReader::open(bytes);
    EXPECT_TRUE(zip);
    if (!zip) return {};
    auto parsePart = [&](const std::string& name, NoteReader& reader) {
        const spreadsheet::ZipEntry* entry = zip->find(name);
        if (entry == nullptr) return false;
        spreadsheet::Result<std::string> xml = zip->readWhole(*entry, 1 << 26);
        EXPECT_TRUE(xml && spreadsheet::detail::parseXml(reader, name, *xml)) << name;
        return true;
    };
    NoteReader reader;
    if (!parsePart("xl/worksheets/_rels/sheet" + std::to_string(position) + ".xml.rels", reader) ||
        reader.commentsTarget.empty())
        return {};
    // Targets are relative to xl/worksheets/.
    const std::string target = reader.commentsTarget.starts_with("../")
                                   ? "xl/" + reader.commentsTarget.substr(3)
                                   : "xl/worksheets/" + reader.commentsTarget;
    EXPECT_TRUE(parsePart(target, reader)) << target;
    return reader.notes;
}

// A folder for the files a test writes, removed with it.
struct Scratch {
    fs::path folder = fs::temp_directory_path() /
                      ("sheetmerge-contract-" + std::to_string(::getpid()) + "-" +
                       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    int files = 0;
    Scratch() { fs::create_directories(folder); }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    std::string next() { return (folder / ("w" + std::to_string(++files) + ".xlsx")).string(); }
};

struct EngineType {
    static std::unique_ptr<Application> make() { return makeEngineApplication(); }

    static SheetLook look(Application& application, Workbook& book, int position,
                          Scratch& scratch) {
        const std::string path = scratch.next();
        book.saveAs(path, SaveFormat::Xlsx);
        EXPECT_FALSE(application.errors().isSet()) << application.errors().message();
        EXPECT_TRUE(spreadsheet::testing::soundPackage(fs::path(path)));
        spreadsheet::Result<spreadsheet::WorkbookData> data =
            spreadsheet::openWorkbookFile(fs::path(path));
        EXPECT_TRUE(data);
        SheetLook look;
        if (!data) return look;
        const spreadsheet::Sheet& sheet = data->sheets.at(static_cast<std::size_t>(position - 1));
        look.merges = sheet.merges;
        for (const spreadsheet::ColumnInfo& info : sheet.columns)
            for (int column = info.first; column <= info.last; ++column) {
                if (info.width > 0) look.widths[column] = info.width;
                if (info.hidden) look.hiddenColumns.insert(column);
            }
        for (const spreadsheet::Row& row : sheet.rows)
            for (const spreadsheet::Cell& cell : row.cells) {
                const spreadsheet::CellStyle& style = data->styles.at(cell.style);
                if (style.font.bold) look.boldCells.insert({row.number, cell.column});
                if (style.numberFormat != "General")
                    look.numberFormats[{row.number, cell.column}] = style.numberFormat;
                const spreadsheet::TextRuns* runs = row.runs.find(cell.column);
                if (runs == nullptr) continue;
                std::vector<RunLook>& pieces = look.runs[{row.number, cell.column}];
                for (std::size_t k = 0; k < runs->size(); ++k) {
                    const spreadsheet::TextRun& run = (*runs)[k];
                    const std::size_t end =
                        k + 1 < runs->size() ? (*runs)[k + 1].start : cell.text.size();
                    pieces.push_back({cell.text.substr(run.start, end - run.start),
                                      run.font == spreadsheet::CellFont
                                          ? std::string()
                                          : fontLook(data->runFonts.at(run.font))});
                }
            }
        if (sheet.frozenPane) look.frozen = {sheet.frozenPane->rows, sheet.frozenPane->columns};
        look.notes = savedNotes(path, position);
        return look;
    }

    // tests/data/xlsx/sheet_kinds_and_states.xlsx: a worksheet, a chart sheet (active), a
    // hidden dialog sheet, a very hidden macro sheet, a hidden worksheet.
    static std::shared_ptr<Workbook> openKindsAndStates(Application& application) {
        return application.openWorkbook(std::string(SHEETMERGE_TEST_DATA) +
                                        "/xlsx/sheet_kinds_and_states.xlsx");
    }

    static std::shared_ptr<Workbook> openRichSource(Application& application, Scratch& scratch) {
        const std::string path = scratch.next();
        const std::vector<std::uint8_t> bytes = richSourcePackage();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return application.openWorkbook(path);
    }

    // The workbook saved and opened again as a source.
    static std::shared_ptr<Workbook> reopen(Application& application, Workbook& book,
                                            Scratch& scratch) {
        const std::string path = scratch.next();
        book.saveAs(path, SaveFormat::Xlsx);
        EXPECT_TRUE(spreadsheet::testing::soundPackage(fs::path(path)));
        book.close();
        return application.openWorkbook(path);
    }
};

struct FakeType {
    static std::unique_ptr<Application> make() {
        return std::make_unique<testing::FakeApplication>();
    }

    static SheetLook look(Application&, Workbook& book, int position, Scratch&) {
        const testing::FakeSheet& sheet = *static_cast<testing::FakeWorkbook&>(book).sheets.at(
            static_cast<std::size_t>(position - 1));
        SheetLook look;
        look.merges = sheet.merges;
        look.widths = sheet.widths;
        look.hiddenColumns = sheet.hiddenColumns;
        for (const auto& [key, format] : sheet.cellFormats) {
            if (format.bold) look.boldCells.insert(key);
            if (!format.numberFormat.empty()) look.numberFormats[key] = format.numberFormat;
        }
        for (const auto& [key, runs] : sheet.runs)
            for (const testing::FakeRun& run : runs)
                look.runs[key].push_back({run.text, fontLook(run.font)});
        if (sheet.frozenAt) look.frozen = {sheet.frozenAt->row - 1, sheet.frozenAt->column - 1};
        look.notes = sheet.notes;
        return look;
    }

    // The same kinds and states as the engine's fixture.
    static std::shared_ptr<Workbook> openKindsAndStates(Application& application) {
        auto& fake = static_cast<testing::FakeApplication&>(application);
        testing::FakeFile file;
        const struct {
            const char* name;
            bool worksheet;
            spreadsheet::Visibility visibility;
        } sheets[] = {{"Data", true, spreadsheet::Visibility::Visible},
                      {"Chart", false, spreadsheet::Visibility::Visible},
                      {"Dialog", false, spreadsheet::Visibility::Hidden},
                      {"Macro", false, spreadsheet::Visibility::VeryHidden},
                      {"Hidden data", true, spreadsheet::Visibility::Hidden}};
        for (const auto& sheet : sheets) {
            testing::FakeSheet made;
            made.name = sheet.name;
            made.worksheet = sheet.worksheet;
            made.visibility = sheet.visibility;
            file.sheets.push_back(made);
        }
        file.activeSheet = 1;
        fake.files["/contract/kinds.xlsx"] = file;
        return application.openWorkbook("/contract/kinds.xlsx");
    }

    static std::shared_ptr<Workbook> openRichSource(Application& application, Scratch&) {
        auto& fake = static_cast<testing::FakeApplication&>(application);
        testing::FakeSheet sheet;
        sheet.name = "源";
        sheet.cells[{1, 1}] = CellValue::ofText("plain bold red");
        sheet.runs[{1, 1}] = {
            {"plain ", std::nullopt}, {"bold", arialBold()}, {" red", arialRed()}};
        sheet.cells[{1, 2}] = CellValue::ofText("b");
        sheet.cells[{1, 3}] = CellValue::ofText("中文abc");
        sheet.runs[{1, 3}] = {{"中文", songtiStruck()}, {"abc", std::nullopt}};
        sheet.cells[{2, 1}] = CellValue::ofNumber(45660);
        sheet.cellFormats[{2, 1}].numberFormat = "yyyy-mm-dd";
        sheet.cells[{2, 2}] = CellValue::ofNumber(0.125);
        sheet.cellFormats[{2, 2}].numberFormat = "0.0%";
        sheet.cells[{2, 3}] = CellValue::ofText("x");
        sheet.defaultWidth = 20;
        sheet.widths[2] = 12;
        sheet.hiddenColumns.insert(2);
        sheet.widths[3] = 7.5;
        testing::FakeFile file;
        file.sheets.push_back(sheet);
        const std::string path = "/contract/rich" + std::to_string(fake.files.size()) + ".xlsx";
        fake.files[path] = file;
        return application.openWorkbook(path);
    }

    static std::shared_ptr<Workbook> reopen(Application& application, Workbook& book, Scratch&) {
        auto& fake = static_cast<testing::FakeApplication&>(application);
        auto& added = static_cast<testing::FakeWorkbook&>(book);
        const std::string path = "/contract/source" + std::to_string(fake.files.size()) + ".xlsx";
        testing::FakeFile file;
        for (const auto& sheet : added.sheets) file.sheets.push_back(*sheet);
        file.activeSheet = added.active;
        fake.files[path] = file;
        book.close();
        return application.openWorkbook(path);
    }
};

template <typename Type>
class AutomationContract : public ::testing::Test {
public:
    std::unique_ptr<Application> application = [] {
        std::unique_ptr<Application> made = Type::make();
        made->setSheetsInNewWorkbook(1);
        return made;
    }();
    std::shared_ptr<Workbook> book = application->addWorkbook();
    std::shared_ptr<Worksheet> sheet = book->activeSheet();
    Scratch scratch;

    ErrorState& errors() { return application->errors(); }
    // Whether the calls since the last check failed; clears the state.
    bool failed() {
        const bool set = errors().isSet();
        errors().clear();
        return set;
    }
    SheetLook look(Workbook& workbook, int position) {
        return Type::look(*application, workbook, position, scratch);
    }
    std::shared_ptr<Workbook> reopen(Workbook& workbook) {
        return Type::reopen(*application, workbook, scratch);
    }
    std::shared_ptr<Worksheet> richSource() {
        std::shared_ptr<Workbook> opened = Type::openRichSource(*application, scratch);
        EXPECT_TRUE(opened) << errors().message();
        return opened ? opened->worksheet(1) : nullptr;
    }
    std::shared_ptr<Worksheet> addSheet() {
        return book->addWorksheet(*book->worksheet(book->worksheetCount()), Placement::After);
    }
    // Texts of a block, "" for empty cells, numbers as "#n".
    std::vector<std::string> texts(Range& range) {
        std::vector<std::string> out;
        for (const auto& row : range.values())
            for (const CellValue& value : row)
                out.push_back(value.type == spreadsheet::CellType::Number
                                  ? "#" + std::to_string(static_cast<int>(value.number))
                                  : value.text);
        return out;
    }
    void fill(Worksheet& target, const std::string& reference,
              std::vector<std::vector<const char*>> rows) {
        ValueBlock block;
        for (const auto& row : rows) {
            block.emplace_back();
            for (const char* text : row)
                block.back().push_back(*text ? CellValue::ofText(text) : CellValue{});
        }
        target.range(reference)->setValues(block);
    }
};

using Implementations = ::testing::Types<EngineType, FakeType>;
class ImplementationNames {
public:
    template <typename T>
    static std::string GetName(int) {
        return std::is_same_v<T, EngineType> ? "Engine" : "Fake";
    }
};
TYPED_TEST_SUITE(AutomationContract, Implementations, ImplementationNames);

TYPED_TEST(AutomationContract, ReferencesInsideTheGridOnly) {
    struct Case {
        std::string text;
        bool valid;
        RangeRef area;
    };
    const Case cases[] = {
        {"B2", true, {{2, 2}, {2, 2}}},
        {"B2:G5", true, {{2, 2}, {5, 7}}},
        {"b2:$G$5", true, {{2, 2}, {5, 7}}},
        {"A1048576", true, {{1'048'576, 1}, {1'048'576, 1}}},
        {"XFD1", true, {{1, 16'384}, {1, 16'384}}},
        {"A1:XFD1048576", true, {{1, 1}, {1'048'576, 16'384}}},
        {"XFE1", false, {}},
        {"A1048577", false, {}},
        {"A0", false, {}},
        {"", false, {}},
        {"B", false, {}},
        {"2", false, {}},
        {"B2:", false, {}},
        {"B2:G", false, {}},
        {"销售!B2", false, {}},
        {"B2 G5", false, {}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.text);
        std::shared_ptr<Range> range = this->sheet->range(row.text);
        EXPECT_EQ(range != nullptr, row.valid);
        EXPECT_EQ(this->errors().isSet(), !row.valid);
        if (!row.valid) {
            EXPECT_EQ(this->errors().error().code, ErrorCode::InvalidReference);
        } else if (range) {
            EXPECT_EQ(range->row(), row.area.first.row);
            EXPECT_EQ(range->column(), row.area.first.column);
            EXPECT_EQ(range->rowCount(), row.area.rowCount());
            EXPECT_EQ(range->columnCount(), row.area.columnCount());
        }
        this->errors().clear();
    }
    // Two corners in any order span the same rectangle; a corner outside the grid spans none.
    std::shared_ptr<Range> spanned = this->sheet->range(CellRef{5, 7}, CellRef{2, 2});
    ASSERT_TRUE(spanned);
    EXPECT_EQ(std::pair(spanned->row(), spanned->column()), std::pair(2, 2));
    EXPECT_EQ(std::pair(spanned->rowCount(), spanned->columnCount()), std::pair(4, 6));
    EXPECT_FALSE(this->failed());
    for (const CellRef outside :
         {CellRef{0, 1}, CellRef{1, 0}, CellRef{1'048'577, 1}, CellRef{1, 16'385}}) {
        SCOPED_TRACE(spreadsheet::formatRange({outside, outside}));
        EXPECT_EQ(this->sheet->cell(outside.row, outside.column), nullptr);
        EXPECT_EQ(this->sheet->range(CellRef{1, 1}, outside), nullptr);
        EXPECT_TRUE(this->failed());
    }
    EXPECT_EQ(this->sheet->rowCount(), 1'048'576);
}

TYPED_TEST(AutomationContract, OffsetAndResizeStopAtTheGridEdge) {
    struct Case {
        const char* name;
        const char* from;
        bool resize;  // else offset
        int rows;
        int columns;
        const char* expected;  // "" when refused
    };
    const Case cases[] = {
        {"offset right and down", "B2:C3", false, 2, 1, "C4:D5"},
        {"offset back to A1", "B2", false, -1, -1, "A1"},
        {"offset above row 1", "A1", false, -1, 0, ""},
        {"offset left of column A", "A1", false, 0, -1, ""},
        {"offset below the last row", "A1048575:A1048576", false, 1, 0, ""},
        {"offset right of XFD", "XFC1:XFD1", false, 0, 1, ""},
        {"offset onto the last cell", "A1", false, 1'048'575, 16'383, "XFD1048576"},
        {"resize larger", "B2", true, 3, 2, "B2:C4"},
        {"resize smaller", "B2:G5", true, 1, 1, "B2"},
        {"resize to no rows", "B2", true, 0, 1, ""},
        {"resize to no columns", "B2", true, 1, 0, ""},
        {"resize past the last row", "A1048576", true, 2, 1, ""},
        {"resize past XFD", "XFD1", true, 1, 2, ""},
        {"resize up to the edge", "XFC1048575", true, 2, 2, "XFC1048575:XFD1048576"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        std::shared_ptr<Range> from = this->sheet->range(row.from);
        ASSERT_TRUE(from);
        std::shared_ptr<Range> moved =
            row.resize ? from->resize(row.rows, row.columns) : from->offset(row.rows, row.columns);
        const bool refused = *row.expected == '\0';
        EXPECT_EQ(moved == nullptr, refused);
        EXPECT_EQ(this->errors().isSet(), refused);
        if (moved) {
            const RangeRef area{
                {moved->row(), moved->column()},
                {moved->row() + moved->rowCount() - 1, moved->column() + moved->columnCount() - 1}};
            EXPECT_EQ(spreadsheet::formatRange(area), row.expected);
        }
        this->errors().clear();
    }
}

TYPED_TEST(AutomationContract, ValuesAreWrittenAndReadByBlock) {
    Worksheet& sheet = *this->sheet;
    sheet.range("B2:C3")->setValue(CellValue::ofNumber(7));
    sheet.range("C3:E5")->setValues(
        {{CellValue::ofText("a"), CellValue::ofText("b")}, {CellValue::ofText("c")}});
    CellValue flag;
    flag.type = spreadsheet::CellType::Boolean;
    flag.number = 1;
    sheet.range("A1")->setValue(flag);
    ASSERT_FALSE(this->failed());
    // The block fills from the top-left cell; cells of the range it does not reach stay.
    const std::vector<std::string> expected = {
        "#7", "#7", "",  "",  //
        "#7", "a",  "b", "",  //
        "",   "c",  "",  "",  //
        "",   "",   "",  "",  //
    };
    EXPECT_EQ(this->texts(*sheet.range("B2:E5")), expected);
    EXPECT_EQ(sheet.range("C3:D4")->value(), CellValue::ofText("a"));
    EXPECT_EQ(sheet.range("A1")->value(), flag);
    EXPECT_TRUE(sheet.range("F9")->value().isEmpty());
    EXPECT_EQ(sheet.usedColumnCount(), 4);  // A to D
    EXPECT_FALSE(this->failed());
}

TYPED_TEST(AutomationContract, UsedColumnsSpanFromTheFirstToTheLastValue) {
    EXPECT_EQ(this->sheet->usedColumnCount(), 1);  // an empty sheet counts one column
    this->sheet->range("D4")->setValue(CellValue::ofText("x"));
    this->sheet->range("B9")->setValue(CellValue::ofNumber(1));
    EXPECT_EQ(this->sheet->usedColumnCount(), 3);
    EXPECT_FALSE(this->failed());
}

TYPED_TEST(AutomationContract, SheetNamesAreTheSameIgnoringCaseOverAllLetters) {
    std::shared_ptr<Worksheet> first = this->sheet;
    std::shared_ptr<Worksheet> second = this->addSheet();
    ASSERT_TRUE(second);
    struct Case {
        std::string taken;                 // the first sheet's name
        std::string wanted;                // asked for the second
        std::optional<ErrorCode> refusal;  // none when accepted
    };
    const Case cases[] = {
        {"Data", "data", ErrorCode::DuplicateSheetName},
        {"ä", "Ä", ErrorCode::DuplicateSheetName},
        {"Ärger", "äRGER", ErrorCode::DuplicateSheetName},
        {"Σ", "σ", ErrorCode::DuplicateSheetName},
        {"σ", "ς", ErrorCode::DuplicateSheetName},
        {"ＡＢ", "ａｂ", ErrorCode::DuplicateSheetName},
        {"Москва", "МОСКВА", ErrorCode::DuplicateSheetName},
        {"销售", "销售", ErrorCode::DuplicateSheetName},
        {"ß", "ss", std::nullopt},
        {"a", "á", std::nullopt},
        {"I", "ı", std::nullopt},
        {"销售", "销售 ", std::nullopt},
        {"x", "销售(300)-1", std::nullopt},
        {"x", std::string(31, 'y'), std::nullopt},
        {"x", std::string(32, 'y'), ErrorCode::InvalidSheetName},
        {"x", "", ErrorCode::InvalidSheetName},
        {"x", "a/b", ErrorCode::InvalidSheetName},
        {"x", "[b]", ErrorCode::InvalidSheetName},
        {"x", "a:b", ErrorCode::InvalidSheetName},
        {"x", "'quoted'", ErrorCode::InvalidSheetName},
        {"x", "History", ErrorCode::InvalidSheetName},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.taken + " / " + row.wanted);
        second->setName("other");
        first->setName(row.taken);
        ASSERT_FALSE(this->failed());
        second->setName(row.wanted);
        if (!row.refusal) {
            EXPECT_FALSE(this->errors().isSet()) << this->errors().message();
            EXPECT_EQ(second->name(), row.wanted);
        } else {
            EXPECT_EQ(this->errors().error().code, *row.refusal);
            EXPECT_EQ(second->name(), "other");
        }
        this->errors().clear();
    }
    // A sheet may take its own name in another case; look-ups ignore case the same way.
    first->setName("Σύνολο");
    first->setName("ΣΎΝΟΛΟ");
    EXPECT_FALSE(this->failed());
    EXPECT_EQ(first->name(), "ΣΎΝΟΛΟ");
    std::shared_ptr<Worksheet> found = this->book->worksheet("σύνολο");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name(), "ΣΎΝΟΛΟ");
    EXPECT_EQ(this->book->worksheet("Σύνολ"), nullptr);
    EXPECT_EQ(this->errors().error().code, ErrorCode::NoSuchSheet);
    this->errors().clear();
}

TYPED_TEST(AutomationContract, SheetsAreAddedWhereAskedAndTheLastIsKept) {
    Workbook& book = *this->book;
    ASSERT_EQ(book.worksheetCount(), 1);
    std::shared_ptr<Worksheet> first = book.worksheet(1);
    first->setName("ä");
    std::shared_ptr<Worksheet> after = book.addWorksheet(*first, Placement::After);
    std::shared_ptr<Worksheet> before = book.addWorksheet(*first, Placement::Before);
    ASSERT_TRUE(after && before);
    EXPECT_FALSE(this->failed());
    // Each new sheet becomes the active one under a name no other sheet has, in any case.
    EXPECT_EQ(book.activeSheet()->name(), before->name());
    EXPECT_FALSE(spreadsheet::sameSheetName(before->name(), after->name()));
    EXPECT_FALSE(spreadsheet::sameSheetName(before->name(), "ä"));
    ASSERT_EQ(book.worksheetCount(), 3);
    const std::vector<std::string> order = {book.worksheet(1)->name(), book.worksheet(2)->name(),
                                            book.worksheet(3)->name()};
    EXPECT_EQ(order, (std::vector<std::string>{before->name(), "ä", after->name()}));
    EXPECT_EQ(book.worksheet(4), nullptr);
    EXPECT_EQ(this->errors().error().code, ErrorCode::NoSuchSheet);
    this->errors().clear();
    EXPECT_EQ(book.worksheet(0), nullptr);
    EXPECT_TRUE(this->failed());

    after->remove();
    first->remove();
    EXPECT_FALSE(this->failed());
    ASSERT_EQ(book.worksheetCount(), 1);
    EXPECT_EQ(book.worksheet(1)->name(), before->name());
    EXPECT_EQ(book.activeSheet()->name(), before->name());
    before->remove();
    EXPECT_TRUE(this->failed());
    EXPECT_EQ(book.worksheetCount(), 1);
}

TYPED_TEST(AutomationContract, NewWorkbooksGetTheAskedNumberOfSheets) {
    Application& application = *this->application;
    application.setSheetsInNewWorkbook(3);
    EXPECT_EQ(application.sheetsInNewWorkbook(), 3);
    EXPECT_EQ(application.addWorkbook()->worksheetCount(), 3);
    for (int refused : {0, -1, 256}) {
        SCOPED_TRACE(refused);
        application.setSheetsInNewWorkbook(refused);
        EXPECT_TRUE(this->failed());
        EXPECT_EQ(application.sheetsInNewWorkbook(), 3);
    }
    application.setSheetsInNewWorkbook(1);
    EXPECT_EQ(application.addWorkbook()->worksheetCount(), 1);
    EXPECT_FALSE(this->failed());
}

TYPED_TEST(AutomationContract, ClearingFromARowTakesCellsFormatsAndMergesFromThere) {
    Worksheet& sheet = *this->sheet;
    this->fill(sheet, "A1:B5", {{"h", "h"}, {"1", "1"}, {"2", "2"}, {"3", "3"}, {"4", "4"}});
    sheet.range("A1:B1")->merge();
    sheet.range("A2:A3")->merge();  // ends above the cleared rows: stays
    sheet.range("B3:B4")->merge();  // reaches into them: goes
    sheet.range("A4:A5")->merge();
    sheet.range("A3:B4")->setFontBold(true);
    sheet.range("A1:B1")->setColumnWidth(30);
    ASSERT_FALSE(this->failed());

    sheet.clearFromRow(4);
    EXPECT_FALSE(this->failed());
    EXPECT_EQ(this->texts(*sheet.range("A3:B5")),
              (std::vector<std::string>{"2", "2", "", "", "", ""}));
    ASSERT_TRUE(sheet.findLast(SearchOrder::ByRows));
    EXPECT_EQ(sheet.findLast(SearchOrder::ByRows)->row(), 3);
    SheetLook kept = this->look(*this->book, 1);
    EXPECT_EQ(kept.merges, (std::vector<RangeRef>{{{1, 1}, {1, 2}}, {{2, 1}, {3, 1}}}));
    EXPECT_EQ(kept.boldCells, (std::set<std::pair<int, int>>{{3, 1}, {3, 2}}));
    EXPECT_EQ(kept.widths, (std::map<int, double>{{1, 30.0}, {2, 30.0}}));

    // From row 1 the sheet is as new: widths too.
    sheet.clearFromRow(1);
    EXPECT_FALSE(this->failed());
    EXPECT_EQ(sheet.findLast(SearchOrder::ByRows), nullptr);
    EXPECT_EQ(sheet.usedColumnCount(), 1);
    EXPECT_FALSE(this->failed());
    SheetLook cleared = this->look(*this->book, 1);
    EXPECT_TRUE(cleared.merges.empty());
    EXPECT_TRUE(cleared.widths.empty());
    EXPECT_TRUE(cleared.boldCells.empty());
}

TYPED_TEST(AutomationContract, TheLastCellIsFoundInBothOrders) {
    Worksheet& sheet = *this->sheet;
    EXPECT_EQ(sheet.findLast(SearchOrder::ByRows), nullptr);
    EXPECT_EQ(sheet.findLast(SearchOrder::ByColumns), nullptr);
    EXPECT_FALSE(this->failed());  // nothing found is no failure
    struct Step {
        const char* cell;
        CellValue value;
        int lastRow;
        int lastColumn;
    };
    const Step steps[] = {
        {"C5", CellValue::ofText("x"), 5, 3},
        {"E2", CellValue::ofNumber(0), 5, 5},
        {"A9", CellValue::ofText(""), 5, 5},  // an empty text is no value
        {"B7", CellValue::ofNumber(-1), 7, 5},
        {"XFD1048576", CellValue::ofText("end"), 1'048'576, 16'384},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.cell);
        sheet.range(step.cell)->setValue(step.value);
        std::shared_ptr<Range> byRows = sheet.findLast(SearchOrder::ByRows);
        std::shared_ptr<Range> byColumns = sheet.findLast(SearchOrder::ByColumns);
        ASSERT_TRUE(byRows && byColumns);
        EXPECT_EQ(std::pair(byRows->row(), byRows->column()), std::pair(step.lastRow, 1));
        EXPECT_EQ(std::pair(byColumns->row(), byColumns->column()), std::pair(1, step.lastColumn));
        EXPECT_EQ(byRows->rowCount() * byRows->columnCount(), 1);
    }
    EXPECT_FALSE(this->failed());
}

// A source sheet for the copy cases: values in A1:D4, B2 and C3 bold, B4:D4 empty but for a
// bold D4; merges A1:B1 (inside), C1:E1 (crossing the right edge of A1:D4), A3:A5 (crossing
// the bottom edge); columns A and C have widths.
template <typename Fixture>
std::shared_ptr<Worksheet> copySource(Fixture& test, Workbook& book) {
    std::shared_ptr<Worksheet> source = book.worksheet(1);
    test.fill(
        *source, "A1:D4",
        {{"t1", "", "t3", "t4"}, {"a", "b", "", "d"}, {"e", "f", "g", "h"}, {"i", "", "", ""}});
    source->range("B2")->setFontBold(true);
    source->range("C3")->setFontBold(true);
    source->range("D4")->setFontBold(true);
    source->range("A1:B1")->merge();
    source->range("C1:E1")->merge();
    source->range("A3:A5")->merge();
    source->range("A1")->setColumnWidth(20);
    source->range("C1")->setColumnWidth(7.5);
    return source;
}

TYPED_TEST(AutomationContract, CopyToCarriesValuesFormatsAndTheMergesInside) {
    std::shared_ptr<Workbook> sourceBook = this->application->addWorkbook();
    copySource(*this, *sourceBook);
    ASSERT_FALSE(this->failed());
    std::shared_ptr<Workbook> opened = this->reopen(*sourceBook);
    ASSERT_TRUE(opened) << this->errors().message();
    std::shared_ptr<Worksheet> source = opened->worksheet(1);

    Worksheet& target = *this->sheet;
    this->fill(target, "B2:F6",
               {{"o", "o", "o", "o", "o"},
                {"o", "o", "o", "o", "o"},
                {"o", "o", "o", "o", "o"},
                {"o", "o", "o", "o", "o"},
                {"o", "o", "o", "o", "o"}});
    target.range("D3:E3")->merge();  // inside the placed block: replaced
    target.range("F2:F3")->merge();  // beside it: stays
    target.holdTopRows(2);           // rows above a placed block need not stay readable
    source->range("A1:D4")->copyTo(*target.cell(3, 2));
    ASSERT_FALSE(this->failed()) << this->errors().message();

    // Holes of the source leave the target's value; the formatted empty D4 replaces it.
    const std::vector<std::string> expected = {
        "o",  "o", "o",  "o",  "o",  //
        "t1", "o", "t3", "t4", "o",  //
        "a",  "b", "o",  "d",  "o",  //
        "e",  "f", "g",  "h",  "o",  //
        "i",  "o", "o",  "",   "o",  //
    };
    EXPECT_EQ(this->texts(*target.range("B2:F6")), expected);
    const SheetLook look = this->look(*this->book, 1);
    EXPECT_EQ(look.boldCells, (std::set<std::pair<int, int>>{{4, 3}, {5, 4}, {6, 5}}));
    // The source's merges clipped to the block and moved: A1:B1, C1:D1, A3:A4.
    const std::set<std::string> merges = [&] {
        std::set<std::string> out;
        for (const RangeRef& merged : look.merges) out.insert(spreadsheet::formatRange(merged));
        return out;
    }();
    EXPECT_EQ(merges, (std::set<std::string>{"F2:F3", "B3:C3", "D3:E3", "B5:B6"}));
    // Column widths do not travel with copyTo.
    EXPECT_TRUE(look.widths.empty());
}

TYPED_TEST(AutomationContract, PasteSpecialPlacesTheClipboardOrItsColumnWidths) {
    std::shared_ptr<Worksheet> source = copySource(*this, *this->book);
    std::shared_ptr<Worksheet> target = this->addSheet();
    ASSERT_TRUE(target);
    target->range("B1:F1")->setColumnWidth(11);
    target->cell(1, 2)->pasteSpecial(PasteKind::All);
    EXPECT_TRUE(this->failed()) << "nothing copied yet";

    source->range("A1:D4")->copy();
    target->cell(2, 2)->pasteSpecial(PasteKind::All);
    target->cell(2, 2)->pasteSpecial(PasteKind::ColumnWidths);
    ASSERT_FALSE(this->failed()) << this->errors().message();
    EXPECT_EQ(this->texts(*target->range("B2:E3")),
              (std::vector<std::string>{"t1", "", "t3", "t4", "a", "b", "", "d"}));
    const SheetLook look = this->look(*this->book, 2);
    EXPECT_EQ(look.boldCells, (std::set<std::pair<int, int>>{{3, 3}, {4, 4}, {5, 5}}));
    // Widths land on the shifted columns; a source column without a width clears the target's.
    EXPECT_EQ(look.widths, (std::map<int, double>{{2, 20.0}, {4, 7.5}, {6, 11.0}}));
    std::set<std::string> merges;
    for (const RangeRef& merged : look.merges) merges.insert(spreadsheet::formatRange(merged));
    EXPECT_EQ(merges, (std::set<std::string>{"B2:C2", "D2:E2", "B4:B5"}));

    // The clipboard stays until cleared; a block that does not fit places nothing.
    std::shared_ptr<Worksheet> spare = this->addSheet();
    spare->cell(1'048'575, 1)->pasteSpecial(PasteKind::All);
    EXPECT_EQ(this->errors().error().code, ErrorCode::InvalidReference);
    this->errors().clear();
    spare->cell(1, 16'382)->pasteSpecial(PasteKind::All);
    EXPECT_EQ(this->errors().error().code, ErrorCode::InvalidReference);
    this->errors().clear();
    EXPECT_EQ(spare->findLast(SearchOrder::ByRows), nullptr);
    this->application->clearClipboard();
    spare->cell(9, 1)->pasteSpecial(PasteKind::All);
    EXPECT_TRUE(this->failed());
    EXPECT_EQ(spare->findLast(SearchOrder::ByRows), nullptr);
}

TYPED_TEST(AutomationContract, FormatsTravelBetweenNewWorkbooks) {
    std::shared_ptr<Workbook> other = this->application->addWorkbook();
    std::shared_ptr<Worksheet> from = other->worksheet(1);
    this->fill(*from, "A1:C1", {{"x", "y", "z"}});
    from->range("C1")->setFontSize(14);  // gives the other workbook's formats other numbers
    from->range("A1")->setFontBold(true);
    from->range("A1:C1")->copyTo(*this->sheet->cell(2, 2));
    ASSERT_FALSE(this->failed()) << this->errors().message();
    EXPECT_EQ(this->texts(*this->sheet->range("B2:D2")), (std::vector<std::string>{"x", "y", "z"}));
    EXPECT_EQ(this->look(*this->book, 1).boldCells, (std::set<std::pair<int, int>>{{2, 2}}));
}

TYPED_TEST(AutomationContract, ABlockCopiedOntoItselfReadsItsOwnCellsFirst) {
    Worksheet& sheet = *this->sheet;
    this->fill(sheet, "A1:B3", {{"p", "1"}, {"q", "2"}, {"r", "3"}});
    sheet.holdTopRows(1);
    sheet.range("A1:B3")->copyTo(*sheet.cell(2, 1));
    ASSERT_FALSE(this->failed()) << this->errors().message();
    EXPECT_EQ(this->texts(*sheet.range("A1:B4")),
              (std::vector<std::string>{"p", "1", "p", "1", "q", "2", "r", "3"}));
}

TYPED_TEST(AutomationContract, MergingKeepsTheTopLeftValueAndReplacesOverlaps) {
    Worksheet& sheet = *this->sheet;
    sheet.range("A1")->setValue(CellValue::ofText("top"));
    sheet.range("A1")->merge();  // one cell: no merge
    sheet.range("A1:B2")->merge();
    sheet.range("D1:E1")->merge();
    sheet.range("B2:C3")->merge();  // overlaps A1:B2, which goes
    EXPECT_FALSE(this->failed());
    EXPECT_EQ(sheet.range("A1")->value().text, "top");
    EXPECT_EQ(this->look(*this->book, 1).merges,
              (std::vector<RangeRef>{{{1, 4}, {1, 5}}, {{2, 2}, {3, 3}}}));
}

TYPED_TEST(AutomationContract, SaveAsNeverReplacesAFile) {
    const std::string path = this->scratch.next();
    this->sheet->range("A1")->setValue(CellValue::ofText("x"));
    this->book->saveAs(path, SaveFormat::Xlsx);
    ASSERT_FALSE(this->failed()) << this->errors().message();
    std::shared_ptr<Workbook> other = this->application->addWorkbook();
    other->saveAs(path, SaveFormat::Xlsx);
    EXPECT_EQ(this->errors().error().code, ErrorCode::TargetExists);
    this->errors().clear();
    // save() writes again where saveAs wrote.
    this->book->save();
    EXPECT_FALSE(this->failed()) << this->errors().message();
}

TYPED_TEST(AutomationContract, SelectionDecidesTheActiveSheetAndTheFrozenPanes) {
    std::shared_ptr<Worksheet> first = this->sheet;
    std::shared_ptr<Worksheet> second = this->addSheet();
    first->setName("一");
    second->setName("二");
    EXPECT_EQ(this->book->activeSheet()->name(), "二");
    first->select();
    EXPECT_EQ(this->book->activeSheet()->name(), "一");
    // Panes freeze above and left of the active cell; at A1 there is nothing to freeze.
    first->range("C4:D9")->select();
    this->book->setFreezePanes(true);
    EXPECT_EQ(this->look(*this->book, 1).frozen, std::pair(3, 2));
    this->book->setFreezePanes(false);
    EXPECT_EQ(this->look(*this->book, 1).frozen, std::pair(0, 0));
    first->range("A1")->select();
    this->book->setFreezePanes(true);
    EXPECT_EQ(this->look(*this->book, 1).frozen, std::pair(0, 0));
    EXPECT_FALSE(this->failed()) << this->errors().message();
}

TYPED_TEST(AutomationContract, NotesBelongToOneCellAndAreSavedWithIt) {
    using Notes = std::map<std::pair<int, int>, std::string>;
    Worksheet& sheet = *this->sheet;
    this->fill(sheet, "A1:B2", {{"列表", ""}, {"", "文件.xlsx"}});
    sheet.range("A1:B2")->setFontBold(true);
    const std::string tricky = "其它：a & b <c> \"d\"\r\n第二行 _x000D_ \t";
    sheet.range("B2")->setNote(tricky);
    sheet.cell(3, 5)->setNote(" 空单元格上的说明 ");
    sheet.range("C4")->setNote("第一次");
    sheet.range("C4")->setNote("替换");  // a second note replaces the first
    sheet.range("D5")->setNote("去掉");
    sheet.range("D5")->setNote("");  // an empty text removes it
    sheet.range("XFD1048576")->setNote("右下角");
    ASSERT_FALSE(this->failed()) << this->errors().message();
    for (const char* several : {"B2:C2", "A1:A2", "C4:D5"}) {
        SCOPED_TRACE(several);
        sheet.range(several)->setNote("不行");
        EXPECT_TRUE(this->failed());
    }
    const Notes expected = {{{2, 2}, tricky},
                            {{3, 5}, " 空单元格上的说明 "},
                            {{4, 3}, "替换"},
                            {{1'048'576, 16'384}, "右下角"}};
    const SheetLook look = this->look(*this->book, 1);
    EXPECT_EQ(look.notes, expected);
    // Notes leave values and formats as they were.
    EXPECT_EQ(this->texts(*sheet.range("A1:B2")),
              (std::vector<std::string>{"列表", "", "", "文件.xlsx"}));
    EXPECT_EQ(look.boldCells, (std::set<std::pair<int, int>>{{1, 1}, {1, 2}, {2, 1}, {2, 2}}));

    // Copies do not carry notes; rolling rows back takes theirs.
    std::shared_ptr<Worksheet> other = this->addSheet();
    sheet.range("A1:E5")->copyTo(*other->cell(1, 1));
    sheet.range("A1:E5")->copy();
    other->cell(11, 1)->pasteSpecial(PasteKind::All);
    ASSERT_FALSE(this->failed()) << this->errors().message();
    EXPECT_TRUE(this->look(*this->book, 2).notes.empty());
    sheet.clearFromRow(4);
    EXPECT_FALSE(this->failed());
    EXPECT_EQ(this->look(*this->book, 1).notes,
              (Notes{{{2, 2}, tricky}, {{3, 5}, " 空单元格上的说明 "}}));
}

TYPED_TEST(AutomationContract, NotesOnRowsAlreadyFinalAreKept) {
    // A block placed at row 10 makes the rows above it final (the engine moves them out of
    // memory); their notes stay, and notes can still be given to them.
    std::shared_ptr<Workbook> sourceBook = this->application->addWorkbook();
    this->fill(*sourceBook->worksheet(1), "A1:B2", {{"s", "t"}, {"u", "v"}});
    Worksheet& sheet = *this->sheet;
    this->fill(sheet, "A1:A3", {{"a"}, {"b"}, {"c"}});
    sheet.range("A2")->setNote("早于");
    sourceBook->worksheet(1)->range("A1:B2")->copyTo(*sheet.cell(10, 1));
    sheet.range("A3")->setNote("晚于");
    sheet.finishRows();
    sheet.range("C1")->setNote("完成之后");
    ASSERT_FALSE(this->failed()) << this->errors().message();
    EXPECT_EQ(this->look(*this->book, 1).notes,
              (std::map<std::pair<int, int>, std::string>{
                  {{1, 3}, "完成之后"}, {{2, 1}, "早于"}, {{3, 1}, "晚于"}}));
}

TYPED_TEST(AutomationContract, WorksheetsComeInTabOrderWithTheirVisibility) {
    const std::shared_ptr<Workbook> book = TypeParam::openKindsAndStates(*this->application);
    ASSERT_NE(book, nullptr) << this->errors().message();
    // Chart, dialog and macro sheets are no worksheets: not counted, not at a position.
    ASSERT_EQ(book->worksheetCount(), 2);
    const std::shared_ptr<Worksheet> first = book->worksheet(1);
    const std::shared_ptr<Worksheet> second = book->worksheet(2);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->name(), "Data");
    EXPECT_EQ(first->visibility(), spreadsheet::Visibility::Visible);
    EXPECT_EQ(second->name(), "Hidden data");
    EXPECT_EQ(second->visibility(), spreadsheet::Visibility::Hidden);
    EXPECT_EQ(book->worksheet("chart"), nullptr);
    EXPECT_TRUE(this->failed());
    const std::shared_ptr<Worksheet> active = book->activeSheet();
    ASSERT_NE(active, nullptr);
    EXPECT_EQ(active->name(), "Chart");
    EXPECT_EQ(active->findLast(SearchOrder::ByRows), nullptr);
    book->close();
    this->errors().clear();
}

TYPED_TEST(AutomationContract, FailuresOfOpeningAndOfEmptyQuestionsAreReported) {
    EXPECT_EQ(this->application->openWorkbook((this->scratch.folder / "none.xlsx").string()),
              nullptr);
    EXPECT_TRUE(this->failed());
    // A sheet without formulas answers 0 and says so.
    this->sheet->range("A1")->setValue(CellValue::ofNumber(1));
    EXPECT_EQ(this->sheet->formulaCellCount(), 0);
    EXPECT_TRUE(this->failed());
    // Saving gives the workbook its file's name.
    const std::string path = this->scratch.next();
    this->book->saveAs(path, SaveFormat::Xlsx);
    ASSERT_FALSE(this->failed()) << this->errors().message();
    EXPECT_EQ(this->book->fullName(), path);
    EXPECT_EQ(this->book->name(), fs::path(path).filename().string());
}

// The planned copy: the rows a plan keeps, one below the other, each column where the plan puts
// it, with formats; a merge is kept only where its rows and columns stay together.
TYPED_TEST(AutomationContract, PlannedCopyPlacesTheChosenRowsInTheirColumns) {
    std::shared_ptr<Workbook> sourceBook = this->application->addWorkbook();
    copySource(*this, *sourceBook);
    std::shared_ptr<Workbook> opened = this->reopen(*sourceBook);
    ASSERT_TRUE(opened) << this->errors().message();
    const std::shared_ptr<Range> block = opened->worksheet(1)->range("A1:D4");

    struct Case {
        const char* name;
        BlockPlan plan;
        std::vector<int> rows;
        int unmerged;
        std::vector<std::string> placed;  // B3:E4 after the copy
        std::set<std::pair<int, int>> bold;
        std::set<std::string> merges;
    };
    const Case cases[] = {
        {"columns reordered, stopped at row 3",
         {.columnMap = {2, 0, 1, 3}, .stopAt = "e"},
         {1, 2},
         2,  // A1:B1 and C1:D1 no longer side by side in order; A3:A4 not placed
         {"", "t3", "t1", "t4", "b", "", "a", "d"},
         {{4, 2}},
         {}},
        {"columns kept, last two rows left out",
         {.skipLast = 2},
         {1, 2},
         0,
         {"t1", "", "t3", "t4", "a", "b", "", "d"},
         {{4, 3}},
         {"B3:C3", "D3:E3"}},
        {"a column left out, the blank-free rows",
         {.columnMap = {0, 1, -1, 2}, .skipBlankRows = true},
         {1, 2, 3, 4},
         1,  // C1:D1 loses its left column
         {"t1", "", "t4", "", "a", "b", "d", ""},
         {{4, 3}, {6, 4}},  // C3 is in the column left out
         {"B3:C3", "B5:B6"}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        std::shared_ptr<Workbook> book = this->application->addWorkbook();
        std::shared_ptr<Worksheet> target = book->worksheet(1);
        RowDigestSet seen;
        const RowSelection chosen = block->selectRows(row.plan, seen);
        EXPECT_EQ(chosen.rows, row.rows);
        EXPECT_EQ(block->copyRows(*target->cell(3, 2), chosen, row.plan), row.unmerged);
        ASSERT_FALSE(this->failed()) << this->errors().message();
        EXPECT_EQ(this->texts(*target->range("B3:E4")), row.placed);
        const SheetLook look = this->look(*book, 1);
        EXPECT_EQ(look.boldCells, row.bold);
        std::set<std::string> merges;
        for (const RangeRef& merged : look.merges) merges.insert(spreadsheet::formatRange(merged));
        EXPECT_EQ(merges, row.merges);
    }
    // Rows that do not fit below the grid's last row are refused and nothing is placed.
    std::shared_ptr<Workbook> book = this->application->addWorkbook();
    RowDigestSet seen;
    const RowSelection all = block->selectRows(BlockPlan{}, seen);
    EXPECT_EQ(block->copyRows(*book->worksheet(1)->cell(spreadsheet::XlsxMaxRows - 2, 1), all,
                              BlockPlan{}),
              0);
    EXPECT_TRUE(this->failed());
}

TYPED_TEST(AutomationContract, RowsAreJudgedByTheirDisplayedValues) {
    Worksheet& sheet = *this->sheet;
    ValueBlock values(4, std::vector<CellValue>(2));
    values[0] = {CellValue::ofNumber(1.5), CellValue::ofText("甲")};
    values[1] = {CellValue::ofText("1.5"), CellValue::ofText("甲")};  // shows as row 1
    values[2] = {CellValue::ofNumber(15), CellValue::ofText("甲")};
    values[3] = {CellValue{}, CellValue::ofText(" 合计 ")};
    sheet.range("A1")->setValues(values);
    const std::shared_ptr<Range> block = sheet.range("A1:B5");
    RowDigestSet seen;
    const RowSelection chosen =
        block->selectRows(BlockPlan{.skipBlankRows = true, .stopAt = "合计", .dedupe = true}, seen);
    EXPECT_EQ(chosen.rows, (std::vector<int>{1, 3}));
    EXPECT_EQ(chosen.duplicates, 1);
    EXPECT_EQ(chosen.stopped, 2);
    EXPECT_EQ(chosen.digests.size(), 2u);
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_FALSE(this->failed());
}

TYPED_TEST(AutomationContract, MergedCellsAreSplitAndFilledInsideTheArea) {
    std::shared_ptr<Worksheet> source = copySource(*this, *this->book);
    source->range("A3")->setFontBold(true);
    // A3:A5 overlaps rows 2..4; A1:B1 and C1:E1 lie above them.
    EXPECT_EQ(source->fillMergedCells({{2, 1}, {4, 4}}), 1);
    ASSERT_FALSE(this->failed()) << this->errors().message();
    EXPECT_EQ(this->texts(*source->range("A3:A5")), (std::vector<std::string>{"e", "e", ""}));
    const SheetLook look = this->look(*this->book, 1);
    std::set<std::string> merges;
    for (const RangeRef& merged : look.merges) merges.insert(spreadsheet::formatRange(merged));
    EXPECT_EQ(merges, (std::set<std::string>{"A1:B1", "C1:E1"}));
    EXPECT_TRUE(look.boldCells.count({4, 1}) == 1) << "the filled cell takes the format";
    EXPECT_EQ(look.boldCells.count({5, 1}), 0u) << "outside the area nothing is filled";
}

TYPED_TEST(AutomationContract, TopRowsKeptOpenStayWritableWhileRowsArePlacedBelow) {
    std::shared_ptr<Workbook> sourceBook = this->application->addWorkbook();
    copySource(*this, *sourceBook);
    std::shared_ptr<Workbook> opened = this->reopen(*sourceBook);
    ASSERT_TRUE(opened);
    const std::shared_ptr<Range> block = opened->worksheet(1)->range("A1:D4");

    Worksheet& target = *this->sheet;
    target.keepTopRowsOpen(1);
    this->fill(target, "A1:B1", {{"h1", ""}});
    block->copyTo(*target.cell(2, 1));
    block->copyTo(*target.cell(6, 1));  // rows 2 to 5 are final now
    target.range("B1")->setValue(CellValue::ofText("h2"));
    target.range("E1")->setFontBold(true);
    ASSERT_FALSE(this->failed()) << this->errors().message();
    std::shared_ptr<Workbook> again = this->reopen(*this->book);
    ASSERT_TRUE(again) << this->errors().message();
    std::shared_ptr<Worksheet> read = again->worksheet(1);
    EXPECT_EQ(this->texts(*read->range("A1:B1")), (std::vector<std::string>{"h1", "h2"}));
    EXPECT_EQ(this->texts(*read->range("A2:A9")),
              (std::vector<std::string>{"t1", "a", "e", "i", "t1", "a", "e", "i"}));
}

TYPED_TEST(AutomationContract, NumberFormatsAreReadAndGivenToRanges) {
    std::shared_ptr<Worksheet> source = this->richSource();
    ASSERT_TRUE(source);
    EXPECT_EQ(source->range("A2")->numberFormat(), "yyyy-mm-dd");
    EXPECT_EQ(source->range("B2:C2")->numberFormat(), "0.0%");  // the top-left cell's
    EXPECT_EQ(source->range("C2")->numberFormat(), "General");
    EXPECT_EQ(source->range("F9")->numberFormat(), "General");  // no cell at all
    EXPECT_FALSE(this->failed());

    const std::string chinese = "yyyy\"年\"m\"月\"d\"日\"";
    Worksheet& target = *this->sheet;
    target.range("A1:A3")->setValue(CellValue::ofNumber(45660));
    target.range("B1")->setValue(CellValue::ofText("text"));
    target.range("A1:B2")->setNumberFormat(chinese);
    target.range("A2")->setNumberFormat("General");
    target.range("A3")->setFontBold(true);
    target.range("A3")->setNumberFormat("0.00");
    ASSERT_FALSE(this->failed()) << this->errors().message();
    EXPECT_EQ(target.range("A1")->numberFormat(), chinese);
    // Values and other formats stay; an empty cell takes the format too.
    EXPECT_EQ(target.range("A1")->value(), CellValue::ofNumber(45660));
    const SheetLook look = this->look(*this->book, 1);
    EXPECT_EQ(look.numberFormats,
              (std::map<Cell, std::string>{
                  {{1, 1}, chinese}, {{1, 2}, chinese}, {{2, 2}, chinese}, {{3, 1}, "0.00"}}));
    EXPECT_EQ(look.boldCells, (std::set<Cell>{{3, 1}}));

    // Copies carry the formats of their cells.
    source->range("A2:C2")->copyTo(*target.cell(5, 1));
    ASSERT_FALSE(this->failed()) << this->errors().message();
    EXPECT_EQ(target.range("A5")->numberFormat(), "yyyy-mm-dd");
    EXPECT_EQ(target.range("B5")->numberFormat(), "0.0%");
}

TYPED_TEST(AutomationContract, RichTextsTravelWithTheirRunsAndFonts) {
    std::shared_ptr<Worksheet> source = this->richSource();
    ASSERT_TRUE(source);
    EXPECT_EQ(source->range("A1")->value(), CellValue::ofText("plain bold red"));

    // copyTo, and copy with pasteSpecial, from the source to the result; the runs move with
    // their cells.
    Worksheet& target = *this->sheet;
    target.range("C3")->setValue(CellValue::ofText("over"));
    source->range("A1:C2")->copyTo(*target.cell(2, 2));
    std::shared_ptr<Worksheet> pasted = this->addSheet();
    source->range("C1")->copy();
    pasted->cell(4, 1)->pasteSpecial(PasteKind::All);
    this->application->clearClipboard();
    ASSERT_FALSE(this->failed()) << this->errors().message();
    EXPECT_EQ(target.range("D2")->value(), CellValue::ofText("中文abc"));

    // A value written over a rich cell is plain; a plain cell copied over one makes it plain.
    target.range("B4")->setValue(CellValue::ofText("whatever"));
    source->range("A1")->copyTo(*target.cell(2, 6));
    source->range("B1")->copyTo(*target.cell(2, 6));
    ASSERT_FALSE(this->failed()) << this->errors().message();

    EXPECT_EQ(this->look(*this->book, 1).runs,
              (std::map<Cell, std::vector<RunLook>>{{{2, 2}, PlainBoldRed}, {{2, 4}, ChineseAbc}}));
    EXPECT_EQ(this->look(*this->book, 2).runs,
              (std::map<Cell, std::vector<RunLook>>{{{4, 1}, ChineseAbc}}));

    // From one new workbook to another, and within one (the header of a new result sheet).
    std::shared_ptr<Workbook> other = this->application->addWorkbook();
    other->worksheet(1)->range("A1")->setFontSize(20);  // other numbers for the other's formats
    target.range("B2:D2")->copyTo(*other->worksheet(1)->cell(1, 1));
    target.range("B2:D2")->copy();
    pasted->cell(1, 1)->pasteSpecial(PasteKind::All);
    ASSERT_FALSE(this->failed()) << this->errors().message();
    EXPECT_EQ(this->look(*other, 1).runs,
              (std::map<Cell, std::vector<RunLook>>{{{1, 1}, PlainBoldRed}, {{1, 3}, ChineseAbc}}));
    EXPECT_EQ(this->look(*this->book, 2).runs,
              (std::map<Cell, std::vector<RunLook>>{
                  {{1, 1}, PlainBoldRed}, {{1, 3}, ChineseAbc}, {{4, 1}, ChineseAbc}}));
}

// Splitting a merged cell fills its cells with the rich text's runs too; a filled cell that
// was rich before takes the plain value of a plain anchor.
TYPED_TEST(AutomationContract, FilledMergedCellsTakeTheRunsOfTheirAnchor) {
    std::shared_ptr<Worksheet> source = this->richSource();
    ASSERT_TRUE(source);
    Worksheet& target = *this->sheet;
    source->range("A1")->copyTo(*target.cell(1, 1));  // rich
    source->range("C1")->copyTo(*target.cell(1, 3));  // rich, under the plain anchor below
    target.range("B1")->setValue(CellValue::ofText("plain"));
    target.range("A1:A2")->merge();
    target.range("B1:C1")->merge();
    ASSERT_FALSE(this->failed()) << this->errors().message();
    EXPECT_EQ(target.fillMergedCells({{1, 1}, {2, 3}}), 2);
    ASSERT_FALSE(this->failed()) << this->errors().message();
    EXPECT_EQ(this->texts(*target.range("A2:C2")),
              (std::vector<std::string>{"plain bold red", "", ""}));
    EXPECT_EQ(target.range("C1")->value(), CellValue::ofText("plain"));
    EXPECT_EQ(
        this->look(*this->book, 1).runs,
        (std::map<Cell, std::vector<RunLook>>{{{1, 1}, PlainBoldRed}, {{2, 1}, PlainBoldRed}}));
}

TYPED_TEST(AutomationContract, PastedColumnWidthsShowWhatTheSourceColumnsShow) {
    std::shared_ptr<Worksheet> source = this->richSource();
    ASSERT_TRUE(source);
    Worksheet& target = *this->sheet;
    target.range("A1:G1")->setColumnWidth(3);
    source->range("A1:E2")->copy();
    target.cell(1, 2)->pasteSpecial(PasteKind::ColumnWidths);
    ASSERT_FALSE(this->failed()) << this->errors().message();
    // A and D-E of the default width 20, B hidden at 12, C 7.5; A and G keep their own.
    const SheetLook look = this->look(*this->book, 1);
    EXPECT_EQ(look.widths, (std::map<int, double>{
                               {1, 3}, {2, 20}, {3, 12}, {4, 7.5}, {5, 20}, {6, 20}, {7, 3}}));
    EXPECT_EQ(look.hiddenColumns, (std::set<int>{3}));

    // The widths of a result sheet go on to the next with the hidden column; a column given a
    // width shows again.
    std::shared_ptr<Worksheet> next = this->addSheet();
    target.range("A1:G1")->copy();
    next->range("A1")->pasteSpecial(PasteKind::ColumnWidths);
    target.range("C1")->setColumnWidth(9);
    ASSERT_FALSE(this->failed()) << this->errors().message();
    const SheetLook nextLook = this->look(*this->book, 2);
    EXPECT_EQ(nextLook.hiddenColumns, (std::set<int>{3}));
    EXPECT_EQ(nextLook.widths.at(3), 12);
    EXPECT_TRUE(this->look(*this->book, 1).hiddenColumns.empty());
}

}  // namespace
}  // namespace merge
