#include "spreadsheet/spreadsheetml_reader.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <unordered_map>

#include "spreadsheet/detail/value_parsing.h"
#include "spreadsheet/detail/xml_reader.h"
#include "spreadsheet/reader_limits.h"
#include "spreadsheet/sheet_builder.h"

namespace spreadsheet {
namespace {

using detail::parseInteger;

constexpr std::string_view Namespace = "urn:schemas-microsoft-com:office:spreadsheet";

// A number with white space allowed around it.
std::optional<double> number(std::string_view text) {
    return detail::parseNumber(detail::trimXmlSpace(text));
}

Color parseColor(std::string_view text) {
    if (text.size() != 7 || text[0] != '#') return std::nullopt;
    std::uint32_t rgb = 0;
    auto [end, error] = std::from_chars(text.data() + 1, text.data() + 7, rgb, 16);
    if (error != std::errc() || end != text.data() + 7) return std::nullopt;
    return 0xFF000000u | rgb;
}

std::string lowerFirst(std::string_view text) {
    std::string result(text);
    if (!result.empty() && result[0] >= 'A' && result[0] <= 'Z')
        result[0] = static_cast<char>(result[0] + 32);
    return result;
}

// The named number formats of SpreadsheetML and the codes they stand for.
std::string numberFormatCode(std::string_view format) {
    static const std::pair<std::string_view, std::string_view> Named[] = {
        {"General Number", "General"},
        {"General Date", "m/d/yyyy h:mm"},
        {"Short Date", "m/d/yyyy"},
        {"Medium Date", "d-mmm-yy"},
        {"Long Date", "dddd, mmmm d, yyyy"},
        {"Short Time", "h:mm"},
        {"Medium Time", "h:mm AM/PM"},
        {"Long Time", "h:mm:ss"},
        {"Fixed", "0.00"},
        {"Standard", "#,##0.00"},
        {"Percent", "0.00%"},
        {"Scientific", "0.00E+00"},
        {"Currency", "\"$\"#,##0.00_);(\"$\"#,##0.00)"},
        {"Yes/No", "\"Yes\";\"Yes\";\"No\""},
        {"True/False", "\"True\";\"True\";\"False\""},
        {"On/Off", "\"On\";\"On\";\"Off\""},
    };
    for (const auto& [name, code] : Named) {
        if (format == name) return std::string(code);
    }
    return format.empty() ? "General" : std::string(format);
}

std::string borderStyle(std::string_view lineStyle, int weight) {
    if (lineStyle.empty() || lineStyle == "None") return {};
    if (lineStyle == "Double") return "double";
    if (lineStyle == "Dot") return weight >= 2 ? "mediumDashDotDot" : "dotted";
    if (lineStyle == "Dash") return weight >= 2 ? "mediumDashed" : "dashed";
    if (lineStyle == "DashDot") return weight >= 2 ? "mediumDashDot" : "dashDot";
    if (lineStyle == "DashDotDot") return weight >= 2 ? "mediumDashDotDot" : "dashDotDot";
    if (lineStyle == "SlantDashDot") return "slantDashDot";
    if (weight <= 0) return "hair";
    if (weight == 2) return "medium";
    if (weight >= 3) return "thick";
    return "thin";
}

std::string fillPattern(std::string_view pattern) {
    static const std::pair<std::string_view, std::string_view> Names[] = {
        {"Solid", "solid"},
        {"Gray75", "darkGray"},
        {"Gray50", "mediumGray"},
        {"Gray25", "lightGray"},
        {"Gray125", "gray125"},
        {"Gray0625", "gray0625"},
        {"HorzStripe", "darkHorizontal"},
        {"VertStripe", "darkVertical"},
        {"ReverseDiagStripe", "darkDown"},
        {"DiagStripe", "darkUp"},
        {"DiagCross", "darkGrid"},
        {"ThickDiagCross", "darkTrellis"},
        {"ThinHorzStripe", "lightHorizontal"},
        {"ThinVertStripe", "lightVertical"},
        {"ThinReverseDiagStripe", "lightDown"},
        {"ThinDiagStripe", "lightUp"},
        {"ThinHorzCross", "lightGrid"},
        {"ThinDiagCross", "lightTrellis"}};
    for (const auto& [name, code] : Names) {
        if (pattern == name) return std::string(code);
    }
    return "none";
}

// Reads the whole document: styles first, then each Worksheet through its own SheetBuilder.
// A cell waits in the handler until the next cell, row or sheet, since its value comes in a
// Data element after its start.
class Handler : public detail::XmlHandler {
public:
    explicit Handler(WorkbookData& book) : m_book(book), m_builder(book) {}

