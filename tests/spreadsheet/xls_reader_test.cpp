#include "spreadsheet/xls_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>

#include "spreadsheet/biff_records.h"
#include "spreadsheet/cfb.h"
#include "spreadsheet/xlsx_reader.h"

namespace spreadsheet {
namespace {

std::vector<std::uint8_t> fixture(const char* name) {
    std::ifstream in(std::filesystem::path(SHEETMERGE_TEST_DATA) / "xls" / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Little byte writer for record payloads.
struct Bytes {
    std::vector<std::uint8_t> data;
    Bytes& u8(unsigned value) {
        data.push_back(static_cast<std::uint8_t>(value));
        return *this;
    }
    Bytes& u16(unsigned value) { return u8(value & 0xFF).u8((value >> 8) & 0xFF); }
    Bytes& u32(std::uint32_t value) { return u16(value & 0xFFFF).u16(value >> 16); }
    Bytes& f64(double value) {
        std::uint64_t bits;
        std::memcpy(&bits, &value, 8);
        return u32(static_cast<std::uint32_t>(bits)).u32(static_cast<std::uint32_t>(bits >> 32));
    }
    Bytes& latin1(const std::string& text) {  // BIFF8 string: count, flags 0, bytes
        u16(static_cast<unsigned>(text.size())).u8(0);
        data.insert(data.end(), text.begin(), text.end());
        return *this;
    }
    Bytes& shortLatin1(const std::string& text) {
        u8(static_cast<unsigned>(text.size())).u8(0);
        data.insert(data.end(), text.begin(), text.end());
        return *this;
    }
};

void addRecord(std::vector<std::uint8_t>& stream, std::uint16_t id, const Bytes& payload = {}) {
    Bytes header;
    header.u16(id).u16(static_cast<unsigned>(payload.data.size()));
    stream.insert(stream.end(), header.data.begin(), header.data.end());
    stream.insert(stream.end(), payload.data.begin(), payload.data.end());
}

Bytes bof(unsigned type) {
    return Bytes().u16(0x0600).u16(type).u16(0x0DBB).u16(0x07CC).u32(0).u32(0x0206);
}

struct SheetDefinition {
    std::string name;
    std::vector<std::uint8_t> records;  // between the sheet's BOF and EOF
    unsigned type = 0;                  // BOUNDSHEET type: 0 worksheet, 2 chart
    unsigned state = 0;
};

// A raw BIFF8 workbook stream (readXls accepts these as well as compound files).
std::vector<std::uint8_t> book(const std::vector<std::uint8_t>& globals,
                               const std::vector<SheetDefinition>& sheets) {
    std::vector<std::uint8_t> stream;
    addRecord(stream, biff::Bof, bof(0x05));
    stream.insert(stream.end(), globals.begin(), globals.end());
    std::vector<std::size_t> offsetFields;
    for (const SheetDefinition& sheet : sheets) {
        offsetFields.push_back(stream.size() + 4);
        addRecord(stream, biff::BoundSheet,
                  Bytes().u32(0).u8(sheet.state).u8(sheet.type).shortLatin1(sheet.name));
    }
    addRecord(stream, biff::Eof);
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        std::uint32_t offset = static_cast<std::uint32_t>(stream.size());
        std::memcpy(stream.data() + offsetFields[i], &offset, 4);
        addRecord(stream, biff::Bof, bof(sheets[i].type == 2 ? 0x20 : 0x10));
        stream.insert(stream.end(), sheets[i].records.begin(), sheets[i].records.end());
        addRecord(stream, biff::Eof);
    }
    return stream;
}

std::vector<std::uint8_t> records(std::initializer_list<std::pair<std::uint16_t, Bytes>> list) {
    std::vector<std::uint8_t> stream;
    for (const auto& [id, payload] : list) addRecord(stream, id, payload);
    return stream;
}

Bytes cellHeader(unsigned row, unsigned column, unsigned xf = 0) {
    return Bytes().u16(row).u16(column).u16(xf);
}
Bytes number(unsigned row, unsigned column, double value, unsigned xf = 0) {
    return cellHeader(row, column, xf).f64(value);
}

// Globals defining a FONT and XF 0 (General) and XF 1 with format id 14 (a built-in date).
std::vector<std::uint8_t> formattingGlobals(std::vector<std::uint8_t> extra = {}) {
    std::vector<std::uint8_t> globals;
    Bytes font =
        Bytes().u16(200).u16(0).u16(0x7FFF).u16(400).u16(0).u8(0).u8(0).u8(0).u8(0).shortLatin1(
            "Arial");
    for (int i = 0; i < 5; ++i) addRecord(globals, biff::Font, font);
    addRecord(globals, biff::Xf,
              Bytes().u16(0).u16(0).u16(1).u8(0x20).u8(0).u8(0).u8(0).u32(0).u32(0).u16(0x20C0));
    addRecord(globals, biff::Xf,
              Bytes().u16(0).u16(14).u16(1).u8(0x20).u8(0).u8(0).u8(0).u32(0).u32(0).u16(0x20C0));
    globals.insert(globals.end(), extra.begin(), extra.end());
    return globals;
}

const Cell* cellAt(const WorkbookData& data, std::size_t sheet, int row, int column) {
    return data.sheets.at(sheet).cell(row, column);
}

TEST(XlsReader, ReadsLibreOfficeGridValues) {
    Result<WorkbookData> data = readXls(fixture("grid.xls"));
    ASSERT_TRUE(data) << data.error().detail;
    EXPECT_EQ(data->format, FileFormat::Xls);
    EXPECT_EQ(data->grid.rows, 65'536);
    EXPECT_EQ(data->grid.columns, 256);
    ASSERT_EQ(data->sheets.size(), 2u);
    EXPECT_EQ(data->sheets[0].name, "数据");
    EXPECT_EQ(data->sheets[1].name, "Hidden");
    EXPECT_EQ(data->sheets[1].visibility, Visibility::Hidden);
    EXPECT_EQ(data->activeSheet, 0);
    EXPECT_FALSE(data->date1904);

    struct Expected {
        const char* cell;
        int row, column;
        CellType type;
        double number;
        const char* text;
        bool formula;
    };
    const Expected table[] = {
        {"A1", 1, 1, CellType::Text, 0, "名称", false},
        {"A2", 2, 1, CellType::Text, 0, "苹果", false},
        {"B2", 2, 2, CellType::Number, 12, "", false},
        {"C2", 2, 3, CellType::Number, 42170, "", false},  // 2015-06-15
        {"D2", 2, 4, CellType::Number, 0.25, "", false},
        {"B3", 3, 2, CellType::Number, -3.5, "", false},
        {"C3", 3, 3, CellType::Number, 36525, "", false},  // 1999-12-31
        {"E3", 3, 5, CellType::Boolean, 1, "", true},      // LibreOffice stores TRUE as =TRUE()
        {"B4", 4, 2, CellType::Number, 1234567.891, "", false},
        {"C4", 4, 3, CellType::Number, 42170 + (9 * 3600 + 30 * 60 + 12) / 86400.0, "", false},
        {"E4", 4, 5, CellType::Boolean, 0, "", true},
        {"B5", 5, 2, CellType::Number, 24, "", true},
        {"C5", 5, 3, CellType::Text, 0, "Banana-x", true},
        {"D5", 5, 4, CellType::Error, 0, "#DIV/0!", true},
        {"A6", 6, 1, CellType::Text, 0, "合并单元格", false},
    };
    for (const Expected& expected : table) {
        SCOPED_TRACE(expected.cell);
        const Cell* cell = cellAt(*data, 0, expected.row, expected.column);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->type, expected.type);
        EXPECT_EQ(cell->hasFormula, expected.formula);
        if (expected.type == CellType::Number || expected.type == CellType::Boolean) {
            EXPECT_NEAR(cell->number, expected.number, 1e-9);
        } else {
            EXPECT_EQ(cell->text, expected.text);
        }
    }
    ASSERT_NE(cellAt(*data, 1, 1, 1), nullptr);
    EXPECT_EQ(cellAt(*data, 1, 1, 1)->text, "secret");
}

TEST(XlsReader, ReadsLibreOfficeGridFormats) {
    Result<WorkbookData> data = readXls(fixture("grid.xls"));
    ASSERT_TRUE(data) << data.error().detail;
    auto style = [&](int row, int column) -> const CellStyle& {
        const Cell* cell = cellAt(*data, 0, row, column);
        EXPECT_NE(cell, nullptr);
        return data->styles.at(cell ? cell->style : 0);
    };
    const CellStyle& header = style(1, 1);
    EXPECT_TRUE(header.font.bold);
    EXPECT_EQ(header.font.size, 12.0);
    EXPECT_EQ(header.font.color, Color(0xFFFFFFFF));
    EXPECT_EQ(header.fill.pattern, "solid");
    EXPECT_EQ(header.fill.foreground, Color(0xFF000080));
    EXPECT_EQ(header.border.bottom.style, "double");
    EXPECT_EQ(header.border.bottom.color, Color(0xFFFF0000));
    EXPECT_EQ(header.alignment.horizontal, "center");
    EXPECT_EQ(header.alignment.vertical, "center");

    const CellStyle& green = style(2, 1);
    EXPECT_TRUE(green.font.italic);
    EXPECT_EQ(green.font.underline, "single");
    EXPECT_EQ(green.font.color, Color(0xFF008000));

    const CellStyle& boxed = style(3, 1);
    EXPECT_EQ(boxed.border.left.style, "thin");
    EXPECT_EQ(boxed.border.left.color, Color(0xFF0000FF));
    EXPECT_EQ(boxed.border.right.style, "medium");
    EXPECT_EQ(boxed.border.top.style, "dashed");
    EXPECT_EQ(boxed.border.bottom.style, "thick");

    EXPECT_EQ(style(4, 1).alignment.horizontal, "right");
    EXPECT_TRUE(style(2, 5).alignment.wrapText);
    EXPECT_EQ(style(2, 5).alignment.vertical, "top");

    EXPECT_EQ(style(2, 2).numberFormat, "#,##0.00");
    EXPECT_EQ(style(2, 4).numberFormat, "0.00%");
    EXPECT_EQ(style(3, 4).numberFormat, "0%");
    EXPECT_NE(style(2, 3).numberFormat.find("年"), std::string::npos);
    EXPECT_TRUE(isDateFormat(style(2, 3).numberFormat));
    EXPECT_TRUE(isDateFormat(style(3, 3).numberFormat));
    EXPECT_TRUE(isDateFormat(style(4, 3).numberFormat));
    EXPECT_FALSE(isDateFormat(style(2, 2).numberFormat));

    const Sheet& sheet = data->sheets[0];
    ASSERT_EQ(sheet.merges.size(), 1u);
    EXPECT_EQ(sheet.merges[0], (RangeRef{{6, 1}, {7, 3}}));
    ASSERT_TRUE(sheet.autoFilter);
    EXPECT_EQ(*sheet.autoFilter, (RangeRef{{1, 1}, {4, 5}}));
    auto width = [&](int column) {
        for (const ColumnInfo& info : sheet.columns) {
            if (info.first <= column && column <= info.last) return info.width;
        }
        return 0.0;
    };
    EXPECT_NEAR(width(1), 20.0, 0.2);
    EXPECT_NEAR(width(5), 30.0, 0.2);
    ASSERT_NE(sheet.row(6), nullptr);
    EXPECT_NEAR(sheet.row(6)->height, 30.0, 0.05);
}

// Border colours: LibreOffice writes black (palette index 8) to .xls where its .xlsx has none.
Color borderColor(const BorderEdge& edge) {
    return edge.style.empty() ? Color() : edge.color.value_or(0xFF000000);
}

double effectiveWidth(const Sheet& sheet, int column) {
    for (const ColumnInfo& info : sheet.columns) {
        if (info.first <= column && column <= info.last) return info.width;
    }
    return sheet.defaultColumnWidth;
}

TEST(XlsReader, GridMatchesTheSameGridSavedAsXlsx) {
    // tests/data/xls/grid.xls and grid.xlsx: one grid saved by LibreOffice in both formats.
    Result<WorkbookData> xls = readXls(fixture("grid.xls"));
    Result<WorkbookData> xlsx = readXlsx(fixture("grid.xlsx"));
    ASSERT_TRUE(xls) << xls.error().detail;
    ASSERT_TRUE(xlsx) << xlsx.error().detail;
    ASSERT_EQ(xls->sheets.size(), xlsx->sheets.size());
    EXPECT_EQ(xls->activeSheet, xlsx->activeSheet);
    for (std::size_t index = 0; index < xls->sheets.size(); ++index) {
        const Sheet& a = xls->sheets[index];
        const Sheet& b = xlsx->sheets[index];
        SCOPED_TRACE(a.name);
        EXPECT_EQ(a.name, b.name);
        EXPECT_EQ(a.kind, b.kind);
        EXPECT_EQ(a.visibility, b.visibility);
        EXPECT_EQ(a.merges, b.merges);
        EXPECT_EQ(a.autoFilter, b.autoFilter);
        EXPECT_EQ(a.frozenPane, b.frozenPane);
        for (int column = 1; column <= 8; ++column) {
            SCOPED_TRACE(columnLetters(column));
            EXPECT_NEAR(effectiveWidth(a, column), effectiveWidth(b, column), 0.01);
        }
        for (int row = 1; row <= 8; ++row) {
            for (int column = 1; column <= 8; ++column) {
                SCOPED_TRACE(formatCell({row, column}));
                const Cell* x = a.cell(row, column);
                const Cell* y = b.cell(row, column);
                ASSERT_EQ(x == nullptr, y == nullptr);
                if (x == nullptr) continue;
                EXPECT_EQ(x->type, y->type);
                EXPECT_EQ(x->hasFormula, y->hasFormula);
                EXPECT_DOUBLE_EQ(x->number, y->number);
                EXPECT_EQ(x->text, y->text);
                const CellStyle& p = xls->styles.at(x->style);
                const CellStyle& q = xlsx->styles.at(y->style);
                EXPECT_EQ(p.numberFormat, q.numberFormat);
                EXPECT_EQ(p.font, q.font);
                EXPECT_EQ(p.fill, q.fill);
                EXPECT_EQ(p.alignment, q.alignment);
                EXPECT_EQ(p.protection, q.protection);
                for (auto edge : {&Border::left, &Border::right, &Border::top, &Border::bottom}) {
                    EXPECT_EQ((p.border.*edge).style, (q.border.*edge).style);
                    EXPECT_EQ(borderColor(p.border.*edge), borderColor(q.border.*edge));
                }
            }
        }
        for (int row = 1; row <= 8; ++row) {
            SCOPED_TRACE(row);
            const Row* x = a.row(row);
            const Row* y = b.row(row);
            ASSERT_EQ(x == nullptr, y == nullptr);
            if (x != nullptr) {
                EXPECT_EQ(x->height, y->height);
            }
        }
    }
}

TEST(XlsReader, ReadsSharedStringsSplitAcrossContinueRecords) {
    // tests/data/xls/sst_split_across_continue.xls: an encoding switch inside a string, rich
    // runs and phonetic bytes straddling records, a string starting a CONTINUE record.
    Result<WorkbookData> data = readXls(fixture("sst_split_across_continue.xls"));
    ASSERT_TRUE(data) << data.error().detail;
    const char* expected[] = {"Alpha", "ABCDE中文FG", "Rich", "Ext", "Start", "日本語text"};
    for (int row = 1; row <= 6; ++row) {
        SCOPED_TRACE(row);
        const Cell* cell = cellAt(*data, 0, row, 1);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->text, expected[row - 1]);
    }
}

TEST(XlsReader, DecodesBiff5TextInCodePage936) {
    Result<WorkbookData> data = readXls(fixture("biff5_gbk.xls"));
    ASSERT_TRUE(data) << data.error().detail;
    ASSERT_EQ(data->sheets.size(), 1u);
    EXPECT_EQ(data->sheets[0].name, "工资表");
    struct Expected {
        int row, column;
        const char* text;
    };
    const Expected texts[] = {
        {1, 1, "姓名"}, {1, 2, "城市"}, {2, 1, "张三"}, {2, 2, "北京市"}, {3, 1, "€ 100"}};
    for (const Expected& expected : texts) {
        SCOPED_TRACE(expected.text);
        const Cell* cell = cellAt(*data, 0, expected.row, expected.column);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->type, CellType::Text);
        EXPECT_EQ(cell->text, expected.text);
    }
    EXPECT_EQ(cellAt(*data, 0, 3, 2)->number, 3.25);
    EXPECT_EQ(cellAt(*data, 0, 4, 1)->number, 42.0);
    const Cell* date = cellAt(*data, 0, 4, 2);
    ASSERT_NE(date, nullptr);
    const CellStyle& dateStyle = data->styles.at(date->style);
    EXPECT_TRUE(isDateFormat(dateStyle.numberFormat)) << dateStyle.numberFormat;
    EXPECT_EQ(dateStyle.font.name, "宋体");
    EXPECT_TRUE(dateStyle.font.bold);
    EXPECT_EQ(dateStyle.font.size, 11.0);
    EXPECT_EQ(dateStyle.fill.pattern, "solid");
    EXPECT_EQ(dateStyle.fill.foreground, Color(0xFFFF0000));
}

// Writers of Excel 5.0/95 books that leave out the CODEPAGE record: a Chinese system's default
// font says GB2312, and the book's texts are read in code page 936.
TEST(XlsReader, TakesTheCodePageOfABiff5BookWithoutCodePageFromItsDefaultFont) {
    const std::vector<std::uint8_t> bytes = fixture("biff5_gbk.xls");
    Result<CompoundFile> file = CompoundFile::open(bytes);
    ASSERT_TRUE(file);
    Result<std::vector<std::uint8_t>> stream = file->readStream("Book");
    ASSERT_TRUE(stream);
    // Turn the CODEPAGE record into one no reader knows, keeping every offset.
    BiffCursor cursor(*stream);
    BiffRecord record;
    bool found = false;
    while (true) {
        Result<bool> more = cursor.next(record);
        ASSERT_TRUE(more);
        if (!*more) break;
        if (record.id != biff::CodePage) continue;
        (*stream)[record.offset] = 0x35;
        (*stream)[record.offset + 1] = 0x00;
        found = true;
    }
    ASSERT_TRUE(found);
    Result<WorkbookData> data = readXls(*stream);
    ASSERT_TRUE(data) << data.error().detail;
    EXPECT_EQ(data->sheets.at(0).name, "工资表");
    EXPECT_EQ(cellAt(*data, 0, 2, 2)->text, "北京市");
}

TEST(XlsReader, DecodesRkNumbers) {
    struct Case {
        std::uint32_t rk;
        double value;
    };
    const Case cases[] = {
        {(42u << 2) | 2, 42.0},
        {(12345u << 2) | 3, 123.45},
        {static_cast<std::uint32_t>(-7 * 4) | 2, -7.0},
        {0x3FF00000u, 1.0},       // the high 30 bits of the double 1.0
        {0x3FF00000u | 1, 0.01},  // 1.0 / 100
        {0xC0040000u, -2.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rk);
        EXPECT_DOUBLE_EQ(decodeRk(c.rk), c.value);
    }
}

TEST(XlsReader, ReadsCellRecordKinds) {
    std::vector<std::uint8_t> sheet = records({
        {biff::Number, number(0, 0, 1.5)},
        {biff::Rk, cellHeader(0, 1).u32((5u << 2) | 2)},
        {biff::MulRk,
         Bytes().u16(1).u16(2).u16(0).u32((1u << 2) | 2).u16(0).u32((2u << 2) | 2).u16(3)},
        {biff::BoolErr, cellHeader(2, 0).u8(1).u8(0)},
        {biff::BoolErr, cellHeader(2, 1).u8(0x2A).u8(1)},
        {biff::Label, cellHeader(3, 0).latin1("caf\xe9")},
        {biff::MulBlank, Bytes().u16(4).u16(0).u16(1).u16(1).u16(1)},
        {biff::Formula,
         cellHeader(5, 0).u8(0).u8(0).u8(0).u8(0).u8(0).u8(0).u16(0xFFFF).u16(0).u32(0).u16(0)},
        {biff::String, Bytes().latin1("from formula")},
        {biff::Formula,
         cellHeader(5, 1).u8(2).u8(0).u8(0x07).u8(0).u8(0).u8(0).u16(0xFFFF).u16(0).u32(0).u16(0)},
        {biff::Formula,
         cellHeader(5, 2).u8(3).u8(0).u8(0).u8(0).u8(0).u8(0).u16(0xFFFF).u16(0).u32(0).u16(0)},
        {biff::Formula, cellHeader(5, 3).f64(6.25).u16(0).u32(0).u16(0)},
    });
    Result<WorkbookData> data = readXls(book(formattingGlobals(), {{"S", sheet}}));
    ASSERT_TRUE(data) << data.error().detail;
    const WorkbookData& d = *data;
    EXPECT_EQ(cellAt(d, 0, 1, 1)->number, 1.5);
    EXPECT_EQ(cellAt(d, 0, 1, 2)->number, 5.0);
    EXPECT_EQ(cellAt(d, 0, 2, 3)->number, 1.0);
    EXPECT_EQ(cellAt(d, 0, 2, 4)->number, 2.0);
    EXPECT_EQ(cellAt(d, 0, 3, 1)->type, CellType::Boolean);
    EXPECT_EQ(cellAt(d, 0, 3, 1)->number, 1.0);
    EXPECT_EQ(cellAt(d, 0, 3, 2)->type, CellType::Error);
    EXPECT_EQ(cellAt(d, 0, 3, 2)->text, "#N/A");
    EXPECT_EQ(cellAt(d, 0, 4, 1)->text, "café");  // compressed BIFF8 text is Latin-1
    ASSERT_NE(cellAt(d, 0, 5, 2), nullptr);
    EXPECT_EQ(cellAt(d, 0, 5, 2)->type, CellType::Empty);
    EXPECT_EQ(cellAt(d, 0, 5, 2)->style, 1u);
    EXPECT_EQ(cellAt(d, 0, 6, 1)->text, "from formula");
    EXPECT_TRUE(cellAt(d, 0, 6, 1)->hasFormula);
    EXPECT_EQ(cellAt(d, 0, 6, 2)->text, "#DIV/0!");
    EXPECT_EQ(cellAt(d, 0, 6, 3)->type, CellType::Empty);
    EXPECT_TRUE(cellAt(d, 0, 6, 3)->hasFormula);
    EXPECT_EQ(cellAt(d, 0, 6, 4)->number, 6.25);
}

TEST(XlsReader, SortsOutOfOrderCellsAndKeepsTheLastDuplicate) {
    std::vector<std::uint8_t> sheet = records({
        {biff::Number, number(3, 1, 3)},
        {biff::Number, number(0, 2, 2)},
        {biff::Number, number(0, 0, 1)},
        {biff::Number, number(0, 2, 20)},
    });
    Result<WorkbookData> data = readXls(book(formattingGlobals(), {{"S", sheet}}));
    ASSERT_TRUE(data) << data.error().detail;
    const Sheet& s = data->sheets[0];
    ASSERT_EQ(s.rows.size(), 2u);
    EXPECT_EQ(s.rows[0].number, 1);
    ASSERT_EQ(s.rows[0].cells.size(), 2u);
    EXPECT_EQ(s.rows[0].cells[0].column, 1);
    EXPECT_EQ(s.rows[0].cells[1].number, 20.0);
    EXPECT_EQ(s.rows[1].number, 4);
}

TEST(XlsReader, ShiftsDatesOf1904Books) {
    std::vector<std::uint8_t> globals =
        formattingGlobals(records({{biff::DateMode, Bytes().u16(1)}}));
    std::vector<std::uint8_t> sheet =
        records({{biff::Number, number(0, 0, 0, 1)}, {biff::Number, number(0, 1, 5, 0)}});
    Result<WorkbookData> data = readXls(book(globals, {{"S", sheet}}));
    ASSERT_TRUE(data) << data.error().detail;
    EXPECT_TRUE(data->date1904);
    EXPECT_EQ(cellAt(*data, 0, 1, 1)->number, 1462.0);  // 1904-01-01 in the 1900 system
    EXPECT_EQ(cellAt(*data, 0, 1, 2)->number, 5.0);     // not a date: unchanged
}

TEST(XlsReader, ReadsSheetKindsStatesAndActiveTab) {
    std::vector<std::uint8_t> globals = formattingGlobals(
        records({{biff::Window1,
                  Bytes().u16(0).u16(0).u16(0).u16(0).u16(0x38).u16(2).u16(0).u16(1).u16(600)}}));
    std::vector<SheetDefinition> sheets = {
        {"Visible", {}, 0, 0},
        {"Chart", records({{biff::Number, number(0, 0, 9)}}), 2, 0},
        {"VeryHidden", records({{biff::WsBool, Bytes().u8(0x10).u8(0)}}), 0, 2},
    };
    Result<WorkbookData> data = readXls(book(globals, sheets));
    ASSERT_TRUE(data) << data.error().detail;
    ASSERT_EQ(data->sheets.size(), 3u);
    EXPECT_EQ(data->activeSheet, 2);
    EXPECT_EQ(data->sheets[0].kind, SheetKind::Worksheet);
    EXPECT_EQ(data->sheets[1].kind, SheetKind::Chart);
    EXPECT_TRUE(data->sheets[1].rows.empty());
    EXPECT_EQ(data->sheets[2].kind, SheetKind::Other);  // a dialog sheet
    EXPECT_EQ(data->sheets[2].visibility, Visibility::VeryHidden);

    std::vector<std::uint8_t> badTab = formattingGlobals(
        records({{biff::Window1,
                  Bytes().u16(0).u16(0).u16(0).u16(0).u16(0x38).u16(9).u16(0).u16(1).u16(600)}}));
    Result<WorkbookData> clamped = readXls(book(badTab, sheets));
    ASSERT_TRUE(clamped);
    EXPECT_EQ(clamped->activeSheet, 0);
}

TEST(XlsReader, ReadsLayoutRecords) {
    std::vector<std::uint8_t> sheet = records({
        {biff::DefColWidth, Bytes().u16(8)},
        {biff::ColInfo, Bytes().u16(1).u16(3).u16(15 * 256).u16(15).u16(0).u16(0)},
        {biff::ColInfo, Bytes().u16(5).u16(300).u16(4 * 256).u16(15).u16(1).u16(0)},
        {biff::Row, Bytes().u16(2).u16(0).u16(1).u16(600).u16(0).u16(0).u16(0x40).u16(0)},
        {biff::Row, Bytes().u16(9).u16(0).u16(0).u16(255).u16(0).u16(0).u16(0x20).u16(0)},
        {biff::Number, number(2, 0, 1)},
        {biff::MergedCells,
         Bytes().u16(2).u16(0).u16(1).u16(0).u16(2).u16(4).u16(4).u16(250).u16(300)},
        {biff::Window2, Bytes().u16(0x06BE).u16(0).u16(0)},
        {biff::Pane, Bytes().u16(1).u16(2).u16(2).u16(1).u8(0)},
    });
    Result<WorkbookData> data = readXls(book(formattingGlobals(), {{"S", sheet}}));
    ASSERT_TRUE(data) << data.error().detail;
    const Sheet& s = data->sheets[0];
    ASSERT_EQ(s.columns.size(), 2u);
    EXPECT_EQ(s.columns[0].first, 2);
    EXPECT_EQ(s.columns[0].last, 4);
    EXPECT_EQ(s.columns[0].width, 15.0);
    EXPECT_EQ(s.columns[1].last, 256);  // clipped to the grid
    EXPECT_TRUE(s.columns[1].hidden);
    ASSERT_NE(s.row(3), nullptr);
    EXPECT_EQ(s.row(3)->height, 30.0);
    EXPECT_TRUE(s.row(3)->customHeight);
    ASSERT_NE(s.row(10), nullptr);  // hidden, no cells
    EXPECT_TRUE(s.row(10)->hidden);
    ASSERT_EQ(s.merges.size(), 1u);  // the merge past column 256 is dropped
    EXPECT_EQ(s.merges[0], (RangeRef{{1, 1}, {2, 3}}));
    ASSERT_TRUE(s.frozenPane);
    EXPECT_EQ(*s.frozenPane, (FrozenPane{2, 1}));
}

TEST(XlsReader, SkipsEmbeddedChartSubstreams) {
    std::vector<std::uint8_t> sheet;
    addRecord(sheet, biff::Number, number(0, 0, 1));
    addRecord(sheet, biff::Bof, bof(0x20));
    addRecord(sheet, biff::Number, number(5, 5, 99));
    addRecord(sheet, biff::Eof);
    addRecord(sheet, biff::Number, number(1, 0, 2));
    Result<WorkbookData> data = readXls(book(formattingGlobals(), {{"S", sheet}}));
    ASSERT_TRUE(data) << data.error().detail;
    EXPECT_EQ(cellAt(*data, 0, 2, 1)->number, 2.0);
    EXPECT_EQ(cellAt(*data, 0, 6, 6), nullptr);
}

TEST(XlsReader, SkipsFontIndexFourAndAppliesThePalette) {
    std::vector<std::uint8_t> globals;
    for (int i = 0; i < 6; ++i) {
        addRecord(globals, biff::Font,
                  Bytes()
                      .u16(200 + 20 * i)
                      .u16(0)
                      .u16(i == 4 ? 8 : 0x7FFF)
                      .u16(400)
                      .u16(0)
                      .u8(0)
                      .u8(0)
                      .u8(0)
                      .u8(0)
                      .shortLatin1("F" + std::to_string(i)));
    }
    // XF 0 uses font index 5, which is the sixth FONT record (index 4 does not exist).
    addRecord(globals, biff::Xf,
              Bytes().u16(5).u16(0).u16(1).u8(0x20).u8(0).u8(0).u8(0).u32(0).u32(0).u16(0x20C0));
    addRecord(globals, biff::Palette, Bytes().u16(1).u8(0x12).u8(0x34).u8(0x56).u8(0));
    Result<WorkbookData> data =
        readXls(book(globals, {{"S", records({{biff::Number, number(0, 0, 1)}})}}));
    ASSERT_TRUE(data) << data.error().detail;
    const Font& font = data->styles.at(cellAt(*data, 0, 1, 1)->style).font;
    EXPECT_EQ(font.name, "F4");
    EXPECT_EQ(font.size, 14.0);
    EXPECT_EQ(font.color, Color(0xFF123456));
}

// A raw single-sheet stream of an old version: its BOF (`bofId`), then `records`, then EOF.
std::vector<std::uint8_t> oldSheet(std::uint16_t bofId, const std::vector<std::uint8_t>& records,
                                   unsigned type = 0x10) {
    std::vector<std::uint8_t> stream;
    addRecord(stream, bofId, Bytes().u16(0).u16(type).u16(0));
    stream.insert(stream.end(), records.begin(), records.end());
    addRecord(stream, biff::Eof);
    return stream;
}

// BIFF3/BIFF4 XF: font, format, protection, alignment, area (pattern and two 5-bit colours),
// borders (style and 5-bit colour per edge, top, left, bottom, right).
Bytes xf34(bool biff4, unsigned font, unsigned format, unsigned borderColor,
           unsigned patternColor = 24) {
    const unsigned area = 1 | (patternColor << 6) | (25u << 11);  // solid
    const std::uint32_t borders = 1u | (borderColor << 3) | (1u << 8) | (borderColor << 11);
    if (biff4) return Bytes().u8(font).u8(format).u16(1).u8(0x20).u8(0xFC).u16(area).u32(borders);
    return Bytes().u8(font).u8(format).u16(1 | (0xFC << 8)).u16(0).u16(area).u32(borders);
}

// Colour indexes mean what the file's version says: index 24 is a palette colour from BIFF5
// on, but the window text colour, i.e. automatic, in BIFF2-4 (index 64 in BIFF5 and later).
TEST(XlsReader, ReadsColourIndexesAsEachVersionDefinesThem) {
    const Color automatic;
    struct Case {
        const char* name;
        std::vector<std::uint8_t> stream;
        Color font, border, fill;
    };
    auto biff8 = [&](unsigned fontColor, unsigned borderColor) {
        std::vector<std::uint8_t> globals;
        Bytes font = Bytes().u16(200).u16(0).u16(fontColor).u16(400).u16(0).u8(0).u8(0).u8(0).u8(0);
        font.shortLatin1("Arial");
        addRecord(globals, biff::Font, font);
        const std::uint32_t borders = 1u | (1u << 4) | (borderColor << 16);
        addRecord(
            globals, biff::Xf,
            Bytes().u16(0).u16(0).u16(1).u8(0x20).u8(0).u8(0).u8(0).u32(borders).u32(1u << 26).u16(
                borderColor));
        return book(globals, {{"S", records({{biff::Number, number(0, 0, 1)}})}});
    };
    auto old = [&](bool biff4, unsigned fontColor, unsigned borderColor,
                   std::vector<std::uint8_t> extra = {}) {
        std::vector<std::uint8_t> body = std::move(extra);
        Bytes font = Bytes().u16(200).u16(0).u16(fontColor).u8(5);
        font.data.insert(font.data.end(), {'A', 'r', 'i', 'a', 'l'});
        addRecord(body, biff::Font34, font);
        addRecord(body, biff4 ? biff::Xf4 : biff::Xf3, xf34(biff4, 0, 0, borderColor, borderColor));
        addRecord(body, biff::Number, number(0, 0, 1));
        return oldSheet(biff4 ? biff::Bof4 : biff::Bof3, body);
    };
    std::vector<std::uint8_t> palette;
    Bytes colours = Bytes().u16(16);
    for (int i = 0; i < 16; ++i) colours.u8(i == 2 ? 0x12 : 0).u8(0x34).u8(0x56).u8(0);
    addRecord(palette, biff::Palette, colours);
    std::vector<std::uint8_t> biff2;
    addRecord(biff2, biff::Font, Bytes().u16(200).u16(0).u8(1).u8('A'));
    addRecord(biff2, biff::FontColor2, Bytes().u16(24));
    addRecord(biff2, biff::Font, Bytes().u16(200).u16(0).u8(1).u8('B'));
    addRecord(biff2, biff::FontColor2, Bytes().u16(2));
    addRecord(biff2, biff::Xf2, Bytes().u8(0).u8(0).u8(0x40).u8(0x08));
    addRecord(biff2, biff::Xf2, Bytes().u8(1).u8(0).u8(0x40).u8(0x80));
    addRecord(biff2, biff::Number2, Bytes().u16(0).u16(0).u8(0).u8(0).u8(0).f64(1));
    addRecord(biff2, biff::Number2, Bytes().u16(0).u16(1).u8(1).u8(0).u8(0).f64(2));
    const Case cases[] = {
        {"BIFF8 index 24 is a palette colour", biff8(24, 24), 0xFF9999FF, 0xFF9999FF, 0xFF9999FF},
        {"BIFF8 index 64 is the window text colour", biff8(64, 64), automatic, automatic,
         automatic},
        {"BIFF4 index 24 is the window text colour", old(true, 24, 24), automatic, automatic,
         automatic},
        {"BIFF4 index 10 is red", old(true, 10, 10), 0xFFFF0000, 0xFFFF0000, 0xFFFF0000},
        {"BIFF4 index 25 is the window background", old(true, 25, 25), automatic, automatic,
         automatic},
        {"BIFF3 index 24 is the window text colour", old(false, 24, 24), automatic, automatic,
         automatic},
        {"BIFF3 palette gives index 10", old(false, 10, 10, palette), 0xFF123456, 0xFF123456,
         0xFF123456},
        {"BIFF3 16-colour palette ends before 24", old(false, 24, 24, palette), automatic,
         automatic, automatic},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result<WorkbookData> data = readXls(c.stream);
        ASSERT_TRUE(data) << data.error().detail;
        const CellStyle& style = data->styles.at(cellAt(*data, 0, 1, 1)->style);
        EXPECT_EQ(style.font.color, c.font);
        EXPECT_EQ(style.border.left.style, "thin");
        EXPECT_EQ(style.border.left.color, c.border);
        EXPECT_EQ(style.fill.foreground, c.fill);
    }
    // Excel 2.x: FONTCOLOR gives 24 (automatic) or a fixed colour; borders have no colour.
    Result<WorkbookData> data = readXls(oldSheet(biff::Bof2, biff2));
    ASSERT_TRUE(data) << data.error().detail;
    const CellStyle& first = data->styles.at(cellAt(*data, 0, 1, 1)->style);
    EXPECT_EQ(first.font.color, automatic);
    EXPECT_EQ(first.border.left.style, "thin");
    EXPECT_EQ(first.border.left.color, automatic);
    const CellStyle& second = data->styles.at(cellAt(*data, 0, 1, 2)->style);
    EXPECT_EQ(second.font.color, Color(0xFFFF0000));
    EXPECT_EQ(second.fill.pattern, "gray125");
}

// The corpus's Excel 4.0 file draws its table with borders of colour 24: the window text
// colour, never the light blue palette entry 24 of later versions.
TEST(XlsReader, DrawsTheBordersOfTheCorpusExcel4FileInTheAutomaticColour) {
    std::ifstream in(std::filesystem::path(SHEETMERGE_CORPUS) / "poi__testEXCEL_4.xls",
                     std::ios::binary);
    if (!in) GTEST_SKIP() << "corpus not available";
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    Result<WorkbookData> data = readXls(bytes, "t");
    ASSERT_TRUE(data) << data.error().detail;
    int bordered = 0;
    for (const Row& row : data->sheets.at(0).rows) {
        for (const Cell& cell : row.cells) {
            const Border& border = data->styles.at(cell.style).border;
            for (const BorderEdge* edge :
                 {&border.left, &border.right, &border.top, &border.bottom}) {
                if (edge->style.empty()) continue;
                ++bordered;
                EXPECT_FALSE(edge->color.has_value())
                    << "row " << row.number << " column " << cell.column;
            }
        }
    }
    EXPECT_GT(bordered, 1000);
}

// Excel 2.x, 3.0 and 4.0 files (tests/data/xls/make_old_biff.py): values and number formats as
// xlrd and LibreOffice read the same files.
TEST(XlsReader, ReadsTheCellsAndNumberFormatsOfExcel2To4Files) {
    struct Expected {
        const char* file;
        std::size_t sheet;
        const char* cell;
        int row, column;
        CellType type;
        double number;
        const char* text;  // the text, or for numbers the number format
        bool formula = false;
    };
    const Expected table[] = {
        {"biff2_worksheet.xls", 0, "A1", 1, 1, CellType::Text, 0, "Größe"},
        {"biff2_worksheet.xls", 0, "A2", 2, 1, CellType::Number, 65535, "General"},
        {"biff2_worksheet.xls", 0, "B2", 2, 2, CellType::Number, -1234.5678, "0.00"},
        {"biff2_worksheet.xls", 0, "C2", 2, 3, CellType::Number, 32874, "d-mmm-yy"},
        {"biff2_worksheet.xls", 0, "D2", 2, 4, CellType::Number, 1500, "#,##0 \"kr\""},
        {"biff2_worksheet.xls", 0, "A3 (XF 70 by IXFE)", 3, 1, CellType::Number, 0.25, "0.00"},
        {"biff2_worksheet.xls", 0, "B3", 3, 2, CellType::Boolean, 1, "General"},
        {"biff2_worksheet.xls", 0, "C3", 3, 3, CellType::Error, 0, "#DIV/0!"},
        {"biff2_worksheet.xls", 0, "A4", 4, 1, CellType::Number, 3, "General", true},
        {"biff2_worksheet.xls", 0, "B4", 4, 2, CellType::Text, 0, "abc", true},
        {"biff2_attribute_formats.xls", 0, "A1", 1, 1, CellType::Text, 0, "Prix €"},
        {"biff2_attribute_formats.xls", 0, "A2", 2, 1, CellType::Number, 2.5, "0.00"},
        {"biff2_attribute_formats.xls", 0, "A3", 3, 1, CellType::Number, 0.125, "0%"},
        {"biff3_worksheet.xls", 0, "A1", 1, 1, CellType::Text, 0, "合计"},
        {"biff3_worksheet.xls", 0, "B1", 1, 2, CellType::Text, 0, "北京 Beijing"},
        {"biff3_worksheet.xls", 0, "A2", 2, 1, CellType::Number, 3.14159, "0.00"},
        {"biff3_worksheet.xls", 0, "B2", 2, 2, CellType::Number, -42, "General"},
        {"biff3_worksheet.xls", 0, "C2", 2, 3, CellType::Number, 42170, "yyyy\"年\"m\"月\"d\"日\""},
        {"biff3_worksheet.xls", 0, "A3", 3, 1, CellType::Boolean, 0, "General"},
        {"biff3_worksheet.xls", 0, "B3", 3, 2, CellType::Error, 0, "#N/A"},
        {"biff3_worksheet.xls", 0, "A4", 4, 1, CellType::Text, 0, "text result", true},
        {"biff3_worksheet.xls", 0, "B4", 4, 2, CellType::Number, 42, "0.00", true},
        {"biff4_workbook.xls", 0, "A2", 2, 1, CellType::Text, 0, "Москва"},
        {"biff4_workbook.xls", 0, "B2", 2, 2, CellType::Number, 1234.5, "#,##0.00"},
        {"biff4_workbook.xls", 0, "B3", 3, 2, CellType::Number, 100, "#,##0.00"},
        {"biff4_workbook.xls", 0, "B4", 4, 2, CellType::Number, 1334.5, "#,##0.00", true},
        {"biff4_workbook.xls", 1, "A1", 1, 1, CellType::Number, 36526, "dd.mm.yyyy"},
        {"biff4_workbook.xls", 1, "B1", 1, 2, CellType::Text, 0, "итог"},
    };
    for (const Expected& expected : table) {
        SCOPED_TRACE(std::string(expected.file) + " sheet " + std::to_string(expected.sheet) + " " +
                     expected.cell);
        Result<WorkbookData> data = readXls(fixture(expected.file), "stem");
        ASSERT_TRUE(data) << data.error().detail;
        EXPECT_EQ(data->format, FileFormat::Xls);
        const Cell* cell = cellAt(*data, expected.sheet, expected.row, expected.column);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->type, expected.type);
        EXPECT_EQ(cell->hasFormula, expected.formula);
        if (expected.type == CellType::Number || expected.type == CellType::Boolean) {
            EXPECT_DOUBLE_EQ(cell->number, expected.number);
            EXPECT_EQ(data->styles.at(cell->style).numberFormat, expected.text);
        } else {
            EXPECT_EQ(cell->text, expected.text);
        }
    }
}

