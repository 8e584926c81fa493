// Cell notes in the written package: where their shapes lie, how large their boxes are, and the
// parts that carry them. Shape positions are compared with what libxlsxwriter 1.1.4 (Debian 12)
// wrote for the same cells and sizes; its note shapes follow those of Excel-made files.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "../cell_builders.h"
#include "../support/package_check.h"
#include "spreadsheet/detail/xlsx_notes.h"
#include "spreadsheet/xlsx_writer.h"
#include "writer_test_support.h"

namespace spreadsheet {
namespace {

using detail::anchorNote;
using detail::NoteAnchor;
using detail::NoteBox;
using detail::SheetGeometry;
using spreadsheet::testing::textCell;

Row sizedRow(int number, double height, bool hidden = false) {
    Row row;
    row.number = number;
    row.height = height;
    row.customHeight = true;
    row.hidden = hidden;
    return row;
}

TEST(NoteAnchor, PlacesNotesWhereLibxlsxwriterPlacesThem) {
    // libxlsxwriter's sheet: rows of 15 pt, column B 30 characters wide (215 pixels), C 0.5
    // (6 pixels), row 6 40 pt tall (53 pixels); its notes are 128 × 74 pixels.
    const std::vector<ColumnInfo> columns{{2, 2, 30.7109375, true}, {3, 3, 0.85546875, true}};
    const std::vector<Row> rows{sizedRow(6, 40)};
    const SheetGeometry geometry(columns, &rows, 15, 9.140625);
    struct Case {
        const char* cell;
        NoteAnchor expected;  // x:Anchor, then margin-left and margin-top in pixels
    };
    // Below row 6 the shape's top counts that row's 53 pixels; libxlsxwriter's margin-top takes
    // every row above as 20 pixels there (33 fewer), while its anchors count row 6 as we do.
    const Case cases[] = {
        {"A1", {1, 15, 0, 2, 1, 143, 3, 16, 79, 2}},
        {"B1", {3, 9, 0, 2, 5, 9, 3, 16, 294, 2}},  // C is narrower than the offset
        {"E3", {5, 15, 1, 10, 7, 15, 5, 4, 428, 30}},
        {"A5", {1, 15, 3, 10, 1, 143, 5, 44, 79, 70}},  // reaches into the tall row 6
        {"A7", {1, 15, 5, 10, 1, 143, 7, 11, 79, 110}},
        {"E10002", {5, 15, 10000, 10, 7, 15, 10004, 4, 428, 200043}},
        {"XEZ4", {16380, 15, 2, 10, 16382, 15, 5, 24, 1048428, 50}},
        {"XFA1048573", {16381, 15, 1048571, 10, 16383, 15, 1048575, 4, 1048492, 20971463}},
        // The last three rows and columns move the note up and left.
        {"XFB1048574", {16378, 49, 1048569, 16, 16380, 49, 1048573, 10, 1048334, 20971429}},
        {"XFC1048575", {16379, 49, 1048570, 16, 16381, 49, 1048574, 10, 1048398, 20971449}},
        {"XFD1048576", {16380, 49, 1048571, 14, 16382, 49, 1048575, 8, 1048462, 20971467}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.cell);
        const CellRef cell = parseRange(row.cell).value().first;
        EXPECT_EQ(anchorNote(cell, NoteBox{128, 74}, geometry), row.expected);
    }
}

TEST(NoteAnchor, HiddenColumnsAndRowsAndLargerBoxes) {
    // Column B and row 2 hidden; the second note 288 × 151 pixels (libxlsxwriter's width and
    // height options).
    const std::vector<ColumnInfo> columns{{2, 2, 0.0, true, true}};
    const std::vector<Row> rows{sizedRow(2, 15, true)};
    const SheetGeometry geometry(columns, &rows, 15, 9.140625);
    EXPECT_EQ(geometry.columnPixels(2), 0);
    EXPECT_EQ(geometry.rowPixels(2), 0);
    struct Case {
        const char* cell;
        NoteBox box;
        int expected[8];
    };
    const Case cases[] = {
        {"A3", {128, 74}, {2, 15, 2, 10, 4, 15, 6, 4}},
        {"D10", {288, 151}, {4, 15, 8, 10, 8, 47, 16, 1}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.cell);
        const NoteAnchor anchor = anchorNote(parseRange(row.cell).value().first, row.box, geometry);
        const int found[8] = {anchor.leftColumn, anchor.leftOffset,  anchor.topRow,
                              anchor.topOffset,  anchor.rightColumn, anchor.rightOffset,
                              anchor.bottomRow,  anchor.bottomOffset};
        EXPECT_TRUE(std::equal(std::begin(found), std::end(found), std::begin(row.expected)));
    }
    // The shape's corner counts visible rows and columns only; rows the writer does not hold
    // (spooled ones) count at the default height.
    EXPECT_EQ(geometry.pixelsLeftOf(4), 128);
    EXPECT_EQ(geometry.pixelsAbove(10), 160);
    const SheetGeometry plain({}, nullptr, 13.5, 9.140625);
    EXPECT_EQ(plain.pixelsAbove(1'048'576), 1'048'575LL * 18);
    EXPECT_EQ(plain.pixelsLeftOf(16'384), 16'383LL * 64);
}

TEST(NoteBox, GrowsWithTheTextUpToItsBounds) {
    const NoteBox small = detail::noteBoxFor("短");
    EXPECT_EQ(small.width, 128);  // Excel's new note
    EXPECT_EQ(small.height, 74);
    EXPECT_EQ(detail::noteBoxFor("").width, 128);

    std::string sentence;
    for (int i = 0; i < 30; ++i) sentence += "文";
    const NoteBox wide = detail::noteBoxFor(sentence);
    const NoteBox narrow = detail::noteBoxFor(std::string(30, 'a'));
    EXPECT_GT(wide.width, narrow.width) << "wide characters take twice the room";
    EXPECT_EQ(wide.width, 288) << "30 wide characters fill the widest box";

    // More lines, whether wrapped or broken, make a taller box, up to the tallest.
    const NoteBox twice = detail::noteBoxFor(sentence + sentence + sentence);
    const NoteBox broken = detail::noteBoxFor(sentence + "\n\n\n\n\n" + sentence);
    EXPECT_EQ(twice.width, 288);
    EXPECT_GT(twice.height, wide.height);
    EXPECT_GT(broken.height, twice.height);
    std::string endless;
    for (int i = 0; i < 2000; ++i) endless += "长";
    EXPECT_EQ(detail::noteBoxFor(endless).height, 360);
    EXPECT_EQ(detail::noteBoxFor(std::string(200, '\n')).height, 360);
}

// ---- the package

using testing::readZip;
using testing::ZipView;

ZipView writeAndRead(std::span<const SheetToWrite> sheets) {
    StyleRegistry styles;
    Result<std::vector<std::uint8_t>> bytes = writeXlsxToMemory(sheets, 0, styles);
    EXPECT_TRUE(bytes) << (bytes ? "" : bytes.error().detail);
    if (!bytes) return {};
    EXPECT_TRUE(testing::soundPackage(*bytes));
    std::string problem;
    std::optional<ZipView> view = readZip(*bytes, problem);
    EXPECT_TRUE(view) << problem;
    return view.value_or(ZipView{});
}

std::vector<CellNote> notesDown(int column, int count) {
    std::vector<CellNote> notes;
    for (int row = 1; row <= count; ++row)
        notes.push_back({CellRef{row, column}, "说明 " + std::to_string(row)});
    return notes;
}

TEST(XlsxNotes, EverySheetsNotesGetTheirOwnPartsAndShapeIds) {
    // The checker run by writeAndRead follows each sheet's <legacyDrawing>, relationships and
    // content types and pairs every comment with its note shape; here the shape ids are checked
    // against the blocks each drawing claims: no id outside them, no block claimed twice.
    std::vector<Row> rows(1);
    rows[0].cells = {textCell(1, "文件")};
    std::vector<SheetToWrite> sheets(4);
    sheets[0].name = "失败列表(3)";
    sheets[0].rows = &rows;
    sheets[0].frozenPane = FrozenPane{2, 0};
    sheets[0].notes = {{{3, 2}, " 前后有空格 "},
                       {{3, 5}, "其它：a & b <c> \"d\"\r\n第二行\x01"},
                       {{4, 5}, std::string(40'000, 'x')}};
    sheets[1].name = "无说明";
    sheets[2].name = "很多";
    sheets[2].notes = notesDown(1, 2049);  // three blocks of 1024 ids
    sheets[3].name = "最后";
    sheets[3].notes = {{{1'048'576, 16'384}, "右下角"}};
    const ZipView view = writeAndRead(sheets);

    const std::regex idmap("data=\"([0-9,]+)\"");
    const std::regex shape("_x0000_s([0-9]+)");
    std::set<long long> claimed;
    std::map<std::string, std::size_t> shapesPerDrawing;
    for (int part = 1; part <= 3; ++part) {
        SCOPED_TRACE(part);
        const testing::ZipEntryView* drawing =
            view.find("xl/drawings/vmlDrawing" + std::to_string(part) + ".vml");
        ASSERT_NE(drawing, nullptr);
        std::smatch blocks;
        ASSERT_TRUE(std::regex_search(drawing->content, blocks, idmap));
        std::set<long long> own;
        std::string list = blocks[1];
        for (std::size_t start = 0; start < list.size();) {
            const std::size_t comma = std::min(list.find(',', start), list.size());
            const long long block = std::stoll(list.substr(start, comma - start));
            EXPECT_TRUE(claimed.insert(block).second) << "block " << block << " claimed twice";
            own.insert(block);
            start = comma + 1;
        }
        std::size_t shapes = 0;
        for (auto found =
                 std::sregex_iterator(drawing->content.begin(), drawing->content.end(), shape);
             found != std::sregex_iterator(); ++found) {
            ++shapes;
            const long long id = std::stoll((*found)[1]);
            EXPECT_TRUE(own.count(id / 1024) && id % 1024 != 0) << "shape id " << id;
        }
        shapesPerDrawing["part " + std::to_string(part)] = shapes;
    }
    EXPECT_EQ(shapesPerDrawing,
              (std::map<std::string, std::size_t>{{"part 1", 3}, {"part 2", 2049}, {"part 3", 1}}));
    // The sheet without notes has no relationships and no drawing.
    EXPECT_EQ(view.find("xl/worksheets/_rels/sheet2.xml.rels"), nullptr);
    EXPECT_EQ(view.find("xl/drawings/vmlDrawing4.vml"), nullptr);
    const testing::ZipEntryView* comments = view.find("xl/comments1.xml");
    ASSERT_NE(comments, nullptr);
    EXPECT_NE(comments->content.find("<author>sheetmerge</author>"), std::string::npos);
}

TEST(XlsxNotes, RefusesNotesExcelWouldRepair) {
    struct Case {
        const char* name;
        std::vector<CellNote> notes;
    };
    const std::vector<Case> cases = {
        {"two on one cell", {{{2, 2}, "a"}, {{2, 2}, "b"}}},
        {"out of order", {{{3, 1}, "a"}, {{2, 5}, "b"}}},
        {"left of column A", {{{1, 0}, "a"}}},
        {"above row 1", {{{0, 1}, "a"}}},
        {"below the last row", {{{1'048'577, 1}, "a"}}},
        {"right of XFD", {{{1, 16'385}, "a"}}},
    };
    StyleRegistry styles;
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        SheetToWrite sheet{"S"};
        sheet.notes = row.notes;
        Result<std::vector<std::uint8_t>> bytes = writeXlsxToMemory({&sheet, 1}, 0, styles);
        ASSERT_FALSE(bytes);
        EXPECT_EQ(bytes.error().code, ErrorCode::OperationFailed);
    }
}

}  // namespace
}  // namespace spreadsheet
