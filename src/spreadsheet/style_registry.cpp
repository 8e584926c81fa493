// The result workbook's cell formats: interned by value, and written out as styles.xml.
#include "spreadsheet/style_registry.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <initializer_list>
#include <map>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "spreadsheet/detail/xlsx_text.h"

namespace spreadsheet {

using detail::appendAttributeText;
using detail::appendInt;
using detail::appendNumber;

// 宋体 11 is the default font of zh-CN Excel 2007-2013 and is present on every Chinese Windows
// and in WPS; on Linux its CJK text falls back to Noto CJK. Its row height is 13.5 points and
// its digit width 7 pixels, like Calibri 11, so stored column widths keep their meaning.
CellStyle defaultResultStyle() {
    CellStyle style;
    style.font.name = "宋体";
    style.font.size = 11.0;
    style.font.family = 3;
    style.font.charset = 134;  // GB2312
    return style;
}

namespace {
constexpr std::uint32_t MaxStyles = 64'000;
std::string runPropertiesXmlOf(const Font& font);
}  // namespace

struct StyleRegistry::Impl {
    std::vector<CellStyle> styles;
    std::unordered_multimap<std::size_t, std::uint32_t> byHash;
    std::vector<Font> runFonts;
    std::vector<std::string> runProperties;  // <rPr> of each run font
    std::unordered_multimap<std::size_t, std::uint32_t> runFontsByHash;
};

StyleRegistry::StyleRegistry() : m_impl(std::make_unique<Impl>()) {
    const CellStyle base = defaultResultStyle();
    m_impl->styles.push_back(base);
    m_impl->byHash.emplace(hashStyle(base), 0);
}
StyleRegistry::~StyleRegistry() = default;
StyleRegistry::StyleRegistry(StyleRegistry&&) noexcept = default;
StyleRegistry& StyleRegistry::operator=(StyleRegistry&&) noexcept = default;

std::uint32_t StyleRegistry::intern(const CellStyle& style) {
    const std::size_t hash = hashStyle(style);
    auto [first, last] = m_impl->byHash.equal_range(hash);
    for (auto it = first; it != last; ++it) {
        if (m_impl->styles[it->second] == style) return it->second;
    }
    // Excel refuses files with more distinct cell formats than about 64,000.
    if (m_impl->styles.size() >= MaxStyles) return 0;
    const auto id = static_cast<std::uint32_t>(m_impl->styles.size());
    m_impl->styles.push_back(style);
    m_impl->byHash.emplace(hash, id);
    return id;
}

const CellStyle& StyleRegistry::style(std::uint32_t id) const {
    assert(id < m_impl->styles.size());
    return m_impl->styles[id < m_impl->styles.size() ? id : 0];
}

std::size_t StyleRegistry::size() const {
    return m_impl->styles.size();
}

std::uint32_t StyleRegistry::internRunFont(const Font& font) {
    const std::size_t hash = hashFont(font);
    auto [first, last] = m_impl->runFontsByHash.equal_range(hash);
    for (auto it = first; it != last; ++it) {
        if (m_impl->runFonts[it->second] == font) return it->second;
    }
    if (m_impl->runFonts.size() >= MaxRunFonts) return CellFont;
    const auto id = static_cast<std::uint32_t>(m_impl->runFonts.size());
    m_impl->runFonts.push_back(font);
    m_impl->runProperties.push_back(runPropertiesXmlOf(font));
    m_impl->runFontsByHash.emplace(hash, id);
    return id;
}

const Font& StyleRegistry::runFont(std::uint32_t id) const {
    assert(id < m_impl->runFonts.size());
    return m_impl->runFonts[id];
}

std::size_t StyleRegistry::runFontCount() const {
    return m_impl->runFonts.size();
}

const std::string& StyleRegistry::runPropertiesXml(std::uint32_t id) const {
    assert(id < m_impl->runProperties.size());
    return m_impl->runProperties[id];
}

// ---------------------------------------------------------------------------------------------
// styles.xml

namespace {

bool oneOf(std::string_view value, std::initializer_list<std::string_view> allowed) {
    return std::find(allowed.begin(), allowed.end(), value) != allowed.end();
}

void appendColor(std::string& out, std::string_view element, const Color& color) {
    if (!color) return;
    out += '<';
    out += element;
    out += " rgb=\"";
    for (int shift = 28; shift >= 0; shift -= 4) out += "0123456789ABCDEF"[(*color >> shift) & 15];
    out += "\"/>";
}

// A font's properties in the order Excel writes them, in a styles part's <font> (the name as
// <name>) or in a run's <rPr> (the name as <rFont>).
void appendFontProperties(std::string& xml, const Font& font, std::string_view nameElement) {
    if (font.bold) xml += "<b/>";
    if (font.italic) xml += "<i/>";
    if (font.strike) xml += "<strike/>";
    if (font.underline == "single") {
        xml += "<u/>";
    } else if (oneOf(font.underline, {"double", "singleAccounting", "doubleAccounting"})) {
        xml += "<u val=\"";
        xml += font.underline;
        xml += "\"/>";
    }
    if (oneOf(font.verticalAlign, {"superscript", "subscript"})) {
        xml += "<vertAlign val=\"";
        xml += font.verticalAlign;
        xml += "\"/>";
    }
    xml += "<sz val=\"";
    appendNumber(
        xml, std::isfinite(font.size) && font.size >= 1.0 && font.size <= 409.0 ? font.size : 11.0);
    xml += "\"/>";
    appendColor(xml, "color", font.color);
    xml += '<';
    xml += nameElement;
    xml += " val=\"";
    appendAttributeText(xml,
                        font.name.empty() ? std::string_view("宋体") : std::string_view(font.name));
    xml += "\"/>";
    if (font.family > 0 && font.family <= 14) {
        xml += "<family val=\"";
        appendInt(xml, font.family);
        xml += "\"/>";
    }
    if (font.charset >= 0 && font.charset <= 255) {
        xml += "<charset val=\"";
        appendInt(xml, font.charset);
        xml += "\"/>";
    }
}

std::string fontXml(const Font& font) {
    std::string xml = "<font>";
    appendFontProperties(xml, font, "name");
    xml += "</font>";
    return xml;
}

std::string fillXml(const Fill& fill) {
    static const std::initializer_list<std::string_view> Patterns = {
        "solid",     "mediumGray", "darkGray",  "lightGray",    "darkHorizontal",  "darkVertical",
        "darkDown",  "darkUp",     "darkGrid",  "darkTrellis",  "lightHorizontal", "lightVertical",
        "lightDown", "lightUp",    "lightGrid", "lightTrellis", "gray125",         "gray0625"};
    if (!oneOf(fill.pattern, Patterns)) return "<fill><patternFill patternType=\"none\"/></fill>";
    std::string xml = "<fill><patternFill patternType=\"";
    xml += fill.pattern;
    xml += '"';
    if (!fill.foreground && !fill.background) return xml + "/></fill>";
    xml += '>';
    appendColor(xml, "fgColor", fill.foreground);
    appendColor(xml, "bgColor", fill.background);
    xml += "</patternFill></fill>";
    return xml;
}

void appendEdge(std::string& out, std::string_view element, const BorderEdge& edge) {
    static const std::initializer_list<std::string_view> Styles = {
        "thin",        "medium",       "dashed",  "dotted",        "thick",      "double",
        "hair",        "mediumDashed", "dashDot", "mediumDashDot", "dashDotDot", "mediumDashDotDot",
        "slantDashDot"};
    out += '<';
    out += element;
    if (!oneOf(edge.style, Styles)) {
        out += "/>";
        return;
    }
    out += " style=\"";
    out += edge.style;
    out += '"';
    if (!edge.color) {
        out += "/>";
        return;
    }
    out += '>';
    appendColor(out, "color", edge.color);
    out += "</";
    out += element;
    out += '>';
}

std::string borderXml(const Border& border) {
    std::string xml = "<border";
    if (border.diagonalUp) xml += " diagonalUp=\"1\"";
    if (border.diagonalDown) xml += " diagonalDown=\"1\"";
    xml += '>';
    appendEdge(xml, "left", border.left);
    appendEdge(xml, "right", border.right);
    appendEdge(xml, "top", border.top);
    appendEdge(xml, "bottom", border.bottom);
    appendEdge(xml, "diagonal", border.diagonal);
    xml += "</border>";
    return xml;
}

std::string alignmentXml(const Alignment& alignment) {
    std::string xml;
    if (oneOf(alignment.horizontal, {"general", "left", "center", "right", "fill", "justify",
                                     "centerContinuous", "distributed"}) &&
        alignment.horizontal != "general") {
        xml += " horizontal=\"";
        xml += alignment.horizontal;
        xml += '"';
    }
    if (oneOf(alignment.vertical, {"top", "center", "justify", "distributed"})) {
        xml += " vertical=\"";
        xml += alignment.vertical;
        xml += '"';
    }
    if ((alignment.textRotation > 0 && alignment.textRotation <= 180) ||
        alignment.textRotation == 255) {
        xml += " textRotation=\"";
        appendInt(xml, alignment.textRotation);
        xml += '"';
    }
    if (alignment.wrapText) xml += " wrapText=\"1\"";
    if (alignment.indent > 0 && alignment.indent <= 250) {
        xml += " indent=\"";
        appendInt(xml, alignment.indent);
        xml += '"';
    }
    if (alignment.shrinkToFit) xml += " shrinkToFit=\"1\"";
    if (xml.empty()) return xml;
    return "<alignment" + xml + "/>";
}

// Deduplicates pieces of XML into ids, in order of first use.
class XmlTable {
public:
    std::uint32_t add(std::string xml) {
        auto [it, inserted] =
            m_ids.try_emplace(std::move(xml), static_cast<std::uint32_t>(m_order.size()));
        if (inserted) m_order.push_back(&it->first);
        return it->second;
    }
    std::size_t size() const { return m_order.size(); }
    void appendAll(std::string& out) const {
        for (const std::string* xml : m_order) out += *xml;
    }

private:
    std::unordered_map<std::string, std::uint32_t> m_ids;
    std::vector<const std::string*> m_order;
};

// Built-in number formats that mean the same in every locale, by their code. Ids 14 and 22
// follow the system's short date, and the engine reads them in their zh-CN form: written as
// codes they keep that form wherever the result is opened.
const std::unordered_map<std::string, int>& builtinFormatIds() {
    static const std::unordered_map<std::string, int> ids = [] {
        std::unordered_map<std::string, int> table;
        const auto addRange = [&](int first, int last) {
            for (int id = first; id <= last; ++id) {
                const std::string code = builtinNumberFormat(id);
                if (!code.empty() && id != 14 && id != 22) table.try_emplace(code, id);
            }
        };
        addRange(1, 4);
        addRange(9, 22);
        addRange(37, 40);
        addRange(45, 49);
        return table;
    }();
    return ids;
}

// The pieces of styles.xml gathered style by style: fonts, fills and borders by value, custom
// number formats from id 164 on, and one <xf> per style.
class StylesParts {
public:
    StylesParts() {
        m_fills.add(fillXml(Fill{}));  // reserved: none
        Fill gray125;
        gray125.pattern = "gray125";
        m_fills.add(fillXml(gray125));  // reserved: gray125
        m_borders.add(borderXml(Border{}));
    }

