// The OK action of the options dialog: checks in their fixed order, then the accepted values
// as typed settings, encoded into the merge options by the merge's own encoder.
#include "options/options_check.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "options/texts.h"

namespace options {

namespace {

// A resolver that is missing or throws is treated like one that rejects the text: the
// spreadsheet's failure while judging an address counts as an invalid address.
std::optional<spreadsheet::CellRef> resolveSafely(const merge::ReferenceResolver& resolve,
                                                  const std::string& text) {
    if (!resolve) return std::nullopt;
    try {
        return resolve(text);
    } catch (...) {
        return std::nullopt;
    }
}

OkOutcome refuse(const char* message, FocusTarget focus) {
    OkOutcome outcome;
    outcome.message = message;
    outcome.focus = focus;
    return outcome;
}

// Every full-width comma "，" (U+FF0C, EF BC 8C in UTF-8) becomes ",".
std::string replaceFullWidthCommas(const std::string& text) {
    static constexpr std::string_view FullWidthComma = "\xEF\xBC\x8C";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, FullWidthComma.size(), FullWidthComma) == 0) {
            out += ',';
            i += FullWidthComma.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

// Splits at every ","; an empty text gives one empty piece, "a," gives "a" and "".
std::vector<std::string> splitAtCommas(const std::string& text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        if (comma == std::string::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The options of the section "更多选项", checked before.
void addMoreOptions(const DialogValues& values, merge::MergeSettings& settings) {
    settings.alignColumns = values.alignColumns;
    settings.cleaning.skipBlankRows = values.skipBlankRows;
    settings.cleaning.dropHeaderRepeats = values.dropHeaderRepeats;
    if (values.stopAt) settings.cleaning.stopAt = values.txtStopAt;
    if (values.skipLast) settings.cleaning.skipLast = readRowCount(values.txtSkipLast).value_or(0);
    settings.cleaning.dedupe = values.dedupe;
    settings.cleaning.fillMerged = values.fillMerged;
    settings.logSheet = values.logSheet;
}

// The checks of the section "更多选项", after those of the controls above it.
std::optional<OkOutcome> checkMoreOptions(const DialogValues& values, std::optional<int> startRow) {
    if (values.filterApplies && values.filteredCount < 2) {
        OkOutcome outcome;
        outcome.message = std::string(texts::FilterLeavesTooFewHead) +
                          std::to_string(values.filteredCount) + texts::FilterLeavesTooFewTail;
        outcome.focus = FocusTarget::TxtInclude;
        return outcome;
    }
    if (values.alignColumns && values.range == RangeOption::StartRow && startRow == 1)
        return refuse(texts::AlignNeedsHeaderRow, FocusTarget::TxtRow);
    if (values.stopAt && isBlankText(values.txtStopAt))
        return refuse(texts::StopAtEmpty, FocusTarget::TxtStopAt);
    if (values.skipLast && !readRowCount(values.txtSkipLast))
        return refuse(texts::SkipLastNotWhole, FocusTarget::TxtSkipLast);
    return std::nullopt;
}

// The accepted dialog values as typed settings. `startRow` is the number the start-row box
// read, `markCells` the checked cell list with "," separators.
merge::MergeSettings settingsOf(const DialogValues& values, std::optional<int> startRow,
                                const std::string& markCells) {
    merge::MergeSettings settings;
    if (values.sheet == SheetOption::ByPosition) {
        settings.sheet.mode = merge::SheetMode::ByPosition;
        settings.sheet.position = merge::positionOfItem(values.combo1);
    } else if (values.sheet == SheetOption::ByName) {
        settings.sheet.mode = merge::SheetMode::ByName;
        settings.sheet.name = values.combo2;
    } else if (values.sheet == SheetOption::All) {
        settings.sheet.mode = merge::SheetMode::All;
    } else if (values.sheet == SheetOption::ByPattern) {
        settings.sheet.mode = merge::SheetMode::ByPattern;
        settings.sheet.pattern = values.sheetPattern;
    }
    settings.sheet.skipHidden = values.skipHidden;
    settings.label.sheetName = values.markSheet;
    settings.perSource = values.perSource;
    // The start row goes on as the number the box read ("1.5" as 2, " 12" as 12): the merge
    // addresses the row by this number, which a fraction or a blank would break.
    if (values.range == RangeOption::StartRow) {
        settings.range.mode = merge::RangeMode::FromRow;
        settings.range.startRow = *startRow;
    } else if (values.range == RangeOption::Cells) {
        settings.range.mode = merge::RangeMode::Cells;
        settings.range.topLeft = values.txtLT;
        if (values.check1) settings.range.bottomRight = values.txtRB;
    }
    settings.copyHeaderOnce = values.check2;
    if (values.check3) {
        // The cell box is enabled only with the cell-contents choice.
        settings.label.mode =
            values.txtHeadEnabled ? merge::LabelMode::CellList : merge::LabelMode::FilePath;
        if (values.txtHeadEnabled)
            settings.label.cells = splitAtCommas(markCells);
        else if (values.label == LabelOption::FileName)
            settings.label.mode = merge::LabelMode::FileName;
    }
    addMoreOptions(values, settings);
    return settings;
}

// The full-width forms of the characters a number is written with become their ASCII
// counterparts; everything else stays as it is. In UTF-8 the full-width forms U+FF0B to
// U+FF19 are EF BC 8B to EF BC 99, the ideographic space U+3000 is E3 80 80.
std::string narrowFullWidth(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
        if (i + 2 < text.size() && byte(i) == 0xEF && byte(i + 1) == 0xBC && byte(i + 2) >= 0x8B &&
            byte(i + 2) <= 0x99) {
            // U+FF0B "＋" to U+FF19 "９" map onto "+" to "9" one to one.
            out += static_cast<char>('+' + (byte(i + 2) - 0x8B));
            i += 3;
        } else if (i + 2 < text.size() && byte(i) == 0xE3 && byte(i + 1) == 0x80 &&
                   byte(i + 2) == 0x80) {
            out += ' ';
            i += 3;
        } else {
            out += text[i++];
        }
    }
    return out;
}

}  // namespace

OkOutcome runOkAction(const DialogValues& values, const merge::ReferenceResolver& resolve) {
    // 0. A name pattern that could match no name.
    if (values.sheet == SheetOption::ByPattern && values.sheetPattern.empty())
        return refuse(texts::SheetPatternEmpty, FocusTarget::SheetPattern);

    // 1. The start row: the box itself clears text that does not read as a usable row.
    if (values.range == RangeOption::StartRow && isBlankText(values.txtRow))
        return refuse(texts::StartRowEmpty, FocusTarget::TxtRow);
    // The dialog's box never holds anything else; a snapshot built elsewhere (the command
    // line) gets the box's own message.
    std::optional<int> startRow;
    if (values.range == RangeOption::StartRow) {
        startRow = readStartRow(values.txtRow);
        if (!startRow || !isUsableStartRow(*startRow))
            return refuse(texts::StartRowNotPositive, FocusTarget::TxtRow);
    }

    // 2. Start and end cells.
    if (values.range == RangeOption::Cells) {
        if (values.txtLT.empty()) return refuse(texts::TopLeftEmpty, FocusTarget::TxtLT);
        const auto topLeft = resolveSafely(resolve, values.txtLT);
        if (!topLeft) return refuse(texts::TopLeftInvalid, FocusTarget::TxtLT);
        if (values.check1) {
            if (values.txtRB.empty()) return refuse(texts::BottomRightEmpty, FocusTarget::TxtRB);
            const auto bottomRight = resolveSafely(resolve, values.txtRB);
            if (!bottomRight) return refuse(texts::BottomRightInvalid, FocusTarget::TxtRB);
            // Equal columns or rows are a one-column or one-row block; only a corner that lies
            // left of or above the top-left one is refused, with the focus on the top-left box.
            if (bottomRight->column < topLeft->column || bottomRight->row < topLeft->row)
                return refuse(texts::CornersIllogical, FocusTarget::TxtLT);
        }
    }

    // 3. The source-cell list, whose messages depend on the part of the button clicked.
    std::string markCells;
    if (values.txtHeadEnabled) {
        const bool caption = values.clicked == OkPart::Caption;
        if (values.txtHead.empty())
            return refuse(caption ? texts::CellListEmptyCaption : texts::CellListEmptyFace,
                          FocusTarget::TxtHead);
        const std::string replaced = replaceFullWidthCommas(values.txtHead);
        // Pieces are judged as typed: an empty piece (leading, trailing or doubled comma) and
        // a piece with blanks around an address both fail.
        for (const std::string& piece : splitAtCommas(replaced)) {
            if (!resolveSafely(resolve, piece))
                return refuse(caption ? texts::CellListInvalidCaption : texts::CellListInvalidFace,
                              FocusTarget::TxtHead);
        }
        markCells = replaced;
    }

    if (std::optional<OkOutcome> refused = checkMoreOptions(values, startRow)) return *refused;

    // 4. to 7. Nothing can fail from here on.
    OkOutcome outcome;
    outcome.accepted = true;
    outcome.options = merge::encodeOptions(settingsOf(values, startRow, markCells));
    outcome.options.Confirmed = true;
    return outcome;
}

std::optional<int> readStartRow(std::string_view typed) {
    const std::string narrowed = narrowFullWidth(typed);
    const std::string_view text = narrowed;
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // The whole part is accumulated with a saturating bound so that long digit runs cannot
    // overflow; anything beyond 2^31 is out of range whatever the fraction says.
    constexpr std::int64_t Bound = std::int64_t{1} << 32;
    std::int64_t whole = 0;
    int digitCount = 0;
    while (i < text.size() && isDigit(text[i])) {
        whole = std::min(Bound, whole * 10 + (text[i] - '0'));
        ++digitCount;
        ++i;
    }
    // The first fraction digit decides the rounding; the rest only tell an exact half (5
    // followed by zeros) from more than a half.
    int firstFractionDigit = 0;
    bool restNonZero = false;
    if (i < text.size() && text[i] == '.') {
        ++i;
        bool first = true;
        while (i < text.size() && isDigit(text[i])) {
            if (first) {
                firstFractionDigit = text[i] - '0';
                first = false;
            } else if (text[i] != '0') {
                restNonZero = true;
            }
            ++digitCount;
            ++i;
        }
    }
    while (i < text.size() && isBlank(text[i])) ++i;
    if (digitCount == 0 || i != text.size()) return std::nullopt;

    const bool aboveHalf = firstFractionDigit > 5 || (firstFractionDigit == 5 && restNonZero);
    const bool exactHalf = firstFractionDigit == 5 && !restNonZero;
    if (aboveHalf || (exactHalf && whole % 2 == 1)) whole = std::min(Bound, whole + 1);

    const std::int64_t value = negative ? -whole : whole;
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<int>(value);
}

std::optional<int> readRowCount(std::string_view typed) {
    const std::string narrowed = narrowFullWidth(typed);
    std::string_view text = narrowed;
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.size() > 7) return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (!isDigit(c)) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (!isUsableStartRow(value)) return std::nullopt;
    return value;
}

std::vector<std::string> splitNamePatterns(std::string_view text) {
    // Full-width commas and semicolons (U+FF0C, U+FF1B) and the ideographic space (U+3000)
    // count as their ASCII forms, as a Chinese input method types them.
    static constexpr std::string_view FullWidthComma = "\xEF\xBC\x8C";
    static constexpr std::string_view FullWidthSemicolon = "\xEF\xBC\x9B";
    static constexpr std::string_view IdeographicSpace = "\xE3\x80\x80";
    std::vector<std::string> patterns;
    std::string piece;
    const auto finish = [&] {
        std::size_t begin = 0;
        std::size_t end = piece.size();
        while (begin < end && isBlank(piece[begin])) ++begin;
        while (end > begin && isBlank(piece[end - 1])) --end;
        if (end > begin) patterns.push_back(piece.substr(begin, end - begin));
        piece.clear();
    };
    for (std::size_t i = 0; i < text.size();) {
        const std::string_view rest = text.substr(i);
        if (rest.starts_with(FullWidthComma) || rest.starts_with(FullWidthSemicolon)) {
            finish();
            i += 3;
        } else if (rest.starts_with(IdeographicSpace)) {
            piece += ' ';
            i += 3;
        } else if (text[i] == ',' || text[i] == ';') {
            finish();
            ++i;
        } else {
            piece += text[i++];
        }
    }
    finish();
    return patterns;
}

bool isUsableStartRow(int row) {
    return row >= 1 && row <= LastGridRow;
}

bool isBlankText(std::string_view text) {
    const std::string narrowed = narrowFullWidth(text);
    return std::all_of(narrowed.begin(), narrowed.end(), isBlank);
}

bool looksLikeAddress(std::string_view text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        const char c = text[i];
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (letter && isDigit(text[i + 1])) return true;
    }
    return false;
}

std::string positionItem(int position) {
    return merge::positionItem(position);
}

}  // namespace options
