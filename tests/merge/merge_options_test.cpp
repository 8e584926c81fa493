// The options record and the typed settings: decoding every form the OK action writes and the
// odd texts a hand-made record may hold, and encoding back.
#include "merge/merge_options.h"

#include <gtest/gtest.h>

namespace merge {
namespace {

SheetChoice atPosition(std::optional<int> position) {
    return SheetChoice{SheetMode::ByPosition, position, {}};
}
SheetChoice named(std::string name) {
    return SheetChoice{SheetMode::ByName, std::nullopt, std::move(name)};
}
RangeChoice fromRow(int row) {
    return RangeChoice{RangeMode::FromRow, row, {}, std::nullopt};
}
RangeChoice cells(std::string topLeft, std::optional<std::string> bottomRight) {
    return RangeChoice{RangeMode::Cells, 0, std::move(topLeft), std::move(bottomRight)};
}

TEST(MergeOptions, DecodeAndEncodeRoundTrip) {
    struct Case {
        const char* name;
        MergeOptions record;
        MergeSettings settings;  // what the record decodes to
        MergeOptions encoded;    // what those settings encode to
    };
    const MergeOptions defaults;
    const Case cases[] = {
        // Every form the OK action writes comes back unchanged.
        {"defaults", defaults, MergeSettings{}, defaults},
        {"position",
         {.SheetSpec = "2第 10 个"},
         {.sheet = atPosition(10)},
         {.SheetSpec = "2第 10 个"}},
        {"name", {.SheetSpec = "3销售"}, {.sheet = named("销售")}, {.SheetSpec = "3销售"}},
        {"start row", {.RangeSpec = "225"}, {.range = fromRow(25)}, {.RangeSpec = "225"}},
        {"start row with header",
         {.RangeSpec = "24", .CopyHeaderOnce = true},
         {.range = fromRow(4), .copyHeaderOnce = true},
         {.RangeSpec = "24", .CopyHeaderOnce = true}},
        {"both corners",
         {.RangeSpec = "3|B2|G5"},
         {.range = cells("B2", "G5")},
         {.RangeSpec = "3|B2|G5"}},
        {"corner left to the run",
         {.RangeSpec = "3|B2|"},
         {.range = cells("B2", std::nullopt)},
         {.RangeSpec = "3|B2|"}},
        {"range as top-left, lower case",
         {.RangeSpec = "3|b2:G5|h9"},
         {.range = cells("b2:G5", "h9")},
         {.RangeSpec = "3|b2:G5|h9"}},
        {"path label",
         {.MarkSource = true},
         {.label = {LabelMode::FilePath, {}}},
         {.MarkSource = true}},
        {"cell labels",
         {.MarkSource = true, .MarkCells = "B2,G5,A1:C3"},
         {.label = {LabelMode::CellList, {"B2", "G5", "A1:C3"}}},
         {.MarkSource = true, .MarkCells = "B2,G5,A1:C3"}},
        {"everything at once",
         {.SheetSpec = "3Data",
          .RangeSpec = "21048576",
          .CopyHeaderOnce = true,
          .MarkSource = true,
          .MarkCells = "A1"},
         {named("Data"), fromRow(1'048'576), true, {LabelMode::CellList, {"A1"}}},
         {.SheetSpec = "3Data",
          .RangeSpec = "21048576",
          .CopyHeaderOnce = true,
          .MarkSource = true,
          .MarkCells = "A1"}},
        {"file-name label",
         {.MarkSource = true, .MarkName = true},
         {.label = {LabelMode::FileName, {}}},
         {.MarkSource = true, .MarkName = true}},
        {"file-name label beside the sheet-name label, every sheet on its own",
         {.SheetSpec = "4",
          .MarkSource = true,
          .MarkSheet = true,
          .PerSource = true,
          .MarkName = true,
          .AlignColumns = true,
          .LogSheet = true},
         {.sheet = {SheetMode::All},
          .label = {LabelMode::FileName, {}, true},
          .perSource = true,
          .alignColumns = true,
          .logSheet = true},
         {.SheetSpec = "4",
          .MarkSource = true,
          .MarkSheet = true,
          .PerSource = true,
          .MarkName = true,
          .AlignColumns = true,
          .LogSheet = true}},
        {"columns, rows and the log",
         {.RangeSpec = "22",
          .AlignColumns = true,
          .SkipBlankRows = true,
          .DropHeaderRepeats = true,
          .StopAt = "合计",
          .SkipLast = 2,
          .Dedupe = true,
          .FillMerged = true,
          .LogSheet = true},
         {.range = fromRow(2),
          .alignColumns = true,
          .cleaning = {true, true, "合计", 2, true, true},
          .logSheet = true},
         {.RangeSpec = "22",
          .AlignColumns = true,
          .SkipBlankRows = true,
          .DropHeaderRepeats = true,
          .StopAt = "合计",
          .SkipLast = 2,
          .Dedupe = true,
          .FillMerged = true,
          .LogSheet = true}},
        // Odd records are read as the merge always read them and written back in the
        // canonical form.
        {"file-name flag without labels", {.MarkName = true}, MergeSettings{}, defaults},
        {"file-name flag beside a cell list",
         {.MarkSource = true, .MarkCells = "B2", .MarkName = true},
         {.label = {LabelMode::CellList, {"B2"}}},
         {.MarkSource = true, .MarkCells = "B2"}},
        {"negative rows to leave out", {.SkipLast = -3}, MergeSettings{}, defaults},
        {"blanks around the position",
         {.SheetSpec = "2第  1 个 "},
         {.sheet = atPosition(1)},
         {.SheetSpec = "2第 1 个"}},
        {"position zero",
         {.SheetSpec = "2第 0 个"},
         {.sheet = atPosition(0)},
         {.SheetSpec = "2第 0 个"}},
        {"largest position",
         {.SheetSpec = "2第 32767 个"},
         {.sheet = atPosition(32767)},
         {.SheetSpec = "2第 32767 个"}},
        {"position past 16 bits",
         {.SheetSpec = "2第 32768 个"},
         {.sheet = atPosition(std::nullopt)},
         {.SheetSpec = "2"}},
        {"no number in the item",
         {.SheetSpec = "2第 x 个"},
         {.sheet = atPosition(std::nullopt)},
         {.SheetSpec = "2"}},
        {"marker alone",
         {.SheetSpec = "2"},
         {.sheet = atPosition(std::nullopt)},
         {.SheetSpec = "2"}},
        {"another marker reads as a position",
         {.SheetSpec = "x第 3 个"},
         {.sheet = atPosition(3)},
         {.SheetSpec = "2第 3 个"}},
        {"empty name", {.SheetSpec = "3"}, {.sheet = named("")}, {.SheetSpec = "3"}},
        {"start row with leading zeros",
         {.RangeSpec = "2007"},
         {.range = fromRow(7)},
         {.RangeSpec = "27"}},
        {"start row zero", {.RangeSpec = "20"}, {.range = fromRow(0)}, {.RangeSpec = "20"}},
        {"start row not a number",
         {.RangeSpec = "2abc"},
         {.range = fromRow(0)},
         {.RangeSpec = "20"}},
        {"start row of eight digits",
         {.RangeSpec = "212345678"},
         {.range = fromRow(0)},
         {.RangeSpec = "20"}},
        {"start row missing", {.RangeSpec = "2"}, {.range = fromRow(0)}, {.RangeSpec = "20"}},
        {"cells without separators",
         {.RangeSpec = "3"},
         {.range = cells("", std::nullopt)},
         {.RangeSpec = "3||"}},
        {"cells without the last separator",
         {.RangeSpec = "3|B2"},
         {.range = cells("B2", std::nullopt)},
         {.RangeSpec = "3|B2|"}},
        {"a fourth piece is ignored",
         {.RangeSpec = "3|B2|G5|H9"},
         {.range = cells("B2", "G5")},
         {.RangeSpec = "3|B2|G5"}},
        {"cells under the label switched off", {.MarkCells = "B2"}, MergeSettings{}, defaults},
        {"every worksheet, hidden ones left out",
         {.SheetSpec = "4", .SkipHidden = true},
         {.sheet = {SheetMode::All, std::nullopt, {}, {}, true}},
         {.SheetSpec = "4", .SkipHidden = true}},
        {"name pattern with CJK and ?",
         {.SheetSpec = "5*销售?月"},
         {.sheet = {SheetMode::ByPattern, std::nullopt, {}, "*销售?月", false}},
         {.SheetSpec = "5*销售?月"}},
        {"sheet-name label alone",
         {.MarkSheet = true},
         {.label = {LabelMode::None, {}, true}},
         {.MarkSheet = true}},
        {"sheet-name label right of cell labels, one sheet per source",
         {.MarkSource = true, .MarkCells = "B2", .MarkSheet = true, .PerSource = true},
         {.label = {LabelMode::CellList, {"B2"}, true}, .perSource = true},
         {.MarkSource = true, .MarkCells = "B2", .MarkSheet = true, .PerSource = true}},
        {"empty pieces of a cell list",
         {.MarkSource = true, .MarkCells = ","},
         {.label = {LabelMode::CellList, {"", ""}}},
         {.MarkSource = true, .MarkCells = ","}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        const MergeSettings decoded = decodeOptions(row.record);
        EXPECT_TRUE(decoded == row.settings);
        const MergeOptions encoded = encodeOptions(decoded);
        EXPECT_EQ(encoded.SheetSpec, row.encoded.SheetSpec);
        EXPECT_EQ(encoded.RangeSpec, row.encoded.RangeSpec);
        EXPECT_EQ(encoded.CopyHeaderOnce, row.encoded.CopyHeaderOnce);
        EXPECT_EQ(encoded.MarkSource, row.encoded.MarkSource);
        EXPECT_EQ(encoded.MarkCells, row.encoded.MarkCells);
        EXPECT_EQ(encoded.SkipHidden, row.encoded.SkipHidden);
        EXPECT_EQ(encoded.MarkSheet, row.encoded.MarkSheet);
        EXPECT_EQ(encoded.PerSource, row.encoded.PerSource);
        EXPECT_EQ(encoded.MarkName, row.encoded.MarkName);
        EXPECT_EQ(encoded.AlignColumns, row.encoded.AlignColumns);
        EXPECT_EQ(encoded.SkipBlankRows, row.encoded.SkipBlankRows);
        EXPECT_EQ(encoded.DropHeaderRepeats, row.encoded.DropHeaderRepeats);
        EXPECT_EQ(encoded.StopAt, row.encoded.StopAt);
        EXPECT_EQ(encoded.SkipLast, row.encoded.SkipLast);
        EXPECT_EQ(encoded.Dedupe, row.encoded.Dedupe);
        EXPECT_EQ(encoded.FillMerged, row.encoded.FillMerged);
        EXPECT_EQ(encoded.LogSheet, row.encoded.LogSheet);
        EXPECT_FALSE(encoded.Confirmed);
        // The canonical form is stable: it decodes to the same settings.
        EXPECT_TRUE(decodeOptions(encoded) == decoded);
    }
}

TEST(MergeOptions, ConfirmedIsNoOption) {
    MergeOptions record;
    record.Confirmed = true;
    EXPECT_TRUE(decodeOptions(record) == MergeSettings{});
}

TEST(MergeOptions, PositionItemsRoundTrip) {
    for (int position : {0, 1, 9, 10, 255, 32767}) {
        SCOPED_TRACE(position);
        EXPECT_EQ(positionOfItem(positionItem(position)), position);
    }
    EXPECT_EQ(positionItem(3), "第 3 个");
    EXPECT_EQ(positionOfItem(positionItem(32768)), std::nullopt);
    EXPECT_EQ(positionOfItem(positionItem(100000)), std::nullopt);
    EXPECT_EQ(positionOfItem(""), std::nullopt);
    EXPECT_EQ(positionOfItem("第"), std::nullopt);
    EXPECT_EQ(positionOfItem("第 -1 个"), std::nullopt);
}

}  // namespace
}  // namespace merge