    void addStyle(const CellStyle& style) {
        const int formatId = numberFormatId(style.numberFormat);
        const std::uint32_t fontId = m_fonts.add(fontXml(style.font));
        const std::uint32_t fillId = m_fills.add(fillXml(style.fill));
        const std::uint32_t borderId = m_borders.add(borderXml(style.border));
        const std::string alignment = alignmentXml(style.alignment);
        const bool protection = style.protection != Protection{};
        std::string& xfs = m_cellXfs;
        xfs += "<xf numFmtId=\"";
        appendInt(xfs, formatId);
        xfs += "\" fontId=\"";
        appendInt(xfs, fontId);
        xfs += "\" fillId=\"";
        appendInt(xfs, fillId);
        xfs += "\" borderId=\"";
        appendInt(xfs, borderId);
        xfs += "\" xfId=\"0\"";
        if (formatId != 0) xfs += " applyNumberFormat=\"1\"";
        if (fontId != 0) xfs += " applyFont=\"1\"";
        if (fillId != 0) xfs += " applyFill=\"1\"";
        if (borderId != 0) xfs += " applyBorder=\"1\"";
        if (!alignment.empty()) xfs += " applyAlignment=\"1\"";
        if (protection) xfs += " applyProtection=\"1\"";
        if (alignment.empty() && !protection) {
            xfs += "/>";
            return;
        }
        xfs += '>';
        xfs += alignment;
        if (protection) {
            xfs += "<protection";
            if (!style.protection.locked) xfs += " locked=\"0\"";
            if (style.protection.hidden) xfs += " hidden=\"1\"";
            xfs += "/>";
        }
        xfs += "</xf>";
    }