    bool sawWorkbook = false;

    void startElement(std::string_view name, const detail::XmlAttributes& attributes) override {
        if (failure()) return;
        if (!sawWorkbook) {
            if (name != "Workbook") {
                fail(Error(ErrorCode::UnknownFormat,
                           "the XML root is <" + std::string(name) + ">, not a Workbook"));
                return;
            }
            sawWorkbook = true;
            return;
        }
        if (m_inData) return;  // rich text markup inside a cell: only its text counts
        if (name == "Style") {
            startStyle(attributes);
        } else if (m_inStyle) {
            readStyleChild(name, attributes);
        } else if (name == "Worksheet") {
            startWorksheet(attributes);
        } else if (name == "Column" && m_sheet) {
            readColumn(attributes);
        } else if (name == "Row" && m_sheet) {
            startRow(attributes);
        } else if (name == "Cell" && m_sheet && m_row > 0) {
            startCell(attributes);
        } else if (name == "Comment") {
            m_inComment = true;  // a note's text is not the cell's value
        } else if (name == "Data" && !m_inComment && m_holding) {
            m_dataType = std::string(attributes.get("Type").value_or("String"));
            m_text.clear();
            m_inData = true;
            setCollectingText(true);
        } else if (name == "FreezePanes") {
            m_frozen = true;
        } else if (name == "SplitHorizontal" || name == "SplitVertical" || name == "Visible" ||
                   name == "ActiveSheet") {
            m_text.clear();
            setCollectingText(true);
        } else if (name == "AutoFilter" && m_sheet) {
            if (auto range = attributes.get("Range")) readAutoFilter(*range);
        }
    }

    void endElement(std::string_view name) override {
        if (failure()) return;
        if (m_inData) {
            if (name != "Data") return;
            m_inData = false;
            setCollectingText(false);
            finishData();
            return;
        }
        if (name == "Comment") {
            m_inComment = false;
        } else if (name == "Style" && m_inStyle) {
            endStyle();
        } else if (name == "SplitHorizontal" || name == "SplitVertical") {
            setCollectingText(false);
            int count = parseInteger(m_text).value_or(0);
            (name == "SplitHorizontal" ? m_split.rows : m_split.columns) = std::max(count, 0);
        } else if (name == "Visible") {
            setCollectingText(false);
            if (m_sheet) {
                if (m_text == "SheetHidden") m_sheet->sheet().visibility = Visibility::Hidden;
                if (m_text == "SheetVeryHidden")
                    m_sheet->sheet().visibility = Visibility::VeryHidden;
            }
        } else if (name == "ActiveSheet") {
            setCollectingText(false);
            m_activeSheet = parseInteger(m_text).value_or(0);
        } else if (name == "Worksheet" && m_sheet) {
            if (m_frozen) m_sheet->setFrozenPane(m_split);
        } else if (name == "Workbook") {
            if (m_activeSheet >= 0 &&
                static_cast<std::size_t>(m_activeSheet) < m_book.sheets.size())
                m_book.activeSheet = m_activeSheet;
        }
    }

    void characters(std::string_view text) override {
        if (m_text.size() + text.size() > MaxCellTextUnits * 4) {
            fail(Error(ErrorCode::XmlLimit, "cell text over 32767 characters"));
            return;
        }
        m_text.append(text);
    }

    // After the document: the last sheet is put in order, then the book.
    void finish() {
        if (!finishSheet()) return;
        m_builder.finish();
    }

private:
    // Stops the parse when the builder refused something.
    bool failed(const Result<void>& result) {
        if (result) return false;
        fail(result.error());
        return true;
    }

    std::uint32_t styleIndex(std::string_view id) {
        auto found = m_styleIds.find(std::string(id));
        return found == m_styleIds.end() ? 0 : found->second;
    }

    void startStyle(const detail::XmlAttributes& attributes) {
        m_styleId = std::string(attributes.get("ID").value_or(""));
        m_style = CellStyle{};
        m_style.font.name = "Arial";
        m_style.font.size = 10;
        if (auto parent = attributes.get("Parent")) {
            if (auto found = m_styleIds.find(std::string(*parent)); found != m_styleIds.end())
                m_style = m_book.styles[found->second];
        } else if (auto base = m_styleIds.find("Default"); base != m_styleIds.end()) {
            m_style = m_book.styles[base->second];
        }
        m_inStyle = true;
    }

