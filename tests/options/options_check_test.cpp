// The OK action's checks, their order and wordings, the encoding of the options, and the
// start-row reading of the dialog.
#include "options/options_check.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using options::DialogValues;
using options::FocusTarget;
using options::LabelOption;
using options::OkPart;
using options::RangeOption;
using options::SheetOption;

// A sample sheet that knows a fixed set of addresses and records every text it is asked about.
struct FakeSample {
    std::map<std::string, spreadsheet::CellRef> known{
        {"A1", {1, 1}}, {"B1", {1, 2}}, {"B2", {2, 2}}, {"b2", {2, 2}},
        {"B3", {3, 2}}, {"G5", {5, 7}}, {"A5", {5, 1}}, {"B2:G5", {2, 2}},
    };
    std::vector<std::string> asked;

    merge::ReferenceResolver resolver() {
        return [this](const std::string& text) -> std::optional<spreadsheet::CellRef> {
            asked.push_back(text);
            const auto it = known.find(text);
            if (it == known.end()) return std::nullopt;
            return it->second;
        };
    }
};

DialogValues largestRectangle() {
    DialogValues values;
    values.range = RangeOption::LargestRectangle;
    return values;
}

DialogValues cells(const std::string& topLeft, bool ticked, const std::string& bottomRight) {
    DialogValues values;
    values.range = RangeOption::Cells;
    values.txtLT = topLeft;
    values.check1 = ticked;
    values.txtRB = ticked ? bottomRight : "智能识别";
    return values;
}

DialogValues cellList(const std::string& list, OkPart part) {
    DialogValues values = largestRectangle();
    values.check3 = true;
    values.label = LabelOption::CellContents;
    values.txtHeadEnabled = true;
    values.txtHead = list;
    values.clicked = part;
    return values;
}

TEST(OkAction, DefaultsWriteOnlyConfirmed) {
    FakeSample sample;
    const options::OkOutcome outcome = options::runOkAction(largestRectangle(), sample.resolver());
    ASSERT_TRUE(outcome.accepted);
    EXPECT_TRUE(outcome.options.Confirmed);
    EXPECT_EQ(outcome.options.SheetSpec, "");
    EXPECT_EQ(outcome.options.RangeSpec, "");
    EXPECT_FALSE(outcome.options.CopyHeaderOnce);
    EXPECT_FALSE(outcome.options.MarkSource);
    EXPECT_EQ(outcome.options.MarkCells, "");
    EXPECT_TRUE(sample.asked.empty());
}

TEST(OkAction, EmptyStartRowIsRefusedEvenThoughItIsTheOpeningChoice) {
    // Option5 selected, Txt_Row empty: the dialog as it opens; blanks alone count as empty.
    for (const std::string typed : {"", " ", "\t ", "\xE3\x80\x80"}) {
        SCOPED_TRACE("\"" + typed + "\"");
        FakeSample sample;
        DialogValues values;
        values.txtRow = typed;
        const options::OkOutcome outcome = options::runOkAction(values, sample.resolver());
        EXPECT_FALSE(outcome.accepted);
        EXPECT_FALSE(outcome.options.Confirmed);
        EXPECT_EQ(outcome.message, "起始行数不能为空，请输入大于0的整数。");
        EXPECT_EQ(outcome.focus, FocusTarget::TxtRow);
    }
}

TEST(OkAction, StartRowIsStoredAsTheNumberTheBoxRead) {
    struct Row {
        std::string typed;
        std::string rangeSpec;
    };
    const std::vector<Row> rows = {{"25", "225"},
                                   {"1.5", "22"},
                                   {"2.5", "22"},
                                   {"007", "27"},
                                   {"1", "21"},
                                   {" 12", "212"},
                                   {"１２", "212"},
                                   {"1048576", "21048576"},
                                   {"1048576.4", "21048576"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.typed);
        FakeSample sample;
        DialogValues values;
        values.txtRow = row.typed;
        const options::OkOutcome outcome = options::runOkAction(values, sample.resolver());
        ASSERT_TRUE(outcome.accepted);
        EXPECT_EQ(outcome.options.RangeSpec, row.rangeSpec);
    }
}