const ColumnInfo* columnAt(const Sheet& sheet, int column) {
    for (const ColumnInfo& info : sheet.columns) {
        if (info.first <= column && column <= info.last) return &info;
    }
    return nullptr;
}

// Fonts, borders, widths, row formats and panes as each version carries them; an Excel 4.0
// workbook's sheets each have their own format tables.
TEST(XlsReader, ReadsFontsWidthsAndRowsOfExcel2To4Files) {
    Result<WorkbookData> biff2 = readXls(fixture("biff2_worksheet.xls"), "Stem");
    ASSERT_TRUE(biff2) << biff2.error().detail;
    ASSERT_EQ(biff2->sheets.size(), 1u);
    const Sheet& sheet2 = biff2->sheets[0];
    EXPECT_EQ(sheet2.name, "Stem");
    const CellStyle& title = biff2->styles.at(sheet2.cell(1, 1)->style);
    EXPECT_EQ(title.font.name, "Tms Rmn");
    EXPECT_EQ(title.font.size, 12.0);
    EXPECT_TRUE(title.font.bold);
    EXPECT_TRUE(title.font.italic);
    EXPECT_EQ(title.font.color, Color(0xFFFF0000));
    EXPECT_EQ(title.alignment.horizontal, "center");
    const CellStyle& date = biff2->styles.at(sheet2.cell(2, 3)->style);
    EXPECT_EQ(date.border.left.style, "thin");
    EXPECT_EQ(date.border.bottom.style, "thin");
    EXPECT_TRUE(date.border.top.style.empty());
    const CellStyle& shaded = biff2->styles.at(sheet2.cell(2, 4)->style);
    EXPECT_EQ(shaded.font.name, "Courier");
    EXPECT_EQ(shaded.font.underline, "single");
    EXPECT_TRUE(shaded.font.strike);
    EXPECT_EQ(shaded.fill.pattern, "gray125");
    EXPECT_EQ(shaded.alignment.horizontal, "right");
    EXPECT_FALSE(shaded.protection.locked);
    EXPECT_TRUE(shaded.protection.hidden);
    ASSERT_NE(columnAt(sheet2, 1), nullptr);
    EXPECT_EQ(columnAt(sheet2, 1)->width, 20.0);
    EXPECT_EQ(columnAt(sheet2, 2), nullptr);
    ASSERT_NE(columnAt(sheet2, 3), nullptr);
    EXPECT_EQ(columnAt(sheet2, 3)->width, 12.5);
    ASSERT_NE(columnAt(sheet2, 4), nullptr);
    EXPECT_EQ(columnAt(sheet2, 4)->width, 12.5);
    ASSERT_TRUE(columnAt(sheet2, 4)->style.has_value());
    EXPECT_EQ(biff2->styles.at(*columnAt(sheet2, 4)->style).numberFormat, "d-mmm-yy");
    ASSERT_NE(columnAt(sheet2, 5), nullptr);
    EXPECT_EQ(columnAt(sheet2, 5)->width, 0.0);
    EXPECT_EQ(columnAt(sheet2, 6), nullptr);
    ASSERT_NE(sheet2.row(2), nullptr);
    EXPECT_EQ(sheet2.row(2)->height, 30.0);
    EXPECT_TRUE(sheet2.row(2)->customHeight);
    ASSERT_NE(sheet2.row(8), nullptr);  // a row with a format and no cells
    ASSERT_TRUE(sheet2.row(8)->style.has_value());
    EXPECT_EQ(biff2->styles.at(*sheet2.row(8)->style).numberFormat, "0.00");
    EXPECT_EQ(sheet2.defaultRowHeight, 12.75);
    ASSERT_TRUE(sheet2.frozenPane);
    EXPECT_EQ(*sheet2.frozenPane, (FrozenPane{1, 0}));

    // Excel 2.0: the attribute blocks are the formats; equal blocks share one style.
    Result<WorkbookData> attributes = readXls(fixture("biff2_attribute_formats.xls"));
    ASSERT_TRUE(attributes) << attributes.error().detail;
    const Sheet& plain = attributes->sheets.at(0);
    EXPECT_EQ(plain.name, "Sheet1");
    const CellStyle& bold = attributes->styles.at(plain.cell(1, 1)->style);
    EXPECT_TRUE(bold.font.bold);
    EXPECT_EQ(bold.alignment.horizontal, "center");
    EXPECT_EQ(bold.border.bottom.style, "thin");
    const CellStyle& boxed = attributes->styles.at(plain.cell(2, 1)->style);
    for (const BorderEdge* edge :
         {&boxed.border.left, &boxed.border.right, &boxed.border.top, &boxed.border.bottom})
        EXPECT_EQ(edge->style, "thin");
    EXPECT_FALSE(boxed.font.bold);
    EXPECT_EQ(plain.cell(2, 1)->style, plain.cell(4, 1)->style);
    const CellStyle& open = attributes->styles.at(plain.cell(3, 1)->style);
    EXPECT_FALSE(open.protection.locked);
    EXPECT_EQ(open.fill.pattern, "gray125");

    Result<WorkbookData> biff3 = readXls(fixture("biff3_worksheet.xls"));
    ASSERT_TRUE(biff3) << biff3.error().detail;
    const Sheet& sheet3 = biff3->sheets.at(0);
    const CellStyle& heading = biff3->styles.at(sheet3.cell(1, 1)->style);
    EXPECT_EQ(heading.font.name, "宋体");
    EXPECT_EQ(heading.font.size, 11.0);
    EXPECT_EQ(heading.font.color, Color(0xFF123456));  // palette index 10, set by PALETTE
    EXPECT_TRUE(heading.alignment.wrapText);
    const CellStyle& yellow = biff3->styles.at(sheet3.cell(1, 2)->style);
    EXPECT_EQ(yellow.fill.pattern, "solid");
    EXPECT_EQ(yellow.fill.foreground, Color(0xFFFFFF00));
    EXPECT_EQ(yellow.font.color, Color());  // 24: the window text colour
    const CellStyle& framed = biff3->styles.at(sheet3.cell(2, 3)->style);
    EXPECT_EQ(framed.border.bottom.style, "double");
    EXPECT_EQ(framed.border.bottom.color, Color());
    EXPECT_EQ(biff3->styles.at(sheet3.cell(3, 3)->style).border.left.color, Color(0xFF123456));
    ASSERT_NE(columnAt(sheet3, 2), nullptr);
    EXPECT_EQ(columnAt(sheet3, 2)->width, 15.0);
    ASSERT_NE(columnAt(sheet3, 5), nullptr);
    EXPECT_TRUE(columnAt(sheet3, 5)->hidden);
    EXPECT_NEAR(sheet3.defaultColumnWidth, 10 + 5.0 / 7.0, 1e-9);
    ASSERT_NE(sheet3.row(1), nullptr);
    EXPECT_EQ(sheet3.row(1)->height, 20.0);

    Result<WorkbookData> biff4 = readXls(fixture("biff4_workbook.xls"), "ignored");
    ASSERT_TRUE(biff4) << biff4.error().detail;
    ASSERT_EQ(biff4->sheets.size(), 2u);
    EXPECT_EQ(biff4->sheets[0].name, "Продажи");
    EXPECT_EQ(biff4->sheets[1].name, "Итоги");
    const Sheet& first = biff4->sheets[0];
    const CellStyle& header = biff4->styles.at(first.cell(1, 1)->style);
    EXPECT_TRUE(header.font.bold);
    EXPECT_EQ(header.border.bottom.style, "double");
    EXPECT_EQ(header.border.bottom.color, Color());
    EXPECT_FALSE(biff4->styles.at(first.cell(2, 1)->style).font.bold);
    EXPECT_EQ(first.defaultColumnWidth, 9.0);
    ASSERT_NE(columnAt(first, 1), nullptr);
    EXPECT_EQ(columnAt(first, 1)->width, 18.0);
    // XF 2 is bold #,##0.00 text in the first sheet, italic General in the second.
    const CellStyle& italic = biff4->styles.at(biff4->sheets[1].cell(1, 2)->style);
    EXPECT_TRUE(italic.font.italic);
    EXPECT_FALSE(italic.font.bold);
    EXPECT_EQ(italic.numberFormat, "General");
}