    void endStyle() {
        m_inStyle = false;
        if (m_book.styles.size() >= MaxStyleTableEntries) {
            fail(Error(ErrorCode::XmlLimit, "more than " + std::to_string(MaxStyleTableEntries) +
                                                " styles (style table limit)"));
            return;
        }
        m_styleIds[m_styleId] = static_cast<std::uint32_t>(m_book.styles.size());
        m_book.styles.push_back(m_style);
    }

    // The waiting cell goes to the builder.
    bool handOverCell() {
        if (!m_holding) return true;
        m_holding = false;
        return !failed(m_sheet->addCell(m_row, std::move(m_cell)));
    }

    bool finishSheet() {
        if (!m_sheet) return true;
        if (!handOverCell()) return false;
        m_sheet->finish();
        m_sheet.reset();
        return true;
    }

    void startWorksheet(const detail::XmlAttributes& attributes) {
        if (!finishSheet()) return;
        if (failed(m_builder.checkSheetCount(m_book.sheets.size() + 1, "the XML Spreadsheet")))
            return;
        Sheet& sheet = m_book.sheets.emplace_back();
        sheet.name = std::string(attributes.get("Name").value_or(""));
        if (sheet.name.empty()) sheet.name = "Sheet" + std::to_string(m_book.sheets.size());
        m_sheet.emplace(m_builder, sheet, "sheet " + sheet.name);
        m_row = 0;
        m_columnsEnd = 0;
        m_frozen = false;
        m_split = FrozenPane{};
    }

    void readColumn(const detail::XmlAttributes& attributes) {
        int index = attributes.get("Index") ? parseInteger(*attributes.get("Index")).value_or(0)
                                            : m_columnsEnd + 1;
        int span = attributes.get("Span") ? parseInteger(*attributes.get("Span")).value_or(0) : 0;
        // Columns come ascending; one that does not is dropped rather than trusted.
        if (index < 1 || index > XlsxMaxColumns || span < 0 || index + span > XlsxMaxColumns ||
            index <= m_columnsEnd)
            return;
        ColumnInfo column;
        column.first = index;
        column.last = index + span;
        if (auto width = attributes.get("Width")) {
            // Points to characters of the default font: 7 pixels a digit plus 5 of padding.
            double pixels = number(*width).value_or(0) * 96.0 / 72.0;
            column.width = std::max(0.0, (pixels - 5.0) / 7.0);
            column.customWidth = true;
        }
        column.hidden = attributes.get("Hidden") == std::optional<std::string_view>("1");
        if (auto id = attributes.get("StyleID")) column.style = styleIndex(*id);
        m_columnsEnd = column.last;
        m_sheet->addColumns(column);
    }

    void startRow(const detail::XmlAttributes& attributes) {
        if (!handOverCell()) return;
        int index = attributes.get("Index") ? parseInteger(*attributes.get("Index")).value_or(0)
                                            : m_row + 1;
        if (index <= m_row || index > XlsxMaxRows) {
            fail(Error(ErrorCode::XmlMalformed,
                       "row index " + std::to_string(index) + " out of order or outside the grid"));
            return;
        }
        m_row = index;
        m_column = 0;
        RowFormat format;
        if (auto height = attributes.get("Height")) {
            format.height = number(*height).value_or(0);
            format.customHeight =
                attributes.get("AutoFitHeight") != std::optional<std::string_view>("1");
        }
        format.hidden = attributes.get("Hidden") == std::optional<std::string_view>("1");
        if (auto id = attributes.get("StyleID")) format.style = styleIndex(*id);
        if (!format.isDefault()) failed(m_sheet->setRowFormat(m_row, format));
    }

    void startCell(const detail::XmlAttributes& attributes) {
        if (!handOverCell()) return;
        int index = attributes.get("Index") ? parseInteger(*attributes.get("Index")).value_or(0)
                                            : m_column + 1;
        if (index <= m_column || index > XlsxMaxColumns) {
            fail(Error(ErrorCode::XmlMalformed, "cell index " + std::to_string(index) +
                                                    " out of order or outside the grid"));
            return;
        }
        m_column = index;
        m_cell = Cell{};
        m_cell.column = index;
        auto id = attributes.get("StyleID");
        m_cell.style = id ? styleIndex(*id) : styleIndex("Default");
        m_cell.hasFormula = attributes.get("Formula").has_value();
        int across = attributes.get("MergeAcross")
                         ? parseInteger(*attributes.get("MergeAcross")).value_or(0)
                         : 0;
        int down = attributes.get("MergeDown")
                       ? parseInteger(*attributes.get("MergeDown")).value_or(0)
                       : 0;
        if ((across > 0 || down > 0) && across >= 0 && down >= 0 &&
            index + across <= XlsxMaxColumns && m_row + down <= XlsxMaxRows) {
            if (failed(m_sheet->addMerge(RangeRef{{m_row, index}, {m_row + down, index + across}})))
                return;
        }
        // A merge covers the cells to its right: the next cell without an index starts after it.
        if (across > 0 && index + across <= XlsxMaxColumns) m_column = index + across;
        m_holding = true;
    }