    std::string xml(std::size_t styleCount) const {
        std::string xml(detail::XmlDeclaration);
        xml += "<styleSheet xmlns=\"";
        xml += detail::MainNamespace;
        xml += "\">";
        if (!m_customFormats.empty()) {
            xml += "<numFmts count=\"";
            appendInt(xml, static_cast<long long>(m_customFormats.size()));
            xml += "\">";
            xml += m_numberFormats;
            xml += "</numFmts>";
        }
        appendTable(xml, "fonts", m_fonts);
        appendTable(xml, "fills", m_fills);
        appendTable(xml, "borders", m_borders);
        xml +=
            "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
            "borderId=\"0\"/>"
            "</cellStyleXfs><cellXfs count=\"";
        appendInt(xml, static_cast<long long>(styleCount));
        xml += "\">";
        xml += m_cellXfs;
        xml +=
            "</cellXfs><cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" "
            "builtinId=\"0\"/></cellStyles>"
            "<dxfs count=\"0\"/><tableStyles count=\"0\" defaultTableStyle=\"TableStyleMedium9\" "
            "defaultPivotStyle=\"PivotStyleLight16\"/></styleSheet>";
        return xml;
    }

private:
    // The id of a number format code: 0 for General, Excel's own id where it has one, else the
    // next custom id (added to <numFmts> on first use).
    int numberFormatId(const std::string& code) {
        if (code.empty() || code == "General") return 0;
        const auto& builtin = builtinFormatIds();
        if (auto found = builtin.find(code); found != builtin.end()) return found->second;
        auto [it, inserted] =
            m_customFormats.try_emplace(code, 164 + static_cast<int>(m_customFormats.size()));
        if (inserted) {
            m_numberFormats += "<numFmt numFmtId=\"";
            appendInt(m_numberFormats, it->second);
            m_numberFormats += "\" formatCode=\"";
            appendAttributeText(m_numberFormats, code);
            m_numberFormats += "\"/>";
        }
        return it->second;
    }

    static void appendTable(std::string& xml, std::string_view element, const XmlTable& table) {
        xml += '<';
        xml += element;
        xml += " count=\"";
        appendInt(xml, static_cast<long long>(table.size()));
        xml += "\">";
        table.appendAll(xml);
        xml += "</";
        xml += element;
        xml += '>';
    }

    XmlTable m_fonts, m_fills, m_borders;
    std::map<std::string, int> m_customFormats;  // code -> id
    std::string m_numberFormats;                 // <numFmt> elements
    std::string m_cellXfs;                       // <xf> elements
};

std::string runPropertiesXmlOf(const Font& font) {
    std::string xml = "<rPr>";
    appendFontProperties(xml, font, "rFont");
    xml += "</rPr>";
    return xml;
}

}  // namespace

std::string stylesXml(const StyleRegistry& registry) {
    StylesParts parts;
    for (std::uint32_t id = 0; id < registry.size(); ++id) parts.addStyle(registry.style(id));
    return parts.xml(registry.size());
}

}  // namespace spreadsheet
