// The way back from typed settings to the dialog's values: the OK action on them hands on the
// same settings, so a saved job or remembered options run exactly as they were saved, and they
// meet the same checks against the sample.
#include "options/dialog_values.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using merge::LabelMode;
using merge::MergeSettings;
using merge::RangeMode;
using merge::SheetMode;

MergeSettings settingsWith(merge::SheetChoice sheet, merge::RangeChoice range, bool header,
                           merge::LabelChoice label) {
    MergeSettings settings;
    settings.sheet = std::move(sheet);
    settings.range = std::move(range);
    settings.copyHeaderOnce = header;
    settings.label = std::move(label);
    return settings;
}

// Every address is valid on this sample; the row is the number of characters, so that corners
// compare in the order the texts are written.
merge::ReferenceResolver acceptingEverything() {
    return [](const std::string& text) -> std::optional<spreadsheet::CellRef> {
        return spreadsheet::CellRef{static_cast<int>(text.size()), 1};
    };
}

TEST(DialogValues, OkActionHandsOnTheSettingsTheyCameFrom) {
    MergeSettings allSheets = settingsWith({SheetMode::All}, {}, false, {});
    allSheets.sheet.skipHidden = true;
    allSheets.label.sheetName = true;
    MergeSettings byPattern =
        settingsWith({SheetMode::ByPattern}, {}, false, {LabelMode::FilePath, {}, true});
    byPattern.sheet.pattern = "销售?月*";
    byPattern.perSource = true;
    // Files that are not quite alike: every option of the section 更多选项, the file-name label.
    MergeSettings notAlike =
        settingsWith({SheetMode::All}, {RangeMode::FromRow, 3, "", std::nullopt}, true,
                     {LabelMode::FileName, {}, true});
    notAlike.alignColumns = true;
    notAlike.cleaning = {true, true, "合计", 2, true, true};
    notAlike.logSheet = true;
    notAlike.perSource = true;
    MergeSettings fileNameOnly = settingsWith({}, {}, false, {LabelMode::FileName, {}});
    fileNameOnly.cleaning.skipLast = 1;
    const std::vector<MergeSettings> cases{
        allSheets,
        byPattern,
        notAlike,
        fileNameOnly,
        MergeSettings{},
        settingsWith({SheetMode::ByPosition, 3, ""}, {RangeMode::FromRow, 2, "", std::nullopt},
                     true, {LabelMode::FilePath, {}}),
        settingsWith({SheetMode::ByPosition, std::nullopt, ""},
                     {RangeMode::FromRow, 1'048'576, "", std::nullopt}, false, {}),
        settingsWith({SheetMode::ByName, std::nullopt, "销售 一月"},
                     {RangeMode::Cells, 0, "B2", std::string("G55")}, false,
                     {LabelMode::CellList, {"A1", "B2:C3", "Sheet1!D4"}}),
        settingsWith({SheetMode::ByName, std::nullopt, "a,b|c"},
                     {RangeMode::Cells, 0, "b2", std::nullopt}, false,
                     {LabelMode::CellList, {"A1"}}),
    };
    for (const MergeSettings& settings : cases) {
        SCOPED_TRACE(merge::encodeOptions(settings).SheetSpec + " / " +
                     merge::encodeOptions(settings).RangeSpec + " / " +
                     merge::encodeOptions(settings).MarkCells);
        const options::OkOutcome outcome =
            options::runOkAction(options::dialogValuesOf(settings), acceptingEverything());
        ASSERT_TRUE(outcome.accepted) << outcome.message;
        EXPECT_TRUE(outcome.options.Confirmed);
        EXPECT_EQ(merge::decodeOptions(outcome.options), settings);
    }
}

TEST(DialogValues, SavedAddressesMeetTheSampleChecksAgain) {
    // A saved cell list with an address the sample does not take is refused as if typed.
    const MergeSettings settings = settingsWith({}, {}, false, {LabelMode::CellList, {"A1", "ZZ"}});
    const options::OkOutcome outcome =
        options::runOkAction(options::dialogValuesOf(settings),
                             [](const std::string& text) -> std::optional<spreadsheet::CellRef> {
                                 if (text == "A1") return spreadsheet::CellRef{1, 1};
                                 return std::nullopt;
                             });
    EXPECT_FALSE(outcome.accepted);
    EXPECT_EQ(outcome.message, "指定的单元格地址输入有误，请修正。");
}

}  // namespace
