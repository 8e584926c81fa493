// The one place where the options dialog's record and the merge's typed settings meet.
#include "merge/merge_options.h"

#include "merge/texts.h"

namespace merge {

namespace {

// The byte length of the UTF-8 character starting at `lead`.
std::size_t characterLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 1;
}

// `text` without its first character; "" when it has none or only one.
std::string afterFirstCharacter(const std::string& text) {
    if (text.empty()) return {};
    const std::size_t length = characterLength(static_cast<unsigned char>(text[0]));
    return length < text.size() ? text.substr(length) : std::string();
}

std::vector<std::string> splitAt(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(
            text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

bool isDigit(char character) {
    return character >= '0' && character <= '9';
}

// A start row of 1 to 7 decimal digits (the largest grid has 1,048,576 rows), as a number;
// 0 for any other text.
int startRowOrZero(const std::string& digits) {
    if (digits.empty() || digits.size() > 7) return 0;
    int value = 0;
    for (char character : digits) {
        if (!isDigit(character)) return 0;
        value = value * 10 + (character - '0');
    }
    return value;
}

// Kind markers, the first character of SheetSpec and RangeSpec.
constexpr char PositionMarker = '2';
constexpr char NameMarker = '3';
constexpr char AllMarker = '4';
constexpr char PatternMarker = '5';
constexpr char StartRowMarker = '2';
constexpr char CellsMarker = '3';
constexpr char CellsSeparator = '|';
constexpr char ListSeparator = ',';

SheetChoice decodeSheet(const std::string& spec) {
    SheetChoice choice;
    if (spec.empty()) return choice;
    if (spec[0] == NameMarker) {
        choice.mode = SheetMode::ByName;
        choice.name = spec.substr(1);
        return choice;
    }
    if (spec[0] == AllMarker) {
        choice.mode = SheetMode::All;
        return choice;
    }
    if (spec[0] == PatternMarker) {
        choice.mode = SheetMode::ByPattern;
        choice.pattern = spec.substr(1);
        return choice;
    }
    // Any other marker has always been read as a position item.
    choice.mode = SheetMode::ByPosition;
    choice.position = positionOfItem(afterFirstCharacter(spec));
    return choice;
}

std::string encodeSheet(const SheetChoice& choice) {
    switch (choice.mode) {
        case SheetMode::Active:
            return {};
        case SheetMode::ByPosition:
            return std::string(1, PositionMarker) +
                   (choice.position ? positionItem(*choice.position) : std::string());
        case SheetMode::ByName:
            return std::string(1, NameMarker) + choice.name;
        case SheetMode::All:
            return std::string(1, AllMarker);
        case SheetMode::ByPattern:
            return std::string(1, PatternMarker) + choice.pattern;
    }
    return {};
}

RangeChoice decodeRange(const std::string& spec) {
    RangeChoice choice;
    if (spec.empty()) return choice;
    if (spec[0] == StartRowMarker) {
        choice.mode = RangeMode::FromRow;
        choice.startRow = startRowOrZero(spec.substr(1));
        return choice;
    }
    // Any other marker has always been read as the cells form "3|top-left|bottom-right".
    choice.mode = RangeMode::Cells;
    const std::vector<std::string> parts = splitAt(spec, CellsSeparator);
    if (parts.size() > 1) choice.topLeft = parts[1];
    if (parts.size() > 2 && !parts[2].empty()) choice.bottomRight = parts[2];
    return choice;
}

std::string encodeRange(const RangeChoice& choice) {
    switch (choice.mode) {
        case RangeMode::UsedRectangle:
            return {};
        case RangeMode::FromRow:
            return std::string(1, StartRowMarker) + std::to_string(choice.startRow);
        case RangeMode::Cells:
            return std::string(1, CellsMarker) + CellsSeparator + choice.topLeft + CellsSeparator +
                   choice.bottomRight.value_or(std::string());
    }
    return {};
}

LabelChoice decodeLabel(bool markSource, bool markName, const std::string& markCells) {
    LabelChoice choice;
    if (!markSource) return choice;
    if (markCells.empty()) {
        choice.mode = markName ? LabelMode::FileName : LabelMode::FilePath;
        return choice;
    }
    choice.mode = LabelMode::CellList;
    choice.cells = splitAt(markCells, ListSeparator);
    return choice;
}

std::string joinCells(const std::vector<std::string>& cells) {
    std::string joined;
    for (std::size_t k = 0; k < cells.size(); ++k) {
        if (k > 0) joined += ListSeparator;
        joined += cells[k];
    }
    return joined;
}

}  // namespace

MergeSettings decodeOptions(const MergeOptions& options) {
    MergeSettings settings;
    settings.sheet = decodeSheet(options.SheetSpec);
    settings.sheet.skipHidden = options.SkipHidden;
    settings.range = decodeRange(options.RangeSpec);
    settings.copyHeaderOnce = options.CopyHeaderOnce;
    settings.label = decodeLabel(options.MarkSource, options.MarkName, options.MarkCells);
    settings.label.sheetName = options.MarkSheet;
    settings.perSource = options.PerSource;
    settings.alignColumns = options.AlignColumns;
    settings.cleaning.skipBlankRows = options.SkipBlankRows;
    settings.cleaning.dropHeaderRepeats = options.DropHeaderRepeats;
    settings.cleaning.stopAt = options.StopAt;
    settings.cleaning.skipLast = options.SkipLast > 0 ? options.SkipLast : 0;
    settings.cleaning.dedupe = options.Dedupe;
    settings.cleaning.fillMerged = options.FillMerged;
    settings.logSheet = options.LogSheet;
    return settings;
}

MergeOptions encodeOptions(const MergeSettings& settings) {
    MergeOptions options;
    options.SheetSpec = encodeSheet(settings.sheet);
    options.RangeSpec = encodeRange(settings.range);
    options.CopyHeaderOnce = settings.copyHeaderOnce;
    options.MarkSource = settings.label.mode != LabelMode::None;
    if (settings.label.mode == LabelMode::CellList)
        options.MarkCells = joinCells(settings.label.cells);
    options.SkipHidden = settings.sheet.skipHidden;
    options.MarkSheet = settings.label.sheetName;
    options.PerSource = settings.perSource;
    options.MarkName = settings.label.mode == LabelMode::FileName;
    options.AlignColumns = settings.alignColumns;
    options.SkipBlankRows = settings.cleaning.skipBlankRows;
    options.DropHeaderRepeats = settings.cleaning.dropHeaderRepeats;
    options.StopAt = settings.cleaning.stopAt;
    options.SkipLast = settings.cleaning.skipLast;
    options.Dedupe = settings.cleaning.dedupe;
    options.FillMerged = settings.cleaning.fillMerged;
    options.LogSheet = settings.logSheet;
    return options;
}

std::string positionItem(int position) {
    return std::string(texts::PositionPrefix) + std::to_string(position) + texts::PositionSuffix;
}

std::optional<int> positionOfItem(const std::string& item) {
    // "第 3 个": 第 goes, then every 个, then the blanks at both ends.
    std::string rest = afterFirstCharacter(item);
    const std::string unit = "个";
    for (std::size_t found = rest.find(unit); found != std::string::npos; found = rest.find(unit))
        rest.erase(found, unit.size());
    const std::size_t first = rest.find_first_not_of(' ');
    if (first == std::string::npos) return std::nullopt;
    rest = rest.substr(first, rest.find_last_not_of(' ') - first + 1);
    if (rest.size() > 5) return std::nullopt;
    int value = 0;
    for (char character : rest) {
        if (!isDigit(character)) return std::nullopt;
        value = value * 10 + (character - '0');
    }
    // The list held 16-bit positions; a larger number names no sheet.
    if (value > 32767) return std::nullopt;
    return value;
}

}  // namespace merge