TEST(OkAction, CellChecksInOrderWithMessagesAndFocus) {
    struct Row {
        const char* name;
        DialogValues values;
        std::string message;
        FocusTarget focus;
    };
    const std::vector<Row> rows = {
        {"empty top-left", cells("", true, ""), "左上角单元格地址不能为空，请补填。",
         FocusTarget::TxtLT},
        {"invalid top-left before empty bottom-right", cells("ZZ", true, ""),
         "左上角单元格地址有误，请修正。", FocusTarget::TxtLT},
        {"empty bottom-right", cells("B2", true, ""),
         "右下角单元格地址不能为空，否则请勿勾选“右下角”，由程序自动判断即可。",
         FocusTarget::TxtRB},
        {"invalid bottom-right", cells("B2", true, "G"), "右下角单元格地址有误，请修正。",
         FocusTarget::TxtRB},
        {"bottom-right one row above, same column", cells("B3", true, "B2"),
         "当前左上角单元格位于右下角单元格的右方/下方，不合逻辑，请修正。", FocusTarget::TxtLT},
        {"bottom-right left of top-left", cells("B2", true, "A5"),
         "当前左上角单元格位于右下角单元格的右方/下方，不合逻辑，请修正。", FocusTarget::TxtLT},
        {"top-left with a blank is not trimmed", cells("B 2", false, ""),
         "左上角单元格地址有误，请修正。", FocusTarget::TxtLT},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeSample sample;
        const options::OkOutcome outcome = options::runOkAction(row.values, sample.resolver());
        EXPECT_FALSE(outcome.accepted);
        EXPECT_EQ(outcome.message, row.message);
        EXPECT_EQ(outcome.focus, row.focus);
        EXPECT_FALSE(outcome.options.Confirmed);
        EXPECT_EQ(outcome.options.RangeSpec, "");
    }
}