// Damage that Excel and xlrd pass over, each as found in real files; damage that leaves the
// data unknown still fails with its own error.
TEST(XlsReader, ReadsDamagedRecordsAsSpreadsheetProgramsDo) {
    auto sheetOf = [](std::vector<std::uint8_t> records) {
        return book(formattingGlobals(), {{"S", std::move(records)}});
    };
    // LABEL (BIFF8) declaring 20 characters in a record that holds 11: a government
    // archive's export.
    Bytes label = cellHeader(0, 0).u16(20).u8(0);
    for (char character : std::string("Region Nort"))
        label.u8(static_cast<unsigned char>(character));
    std::vector<std::uint8_t> longLabel = sheetOf(records({{biff::Label, label}}));
    // The same in UTF-16, ending in the middle of a character.
    std::vector<std::uint8_t> longWideLabel = sheetOf(
        records({{biff::Label, cellHeader(0, 0).u16(9).u8(1).u16(0x5317).u16(0x4EAC).u8(0x41)}}));
    // The text of a string formula: its STRING record declares more than it holds.
    std::vector<std::uint8_t> longFormulaText = sheetOf(records(
        {{biff::Formula,
          cellHeader(0, 0).u8(0).u8(0).u8(0).u8(0).u8(0).u8(0).u16(0xFFFF).u16(0).u32(0).u16(0)},
         {biff::String, Bytes().u16(50).u8(0).u8('o').u8('k')}}));
    // A stream whose last record, the sheet's EOF, is cut inside its header (a file copied
    // short by two bytes), or claims bytes the stream has lost.
    std::vector<std::uint8_t> cutEof = sheetOf(records({{biff::Number, number(0, 0, 7)}}));
    cutEof.resize(cutEof.size() - 2);
    std::vector<std::uint8_t> longEof = sheetOf(records({{biff::Number, number(0, 0, 7)}}));
    longEof[longEof.size() - 2] = 8;
    // The last record before the EOF, WINDOW2, cut in the middle with the EOF gone.
    std::vector<std::uint8_t> cutWindow = sheetOf(records(
        {{biff::Number, number(0, 0, 7)},
         {biff::Window2, Bytes().u16(0x06B6).u16(0).u16(0).u16(64).u16(0).u16(0).u16(0).u16(0)}}));
    cutWindow.resize(cutWindow.size() - 4 - 10);
    // An Excel 4.0 file without CODEPAGE, and one with a code page no program writes: both
    // read in Windows-1252.
    auto biff4Label = [](std::vector<std::uint8_t> before) {
        addRecord(before, biff::Label,
                  cellHeader(0, 0).u16(6).u8('M').u8(0xFC).u8('l').u8('l').u8('e').u8('r'));
        return oldSheet(biff::Bof4, before);
    };
    struct Case {
        const char* name;
        std::vector<std::uint8_t> stream;
        CellType type;
        double number;
        const char* text;
    };
    const Case cases[] = {
        {"LABEL longer than its record", longLabel, CellType::Text, 0, "Region Nort"},
        {"UTF-16 LABEL longer than its record", longWideLabel, CellType::Text, 0, "北京"},
        {"STRING longer than its record", longFormulaText, CellType::Text, 0, "ok"},
        {"EOF header cut short", cutEof, CellType::Number, 7, ""},
        {"EOF claiming lost bytes", longEof, CellType::Number, 7, ""},
        {"last records cut short", cutWindow, CellType::Number, 7, ""},
        {"no CODEPAGE", biff4Label({}), CellType::Text, 0, "Müller"},
        {"CODEPAGE 0", biff4Label(records({{biff::CodePage, Bytes().u16(0)}})), CellType::Text, 0,
         "Müller"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result<WorkbookData> data = readXls(c.stream);
        ASSERT_TRUE(data) << data.error().detail;
        const Cell* cell = cellAt(*data, 0, 1, 1);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->type, c.type);
        if (c.type == CellType::Number) {
            EXPECT_EQ(cell->number, c.number);
        } else {
            EXPECT_EQ(cell->text, c.text);
        }
    }

    // A NUMBER cut short loses its value; a LABEL without its length loses its text; a stream
    // that ends whole but without the sheet's EOF is not a cut file.
    std::vector<std::uint8_t> cutNumber =
        sheetOf(records({{biff::Number, number(0, 0, 7)}, {biff::Number, number(1, 0, 8)}}));
    cutNumber.resize(cutNumber.size() - 4 - 5);
    std::vector<std::uint8_t> noLength = sheetOf(records({{biff::Label, cellHeader(0, 0).u8(3)}}));
    std::vector<std::uint8_t> noEof = sheetOf(records({{biff::Number, number(0, 0, 7)}}));
    noEof.resize(noEof.size() - 4);
    for (const auto& [name, stream] :
         {std::pair{"NUMBER cut short", cutNumber}, std::pair{"LABEL without length", noLength},
          std::pair{"no EOF", noEof}}) {
        SCOPED_TRACE(name);
        Result<WorkbookData> data = readXls(stream);
        ASSERT_FALSE(data);
        EXPECT_EQ(data.error().code, ErrorCode::RecordCorrupt);
    }
}

