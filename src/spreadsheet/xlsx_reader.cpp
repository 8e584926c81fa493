#include "spreadsheet/xlsx_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "spreadsheet/detail/xml_reader.h"
#include "spreadsheet/model_budget.h"
#include "spreadsheet/xlsx_styles.h"
#include "spreadsheet/zip_reader.h"

namespace spreadsheet {

namespace {

using detail::sameName;
using detail::XmlAttributes;

constexpr std::size_t MaxCellsPerSheet = 50'000'000;
constexpr std::size_t MaxMergesPerSheet = 1'000'000;
constexpr std::size_t MaxSheets = 10'000;
constexpr double Date1904Offset = 1462.0;

// ---------------------------------------------------------------------------------------------
// Small parsers

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' ||
                             text.front() == '\r'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' ||
                             text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// Plain decimals of up to 15 digits, the bulk of what cells hold: the digits make an integer
// below 2^53 and the power of ten is exact, so one division rounds correctly, as from_chars does.
std::optional<double> parseShortDecimal(std::string_view text) {
    static constexpr double PowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    std::size_t position = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) ++position;
    std::uint64_t digits = 0;
    int count = 0;
    int fraction = -1;  // digits after the point, once there is one
    for (; position < text.size(); ++position) {
        const char character = text[position];
        if (character >= '0' && character <= '9') {
            if (++count > 15) return std::nullopt;
            digits = digits * 10 + static_cast<std::uint64_t>(character - '0');
            if (fraction >= 0) ++fraction;
        } else if (character == '.' && fraction < 0) {
            fraction = 0;
        } else {
            return std::nullopt;
        }
    }
    if (count == 0 || fraction == 0) return std::nullopt;
    double value = static_cast<double>(digits);
    if (fraction > 0) value /= PowersOfTen[fraction];
    return negative ? -value : value;
}

std::optional<double> parseDouble(std::string_view text) {
    if (std::optional<double> quick = parseShortDecimal(text)) return quick;
    text = trimmed(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// A whole number, also written as "12.0" (seen in row numbers).
std::optional<long long> parseWhole(std::string_view text) {
    if (!text.empty() && text.size() <= 9) {
        long long value = 0;
        std::size_t position = 0;
        while (position < text.size() && text[position] >= '0' && text[position] <= '9')
            value = value * 10 + (text[position++] - '0');
        if (position == text.size()) return value;
    }
    text = trimmed(text);
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data()) return std::nullopt;
    std::string_view rest(end, static_cast<std::size_t>(text.data() + text.size() - end));
    if (!rest.empty()) {
        if (rest.front() != '.' || rest.find_first_not_of('0', 1) != std::string_view::npos)
            return std::nullopt;
    }
    return value;
}

bool parseFlag(std::optional<std::string_view> text) {
    return text && (*text == "1" || *text == "true");
}

// "B12" -> column 2, row 12; also "$B$12". Row 0 and columns past XFD come back as parsed
// (the caller checks the grid); false for text that is not letters followed by digits.
bool parseCell(std::string_view text, long long& row, long long& column) {
    std::size_t position = 0;
    if (position < text.size() && text[position] == '$') ++position;
    column = 0;
    const std::size_t lettersStart = position;
    while (position < text.size() && position - lettersStart < 4) {
        char character = text[position];
        if (character >= 'a' && character <= 'z')
            character = static_cast<char>(character - 'a' + 'A');
        if (character < 'A' || character > 'Z') break;
        column = column * 26 + (character - 'A' + 1);
        ++position;
    }
    if (position == lettersStart) return false;
    if (position < text.size() && text[position] == '$') ++position;
    if (position == text.size() || position + 8 < text.size()) return false;
    row = 0;
    for (; position < text.size(); ++position) {
        const char character = text[position];
        if (character < '0' || character > '9') return false;
        row = row * 10 + (character - '0');
    }
    return true;
}

bool insideGrid(long long row, long long column) {
    return row >= 1 && row <= XlsxMaxRows && column >= 1 && column <= XlsxMaxColumns;
}

// "A1:C3" or "B2"; nullopt for anything malformed or outside the grid.
std::optional<RangeRef> parseRangeText(std::string_view text) {
    text = trimmed(text);
    const std::size_t colon = text.find(':');
    long long firstRow = 0, firstColumn = 0, lastRow = 0, lastColumn = 0;
    if (!parseCell(text.substr(0, colon), firstRow, firstColumn)) return std::nullopt;
    if (colon == std::string_view::npos) {
        lastRow = firstRow;
        lastColumn = firstColumn;
    } else if (!parseCell(text.substr(colon + 1), lastRow, lastColumn)) {
        return std::nullopt;
    }
    if (!insideGrid(firstRow, firstColumn) || !insideGrid(lastRow, lastColumn)) return std::nullopt;
    RangeRef range;
    range.first = {static_cast<int>(std::min(firstRow, lastRow)),
                   static_cast<int>(std::min(firstColumn, lastColumn))};
    range.last = {static_cast<int>(std::max(firstRow, lastRow)),
                  static_cast<int>(std::max(firstColumn, lastColumn))};
    return range;
}

void appendUtf8(std::string& out, std::uint32_t codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

// The four hex digits of an `_xHHHH_` escape starting at `position`, if there is one.
std::optional<std::uint32_t> escapeAt(std::string_view text, std::size_t position) {
    if (position + 7 > text.size() || text[position] != '_' || text[position + 1] != 'x' ||
        text[position + 6] != '_')
        return std::nullopt;
    std::uint32_t value = 0;
    auto [end, error] =
        std::from_chars(text.data() + position + 2, text.data() + position + 6, value, 16);
    if (error != std::errc() || end != text.data() + position + 6) return std::nullopt;
    return value;
}

}  // namespace

namespace detail {

std::string decodeXlsxEscapes(std::string_view text) {
    if (text.find("_x") == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::optional<std::uint32_t> unit = escapeAt(text, i);
        if (!unit) {
            out.push_back(text[i++]);
            continue;
        }
        i += 7;
        std::uint32_t codePoint = *unit;
        if (codePoint >= 0xD800 && codePoint <= 0xDBFF) {
            std::optional<std::uint32_t> low = escapeAt(text, i);
            if (low && *low >= 0xDC00 && *low <= 0xDFFF) {
                codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (*low - 0xDC00);
                i += 7;
            } else {
                codePoint = 0xFFFD;
            }
        } else if (codePoint >= 0xDC00 && codePoint <= 0xDFFF) {
            codePoint = 0xFFFD;
        }
        appendUtf8(out, codePoint);
    }
    return out;
}

std::optional<double> isoToSerial(std::string_view text) {
    text = trimmed(text);
    auto number = [&](std::size_t position, std::size_t length) -> std::optional<int> {
        if (position + length > text.size()) return std::nullopt;
        int value = 0;
        for (std::size_t i = position; i < position + length; ++i) {
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    double serial = 0.0;
    std::size_t position = 0;
    const bool hasDate = text.size() >= 10 && text[4] == '-' && text[7] == '-';
    if (hasDate) {
        auto year = number(0, 4), month = number(5, 2), day = number(8, 2);
        if (!year || !month || !day || *month < 1 || *month > 12 || *day < 1 || *day > 31)
            return std::nullopt;
        // Days from civil (proleptic Gregorian), counted from 1899-12-30.
        const int y = *year - (*month <= 2 ? 1 : 0);
        const int era = (y >= 0 ? y : y - 399) / 400;
        const int yearOfEra = y - era * 400;
        const int dayOfYear = (153 * (*month + (*month > 2 ? -3 : 9)) + 2) / 5 + *day - 1;
        const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
        const long long daysSince1970 = static_cast<long long>(era) * 146097 + dayOfEra - 719468;
        serial = static_cast<double>(daysSince1970 + 25569);
        if (serial < 61) serial -= 1;  // before 1900-03-01 the serials skip the fictitious leap day
        if (serial < 0) return std::nullopt;
        position = 10;
        if (position == text.size()) return serial;
        if (text[position] != 'T' && text[position] != ' ') return std::nullopt;
        ++position;
    }
    auto hour = number(position, 2), minute = number(position + 3, 2);
    if (!hour || !minute || text.size() < position + 5 || text[position + 2] != ':' || *hour > 24 ||
        *minute > 59)
        return std::nullopt;
    double seconds = 0.0;
    std::size_t end = position + 5;
    if (end < text.size() && text[end] == ':') {
        std::size_t secondsEnd = end + 1;
        while (secondsEnd < text.size() &&
               ((text[secondsEnd] >= '0' && text[secondsEnd] <= '9') || text[secondsEnd] == '.'))
            ++secondsEnd;
        auto parsed = parseDouble(text.substr(end + 1, secondsEnd - end - 1));
        if (!parsed || *parsed < 0 || *parsed >= 61) return std::nullopt;
        seconds = *parsed;
        end = secondsEnd;
    }
    const std::string_view zone = text.substr(end);
    if (!zone.empty() && zone != "Z" && !((zone[0] == '+' || zone[0] == '-') && zone.size() <= 6))
        return std::nullopt;
    serial += (*hour * 3600.0 + *minute * 60.0 + seconds) / 86400.0;
    return serial;
}

}  // namespace detail

namespace {

using detail::decodeXlsxEscapes;
using detail::isoToSerial;

// True for duration formats such as [h]:mm:ss, whose numbers are spans rather than dates.
bool isElapsedTimeFormat(std::string_view code) {
    for (std::size_t open = code.find('['); open != std::string_view::npos;
         open = code.find('[', open + 1)) {
        const std::size_t close = code.find(']', open);
        if (close == std::string_view::npos) return false;
        const std::string_view block = code.substr(open + 1, close - open - 1);
        if (!block.empty() && block.find_first_not_of("hHmMsS") == std::string_view::npos)
            return true;
    }
    return false;
}

// Whether a number in this format moves by 1462 days between the 1904 and 1900 systems:
// dates and times do, durations do not.
bool shiftsWithDateSystem(const std::string& code) {
    return isDateFormat(code) && !isElapsedTimeFormat(code);
}

// ---------------------------------------------------------------------------------------------
// Package relationships

struct Relationship {
    std::string id;
    std::string type;
    std::string target;  // resolved part name, without a leading '/'
    bool external = false;
};

std::string directoryOf(std::string_view part) {
    const std::size_t slash = part.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

std::string percentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned value = 0;
        if (text[i] == '%' && i + 2 < text.size() &&
            std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr ==
                text.data() + i + 3) {
            out.push_back(static_cast<char>(value));
            i += 2;
        } else {
            out.push_back(text[i] == '\\' ? '/' : text[i]);
        }
    }
    return out;
}

// Resolves a relationship target against the folder of its source part: absolute targets
// start at the package root, and "." and ".." segments are folded.
std::string resolveTarget(std::string_view sourcePart, std::string_view target) {
    std::string decoded = percentDecoded(target);
    std::string joined =
        !decoded.empty() && decoded.front() == '/' ? decoded : directoryOf(sourcePart) + decoded;
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= joined.size()) {
        std::size_t slash = joined.find('/', start);
        if (slash == std::string::npos) slash = joined.size();
        const std::string segment = joined.substr(start, slash - start);
        if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = slash + 1;
    }
    std::string resolved;
    for (const std::string& segment : segments) {
        if (!resolved.empty()) resolved.push_back('/');
        resolved += segment;
    }
    return resolved;
}

std::string relationshipsPartOf(std::string_view part) {
    const std::size_t slash = part.rfind('/');
    const std::string_view folder =
        slash == std::string_view::npos ? std::string_view() : part.substr(0, slash + 1);
    const std::string_view file = slash == std::string_view::npos ? part : part.substr(slash + 1);
    return std::string(folder) + "_rels/" + std::string(file) + ".rels";
}

class RelationshipsHandler : public detail::XmlHandler {
public:
    explicit RelationshipsHandler(std::string sourcePart) : m_sourcePart(std::move(sourcePart)) {}
    std::vector<Relationship> relationships;

    void startElement(std::string_view name, const XmlAttributes& attributes) override {
        if (name != "Relationship") return;
        Relationship relationship;
        relationship.id = std::string(attributes.get("Id").value_or(""));
        relationship.type = std::string(attributes.get("Type").value_or(""));
        relationship.external = attributes.get("TargetMode").value_or("") == "External";
        const std::string_view target = attributes.get("Target").value_or("");
        relationship.target =
            relationship.external ? std::string(target) : resolveTarget(m_sourcePart, target);
        relationships.push_back(std::move(relationship));
    }
    void endElement(std::string_view) override {}

private:
    std::string m_sourcePart;
};

const Relationship* findByType(const std::vector<Relationship>& relationships,
                               std::string_view suffix) {
    for (const Relationship& relationship : relationships) {
        if (!relationship.external && endsWith(relationship.type, suffix)) return &relationship;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// workbook.xml

struct SheetDeclaration {
    std::string name;
    Visibility visibility = Visibility::Visible;
    std::string relationshipId;
};

class WorkbookHandler : public detail::XmlHandler {
public:
    std::vector<SheetDeclaration> sheets;
    int activeTab = 0;
    bool date1904 = false;

    void startElement(std::string_view name, const XmlAttributes& attributes) override {
        ++m_depth;
        // Extensions repeat names (x15:workbookPr), so only the main elements count.
        if (m_depth == 3 && name == "sheet") {
            SheetDeclaration sheet;
            sheet.name = std::string(attributes.get("name").value_or(""));
            const std::string_view state = attributes.get("state").value_or("visible");
            sheet.visibility = state == "hidden"       ? Visibility::Hidden
                               : state == "veryHidden" ? Visibility::VeryHidden
                                                       : Visibility::Visible;
            sheet.relationshipId =
                std::string(attributes.getNamespaced("relationships", "id").value_or(""));
            sheets.push_back(std::move(sheet));
        } else if (m_depth == 3 && name == "workbookView" && !m_seenView) {
            m_seenView = true;
            if (auto tab = parseWhole(attributes.get("activeTab").value_or("0"));
                tab && *tab >= 0 && *tab < 65536)
                activeTab = static_cast<int>(*tab);
        } else if (m_depth == 2 && name == "workbookPr") {
            date1904 = parseFlag(attributes.get("date1904"));
        }
    }
    void endElement(std::string_view) override { --m_depth; }

private:
    int m_depth = 0;
    bool m_seenView = false;
};

// ---------------------------------------------------------------------------------------------
// Shared strings: one arena with offsets instead of a string object per entry.

struct SharedStrings {
    std::string arena;
    std::vector<std::uint32_t> ends;  // end of entry i in the arena; starts at ends[i - 1]

    std::size_t size() const { return ends.size(); }
    std::string_view at(std::size_t index) const {
        const std::uint32_t begin = index == 0 ? 0 : ends[index - 1];
        return std::string_view(arena).substr(begin, ends[index] - begin);
    }
};

class SharedStringsHandler : public detail::XmlHandler {
public:
    explicit SharedStringsHandler(SharedStrings& strings) : m_strings(strings) {}

    void startElement(std::string_view name, const XmlAttributes&) override {
        if (sameName(name, "si")) {
            m_inItem = true;
            m_itemStart = m_strings.arena.size();
        } else if (sameName(name, "rPh")) {
            ++m_phonetic;  // furigana runs are not part of the text
        } else if (sameName(name, "t") && m_inItem && m_phonetic == 0) {
            setCollectingText(true);
        }
    }
    void endElement(std::string_view name) override {
        if (sameName(name, "t")) {
            setCollectingText(false);
        } else if (sameName(name, "rPh")) {
            --m_phonetic;
        } else if (sameName(name, "si") && m_inItem) {
            m_inItem = false;
            std::string_view raw = std::string_view(m_strings.arena).substr(m_itemStart);
            if (raw.find("_x") != std::string_view::npos) {
                std::string decoded = decodeXlsxEscapes(raw);
                m_strings.arena.resize(m_itemStart);
                m_strings.arena += decoded;
            }
            if (m_strings.arena.size() > UINT32_MAX) {
                fail(Error(ErrorCode::XmlLimit,
                           "shared strings exceed 4 GiB of text (shared string limit)"));
                return;
            }
            m_strings.ends.push_back(static_cast<std::uint32_t>(m_strings.arena.size()));
        }
    }
    void characters(std::string_view text) override { m_strings.arena.append(text); }

private:
    SharedStrings& m_strings;
    bool m_inItem = false;
    int m_phonetic = 0;
    std::size_t m_itemStart = 0;
};

// ---------------------------------------------------------------------------------------------
// Worksheets

// Styles shared by all sheets of the book, grown by derived date styles for t="d" cells.
struct StyleTable {
    std::vector<CellStyle>& styles;
    std::map<std::pair<std::uint32_t, int>, std::uint32_t> derivedDateStyles;

    // The cell's style if it already formats dates, else a copy that does.
    std::uint32_t dateStyleFor(std::uint32_t style, int kind) {
        if (isDateFormat(styles[style].numberFormat)) return style;
        auto key = std::make_pair(style, kind);
        auto found = derivedDateStyles.find(key);
        if (found != derivedDateStyles.end()) return found->second;
        CellStyle derived = styles[style];
        derived.numberFormat = kind == 0   ? "yyyy-mm-dd"
                               : kind == 1 ? "yyyy-mm-dd hh:mm:ss"
                                           : "hh:mm:ss";
        styles.push_back(std::move(derived));
        const auto index = static_cast<std::uint32_t>(styles.size() - 1);
        derivedDateStyles.emplace(key, index);
        return index;
    }
};

class SheetHandler : public detail::XmlHandler {
public:
    SheetHandler(Sheet& sheet, std::string partName, const SharedStrings& strings,
                 StyleTable& styles, bool date1904, ModelBudget& budget)
        : m_sheet(sheet),
          m_partName(std::move(partName)),
          m_strings(strings),
          m_styles(styles),
          m_date1904(date1904),
          m_budget(budget) {}

    bool rowsOutOfOrder = false;
    bool cellsOutOfOrder = false;
    std::vector<RangeRef> merges;

    void startElement(std::string_view name, const XmlAttributes& attributes) override {
        ++m_depth;
        if (m_depth == 4 && m_inSheetData && sameName(name, "c")) {
            startCell(attributes);
        } else if (m_depth >= 5 && m_inCell) {
            startCellChild(name, attributes);
        } else if (m_depth == 3 && m_inSheetData && sameName(name, "row")) {
            startRow(attributes);
        } else if (m_depth == 2) {
            if (sameName(name, "sheetData"))
                m_inSheetData = true;
            else if (sameName(name, "sheetViews"))
                m_inSheetViews = true;
            else if (sameName(name, "sheetFormatPr"))
                readSheetFormat(attributes);
            else if (sameName(name, "autoFilter"))
                m_sheet.autoFilter = parseRangeText(attributes.get("ref").value_or(""));
        } else if (m_depth == 3 && sameName(name, "sheetView") && m_inSheetViews) {
            ++m_sheetViews;
        } else if (m_depth == 4 && sameName(name, "pane") && m_inSheetViews && m_sheetViews == 1) {
            readPane(attributes);
        } else if (m_depth == 3 && sameName(name, "col")) {
            readColumn(attributes);
        } else if (m_depth == 3 && sameName(name, "mergeCell")) {
            readMerge(attributes);
        }
    }

    void endElement(std::string_view name) override {
        if (m_inCell) {
            if (m_depth == 4)
                endCell();
            else
                endCellChild(name);
        } else if (m_depth == 3 && m_inSheetData && sameName(name, "row")) {
            endRow();
        } else if (m_depth == 2) {
            m_inSheetData = false;
            m_inSheetViews = false;
        }
        --m_depth;
    }

    void characters(std::string_view text) override {
        if (m_textTarget) m_textTarget->append(text);
    }

private:
    Sheet& m_sheet;
    std::string m_partName;
    const SharedStrings& m_strings;
    StyleTable& m_styles;
    bool m_date1904;
    ModelBudget& m_budget;  // shared by all sheets of the book

    int m_depth = 0;
    bool m_inSheetData = false;
    bool m_inSheetViews = false;
    int m_sheetViews = 0;
    std::size_t m_cellCount = 0;

    // The current row.
    long long m_rowNumber = 0;
    bool m_rowHasNumber = false;
    int m_column = 0;  // last column seen in this row
    std::size_t m_previousRowCells = 0;

    // The current cell.
    bool m_inCell = false;
    int m_cellColumn = 0;
    char m_cellType = 'n';
    std::uint32_t m_cellStyle = 0;
    bool m_hasValue = false;
    bool m_hasFormula = false;
    bool m_hasInline = false;
    int m_phonetic = 0;
    std::string m_value;
    std::string m_formula;
    std::string m_inline;
    std::string* m_textTarget = nullptr;

    std::string where(long long row, long long column) const {
        return m_partName + " cell " +
               columnName(static_cast<int>(std::clamp<long long>(column, 1, 1'000'000))) +
               std::to_string(row);
    }
    static std::string columnName(int column) {
        std::string letters;
        while (column > 0) {
            letters.insert(letters.begin(), static_cast<char>('A' + (column - 1) % 26));
            column = (column - 1) / 26;
        }
        return letters;
    }

    std::uint32_t styleIndex(std::optional<std::string_view> text) const {
        if (!text) return 0;
        auto value = parseWhole(*text);
        // An index past the book's styles falls back to the default format, as spreadsheet
        // programs display it.
        if (!value || *value < 0 || static_cast<std::size_t>(*value) >= m_styles.styles.size())
            return 0;
        return static_cast<std::uint32_t>(*value);
    }

    void startRow(const XmlAttributes& attributes) {
        long long number = m_rowNumber + 1;
        m_rowHasNumber = false;
        if (auto text = attributes.get("r")) {
            auto parsed = parseWhole(*text);
            if (!parsed) {
                fail(Error(ErrorCode::XmlMalformed, m_partName + ": row number \"" +
                                                        std::string(*text) + "\" is not a number"));
                return;
            }
            number = *parsed;
            m_rowHasNumber = true;
        }
        if (number < 1 || number > XlsxMaxRows) {
            fail(Error(ErrorCode::SheetLimit, m_partName + ": row " + std::to_string(number) +
                                                  " lies outside the grid of " +
                                                  std::to_string(XlsxMaxRows) + " rows"));
            return;
        }
        if (!m_sheet.rows.empty() && number <= m_sheet.rows.back().number) rowsOutOfOrder = true;
        // More row entries than the grid has rows can only be repeats; they would cost memory
        // that no cell limit bounds.
        if (m_sheet.rows.size() >= static_cast<std::size_t>(XlsxMaxRows)) {
            fail(Error(ErrorCode::SheetLimit, m_partName + ": more than " +
                                                  std::to_string(XlsxMaxRows) +
                                                  " row entries (rows per sheet limit)"));
            return;
        }
        m_rowNumber = number;
        m_column = 0;
        Row& row = m_sheet.rows.emplace_back();
        row.number = static_cast<int>(number);
        // Rows of a sheet tend to be alike: start with the room the previous row needed.
        row.cells.reserve(m_previousRowCells);
        if (auto height = attributes.get("ht")) {
            if (auto value = parseDouble(*height); value && *value >= 0 && *value <= 409.5)
                row.height = *value;
        }
        row.customHeight = parseFlag(attributes.get("customHeight"));
        row.hidden = parseFlag(attributes.get("hidden"));
        if (parseFlag(attributes.get("customFormat")) && attributes.get("s"))
            row.style = styleIndex(attributes.get("s"));
    }

    void endRow() {
        Row& row = m_sheet.rows.back();
        m_previousRowCells = row.cells.size();
        if (row.cells.empty() && !row.customHeight && !row.hidden && !row.style)
            m_sheet.rows.pop_back();
    }

    void startCell(const XmlAttributes& attributes) {
        if (m_sheet.rows.empty() || m_sheet.rows.back().number != m_rowNumber)
            return;  // a cell outside a row
        long long column = m_column + 1;
        if (auto reference = attributes.get("r")) {
            long long row = 0;
            if (!parseCell(*reference, row, column)) {
                fail(Error(ErrorCode::XmlMalformed, m_partName + ": cell reference \"" +
                                                        std::string(*reference) +
                                                        "\" is not an A1 reference"));
                return;
            }
            if (!insideGrid(row, column)) {
                fail(Error(ErrorCode::SheetLimit, where(row, column) +
                                                      " lies outside the grid of " +
                                                      std::to_string(XlsxMaxRows) + " rows and " +
                                                      std::to_string(XlsxMaxColumns) + " columns"));
                return;
            }
            // A row without its own number takes it from its cells.
            if (row != m_rowNumber && !m_rowHasNumber && m_sheet.rows.back().cells.empty()) {
                if (m_sheet.rows.size() > 1 && row <= m_sheet.rows[m_sheet.rows.size() - 2].number)
                    rowsOutOfOrder = true;
                m_rowNumber = row;
                m_sheet.rows.back().number = static_cast<int>(row);
            }
        } else if (column > XlsxMaxColumns) {
            fail(Error(ErrorCode::SheetLimit, where(m_rowNumber, column) +
                                                  " lies outside the grid of " +
                                                  std::to_string(XlsxMaxColumns) + " columns"));
            return;
        }
        if (column <= m_column) cellsOutOfOrder = true;
        m_column = static_cast<int>(column);
        m_inCell = true;
        m_cellColumn = static_cast<int>(column);
        const std::string_view type = attributes.get("t").value_or("n");
        m_cellType = sameName(type, "s")           ? 's'
                     : sameName(type, "str")       ? 'f'
                     : sameName(type, "inlineStr") ? 'i'
                     : sameName(type, "b")         ? 'b'
                     : sameName(type, "e")         ? 'e'
                     : sameName(type, "d")         ? 'd'
                                                   : 'n';
        m_cellStyle = styleIndex(attributes.get("s"));
        m_hasValue = m_hasFormula = m_hasInline = false;
        m_phonetic = 0;
        m_value.clear();
        m_formula.clear();
        m_inline.clear();
    }

    void startCellChild(std::string_view name, const XmlAttributes&) {
        if (m_depth == 5) {
            if (sameName(name, "v")) {
                m_hasValue = true;
                m_value.clear();
                m_textTarget = &m_value;
            } else if (sameName(name, "f")) {
                m_hasFormula = true;
                m_textTarget = &m_formula;
            } else if (sameName(name, "is")) {
                m_hasInline = true;
            }
        } else if (m_hasInline) {
            if (sameName(name, "rPh"))
                ++m_phonetic;
            else if (sameName(name, "t") && m_phonetic == 0)
                m_textTarget = &m_inline;
        }
        setCollectingText(m_textTarget != nullptr);
    }

    void endCellChild(std::string_view name) {
        if (sameName(name, "rPh") && m_phonetic > 0) --m_phonetic;
        if (sameName(name, "v") || sameName(name, "f") || sameName(name, "t")) {
            m_textTarget = nullptr;
            setCollectingText(false);
        }
    }

    void endCell() {
        m_inCell = false;
        m_textTarget = nullptr;
        setCollectingText(false);
        Cell cell;
        cell.column = m_cellColumn;
        cell.style = m_cellStyle;
        cell.hasFormula = m_hasFormula;
        if (m_cellType == 'i' && m_hasInline) {
            setText(cell, decodeXlsxEscapes(m_inline));
        } else if (m_hasValue) {
            switch (m_cellType) {
                case 's': {
                    auto index = parseWhole(m_value);
                    if (!index || *index < 0 ||
                        static_cast<std::size_t>(*index) >= m_strings.size()) {
                        fail(Error(ErrorCode::RecordCorrupt,
                                   where(m_rowNumber, m_cellColumn) + ": shared string index " +
                                       m_value + " outside the " +
                                       std::to_string(m_strings.size()) + " shared strings"));
                        return;
                    }
                    setText(cell, std::string(m_strings.at(static_cast<std::size_t>(*index))));
                    break;
                }
                case 'f':
                case 'i':
                    setText(cell, decodeXlsxEscapes(m_value));
                    break;
                case 'b': {
                    const std::string_view value = trimmed(m_value);
                    if (sameName(value, "1") || sameName(value, "true"))
                        cell.type = CellType::Boolean, cell.number = 1;
                    else if (sameName(value, "0") || sameName(value, "false"))
                        cell.type = CellType::Boolean, cell.number = 0;
                    else
                        setText(cell, m_value);
                    break;
                }
                case 'e':
                    cell.type = m_value.empty() ? CellType::Empty : CellType::Error;
                    cell.text = m_value;
                    break;
                case 'd': {
                    const std::string_view value = trimmed(m_value);
                    if (value.empty()) break;
                    if (auto serial = isoToSerial(value)) {
                        cell.type = CellType::Number;
                        const int kind = value.size() == 10 ? 0 : value.size() > 10 ? 1 : 2;
                        cell.style = m_styles.dateStyleFor(cell.style, kind);
                        // The dates of 1904 books get +1462 at the end of reading; an ISO date is
                        // absolute, so it is stored in the book's own system here.
                        const bool shifts =
                            m_date1904 &&
                            shiftsWithDateSystem(m_styles.styles[cell.style].numberFormat);
                        cell.number = shifts ? *serial - Date1904Offset : *serial;
                    } else {
                        setText(cell, std::string(value));
                    }
                    break;
                }
                default:
                    if (trimmed(m_value).empty()) break;
                    if (auto number = parseDouble(m_value)) {
                        cell.type = CellType::Number;
                        cell.number = *number;
                    } else {
                        // Not a number after all: keep what the file holds rather than lose it.
                        setText(cell, m_value);
                    }
                    break;
            }
        }
        // A formula without a cached value: no <v> at all, or an empty one where the result is
        // no text (openpyxl writes <v></v> for every formula it could not calculate). An empty
        // text result (t="str", a shared or an inline string) is a value.
        const bool emptyTextResult = (m_hasValue && (m_cellType == 'f' || m_cellType == 's')) ||
                                     (m_cellType == 'i' && m_hasInline);
        if (m_hasFormula && cell.type == CellType::Empty && !emptyTextResult)
            ++m_sheet.uncalculatedFormulas;
        if (m_hasFormula) {
            // One shared string repeated in every cell, or one long formula, costs its full
            // length per cell: count what the model really holds, not what the file stores.
            if (!m_budget.addText(m_formula)) {
                fail(m_budget.error());
                return;
            }
            m_sheet.formulas.push_back({static_cast<int>(m_rowNumber), m_cellColumn, m_formula});
        }
        if (cell.type == CellType::Empty && cell.style == 0 && !cell.hasFormula) return;
        if (++m_cellCount > MaxCellsPerSheet) {
            fail(Error(ErrorCode::SheetLimit, m_partName + ": more than " +
                                                  std::to_string(MaxCellsPerSheet) +
                                                  " cells (cells per sheet limit)"));
            return;
        }
        if (!m_budget.addCell(cell)) {
            fail(m_budget.error());
            return;
        }
        m_sheet.rows.back().cells.push_back(std::move(cell));
    }

    // An empty string is no value: the cell stays Empty (with its format), so that it does not
    // count as data.
    static void setText(Cell& cell, std::string text) {
        if (text.empty()) return;
        cell.type = CellType::Text;
        cell.text = std::move(text);
    }

    void readSheetFormat(const XmlAttributes& attributes) {
        if (auto width = parseDouble(attributes.get("defaultColWidth").value_or(""));
            width && *width > 0 && *width <= 255)
            m_sheet.defaultColumnWidth = *width;
        if (auto height = parseDouble(attributes.get("defaultRowHeight").value_or(""));
            height && *height > 0 && *height <= 409.5)
            m_sheet.defaultRowHeight = *height;
    }

    void readPane(const XmlAttributes& attributes) {
        const std::string_view state = attributes.get("state").value_or("split");
        // Split panes measure in twentieths of a point and do not freeze anything.
        if (state != "frozen" && state != "frozenSplit") return;
        const double columns = parseDouble(attributes.get("xSplit").value_or("0")).value_or(0);
        const double rows = parseDouble(attributes.get("ySplit").value_or("0")).value_or(0);
        if (columns < 0 || rows < 0 || columns >= XlsxMaxColumns || rows >= XlsxMaxRows) return;
        if (columns < 1 && rows < 1) return;
        m_sheet.frozenPane = FrozenPane{static_cast<int>(rows), static_cast<int>(columns)};
    }

    void readColumn(const XmlAttributes& attributes) {
        auto first = parseWhole(attributes.get("min").value_or(""));
        auto last = parseWhole(attributes.get("max").value_or(""));
        if (!first || !last || *first < 1 || *last < *first) return;
        if (*first > XlsxMaxColumns) return;
        ColumnInfo info;
        info.first = static_cast<int>(*first);
        info.last = static_cast<int>(std::min<long long>(*last, XlsxMaxColumns));
        // Ranges are ascending and disjoint; one that is not is dropped rather than trusted.
        if (!m_sheet.columns.empty() && info.first <= m_sheet.columns.back().last) return;
        if (auto width = parseDouble(attributes.get("width").value_or(""));
            width && *width >= 0 && *width <= 255)
            info.width = *width;
        info.customWidth = parseFlag(attributes.get("customWidth"));
        info.hidden = parseFlag(attributes.get("hidden"));
        if (attributes.get("style")) info.style = styleIndex(attributes.get("style"));
        m_sheet.columns.push_back(info);
    }

    void readMerge(const XmlAttributes& attributes) {
        std::optional<RangeRef> range = parseRangeText(attributes.get("ref").value_or(""));
        if (!range || (range->rowCount() == 1 && range->columnCount() == 1)) return;
        if (merges.size() >= MaxMergesPerSheet) {
            fail(Error(ErrorCode::SheetLimit, m_partName + ": more than " +
                                                  std::to_string(MaxMergesPerSheet) +
                                                  " merged ranges (merges per sheet limit)"));
            return;
        }
        merges.push_back(*range);
    }
};

// Keeps the merges that overlap no earlier-kept merge, in the order of their top-left cells.
// A sweep over rows: the merges alive at the current top row cover disjoint column ranges, so
// one ordered map by first column answers each overlap test in O(log n).
std::vector<RangeRef> withoutOverlaps(std::vector<RangeRef> merges) {
    std::sort(merges.begin(), merges.end(), [](const RangeRef& a, const RangeRef& b) {
        return a.first.row != b.first.row ? a.first.row < b.first.row
                                          : a.first.column < b.first.column;
    });
    std::map<int, RangeRef> alive;  // by first column
    std::vector<RangeRef> kept;
    for (const RangeRef& merge : merges) {
        bool overlaps = false;
        for (;;) {
            auto candidate = alive.upper_bound(merge.last.column);
            if (candidate == alive.begin()) break;
            --candidate;
            if (candidate->second.last.row < merge.first.row) {
                alive.erase(candidate);  // ended above this merge
                continue;
            }
            overlaps = candidate->second.last.column >= merge.first.column;
            break;
        }
        if (overlaps) continue;
        alive[merge.first.column] = merge;
        kept.push_back(merge);
    }
    return kept;
}

// Rows and cells written out of order are put in order; of two cells at one place the later wins.
void putInOrder(Sheet& sheet, bool rowsOutOfOrder, bool cellsOutOfOrder) {
    if (rowsOutOfOrder) {
        std::stable_sort(sheet.rows.begin(), sheet.rows.end(),
                         [](const Row& a, const Row& b) { return a.number < b.number; });
        std::vector<Row> merged;
        for (Row& row : sheet.rows) {
            if (!merged.empty() && merged.back().number == row.number) {
                Row& target = merged.back();
                for (Cell& cell : row.cells) target.cells.push_back(std::move(cell));
                cellsOutOfOrder = true;
            } else {
                merged.push_back(std::move(row));
            }
        }
        sheet.rows = std::move(merged);
    }
    if (!cellsOutOfOrder) return;
    for (Row& row : sheet.rows) {
        std::stable_sort(row.cells.begin(), row.cells.end(),
                         [](const Cell& a, const Cell& b) { return a.column < b.column; });
        std::vector<Cell> unique;
        for (Cell& cell : row.cells) {
            if (!unique.empty() && unique.back().column == cell.column)
                unique.back() = std::move(cell);
            else
                unique.push_back(std::move(cell));
        }
        row.cells = std::move(unique);
    }
}

// ---------------------------------------------------------------------------------------------
// The package

class PackageReader {
public:
    explicit PackageReader(ZipReader& zip) : m_zip(zip) {}

    Result<std::string> readSmallPart(const std::string& part) {
        const ZipEntry* entry = m_zip.find(part);
        if (!entry) return Error(ErrorCode::PartMissing, "part " + part + " is missing");
        return m_zip.readWhole(*entry, m_zip.limits().maxPartBytes);
    }

    Result<void> parseStreamed(detail::XmlHandler& handler, const ZipEntry& entry,
                               std::uint64_t maxBytes) {
        Result<ZipEntryStream> stream = m_zip.stream(entry, maxBytes);
        if (!stream) return stream.error();
        ZipEntryStream& source = *stream;
        return detail::parseXml(handler, entry.name, [&source](char* out, std::size_t capacity) {
            return source.read(out, capacity);
        });
    }

    // The relationships of `part`; none when the part has no relationships part.
    Result<std::vector<Relationship>> relationshipsOf(const std::string& part) {
        const std::string relsPart = relationshipsPartOf(part);
        if (!m_zip.find(relsPart)) return std::vector<Relationship>{};
        Result<std::string> text = readSmallPart(relsPart);
        if (!text) return text.error();
        RelationshipsHandler handler(part);
        Result<void> parsed = detail::parseXml(handler, relsPart, *text);
        if (!parsed) return parsed.error();
        return std::move(handler.relationships);
    }

private:
    ZipReader& m_zip;
};

}  // namespace

Result<WorkbookData> readXlsx(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return Error(ErrorCode::UnknownFormat, "the file is empty");
    static constexpr std::uint8_t CompoundFileMagic[] = {0xD0, 0xCF, 0x11, 0xE0,
                                                         0xA1, 0xB1, 0x1A, 0xE1};
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), CompoundFileMagic, 8) == 0)
        return Error(ErrorCode::UnknownFormat,
                     "a compound file (.xls or an encrypted package), not a zip package");
    if (bytes.size() < 4 || bytes[0] != 'P' || bytes[1] != 'K')
        return Error(ErrorCode::UnknownFormat, "not a zip package");

    Result<ZipReader> zipResult = ZipReader::open(bytes);
    if (!zipResult) return zipResult.error();
    ZipReader& zip = *zipResult;
    PackageReader package(zip);

    // The package's relationships name the workbook part; never assume xl/workbook.xml.
    Result<std::vector<Relationship>> rootRelationships = package.relationshipsOf("");
    if (!rootRelationships) return rootRelationships.error();
    const Relationship* office = findByType(*rootRelationships, "/officeDocument");
    if (!office) {
        if (zip.find("xl/workbook.bin"))
            return Error(ErrorCode::BinaryWorkbook, "xl/workbook.bin (an .xlsb workbook)");
        return Error(
            ErrorCode::PartMissing,
            "the package names no workbook part (_rels/.rels has no officeDocument relationship)");
    }
    const std::string workbookPart = office->target;
    if (endsWith(normalisePartName(workbookPart), ".bin"))
        return Error(ErrorCode::BinaryWorkbook, workbookPart + " (an .xlsb workbook)");

    WorkbookData book;
    book.format = FileFormat::Xlsx;
    book.grid = XlsxGrid;
    if (const ZipEntry* types = zip.find("[Content_Types].xml")) {
        Result<std::string> text = zip.readWhole(*types, zip.limits().maxPartBytes);
        if (!text) return text.error();
        if (text->find("macroEnabled.main+xml") != std::string::npos)
            book.format = FileFormat::Xlsm;
    }

    Result<std::string> workbookText = package.readSmallPart(workbookPart);
    if (!workbookText) return workbookText.error();
    WorkbookHandler workbook;
    if (Result<void> parsed = detail::parseXml(workbook, workbookPart, *workbookText); !parsed)
        return parsed.error();
    book.date1904 = workbook.date1904;

    Result<std::vector<Relationship>> relationships = package.relationshipsOf(workbookPart);
    if (!relationships) return relationships.error();

    ThemeColors theme;
    if (const Relationship* themeRelationship = findByType(*relationships, "/theme");
        themeRelationship && zip.find(themeRelationship->target)) {
        Result<std::string> text = package.readSmallPart(themeRelationship->target);
        if (!text) return text.error();
        Result<ThemeColors> colors = readThemeColors(*text);
        if (!colors) return colors.error();
        theme = *colors;
    }
    if (const Relationship* stylesRelationship = findByType(*relationships, "/styles");
        stylesRelationship && zip.find(stylesRelationship->target)) {
        Result<std::string> text = package.readSmallPart(stylesRelationship->target);
        if (!text) return text.error();
        Result<std::vector<CellStyle>> styles = readXlsxStyles(*text, theme);
        if (!styles) {
            Error error = styles.error();
            error.detail = stylesRelationship->target + ": " + error.detail;
            return error;
        }
        book.styles = std::move(*styles);
    }

    ModelBudget budget;
    SharedStrings strings;
    if (const Relationship* stringsRelationship = findByType(*relationships, "/sharedStrings")) {
        if (const ZipEntry* entry = zip.find(stringsRelationship->target)) {
            SharedStringsHandler handler(strings);
            if (Result<void> parsed =
                    package.parseStreamed(handler, *entry, zip.limits().maxPartBytes);
                !parsed)
                return parsed.error();
            if (!budget.addBytes(strings.arena.capacity() +
                                 strings.ends.capacity() * sizeof(std::uint32_t)))
                return budget.error();
        }
    }

    if (workbook.sheets.size() > MaxSheets)
        return Error(ErrorCode::SheetLimit, workbookPart + " declares " +
                                                std::to_string(workbook.sheets.size()) +
                                                " sheets, more than " + std::to_string(MaxSheets) +
                                                " (sheet count limit)");
    std::map<std::string_view, const Relationship*> relationshipById;
    for (const Relationship& relationship : *relationships) {
        if (!relationship.external) relationshipById.emplace(relationship.id, &relationship);
    }

    StyleTable styleTable{book.styles, {}};
    for (const SheetDeclaration& declaration : workbook.sheets) {
        Sheet& sheet = book.sheets.emplace_back();
        sheet.name = declaration.name;
        sheet.visibility = declaration.visibility;
        auto found = relationshipById.find(declaration.relationshipId);
        const Relationship* relationship =
            found == relationshipById.end() ? nullptr : found->second;
        if (!relationship)
            return Error(ErrorCode::PartMissing, "sheet \"" + declaration.name +
                                                     "\" has no relationship " +
                                                     declaration.relationshipId);
        if (endsWith(relationship->type, "/chartsheet")) {
            sheet.kind = SheetKind::Chart;
            continue;
        }
        if (!endsWith(relationship->type, "/worksheet")) {
            // Dialog sheets and Excel 4 macro sheets hold no data a merge takes.
            sheet.kind = SheetKind::Other;
            continue;
        }
        const ZipEntry* entry = zip.find(relationship->target);
        if (!entry)
            return Error(ErrorCode::PartMissing, "part " + relationship->target + " of sheet \"" +
                                                     declaration.name + "\" is missing");
        SheetHandler handler(sheet, relationship->target, strings, styleTable, book.date1904,
                             budget);
        if (Result<void> parsed =
                package.parseStreamed(handler, *entry, zip.limits().maxSheetPartBytes);
            !parsed)
            return parsed.error();
        putInOrder(sheet, handler.rowsOutOfOrder, handler.cellsOutOfOrder);
        sheet.merges = withoutOverlaps(std::move(handler.merges));
    }

    if (book.activeSheet = workbook.activeTab;
        book.activeSheet >= static_cast<int>(book.sheets.size()))
        book.activeSheet = 0;

    // A 1904 book's dates are 1462 days smaller than the same dates in the 1900 system that
    // the result uses; durations ([h]:mm) are not dates and keep their value.
    if (book.date1904) {
        std::vector<char> shift(book.styles.size());
        for (std::size_t i = 0; i < book.styles.size(); ++i) {
            shift[i] = shiftsWithDateSystem(book.styles[i].numberFormat);
        }
        for (Sheet& sheet : book.sheets) {
            for (Row& row : sheet.rows) {
                for (Cell& cell : row.cells) {
                    if (cell.type == CellType::Number && shift[cell.style])
                        cell.number += Date1904Offset;
                }
            }
        }
    }
    return book;
}

}  // namespace spreadsheet