    void readStyleChild(std::string_view name, const detail::XmlAttributes& a) {
        if (name == "Font") {
            Font& font = m_style.font;
            if (auto v = a.get("FontName")) font.name = std::string(*v);
            if (auto v = a.get("Size")) font.size = number(*v).value_or(font.size);
            if (auto v = a.get("Bold")) font.bold = *v == "1";
            if (auto v = a.get("Italic")) font.italic = *v == "1";
            if (auto v = a.get("StrikeThrough")) font.strike = *v == "1";
            if (auto v = a.get("Underline")) font.underline = *v == "None" ? "" : lowerFirst(*v);
            if (auto v = a.get("VerticalAlign"))
                font.verticalAlign = *v == "None" ? "" : lowerFirst(*v);
            if (auto v = a.get("Color")) font.color = parseColor(*v);
            if (auto v = a.get("CharSet")) font.charset = parseInteger(*v).value_or(-1);
        } else if (name == "Interior") {
            if (auto v = a.get("Pattern")) m_style.fill.pattern = fillPattern(*v);
            if (auto v = a.get("Color")) m_style.fill.foreground = parseColor(*v);
            if (auto v = a.get("PatternColor")) m_style.fill.background = parseColor(*v);
            if (m_style.fill.pattern != "solid" && m_style.fill.pattern != "none") {
                std::swap(m_style.fill.foreground, m_style.fill.background);
            }
        } else if (name == "Alignment") {
            Alignment& alignment = m_style.alignment;
            if (auto v = a.get("Horizontal")) {
                alignment.horizontal = *v == "Automatic"               ? ""
                                       : *v == "CenterAcrossSelection" ? "centerContinuous"
                                                                       : lowerFirst(*v);
            }
            if (auto v = a.get("Vertical"))
                alignment.vertical = *v == "Bottom" || *v == "Automatic" ? "" : lowerFirst(*v);
            if (auto v = a.get("WrapText")) alignment.wrapText = *v == "1";
            if (auto v = a.get("ShrinkToFit")) alignment.shrinkToFit = *v == "1";
            if (auto v = a.get("Indent"))
                alignment.indent = std::clamp(parseInteger(*v).value_or(0), 0, 250);
            if (auto v = a.get("Rotate")) {
                int rotate = parseInteger(*v).value_or(0);
                alignment.textRotation = rotate >= 0 && rotate <= 90   ? rotate
                                         : rotate < 0 && rotate >= -90 ? 90 - rotate
                                                                       : 0;
            }
        } else if (name == "Border") {
            std::string_view position = a.get("Position").value_or("");
            BorderEdge edge;
            edge.style = borderStyle(a.get("LineStyle").value_or(""),
                                     parseInteger(a.get("Weight").value_or("1")).value_or(1));
            if (!edge.style.empty()) edge.color = parseColor(a.get("Color").value_or(""));
            if (position == "Left")
                m_style.border.left = edge;
            else if (position == "Right")
                m_style.border.right = edge;
            else if (position == "Top")
                m_style.border.top = edge;
            else if (position == "Bottom")
                m_style.border.bottom = edge;
            else if (position == "DiagonalLeft" || position == "DiagonalRight") {
                m_style.border.diagonal = edge;
                (position == "DiagonalLeft" ? m_style.border.diagonalDown
                                            : m_style.border.diagonalUp) = !edge.style.empty();
            }
        } else if (name == "NumberFormat") {
            m_style.numberFormat = numberFormatCode(a.get("Format").value_or(""));
        } else if (name == "Protection") {
            if (auto v = a.get("Protected")) m_style.protection.locked = *v != "0";
            if (auto v = a.get("HideFormula")) m_style.protection.hidden = *v == "1";
        }
    }