// Excel 4.0 workbooks: chart and macro sheets keep their place; every sheet counts against
// the sheet limit, every sheet's cell formats against one style table limit for the book.
TEST(XlsReader, ReadsExcel4WorkbookSheetKindsWithinTheLimits) {
    auto workbook = [](const std::vector<std::pair<unsigned, std::vector<std::uint8_t>>>& sheets) {
        std::vector<std::uint8_t> stream;
        addRecord(stream, biff::Bof4, Bytes().u16(0).u16(0x100).u16(0));
        for (std::size_t index = 0; index < sheets.size(); ++index) {
            const std::string name = "S" + std::to_string(index);
            Bytes header = Bytes().u32(0).u8(static_cast<unsigned>(name.size()));
            header.data.insert(header.data.end(), name.begin(), name.end());
            addRecord(stream, biff::SheetHeader4, header);
            std::vector<std::uint8_t> sheet =
                oldSheet(biff::Bof4, sheets[index].second, sheets[index].first);
            stream.insert(stream.end(), sheet.begin(), sheet.end());
        }
        addRecord(stream, biff::Eof);
        return stream;
    };
    std::vector<std::uint8_t> cells = records({{biff::Number, number(0, 0, 5)}});
    Result<WorkbookData> kinds = readXls(workbook({{0x10, cells}, {0x20, cells}, {0x40, cells}}));
    ASSERT_TRUE(kinds) << kinds.error().detail;
    ASSERT_EQ(kinds->sheets.size(), 3u);
    EXPECT_EQ(kinds->sheets[0].kind, SheetKind::Worksheet);
    EXPECT_EQ(kinds->sheets[1].kind, SheetKind::Chart);
    EXPECT_TRUE(kinds->sheets[1].rows.empty());
    EXPECT_EQ(kinds->sheets[2].kind, SheetKind::Other);
    EXPECT_EQ(kinds->sheets[2].name, "S2");
    EXPECT_EQ(cellAt(*kinds, 2, 1, 1)->number, 5.0);
    // Cut inside its last sheet, the book keeps its sheets and what that sheet held.
    std::vector<std::uint8_t> cut = workbook({{0x10, cells}, {0x10, cells}});
    cut.resize(cut.size() - 4 - 2);
    Result<WorkbookData> cutBook = readXls(cut);
    ASSERT_TRUE(cutBook) << cutBook.error().detail;
    ASSERT_EQ(cutBook->sheets.size(), 2u);
    EXPECT_EQ(cellAt(*cutBook, 1, 1, 1)->number, 5.0);

    std::vector<std::pair<unsigned, std::vector<std::uint8_t>>> many(10'001, {0x10, {}});
    Result<WorkbookData> manySheets = readXls(workbook(many));
    ASSERT_FALSE(manySheets);
    EXPECT_EQ(manySheets.error().code, ErrorCode::SheetLimit);
    EXPECT_NE(manySheets.error().detail.find("sheet count limit"), std::string::npos);

    std::vector<std::uint8_t> formats;
    for (int index = 0; index < (1 << 17) + 1; ++index)
        addRecord(formats, biff::Xf4, xf34(true, 0, 0, 24));
    Result<WorkbookData> manyFormats = readXls(workbook({{0x10, formats}, {0x10, formats}}));
    ASSERT_FALSE(manyFormats);
    EXPECT_EQ(manyFormats.error().code, ErrorCode::SheetLimit);
    EXPECT_NE(manyFormats.error().detail.find("style table limit"), std::string::npos);
}

TEST(XlsReader, RejectsMalformedStreams) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> stream;
        ErrorCode code;
    };
    std::vector<std::uint8_t> cut =
        book(formattingGlobals(), {{"S", records({{biff::Number, number(0, 0, 1)}})}});
    cut.resize(cut.size() - 7);
    std::vector<std::uint8_t> noEof = book(formattingGlobals(), {{"S", {}}});
    noEof.resize(noEof.size() - 4);
    std::vector<std::uint8_t> overlapping = book(formattingGlobals(), {{"A", {}}, {"B", {}}});
    {
        // Point the second sheet at the first sheet's BOF.
        std::size_t first = 0, second = 0;
        for (std::size_t i = 0; i + 1 < overlapping.size(); ++i) {
            if (overlapping[i] == 0x85 && overlapping[i + 1] == 0x00)
                (first ? second : first) = i + 4;
        }
        std::memcpy(overlapping.data() + second, overlapping.data() + first, 4);
    }
    const Case cases[] = {
        {"encrypted",
         book(formattingGlobals(records({{biff::FilePass, Bytes().u16(0).u16(0).u16(0)}})),
              {{"S", {}}}),
         ErrorCode::EncryptedWorkbook},
        {"shared string index out of range",
         book(formattingGlobals(), {{"S", records({{biff::LabelSst, cellHeader(0, 0).u32(3)}})}}),
         ErrorCode::RecordCorrupt},
        {"record runs past the stream", cut, ErrorCode::RecordCorrupt},
        {"sheet without EOF", noEof, ErrorCode::RecordCorrupt},
        {"value outside the grid",
         book(formattingGlobals(), {{"S", records({{biff::Number, number(0, 256, 1)}})}}),
         ErrorCode::RecordCorrupt},
        {"short NUMBER",
         book(formattingGlobals(), {{"S", records({{biff::Number, cellHeader(0, 0).u16(1)}})}}),
         ErrorCode::RecordCorrupt},
        {"short MERGEDCELLS",
         book(formattingGlobals(), {{"S", records({{biff::MergedCells, Bytes().u16(40).u16(0)}})}}),
         ErrorCode::RecordCorrupt},
        {"sheets overlap", overlapping, ErrorCode::RecordCorrupt},
        {"not BIFF at all", {'h', 'e', 'l', 'l', 'o'}, ErrorCode::UnknownFormat},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Result<WorkbookData> data = readXls(c.stream);
        ASSERT_FALSE(data);
        EXPECT_EQ(data.error().code, c.code) << data.error().detail;
        EXPECT_FALSE(data.error().detail.empty());
    }
}

