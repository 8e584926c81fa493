#include "spreadsheet/xlsx_reader.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "spreadsheet/detail/value_parsing.h"
#include "spreadsheet/detail/xml_reader.h"
#include "spreadsheet/reader_limits.h"
#include "spreadsheet/sheet_builder.h"
#include "spreadsheet/xlsx_styles.h"
#include "spreadsheet/zip_reader.h"

namespace spreadsheet {

namespace {

using detail::decodeXlsxEscapes;
using detail::isoToSerial;
using detail::parseNumber;
using detail::parseWholeNumber;
using detail::sameName;
using detail::trimXmlSpace;
using detail::XmlAttributes;

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool parseFlag(std::optional<std::string_view> text) {
    return text && (*text == "1" || *text == "true");
}

// A number attribute with white space allowed around it; nullopt when absent or not a number.
std::optional<double> numberAttribute(const XmlAttributes& attributes, std::string_view name) {
    return parseNumber(trimXmlSpace(attributes.get(name).value_or("")));
}

// "A1:C3" or "B2" inside the grid; nullopt for anything else.
std::optional<RangeRef> rangeAttribute(const XmlAttributes& attributes) {
    Result<RangeRef> range = parseRange(trimXmlSpace(attributes.get("ref").value_or("")));
    if (!range) return std::nullopt;
    return *range;
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
            if (auto tab = parseWholeNumber(attributes.get("activeTab").value_or("0"));
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
// String items: the text of a shared string or an inline string, with its runs

// The distinct run fonts (<rPr>) of a book's strings, each as its properties give it.
class RunFontSpecs {
public:
    static constexpr std::uint32_t None = 0xFFFF'FFFF;  // a run without properties

    std::uint32_t add(const RunFontSpec& spec) {
        if (spec.given == 0) return None;
        const std::size_t hash = hashFont(spec.font) ^ spec.given;
        auto [first, last] = m_byHash.equal_range(hash);
        for (auto it = first; it != last; ++it)
            if (m_specs[it->second] == spec) return it->second;
        const auto index = static_cast<std::uint32_t>(m_specs.size());
        m_specs.push_back(spec);
        m_byHash.emplace(hash, index);
        return index;
    }
    const RunFontSpec& at(std::uint32_t index) const { return m_specs[index]; }

private:
    std::vector<RunFontSpec> m_specs;
    std::unordered_multimap<std::size_t, std::uint32_t> m_byHash;
};

// A run as read: where its text starts in its item (bytes of the decoded text) and its font
// among the book's RunFontSpecs, or RunFontSpecs::None.
struct ItemRun {
    std::uint32_t start = 0;
    std::uint32_t spec = RunFontSpecs::None;
};

// Collects one string item (<si>, <is>) into a text: its <t> texts, escapes decoded one <t> at
// a time so that run starts count the decoded text, and its runs (<r>) with their <rPr>.
// Phonetic runs (<rPh>, furigana) are not part of the text.
class StringItem {
public:
    StringItem(const RunFontContext& context, RunFontSpecs& specs)
        : m_context(context), m_specs(specs) {}

    // Starts an item whose text is appended to `text`.
    void begin(std::string& text) {
        m_text = &text;
        m_itemStart = text.size();
        m_runs.clear();
        m_phonetic = 0;
        m_inProperties = false;
    }
    // An element inside the item; returns whether its character data belongs to the text.
    bool start(std::string_view name, const XmlAttributes& attributes) {
        if (sameName(name, "rPh")) {
            ++m_phonetic;
        } else if (m_phonetic > 0) {
            return false;
        } else if (m_inProperties) {
            m_spec.apply(name, attributes, m_context);
        } else if (sameName(name, "r")) {
            m_runs.push_back(
                {static_cast<std::uint32_t>(m_text->size() - m_itemStart), RunFontSpecs::None});
        } else if (sameName(name, "rPr") && !m_runs.empty()) {
            m_inProperties = true;
            m_spec = RunFontSpec{};
        } else if (sameName(name, "t")) {
            m_textStart = m_text->size();
            return true;
        }
        return false;
    }
    void end(std::string_view name) {
        if (sameName(name, "rPh")) {
            if (m_phonetic > 0) --m_phonetic;
        } else if (m_phonetic > 0) {
            return;
        } else if (m_inProperties && sameName(name, "rPr")) {
            m_inProperties = false;
            m_runs.back().spec = m_specs.add(m_spec);
        } else if (sameName(name, "t") && !m_inProperties) {
            const std::string_view raw = std::string_view(*m_text).substr(m_textStart);
            if (raw.find("_x") != std::string_view::npos) {
                std::string decoded = decodeXlsxEscapes(raw);
                m_text->resize(m_textStart);
                *m_text += decoded;
            }
        }
    }
    // The item's runs, when it has more than one.
    std::span<const ItemRun> runs() const {
        return m_runs.size() >= 2 ? std::span<const ItemRun>(m_runs) : std::span<const ItemRun>();
    }

private:
    const RunFontContext& m_context;
    RunFontSpecs& m_specs;
    std::string* m_text = nullptr;
    std::size_t m_itemStart = 0;
    std::size_t m_textStart = 0;
    int m_phonetic = 0;
    bool m_inProperties = false;
    RunFontSpec m_spec;
    std::vector<ItemRun> m_runs;
};

// ---------------------------------------------------------------------------------------------
// Shared strings: one arena with offsets instead of a string object per entry, and the runs of
// the rich entries apart from them.

struct SharedStrings {
    std::string arena;
    std::vector<std::uint32_t> ends;  // end of entry i in the arena; starts at ends[i - 1]
    std::vector<ItemRun> runs;        // of the rich entries, entry after entry
    // (entry, its first run in `runs`) of each rich entry, ascending; its runs end where the
    // next rich entry's begin.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> richEntries;

    std::size_t size() const { return ends.size(); }
    std::string_view at(std::size_t index) const {
        const std::uint32_t begin = index == 0 ? 0 : ends[index - 1];
        return std::string_view(arena).substr(begin, ends[index] - begin);
    }
    // The runs of entry `index`; none for a plain entry.
    std::span<const ItemRun> runsOf(std::size_t index) const {
        if (richEntries.empty()) return {};
        auto found = std::lower_bound(richEntries.begin(), richEntries.end(), index,
                                      [](const std::pair<std::uint32_t, std::uint32_t>& entry,
                                         std::size_t wanted) { return entry.first < wanted; });
        if (found == richEntries.end() || found->first != index) return {};
        const std::size_t end = found + 1 == richEntries.end() ? runs.size() : (found + 1)->second;
        return std::span<const ItemRun>(runs).subspan(found->second, end - found->second);
    }
    std::uint64_t bytes() const {
        return arena.capacity() + ends.capacity() * sizeof(std::uint32_t) +
               runs.capacity() * sizeof(ItemRun) + richEntries.capacity() * 8;
    }
};

class SharedStringsHandler : public detail::XmlHandler {
public:
    SharedStringsHandler(SharedStrings& strings, const RunFontContext& context, RunFontSpecs& specs)
        : m_strings(strings), m_item(context, specs) {}

    void startElement(std::string_view name, const XmlAttributes& attributes) override {
        if (sameName(name, "si")) {
            m_inItem = true;
            m_item.begin(m_strings.arena);
        } else if (m_inItem) {
            setCollectingText(m_item.start(name, attributes));
        }
    }
    void endElement(std::string_view name) override {
        if (!m_inItem) return;
        setCollectingText(false);
        if (!sameName(name, "si")) {
            m_item.end(name);
            return;
        }
        m_inItem = false;
        if (m_strings.arena.size() > MaxSharedStringBytes) {
            fail(Error(ErrorCode::XmlLimit,
                       "shared strings exceed 4 GiB of text (shared string limit)"));
            return;
        }
        if (std::span<const ItemRun> runs = m_item.runs(); !runs.empty()) {
            m_strings.richEntries.emplace_back(static_cast<std::uint32_t>(m_strings.ends.size()),
                                               static_cast<std::uint32_t>(m_strings.runs.size()));
            m_strings.runs.insert(m_strings.runs.end(), runs.begin(), runs.end());
        }
        m_strings.ends.push_back(static_cast<std::uint32_t>(m_strings.arena.size()));
    }
    void characters(std::string_view text) override { m_strings.arena.append(text); }

private:
    SharedStrings& m_strings;
    bool m_inItem = false;
    StringItem m_item;
};

// ---------------------------------------------------------------------------------------------
// Worksheets

// Styles shared by all sheets of the book, grown by derived date styles for t="d" cells, and the
// fonts of the runs its strings hold.
struct StyleTable {
    std::vector<CellStyle>& styles;
    std::map<std::pair<std::uint32_t, int>, std::uint32_t> derivedDateStyles;
    const RunFontContext& context;
    RunFontSpecs& specs;
    BookBuilder& book;
    // Run font spec -> the book's run font.
    std::unordered_map<std::uint32_t, std::uint32_t> runFonts;

    // A string item's runs as the model keeps them, their fonts among the book's run fonts.
    TextRuns runsIn(std::span<const ItemRun> runs) {
        TextRuns out;
        out.reserve(runs.size());
        for (const ItemRun& run : runs) {
            std::uint32_t font = CellFont;
            if (run.spec != RunFontSpecs::None) {
                auto [entry, added] = runFonts.try_emplace(run.spec, 0);
                if (added)
                    entry->second =
                        book.internRunFont(specs.at(run.spec).over(context.defaultFont));
                font = entry->second;
            }
            out.push_back({run.start, font});
        }
        return out;
    }

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

// Reads one worksheet part into its SheetBuilder.
class SheetHandler : public detail::XmlHandler {
public:
    SheetHandler(SheetBuilder& sheet, std::string partName, const SharedStrings& strings,
                 StyleTable& styles, const BookBuilder& book)
        : m_sheet(sheet),
          m_partName(std::move(partName)),
          m_strings(strings),
          m_styles(styles),
          m_book(book),
          m_item(styles.context, styles.specs) {}

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
                readAutoFilter(attributes);
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
    SheetBuilder& m_sheet;
    std::string m_partName;
    const SharedStrings& m_strings;
    StyleTable& m_styles;
    const BookBuilder& m_book;

    int m_depth = 0;
    bool m_inSheetData = false;
    bool m_inSheetViews = false;
    int m_sheetViews = 0;
    int m_columnsEnd = 0;  // the last column of the last column run kept

    // The current row. Its format goes to the builder once its number is final: at its first
    // cell handed over, or at its end.
    bool m_inRow = false;
    long long m_rowNumber = 0;
    bool m_rowHasNumber = false;
    int m_column = 0;  // last column seen in this row
    std::size_t m_rowCells = 0;
    RowFormat m_rowFormat;
    bool m_rowFormatPending = false;

    // The current cell.
    bool m_inCell = false;
    int m_cellColumn = 0;
    char m_cellType = 'n';
    std::uint32_t m_cellStyle = 0;
    bool m_hasValue = false;
    bool m_hasFormula = false;
    bool m_hasInline = false;
    std::string m_value;
    std::string m_formula;
    std::string m_inline;
    std::string* m_textTarget = nullptr;
    StringItem m_item;                // the inline string
    std::span<const ItemRun> m_runs;  // of the cell's rich string, shared or inline

    std::string where(long long row, long long column) const {
        return m_partName + " cell " +
               columnLetters(static_cast<int>(std::clamp<long long>(column, 1, 1'000'000))) +
               std::to_string(row);
    }

    // Stops the parse when the builder refused something.
    bool failed(const Result<void>& result) {
        if (result) return false;
        fail(result.error());
        return true;
    }

    std::uint32_t styleIndex(std::optional<std::string_view> text) const {
        if (!text) return 0;
        auto value = parseWholeNumber(*text);
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
            auto parsed = parseWholeNumber(*text);
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
        m_inRow = true;
        m_rowNumber = number;
        m_column = 0;
        m_rowCells = 0;
        m_rowFormat = RowFormat{};
        if (auto height = numberAttribute(attributes, "ht");
            height && *height >= 0 && *height <= 409.5)
            m_rowFormat.height = *height;
        m_rowFormat.customHeight = parseFlag(attributes.get("customHeight"));
        m_rowFormat.hidden = parseFlag(attributes.get("hidden"));
        if (parseFlag(attributes.get("customFormat")) && attributes.get("s"))
            m_rowFormat.style = styleIndex(attributes.get("s"));
        m_rowFormatPending = !m_rowFormat.isDefault();
    }

    bool handOverRowFormat() {
        if (!m_rowFormatPending) return true;
        m_rowFormatPending = false;
        return !failed(m_sheet.setRowFormat(static_cast<int>(m_rowNumber), m_rowFormat));
    }

    void endRow() {
        handOverRowFormat();
        m_inRow = false;
    }

    void startCell(const XmlAttributes& attributes) {
        if (!m_inRow) return;  // a cell outside a row element
        long long column = m_column + 1;
        if (auto reference = attributes.get("r")) {
            CellRef cell;
            switch (scanCellRef(*reference, DollarSigns::Allowed, cell)) {
                case CellRefScan::Malformed:
                    fail(Error(ErrorCode::XmlMalformed, m_partName + ": cell reference \"" +
                                                            std::string(*reference) +
                                                            "\" is not an A1 reference"));
                    return;
                case CellRefScan::OutsideGrid:
                    fail(Error(ErrorCode::SheetLimit,
                               m_partName + " cell " + std::string(*reference) +
                                   " lies outside the grid of " + std::to_string(XlsxMaxRows) +
                                   " rows and " + std::to_string(XlsxMaxColumns) + " columns"));
                    return;
                case CellRefScan::Cell:
                    break;
            }
            // A row without its own number takes it from its cells.
            if (cell.row != m_rowNumber && !m_rowHasNumber && m_rowCells == 0)
                m_rowNumber = cell.row;
            column = cell.column;
        } else if (column > XlsxMaxColumns) {
            fail(Error(ErrorCode::SheetLimit, where(m_rowNumber, column) +
                                                  " lies outside the grid of " +
                                                  std::to_string(XlsxMaxColumns) + " columns"));
            return;
        }
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
        m_runs = {};
        m_value.clear();
        m_formula.clear();
        m_inline.clear();
    }

    void startCellChild(std::string_view name, const XmlAttributes& attributes) {
        if (m_depth == 5) {
            if (sameName(name, "v")) {
                m_hasValue = true;
                m_value.clear();
                m_textTarget = &m_value;
            } else if (sameName(name, "f")) {
                m_hasFormula = true;
                m_textTarget = &m_formula;
            } else if (sameName(name, "is") && !m_hasInline) {
                m_hasInline = true;
                m_inline.clear();
                m_item.begin(m_inline);
            }
        } else if (m_hasInline) {
            m_textTarget = m_item.start(name, attributes) ? &m_inline : nullptr;
        }
        setCollectingText(m_textTarget != nullptr);
    }

    void endCellChild(std::string_view name) {
        if (m_depth > 5 && m_hasInline) m_item.end(name);
        m_textTarget = nullptr;
        setCollectingText(false);
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
            setText(cell, m_inline);
            m_runs = m_item.runs();
        } else if (m_hasValue) {
            if (!readValue(cell)) return;
        }
        // A formula without a cached value: no <v> at all, or an empty one where the result is
        // no text (openpyxl writes <v></v> for every formula it could not calculate). An empty
        // text result (t="str", a shared or an inline string) is a value.
        const bool emptyTextResult = (m_hasValue && (m_cellType == 'f' || m_cellType == 's')) ||
                                     (m_cellType == 'i' && m_hasInline);
        if (m_hasFormula && cell.type == CellType::Empty && !emptyTextResult)
            m_sheet.countUncalculatedFormula();
        if (m_hasFormula &&
            failed(m_sheet.addFormula(static_cast<int>(m_rowNumber), m_cellColumn, m_formula)))
            return;
        if (cell.type == CellType::Empty && cell.style == 0 && !cell.hasFormula) return;
        if (!handOverRowFormat()) return;
        if (!m_runs.empty() && cell.type == CellType::Text) {
            TextRuns runs = m_styles.runsIn(m_runs);
            if (failed(m_sheet.addCell(static_cast<int>(m_rowNumber), std::move(cell),
                                       std::move(runs))))
                return;
        } else if (failed(m_sheet.addCell(static_cast<int>(m_rowNumber), std::move(cell)))) {
            return;
        }
        ++m_rowCells;
    }

    // The cell's value from its <v> text as its type says; false when the parse failed.
    bool readValue(Cell& cell) {
        switch (m_cellType) {
            case 's': {
                auto index = parseWholeNumber(m_value);
                if (!index || *index < 0 || static_cast<std::size_t>(*index) >= m_strings.size()) {
                    fail(Error(ErrorCode::RecordCorrupt,
                               where(m_rowNumber, m_cellColumn) + ": shared string index " +
                                   m_value + " outside the " + std::to_string(m_strings.size()) +
                                   " shared strings"));
                    return false;
                }
                setText(cell, std::string(m_strings.at(static_cast<std::size_t>(*index))));
                m_runs = m_strings.runsOf(static_cast<std::size_t>(*index));
                break;
            }
            case 'f':
            case 'i':
                setText(cell, decodeXlsxEscapes(m_value));
                break;
            case 'b': {
                const std::string_view value = trimXmlSpace(m_value);
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
            case 'd':
                readIsoDate(cell);
                break;
            default: {
                const std::string_view value = trimXmlSpace(m_value);
                if (value.empty()) break;
                if (auto number = parseNumber(value)) {
                    cell.type = CellType::Number;
                    cell.number = *number;
                } else {
                    // Not a number after all: keep what the file holds rather than lose it.
                    setText(cell, m_value);
                }
                break;
            }
        }
        return true;
    }

    // A t="d" cell: an ISO 8601 date, time or both, in a date style of its kind.
    void readIsoDate(Cell& cell) {
        const std::string_view value = trimXmlSpace(m_value);
        if (value.empty()) return;
        if (auto serial = isoToSerial(value)) {
            cell.type = CellType::Number;
            const int kind = value.size() == 10 ? 0 : value.size() > 10 ? 1 : 2;
            cell.style = m_styles.dateStyleFor(cell.style, kind);
            // An ISO date is absolute: stored in the book's own system, so that the shift of a
            // 1904 book's dates at the end of reading brings it back.
            cell.number = m_book.toBookDateSystem(*serial, cell.style);
        } else {
            setText(cell, std::string(value));
        }
    }

    // An empty string is no value: the cell stays Empty (with its format), so that it does not
    // count as data.
    static void setText(Cell& cell, std::string text) {
        if (text.empty()) return;
        cell.type = CellType::Text;
        cell.text = std::move(text);
    }

    void readSheetFormat(const XmlAttributes& attributes) {
        // A default width the file states wins; else the base width, in digits without the
        // padding, gives it.
        if (auto width = numberAttribute(attributes, "defaultColWidth");
            width && *width > 0 && *width <= 255)
            m_sheet.setDefaultColumnWidth(*width);
        else if (auto base =
                     parseWholeNumber(trimXmlSpace(attributes.get("baseColWidth").value_or("")));
                 base && *base > 0 && *base <= 255)
            m_sheet.setDefaultColumnWidth(columnWidthFromBase(static_cast<int>(*base)));
        if (auto height = numberAttribute(attributes, "defaultRowHeight");
            height && *height > 0 && *height <= 409.5)
            m_sheet.setDefaultRowHeight(*height);
    }

    void readAutoFilter(const XmlAttributes& attributes) {
        if (std::optional<RangeRef> range = rangeAttribute(attributes))
            m_sheet.setAutoFilter(*range);
    }

    void readPane(const XmlAttributes& attributes) {
        const std::string_view state = attributes.get("state").value_or("split");
        // Split panes measure in twentieths of a point and do not freeze anything.
        if (state != "frozen" && state != "frozenSplit") return;
        const double columns = numberAttribute(attributes, "xSplit").value_or(0);
        const double rows = numberAttribute(attributes, "ySplit").value_or(0);
        if (columns < 0 || rows < 0 || columns >= XlsxMaxColumns || rows >= XlsxMaxRows) return;
        if (columns < 1 && rows < 1) return;
        m_sheet.setFrozenPane(FrozenPane{static_cast<int>(rows), static_cast<int>(columns)});
    }

    void readColumn(const XmlAttributes& attributes) {
        auto first = parseWholeNumber(attributes.get("min").value_or(""));
        auto last = parseWholeNumber(attributes.get("max").value_or(""));
        if (!first || !last || *first < 1 || *last < *first) return;
        if (*first > XlsxMaxColumns) return;
        ColumnInfo info;
        info.first = static_cast<int>(*first);
        info.last = static_cast<int>(std::min<long long>(*last, XlsxMaxColumns));
        // Ranges are ascending and disjoint; one that is not is dropped rather than trusted.
        if (info.first <= m_columnsEnd) return;
        if (auto width = numberAttribute(attributes, "width");
            width && *width >= 0 && *width <= 255)
            info.width = *width;
        info.customWidth = parseFlag(attributes.get("customWidth"));
        info.hidden = parseFlag(attributes.get("hidden"));
        if (attributes.get("style")) info.style = styleIndex(attributes.get("style"));
        m_columnsEnd = info.last;
        m_sheet.addColumns(info);
    }

    void readMerge(const XmlAttributes& attributes) {
        std::optional<RangeRef> range = rangeAttribute(attributes);
        if (!range || (range->rowCount() == 1 && range->columnCount() == 1)) return;
        failed(m_sheet.addMerge(*range));
    }
};

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

// The steps of reading a package, in the order readXlsx takes them.
class XlsxBookReader {
public:
    XlsxBookReader(ZipReader& zip, WorkbookData& book) : m_zip(zip), m_package(zip), m_book(book) {}

    // Finds the workbook part through the package's relationships (never assuming
    // xl/workbook.xml) and tells .xlsx from .xlsm.
    Result<void> findWorkbookPart() {
        Result<std::vector<Relationship>> rootRelationships = m_package.relationshipsOf("");
        if (!rootRelationships) return rootRelationships.error();
        const Relationship* office = findByType(*rootRelationships, "/officeDocument");
        if (!office) {
            if (m_zip.find("xl/workbook.bin"))
                return Error(ErrorCode::BinaryWorkbook, "xl/workbook.bin (an .xlsb workbook)");
            return Error(ErrorCode::PartMissing,
                         "the package names no workbook part (_rels/.rels has no officeDocument "
                         "relationship)");
        }
        m_workbookPart = office->target;
        if (endsWith(normalisePartName(m_workbookPart), ".bin"))
            return Error(ErrorCode::BinaryWorkbook, m_workbookPart + " (an .xlsb workbook)");
        m_book.format = FileFormat::Xlsx;
        m_book.grid = XlsxGrid;
        if (const ZipEntry* types = m_zip.find("[Content_Types].xml")) {
            Result<std::string> text = m_zip.readWhole(*types, m_zip.limits().maxPartBytes);
            if (!text) return text.error();
            if (text->find("macroEnabled.main+xml") != std::string::npos)
                m_book.format = FileFormat::Xlsm;
        }
        return {};
    }

    // The sheet list, the date system and the workbook part's relationships.
    Result<void> readWorkbookPart() {
        Result<std::string> text = m_package.readSmallPart(m_workbookPart);
        if (!text) return text.error();
        if (Result<void> parsed = detail::parseXml(m_workbook, m_workbookPart, *text); !parsed)
            return parsed.error();
        m_book.date1904 = m_workbook.date1904;
        Result<std::vector<Relationship>> relationships = m_package.relationshipsOf(m_workbookPart);
        if (!relationships) return relationships.error();
        m_relationships = std::move(*relationships);
        return {};
    }

    // The theme's colours, then the styles resolved with them.
    Result<void> readStyles() {
        ThemeColors& theme = m_runFontContext.theme;
        if (const Relationship* themeRelationship = findByType(m_relationships, "/theme");
            themeRelationship && m_zip.find(themeRelationship->target)) {
            Result<std::string> text = m_package.readSmallPart(themeRelationship->target);
            if (!text) return text.error();
            Result<ThemeColors> colors = readThemeColors(*text);
            if (!colors) return colors.error();
            theme = *colors;
        }
        const Relationship* stylesRelationship = findByType(m_relationships, "/styles");
        if (!stylesRelationship || !m_zip.find(stylesRelationship->target)) return {};
        Result<std::string> text = m_package.readSmallPart(stylesRelationship->target);
        if (!text) return text.error();
        Result<XlsxStyleSheet> styles = readXlsxStyleSheet(*text, theme);
        if (!styles) {
            Error error = styles.error();
            error.detail = stylesRelationship->target + ": " + error.detail;
            return error;
        }
        m_book.styles = std::move(styles->styles);
        m_runFontContext = std::move(styles->runFonts);
        return {};
    }

    // The shared strings, counted against the book's memory budget.
    Result<void> readSharedStrings(BookBuilder& builder) {
        const Relationship* stringsRelationship = findByType(m_relationships, "/sharedStrings");
        if (!stringsRelationship) return {};
        const ZipEntry* entry = m_zip.find(stringsRelationship->target);
        if (!entry) return {};
        SharedStringsHandler handler(m_strings, m_runFontContext, m_runFontSpecs);
        if (Result<void> parsed =
                m_package.parseStreamed(handler, *entry, m_zip.limits().maxPartBytes);
            !parsed)
            return parsed.error();
        if (!builder.budget().addBytes(m_strings.bytes())) return builder.budget().error();
        return {};
    }

    // Every sheet in tab order; worksheets are read, charts and other sheets only named.
    Result<void> readSheets(BookBuilder& builder) {
        if (Result<void> counted =
                builder.checkSheetCount(m_workbook.sheets.size(), m_workbookPart);
            !counted)
            return counted.error();
        std::map<std::string_view, const Relationship*> relationshipById;
        for (const Relationship& relationship : m_relationships) {
            if (!relationship.external) relationshipById.emplace(relationship.id, &relationship);
        }
        m_book.sheets.reserve(m_workbook.sheets.size());
        StyleTable styleTable{m_book.styles, {}, m_runFontContext, m_runFontSpecs, builder, {}};
        for (const SheetDeclaration& declaration : m_workbook.sheets) {
            Sheet& sheet = m_book.sheets.emplace_back();
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
            if (Result<void> read =
                    readWorksheet(builder, sheet, declaration, *relationship, styleTable);
                !read)
                return read.error();
        }
        if (m_book.activeSheet = m_workbook.activeTab;
            m_book.activeSheet >= static_cast<int>(m_book.sheets.size()))
            m_book.activeSheet = 0;
        return {};
    }

private:
    Result<void> readWorksheet(BookBuilder& builder, Sheet& sheet,
                               const SheetDeclaration& declaration,
                               const Relationship& relationship, StyleTable& styleTable) {
        const ZipEntry* entry = m_zip.find(relationship.target);
        if (!entry)
            return Error(ErrorCode::PartMissing, "part " + relationship.target + " of sheet \"" +
                                                     declaration.name + "\" is missing");
        SheetBuilder sheetBuilder(builder, sheet, relationship.target);
        SheetHandler handler(sheetBuilder, relationship.target, m_strings, styleTable, builder);
        if (Result<void> parsed =
                m_package.parseStreamed(handler, *entry, m_zip.limits().maxSheetPartBytes);
            !parsed)
            return parsed.error();
        sheetBuilder.finish();
        return {};
    }

    ZipReader& m_zip;
    PackageReader m_package;
    WorkbookData& m_book;
    std::string m_workbookPart;
    WorkbookHandler m_workbook;
    std::vector<Relationship> m_relationships;
    RunFontContext m_runFontContext;  // from the styles, for the fonts of runs
    RunFontSpecs m_runFontSpecs;
    SharedStrings m_strings;
};

// What the first bytes say before the zip directory is read.
Result<void> checkLeadingBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return Error(ErrorCode::UnknownFormat, "the file is empty");
    static constexpr std::uint8_t CompoundFileMagic[] = {0xD0, 0xCF, 0x11, 0xE0,
                                                         0xA1, 0xB1, 0x1A, 0xE1};
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), CompoundFileMagic, 8) == 0)
        return Error(ErrorCode::UnknownFormat,
                     "a compound file (.xls or an encrypted package), not a zip package");
    if (bytes.size() < 4 || bytes[0] != 'P' || bytes[1] != 'K')
        return Error(ErrorCode::UnknownFormat, "not a zip package");
    return {};
}

}  // namespace

Result<WorkbookData> readXlsx(std::span<const std::uint8_t> bytes) {
    if (Result<void> checked = checkLeadingBytes(bytes); !checked) return checked.error();
    Result<ZipReader> zip = ZipReader::open(bytes);
    if (!zip) return zip.error();
    WorkbookData book;
    XlsxBookReader reader(*zip, book);
    if (Result<void> found = reader.findWorkbookPart(); !found) return found.error();
    if (Result<void> read = reader.readWorkbookPart(); !read) return read.error();
    if (Result<void> read = reader.readStyles(); !read) return read.error();
    BookBuilder builder(book);
    if (Result<void> read = reader.readSharedStrings(builder); !read) return read.error();
    if (Result<void> read = reader.readSheets(builder); !read) return read.error();
    builder.finish();
    return book;
}

}  // namespace spreadsheet
