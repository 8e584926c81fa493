#include "options/dialog_values.h"

namespace options {

DialogValues dialogValuesOf(const merge::MergeSettings& settings) {
    // Every field of the settings has its line below: this binding stops compiling when a field
    // is added, until it is listed here and given its box.
    [[maybe_unused]] const auto& [sheet, range, copyHeaderOnce, label, perSource, alignColumns,
                                  cleaning, logSheet] = settings;

    DialogValues values;
    values.clicked = OkPart::Caption;
    switch (sheet.mode) {
        case merge::SheetMode::Active:
            values.sheet = SheetOption::Active;
            break;
        case merge::SheetMode::ByPosition:
            values.sheet = SheetOption::ByPosition;
            // A list position the 16-bit list could not hold names no sheet.
            values.combo1 = positionItem(sheet.position.value_or(32768));
            break;
        case merge::SheetMode::ByName:
            values.sheet = SheetOption::ByName;
            values.combo2 = sheet.name;
            break;
        case merge::SheetMode::All:
            values.sheet = SheetOption::All;
            break;
        case merge::SheetMode::ByPattern:
            values.sheet = SheetOption::ByPattern;
            values.sheetPattern = sheet.pattern;
            break;
    }
    values.skipHidden = sheet.skipHidden;
    switch (range.mode) {
        case merge::RangeMode::UsedRectangle:
            values.range = RangeOption::LargestRectangle;
            break;
        case merge::RangeMode::FromRow:
            values.range = RangeOption::StartRow;
            values.txtRow = std::to_string(range.startRow);
            break;
        case merge::RangeMode::Cells:
            values.range = RangeOption::Cells;
            values.txtLT = range.topLeft;
            values.check1 = range.bottomRight.has_value();
            values.txtRB = range.bottomRight.value_or(std::string());
            break;
    }
    values.check2 = copyHeaderOnce;
    if (label.mode != merge::LabelMode::None) {
        values.check3 = true;
        if (label.mode == merge::LabelMode::CellList) {
            values.label = LabelOption::CellContents;
            values.txtHeadEnabled = true;
            for (std::size_t k = 0; k < label.cells.size(); ++k)
                values.txtHead += (k > 0 ? "," : "") + label.cells[k];
        } else if (label.mode == merge::LabelMode::FileName) {
            values.label = LabelOption::FileName;
        }
    }
    values.markSheet = label.sheetName;
    values.perSource = perSource;
    values.alignColumns = alignColumns;
    values.skipBlankRows = cleaning.skipBlankRows;
    values.dropHeaderRepeats = cleaning.dropHeaderRepeats;
    values.stopAt = !cleaning.stopAt.empty();
    values.txtStopAt = cleaning.stopAt;
    // A count the box would refuse (0 or less) reaches its check instead of turning the rule off.
    values.skipLast = cleaning.skipLast != 0;
    if (values.skipLast) values.txtSkipLast = std::to_string(cleaning.skipLast);
    values.dedupe = cleaning.dedupe;
    values.fillMerged = cleaning.fillMerged;
    values.logSheet = logSheet;
    return values;
}

}  // namespace options