TEST(XlsReader, DropsFormattingOnlyCellsPastTheGrid) {
    std::vector<std::uint8_t> sheet =
        records({{biff::MulBlank, Bytes().u16(0).u16(254).u16(0).u16(0).u16(0).u16(256)}});
    Result<WorkbookData> data = readXls(book(formattingGlobals(), {{"S", sheet}}));
    ASSERT_TRUE(data) << data.error().detail;
    ASSERT_EQ(data->sheets[0].rows.size(), 1u);
    ASSERT_EQ(data->sheets[0].rows[0].cells.size(), 2u);
    EXPECT_EQ(data->sheets[0].rows[0].cells.back().column, 256);
}

TEST(XlsReader, CutsAndFlippedBytesNeverCrash) {
    // Every prefix and a sweep of corrupted bytes of a real file: either a book or an error
    // with a code and evidence (sanitizer builds catch memory faults here).
    const std::vector<std::uint8_t> good = fixture("grid.xls");
    for (std::size_t length = 0; length < good.size(); length += 37) {
        SCOPED_TRACE(length);
        Result<WorkbookData> data = readXls(std::span<const std::uint8_t>(good.data(), length));
        if (!data) {
            EXPECT_FALSE(data.error().detail.empty());
        }
    }
    Result<WorkbookData> half =
        readXls(std::span<const std::uint8_t>(good.data(), good.size() / 2));
    EXPECT_FALSE(half);
    for (std::size_t at = 512; at < good.size(); at += 29) {
        SCOPED_TRACE(at);
        std::vector<std::uint8_t> bytes = good;
        bytes[at] ^= 0xA5;
        Result<WorkbookData> data = readXls(bytes);
        if (!data) {
            EXPECT_FALSE(data.error().detail.empty());
        }
    }
}