TEST(OkAction, CellRangeEncodings) {
    struct Row {
        const char* name;
        DialogValues values;
        std::string rangeSpec;
    };
    const std::vector<Row> rows = {
        {"corner left to the run", cells("B2", false, ""), "3|B2|"},
        {"corner given", cells("B2", true, "G5"), "3|B2|G5"},
        {"same cell", cells("B2", true, "B2"), "3|B2|B2"},
        {"same row", cells("B1", true, "G5"), "3|B1|G5"},
        {"text kept as typed", cells("b2", true, "G5"), "3|b2|G5"},
        {"a range as top-left counts by its top-left cell", cells("B2:G5", true, "G5"),
         "3|B2:G5|G5"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeSample sample;
        const options::OkOutcome outcome = options::runOkAction(row.values, sample.resolver());
        ASSERT_TRUE(outcome.accepted) << outcome.message;
        EXPECT_EQ(outcome.options.RangeSpec, row.rangeSpec);
    }
}

TEST(OkAction, UntickedCornerIsNeitherCheckedNorStored) {
    FakeSample sample;
    DialogValues values = cells("B2", false, "");
    values.txtRB = "not an address";
    const options::OkOutcome outcome = options::runOkAction(values, sample.resolver());
    ASSERT_TRUE(outcome.accepted);
    EXPECT_EQ(outcome.options.RangeSpec, "3|B2|");
    EXPECT_EQ(sample.asked, std::vector<std::string>{"B2"});
}

TEST(OkAction, UnreadableStartRowGetsTheBoxMessage) {
    for (const std::string typed :
         {"0", "-3", "abc", "0.4", "2147483648", "1048577", "1048576.6", "１０４８５７７"}) {
        SCOPED_TRACE(typed);
        FakeSample sample;
        DialogValues values = cellList("XX", OkPart::Caption);
        values.range = RangeOption::StartRow;
        values.txtRow = typed;
        const options::OkOutcome outcome = options::runOkAction(values, sample.resolver());
        EXPECT_FALSE(outcome.accepted);
        EXPECT_EQ(outcome.message, "“起始行”必须是大于0的整数。");
        EXPECT_EQ(outcome.focus, FocusTarget::TxtRow);
    }
}

TEST(OkAction, StartRowCheckComesBeforeCellList) {
    FakeSample sample;
    DialogValues values = cellList("", OkPart::Caption);
    values.range = RangeOption::StartRow;
    values.txtRow = "";
    const options::OkOutcome outcome = options::runOkAction(values, sample.resolver());
    EXPECT_EQ(outcome.message, "起始行数不能为空，请输入大于0的整数。");
    EXPECT_EQ(outcome.focus, FocusTarget::TxtRow);
}

TEST(OkAction, CellChecksComeBeforeCellList) {
    FakeSample sample;
    DialogValues values = cellList("ZZ", OkPart::Face);
    values.range = RangeOption::Cells;
    values.txtLT = "ZZ";
    const options::OkOutcome outcome = options::runOkAction(values, sample.resolver());
    EXPECT_EQ(outcome.message, "左上角单元格地址有误，请修正。");
    EXPECT_EQ(outcome.focus, FocusTarget::TxtLT);
    EXPECT_EQ(sample.asked, std::vector<std::string>{"ZZ"});
}

TEST(OkAction, CellListWordingsDependOnThePartClicked) {
    struct Row {
        const char* name;
        std::string list;
        OkPart part;
        std::string message;
    };
    const std::vector<Row> rows = {
        {"empty, caption", "", OkPart::Caption, "请输入单元格地址。"},
        {"empty, face", "", OkPart::Face, "请输入指定单元格的地址。"},
        {"invalid, caption", "B2,XX", OkPart::Caption, "指定的单元格地址输入有误，请修正。"},
        {"invalid, face", "B2,XX", OkPart::Face, "指定单元格的地址输入有误，请修正。"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeSample sample;
        const options::OkOutcome outcome =
            options::runOkAction(cellList(row.list, row.part), sample.resolver());
        EXPECT_FALSE(outcome.accepted);
        EXPECT_EQ(outcome.message, row.message);
        EXPECT_EQ(outcome.focus, FocusTarget::TxtHead);
        EXPECT_EQ(outcome.options.MarkCells, "");
    }
}

TEST(OkAction, CellListPiecesAreJudgedAsTyped) {
    struct Row {
        std::string list;
        bool accepted;
        std::string markCells;
    };
    const std::vector<Row> rows = {
        {"B2", true, "B2"},
        {"B2,G5", true, "B2,G5"},
        {"B2，G5", true, "B2,G5"},  // full-width comma stored as ","
        {"B2，G5，A1", true, "B2,G5,A1"},
        {"B2:G5,A1", true, "B2:G5,A1"},
        {"B2,", false, ""},  // trailing comma: an empty last piece
        {"B2，", false, ""},
        {",B2", false, ""},
        {"B2,,G5", false, ""},
        {"B2, G5", false, ""},  // pieces are not trimmed
        {"B2;G5", false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.list);
        FakeSample sample;
        const options::OkOutcome outcome =
            options::runOkAction(cellList(row.list, OkPart::Caption), sample.resolver());
        EXPECT_EQ(outcome.accepted, row.accepted) << outcome.message;
        EXPECT_EQ(outcome.options.MarkCells, row.markCells);
        if (outcome.accepted) {
            EXPECT_TRUE(outcome.options.MarkSource);
        }
    }
}

TEST(OkAction, CellListStopsAtTheFirstFailingPiece) {
    FakeSample sample;
    options::runOkAction(cellList("B2,QQ,ZZ,G5", OkPart::Caption), sample.resolver());
    EXPECT_EQ(sample.asked, (std::vector<std::string>{"B2", "QQ"}));
}

TEST(OkAction, FilePathLabelIgnoresTheDisabledCellBox) {
    FakeSample sample;
    DialogValues values = largestRectangle();
    values.check3 = true;
    values.label = LabelOption::FilePath;
    values.txtHeadEnabled = false;
    values.txtHead = "如：B2 或 B2,G5";
    const options::OkOutcome outcome = options::runOkAction(values, sample.resolver());
    ASSERT_TRUE(outcome.accepted);
    EXPECT_TRUE(outcome.options.MarkSource);
    EXPECT_EQ(outcome.options.MarkCells, "");
    EXPECT_TRUE(sample.asked.empty());
}

TEST(OkAction, SheetAndFlagsAreEncoded) {
    FakeSample sample;
    DialogValues values;
    values.sheet = SheetOption::ByPosition;
    values.combo1 = "第 10 个";
    values.combo2 = "销售";
    values.txtRow = "4";
    values.check2 = true;
    options::OkOutcome outcome = options::runOkAction(values, sample.resolver());
    ASSERT_TRUE(outcome.accepted);
    EXPECT_EQ(outcome.options.SheetSpec, "2第 10 个");
    EXPECT_EQ(outcome.options.RangeSpec, "24");
    EXPECT_TRUE(outcome.options.CopyHeaderOnce);
    EXPECT_FALSE(outcome.options.MarkSource);

    values.sheet = SheetOption::ByName;
    outcome = options::runOkAction(values, sample.resolver());
    ASSERT_TRUE(outcome.accepted);
    EXPECT_EQ(outcome.options.SheetSpec, "3销售");
}

TEST(OkAction, SeveralSheetsAndTheirLabelAndLayoutAreEncoded) {
    struct Case {
        const char* name;
        SheetOption sheet;
        const char* pattern;
        bool skipHidden, markSheet, perSource;
        bool accepted;
        const char* sheetSpec;
    } cases[] = {
        {"every sheet", SheetOption::All, "ignored", false, false, false, true, "4"},
        {"pattern, hidden ones out", SheetOption::ByPattern, "*销售?", true, false, false, true,
         "5*销售?"},
        {"pattern box empty", SheetOption::ByPattern, "", false, true, true, false, ""},
        {"flags with one sheet", SheetOption::Active, "", true, true, true, true, ""},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        FakeSample sample;
        DialogValues values = largestRectangle();
        values.sheet = row.sheet;
        values.sheetPattern = row.pattern;
        values.skipHidden = row.skipHidden;
        values.markSheet = row.markSheet;
        values.perSource = row.perSource;
        const options::OkOutcome outcome = options::runOkAction(values, sample.resolver());
        ASSERT_EQ(outcome.accepted, row.accepted);
        if (!row.accepted) {
            EXPECT_EQ(outcome.message,
                      "请输入工作表名称的匹配模式，可用 * 代表任意多个字符、? 代表一个字符。");
            EXPECT_EQ(outcome.focus, FocusTarget::SheetPattern);
            continue;
        }
        EXPECT_EQ(outcome.options.SheetSpec, row.sheetSpec);
        EXPECT_EQ(outcome.options.SkipHidden, row.skipHidden);
        EXPECT_EQ(outcome.options.MarkSheet, row.markSheet);
        EXPECT_EQ(outcome.options.PerSource, row.perSource);
        EXPECT_FALSE(outcome.options.MarkSource);
    }
}

TEST(OkAction, FailingResolverCountsAsInvalidAddress) {
    const merge::ReferenceResolver throwing =
        [](const std::string&) -> std::optional<spreadsheet::CellRef> {
        throw std::runtime_error("application gone");
    };
    options::OkOutcome outcome = options::runOkAction(cells("B2", false, ""), throwing);
    EXPECT_EQ(outcome.message, "左上角单元格地址有误，请修正。");
    outcome = options::runOkAction(cellList("B2", OkPart::Face), merge::ReferenceResolver{});
    EXPECT_EQ(outcome.message, "指定单元格的地址输入有误，请修正。");
}

TEST(StartRow, ReadsDecimalNumbersRoundingHalvesToEven) {
    struct Row {
        std::string text;
        std::optional<int> value;
    };
    const std::vector<Row> rows = {
        {"1", 1},
        {"25", 25},
        {"007", 7},
        {"1.5", 2},
        {"2.5", 2},
        {"3.5", 4},
        {"0.5", 0},
        {"0.51", 1},
        {"2.50000", 2},
        {"2.500001", 3},
        {"1.4999999", 1},
        {"12.", 12},
        {".5", 0},
        {".6", 1},
        {"0", 0},
        {"-1", -1},
        {"-1.5", -2},
        {"+7", 7},
        {" 12 ", 12},
        {"2147483647", 2147483647},
        {"2147483646.5", 2147483646},
        {"2147483647.4", 2147483647},
        {"2147483647.5", std::nullopt},
        {"2147483648", std::nullopt},
        {"-2147483648", -2147483647 - 1},
        {"-2147483648.5", -2147483647 - 1},
        {"-2147483649", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"", std::nullopt},
        {" ", std::nullopt},
        {".", std::nullopt},
        {"-", std::nullopt},
        {"abc", std::nullopt},
        {"1a", std::nullopt},
        {"1e3", std::nullopt},
        {"1,000", std::nullopt},
        {"1.2.3", std::nullopt},
        {"--1", std::nullopt},
        // Full-width forms, as a Chinese input method types them.
        {"１２", 12},
        {"\xE3\x80\x80７\xE3\x80\x80", 7},
        {"－３．５", -4},
        {"＋１", 1},
        {"１２ａ", std::nullopt},
        {"\xEF\xBC", std::nullopt},
        {"\xE3\x80\x80", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("\"" + row.text + "\"");
        EXPECT_EQ(options::readStartRow(row.text), row.value);
    }
}

TEST(AddressLook, NeedsALetterRightBeforeADigit) {
    struct Row {
        std::string text;
        bool looks;
    };
    const std::vector<Row> rows = {
        {"B2", true},   {"b2", true},   {"AB12", true}, {"x1y", true},
        {"12B3", true}, {"B", false},   {"2B", false},  {"$B$2", false},
        {"", false},    {"中1", false}, {"B 2", false}, {"BB", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(options::looksLikeAddress(row.text), row.looks);
    }
}

TEST(PositionItem, ReadsLikeTheSheetList) {
    EXPECT_EQ(options::positionItem(3), "第 3 个");
    EXPECT_EQ(options::positionItem(10), "第 10 个");
}

DialogValues startRow(const std::string& row) {
    DialogValues values;
    values.txtRow = row;
    return values;
}

TEST(OkAction, MoreOptionsAreCheckedAfterTheOthersWithTheirOwnMessageAndFocus) {
    struct Case {
        const char* name;
        DialogValues values;
        const char* message;  // nullptr: accepted
        FocusTarget focus;
    };
    const auto with = [](DialogValues values, auto change) {
        change(values);
        return values;
    };
    const Case cases[] = {
        {"alignment with start row 1",
         with(startRow("1"), [](DialogValues& v) { v.alignColumns = true; }),
         "按表头名称对齐列时，表头是起始行上方的一行，起始行须大于1。", FocusTarget::TxtRow},
        {"alignment with start row 1.4, read as 1",
         with(startRow("1.4"), [](DialogValues& v) { v.alignColumns = true; }),
         "按表头名称对齐列时，表头是起始行上方的一行，起始行须大于1。", FocusTarget::TxtRow},
        {"alignment with start row 2",
         with(startRow("2"), [](DialogValues& v) { v.alignColumns = true; }), nullptr,
         FocusTarget::None},
        {"alignment in the data rectangle",
         with(largestRectangle(), [](DialogValues& v) { v.alignColumns = true; }), nullptr,
         FocusTarget::None},
        {"start row 1 without alignment", startRow("1"), nullptr, FocusTarget::None},
        {"empty stop text", with(largestRectangle(), [](DialogValues& v) { v.stopAt = true; }),
         "请输入结束标记的文字，如：合计。", FocusTarget::TxtStopAt},
        {"stop text of blanks",
         with(largestRectangle(),
              [](DialogValues& v) {
                  v.stopAt = true;
                  v.txtStopAt = " \xE3\x80\x80";
              }),
         "请输入结束标记的文字，如：合计。", FocusTarget::TxtStopAt},
        {"stop text unticked", with(largestRectangle(), [](DialogValues& v) { v.txtStopAt = ""; }),
         nullptr, FocusTarget::None},
        {"rows to leave out not whole",
         with(largestRectangle(),
              [](DialogValues& v) {
                  v.skipLast = true;
                  v.txtSkipLast = "1.5";
              }),
         "“末尾略去的行数”必须是大于0的整数。", FocusTarget::TxtSkipLast},
        {"rows to leave out zero",
         with(largestRectangle(),
              [](DialogValues& v) {
                  v.skipLast = true;
                  v.txtSkipLast = "0";
              }),
         "“末尾略去的行数”必须是大于0的整数。", FocusTarget::TxtSkipLast},
        {"rows to leave out empty",
         with(largestRectangle(), [](DialogValues& v) { v.skipLast = true; }),
         "“末尾略去的行数”必须是大于0的整数。", FocusTarget::TxtSkipLast},
        {"rows to leave out in full-width digits",
         with(largestRectangle(),
              [](DialogValues& v) {
                  v.skipLast = true;
                  v.txtSkipLast = " １２ ";
              }),
         nullptr, FocusTarget::None},
        {"the start row is checked first",
         with(startRow(""),
              [](DialogValues& v) {
                  v.stopAt = true;
                  v.skipLast = true;
              }),
         "起始行数不能为空，请输入大于0的整数。", FocusTarget::TxtRow},
        {"the stop text before the rows to leave out",
         with(largestRectangle(),
              [](DialogValues& v) {
                  v.stopAt = true;
                  v.skipLast = true;
              }),
         "请输入结束标记的文字，如：合计。", FocusTarget::TxtStopAt},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        FakeSample sample;
        const options::OkOutcome outcome = options::runOkAction(row.values, sample.resolver());
        EXPECT_EQ(outcome.accepted, row.message == nullptr);
        EXPECT_EQ(outcome.message, row.message ? row.message : "");
        EXPECT_EQ(outcome.focus, row.focus);
    }
}

TEST(OkAction, MoreOptionsAndTheFileNameLabelAreEncoded) {
    DialogValues values = startRow("3");
    values.check3 = true;
    values.label = LabelOption::FileName;
    values.txtHead = "如：B2 或 B2,G5";  // the disabled box's hint is never handed on
    values.alignColumns = true;
    values.skipBlankRows = true;
    values.dropHeaderRepeats = true;
    values.stopAt = true;
    values.txtStopAt = "合计";
    values.skipLast = true;
    values.txtSkipLast = "２";
    values.dedupe = true;
    values.fillMerged = true;
    values.logSheet = true;
    FakeSample sample;
    const options::OkOutcome outcome = options::runOkAction(values, sample.resolver());
    ASSERT_TRUE(outcome.accepted) << outcome.message;
    const merge::MergeOptions& options = outcome.options;
    EXPECT_TRUE(options.MarkSource);
    EXPECT_TRUE(options.MarkName);
    EXPECT_EQ(options.MarkCells, "");
    EXPECT_TRUE(options.AlignColumns && options.SkipBlankRows && options.DropHeaderRepeats &&
                options.Dedupe && options.FillMerged && options.LogSheet);
    EXPECT_EQ(options.StopAt, "合计");
    EXPECT_EQ(options.SkipLast, 2);
    // Texts of unticked boxes are not handed on.
    values.stopAt = false;
    values.skipLast = false;
    const options::OkOutcome unticked = options::runOkAction(values, sample.resolver());
    EXPECT_EQ(unticked.options.StopAt, "");
    EXPECT_EQ(unticked.options.SkipLast, 0);
}

}  // namespace

TEST(NamePatterns, SplitAtCommasAndSemicolonsOfBothWidths) {
    struct Case {
        const char* typed;
        std::vector<std::string> patterns;
    };
    const Case cases[] = {
        {"", {}},
        {" \xE3\x80\x80 ", {}},
        {"*销售*", {"*销售*"}},
        {"*销售*;*华东*", {"*销售*", "*华东*"}},
        {"*销售*, *华东* ,", {"*销售*", "*华东*"}},
        {"*销售*\xEF\xBC\x8C*华东*\xEF\xBC\x9B~*", {"*销售*", "*华东*", "~*"}},
        {";;,a?.xlsx;;", {"a?.xlsx"}},
        // Blanks inside a pattern are part of the name it matches.
        {" 一月 备份 ;\xE3\x80\x80二月\xE3\x80\x80", {"一月 备份", "二月"}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.typed);
        EXPECT_EQ(options::splitNamePatterns(row.typed), row.patterns);
    }
}

TEST(OkAction, FileNameFilterMustLeaveTwoFilesOfAFolder) {
    struct Case {
        const char* name;
        bool applies;
        int count;
        const char* startRow;
        const char* message;  // nullptr: accepted
        FocusTarget focus;
    };
    const Case cases[] = {
        {"two files left", true, 2, "2", nullptr, FocusTarget::None},
        {"one file left", true, 1, "2",
         "按“文件名包含”和“排除”筛选后，文件夹中只剩 1 个文件，至少需要 2 个才能合并，请修改筛选"
         "条件。",
         FocusTarget::TxtInclude},
        {"no file left", true, 0, "2",
         "按“文件名包含”和“排除”筛选后，文件夹中只剩 0 个文件，至少需要 2 个才能合并，请修改筛选"
         "条件。",
         FocusTarget::TxtInclude},
        {"files chosen, no folder: the filter is not judged", false, 0, "2", nullptr,
         FocusTarget::None},
        {"the start row is checked first", true, 0, "", "起始行数不能为空，请输入大于0的整数。",
         FocusTarget::TxtRow},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        DialogValues values = startRow(row.startRow);
        values.filterApplies = row.applies;
        values.filteredCount = row.count;
        values.txtExclude = "*备份*";
        FakeSample sample;
        const options::OkOutcome outcome = options::runOkAction(values, sample.resolver());
        EXPECT_EQ(outcome.accepted, row.message == nullptr);
        EXPECT_EQ(outcome.message, row.message ? row.message : "");
        EXPECT_EQ(outcome.focus, row.focus);
    }
}