    void finishData() {
        Cell& cell = m_cell;
        if (m_dataType == "Number") {
            if (auto value = number(m_text)) {
                cell.type = CellType::Number;
                cell.number = *value;
                return;
            }
        } else if (m_dataType == "DateTime") {
            if (auto serial = detail::isoToSerial(m_text)) {
                cell.type = CellType::Number;
                cell.number = *serial;
                return;
            }
        } else if (m_dataType == "Boolean") {
            cell.type = CellType::Boolean;
            cell.number = m_text == "1" || m_text == "true" || m_text == "TRUE" ? 1 : 0;
            return;
        } else if (m_dataType == "Error") {
            cell.type = CellType::Error;
            cell.text = m_text;
            return;
        }
        cell.type = m_text.empty() ? CellType::Empty : CellType::Text;
        cell.text = std::move(m_text);
        m_text.clear();
    }

    void readAutoFilter(std::string_view range) {
        // R1C1:R5C3 (absolute R1C1 references).
        int numbers[4] = {0, 0, 0, 0};
        int found = 0;
        for (std::size_t i = 0; i < range.size() && found < 4;) {
            if (range[i] == 'R' || range[i] == 'C') {
                std::size_t start = ++i;
                while (i < range.size() && range[i] >= '0' && range[i] <= '9') ++i;
                if (auto value = parseInteger(range.substr(start, i - start)))
                    numbers[found++] = *value;
                else
                    return;
            } else {
                ++i;
            }
        }
        if (found == 2) {
            numbers[2] = numbers[0];
            numbers[3] = numbers[1];
        } else if (found != 4) {
            return;
        }
        RangeRef ref{{numbers[0], numbers[1]}, {numbers[2], numbers[3]}};
        if (ref.first.row < 1 || ref.first.column < 1 || ref.last.row > XlsxMaxRows ||
            ref.last.column > XlsxMaxColumns || ref.first.row > ref.last.row ||
            ref.first.column > ref.last.column) {
            return;
        }
        m_sheet->setAutoFilter(ref);
    }

    WorkbookData& m_book;
    BookBuilder m_builder;
    std::optional<SheetBuilder> m_sheet;  // the last Worksheet begun, until the next one
    std::unordered_map<std::string, std::uint32_t> m_styleIds;
    std::string m_styleId;
    CellStyle m_style;
    bool m_inStyle = false;
    bool m_inData = false;
    bool m_inComment = false;
    bool m_holding = false;  // m_cell waits for its Data
    Cell m_cell;
    std::string m_dataType;
    std::string m_text;
    int m_row = 0;
    int m_column = 0;
    int m_columnsEnd = 0;  // the last column of the last column run kept
    bool m_frozen = false;
    FrozenPane m_split;
    int m_activeSheet = 0;
};

}  // namespace

bool looksLikeSpreadsheetMl(std::span<const std::uint8_t> bytes) {
    std::string_view head(reinterpret_cast<const char*>(bytes.data()),
                          std::min<std::size_t>(bytes.size(), 4096));
    if (head.size() >= 3 && head.substr(0, 3) == "\xEF\xBB\xBF") head.remove_prefix(3);
    // A book saved as UTF-16 (the XML parser reads it as declared): its ASCII is enough here.
    std::string narrowed;
    if (bytes.size() >= 2 &&
        ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
        const bool littleEndian = bytes[0] == 0xFF;
        for (std::size_t k = 2; k + 1 < std::min<std::size_t>(bytes.size(), 8192); k += 2) {
            const std::uint8_t low = littleEndian ? bytes[k] : bytes[k + 1];
            const std::uint8_t high = littleEndian ? bytes[k + 1] : bytes[k];
            narrowed += high == 0 && low < 0x80 ? static_cast<char>(low) : '?';
        }
        head = narrowed;
    }
    std::size_t start = head.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos || head[start] != '<') return false;
    return head.find(Namespace) != std::string_view::npos ||
           head.find("progid=\"Excel.Sheet\"") != std::string_view::npos;
}

Result<WorkbookData> readSpreadsheetMl(std::span<const std::uint8_t> bytes) {
    WorkbookData book;
    book.format = FileFormat::SpreadsheetMl;
    book.grid = XlsxGrid;
    book.styles.clear();
    book.styles.push_back(CellStyle{});
    Handler handler(book);
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    Result<void> parsed = detail::parseXml(handler, "XML Spreadsheet", text);
    if (!parsed) return parsed.error();
    if (!handler.sawWorkbook)
        return Error(ErrorCode::UnknownFormat, "no SpreadsheetML Workbook element");
    if (book.sheets.empty())
        return Error(ErrorCode::PartMissing, "the XML Spreadsheet has no Worksheet");
    handler.finish();
    if (handler.failure()) return *handler.failure();
    return book;
}

}  // namespace spreadsheet