TEST(XlsReader, RejectsEncryptedPackagesAndForeignCompoundFiles) {
    std::filesystem::path corpus(SHEETMERGE_CORPUS);
    std::ifstream in(corpus / "calamine__pass_protected.xlsx", std::ios::binary);
    if (!in) GTEST_SKIP() << "corpus not available";
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    Result<WorkbookData> data = readXls(bytes);
    ASSERT_FALSE(data);
    EXPECT_EQ(data.error().code, ErrorCode::EncryptedWorkbook);
}

// A 1904 book's durations are spans of time, not dates: only dates move into the 1900 system.
TEST(XlsReader, KeepsDurationsOf1904BooksUnshifted) {
    std::vector<std::uint8_t> extra = records({
        {biff::DateMode, Bytes().u16(1)},
        {biff::Format, Bytes().u16(164).latin1("[h]:mm:ss")},
        {biff::Xf,
         Bytes().u16(0).u16(164).u16(1).u8(0x20).u8(0).u8(0).u8(0).u32(0).u32(0).u16(0x20C0)},
    });
    std::vector<std::uint8_t> sheet =
        records({{biff::Number, number(0, 0, 1.5, 2)}, {biff::Number, number(0, 1, 1.5, 1)}});
    Result<WorkbookData> data = readXls(book(formattingGlobals(extra), {{"S", sheet}}));
    ASSERT_TRUE(data) << data.error().detail;
    EXPECT_EQ(cellAt(*data, 0, 1, 1)->number, 1.5);     // 36 hours
    EXPECT_EQ(cellAt(*data, 0, 1, 2)->number, 1463.5);  // a date and time
}

// Sheets and style tables are bounded like those of the other formats: a stream of small
// records must not make the reader keep millions of them.
TEST(XlsReader, RefusesMoreSheetsOrCellFormatsThanABookMayHave) {
    std::vector<SheetDefinition> sheets(10'001);
    for (std::size_t index = 0; index < sheets.size(); ++index)
        sheets[index].name = "S" + std::to_string(index);
    Result<WorkbookData> manySheets = readXls(book(formattingGlobals(), sheets));
    ASSERT_FALSE(manySheets);
    EXPECT_EQ(manySheets.error().code, ErrorCode::SheetLimit);
    EXPECT_NE(manySheets.error().detail.find("sheet count limit"), std::string::npos)
        << manySheets.error().detail;

    std::vector<std::uint8_t> formats;
    const Bytes xf =
        Bytes().u16(0).u16(0).u16(1).u8(0x20).u8(0).u8(0).u8(0).u32(0).u32(0).u16(0x20C0);
    for (int index = 0; index < (1 << 18); ++index) addRecord(formats, biff::Xf, xf);
    Result<WorkbookData> manyFormats = readXls(book(formattingGlobals(formats), {{"S", {}}}));
    ASSERT_FALSE(manyFormats);
    EXPECT_EQ(manyFormats.error().code, ErrorCode::SheetLimit);
    EXPECT_NE(manyFormats.error().detail.find("style table limit"), std::string::npos)
        << manyFormats.error().detail;
}

}  // namespace
}  // namespace spreadsheet
