#include "spreadsheet/html_table_reader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string_view>

#include "spreadsheet/detail/value_parsing.h"
#include "spreadsheet/reader_limits.h"
#include "spreadsheet/sheet_builder.h"
#include "spreadsheet/text_encoding.h"

namespace spreadsheet {
namespace {

constexpr int MaxColspan = 1000;  // the HTML limits
constexpr int MaxRowspan = 65'534;

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

std::string lowered(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = lower(c);
    return result;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

// The charset a <meta> tag names in the first 4 KiB, lower case; "" when none.
std::string metaCharset(std::span<const std::uint8_t> bytes) {
    std::string head = lowered(std::string_view(reinterpret_cast<const char*>(bytes.data()),
                                                std::min<std::size_t>(bytes.size(), 4096)));
    std::size_t at = head.find("charset=");
    if (at == std::string::npos || head.rfind("<meta", at) == std::string::npos) return {};
    at += 8;
    while (at < head.size() && (head[at] == '"' || head[at] == '\'')) ++at;
    std::size_t end = at;
    while (end < head.size() && (std::isalnum(static_cast<unsigned char>(head[end])) ||
                                 head[end] == '-' || head[end] == '_'))
        ++end;
    return head.substr(at, end - at);
}

Result<std::string> decodeHtml(std::span<const std::uint8_t> bytes) {
    ByteOrderMark mark = detectByteOrderMark(bytes);
    if (mark.length > 0) return decodeText(bytes);
    std::string charset = metaCharset(bytes);
    if (charset == "gb2312" || charset == "gbk" || charset == "gb18030" || charset == "cp936") {
        return convertToUtf8(bytes, "GB18030");
    }
    if (charset == "big5") return convertToUtf8(bytes, "BIG5");
    if (charset == "windows-1252" || charset == "iso-8859-1") return convertToUtf8(bytes, "CP1252");
    return decodeText(bytes);
}

// Decodes the character references that exports use: named basics and numeric ones.
void appendDecoded(std::string& out, std::string_view text) {
    static const std::pair<std::string_view, char32_t> Named[] = {
        {"amp", '&'},   {"lt", '<'},      {"gt", '>'},     {"quot", '"'},
        {"apos", '\''}, {"nbsp", 0xA0},   {"yen", 0xA5},   {"copy", 0xA9},
        {"reg", 0xAE},  {"middot", 0xB7}, {"times", 0xD7}, {"euro", 0x20AC}};
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] != '&') {
            out += text[i++];
            continue;
        }
        std::size_t end = text.find(';', i);
        if (end == std::string_view::npos || end - i > 10) {
            out += text[i++];
            continue;
        }
        std::string_view name = text.substr(i + 1, end - i - 1);
        char32_t code = 0;
        if (!name.empty() && name[0] == '#') {
            bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
            std::string_view digits = name.substr(hex ? 2 : 1);
            std::uint32_t value = 0;
            auto [stop, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? 16 : 10);
            if (error == std::errc() && stop == digits.data() + digits.size() && value > 0 &&
                value <= 0x10FFFF && !(value >= 0xD800 && value < 0xE000)) {
                code = value;
            }
        } else {
            for (const auto& [entity, value] : Named) {
                if (name == entity) code = value;
            }
        }
        if (code == 0) {
            out += text[i++];
            continue;
        }
        appendUtf8(out, code == 0xA0 ? U' ' : code);
        i = end + 1;
    }
}

// Collapses runs of white space to one space and trims, as a browser shows cell text;
// line breaks from <br> (kept as '\n') survive.
std::string collapse(const std::string& raw) {
    std::string out;
    bool space = false;
    for (char c : raw) {
        if (c == '\n' && !raw.empty()) {
            // '\n' only comes from <br>; source line breaks were turned into spaces already.
            while (!out.empty() && out.back() == ' ') out.pop_back();
            out += '\n';
            space = false;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f') {
            space = true;
        } else {
            if (space && !out.empty() && out.back() != '\n') out += ' ';
            space = false;
            out += c;
        }
    }
    return out;
}

// A plain decimal number, not an ID: no leading zeros, at most 15 significant digits.
std::optional<double> plainNumber(std::string_view text) {
    std::string_view digits = text;
    if (!digits.empty() && digits[0] == '-') digits.remove_prefix(1);
    if (digits.empty() || digits.size() > 40) return std::nullopt;
    std::size_t significant = 0;
    bool point = false;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        char c = digits[i];
        if (c == '.') {
            if (point || i == 0 || i + 1 == digits.size()) return std::nullopt;
            point = true;
        } else if (c < '0' || c > '9') {
            return std::nullopt;
        } else if (significant > 0 || c != '0') {
            ++significant;
        }
    }
    if (digits.size() > 1 && digits[0] == '0' && digits[1] != '.') return std::nullopt;
    if (significant > 15) return std::nullopt;
    return detail::parseNumber(text);
}

// The offset of "</name" (any case) at or after `from`, or the end of the text; one pass.
std::size_t findClosingTag(const std::string& html, std::size_t from, const std::string& name) {
    for (std::size_t at = html.find("</", from); at != std::string::npos;
         at = html.find("</", at + 2)) {
        if (at + 2 + name.size() > html.size()) break;
        bool same = true;
        for (std::size_t k = 0; k < name.size() && same; ++k)
            same = lower(html[at + 2 + k]) == name[k];
        if (same) return at;
    }
    return html.size();
}

struct Tag {
    std::string name;  // lower case, without '/'
    bool closing = false;
    std::string attributes;  // raw, lower case
};

std::optional<std::string> attribute(const std::string& attributes, std::string_view name) {
    std::size_t at = 0;
    while ((at = attributes.find(name, at)) != std::string::npos) {
        bool startsWord = at == 0 || isSpace(attributes[at - 1]);
        std::size_t next = at + name.size();
        while (next < attributes.size() && isSpace(attributes[next])) ++next;
        if (startsWord && next < attributes.size() && attributes[next] == '=') {
            ++next;
            while (next < attributes.size() && isSpace(attributes[next])) ++next;
            if (next >= attributes.size()) return std::string();
            char quote = attributes[next];
            if (quote == '"' || quote == '\'') {
                std::size_t end = attributes.find(quote, next + 1);
                return attributes.substr(
                    next + 1, end == std::string::npos ? std::string::npos : end - next - 1);
            }
            std::size_t end = next;
            while (end < attributes.size() && !isSpace(attributes[end])) ++end;
            return attributes.substr(next, end - next);
        }
        at = next;
    }
    return std::nullopt;
}

int spanValue(const std::string& attributes, std::string_view name, int limit) {
    std::optional<std::string> value = attribute(attributes, name);
    if (!value) return 1;
    int number = 1;
    std::from_chars(value->data(), value->data() + value->size(), number);
    return std::clamp(number, 1, limit);
}

// Places the cells of the tables on the grid: each cell right of the last one in its row and
// of the cells that row spans from above still cover; colspan and rowspan become merges.
class TableLayout {
public:
    explicit TableLayout(SheetBuilder& sheet) : m_sheet(sheet) {}

    Result<void> startRow() {
        if (m_row >= XlsxMaxRows)
            return Error(ErrorCode::SheetLimit, "more than 1048576 table rows");
        ++m_row;
        m_column = 0;
        return {};
    }

    Result<void> addCell(const std::string& text, const std::string& attributes, bool header) {
        if (m_row == 0) {
            if (Result<void> started = startRow(); !started) return started;
        }
        // Skip the columns that row spans from above still cover.
        int column = m_column + 1;
        while (column <= static_cast<int>(m_coveredUntil.size()) &&
               m_coveredUntil[column - 1] >= m_row)
            ++column;
        int columns = spanValue(attributes, "colspan", MaxColspan);
        int rows = spanValue(attributes, "rowspan", MaxRowspan);
        int lastColumn = column + columns - 1;
        int lastRow = std::min(m_row + rows - 1, XlsxMaxRows);
        if (lastColumn > XlsxMaxColumns)
            return Error(ErrorCode::SheetLimit, "a table row wider than 16384 columns");
        if (m_coveredUntil.size() < static_cast<std::size_t>(lastColumn))
            m_coveredUntil.resize(lastColumn, 0);
        for (int c = column; c <= lastColumn; ++c)
            m_coveredUntil[c - 1] = std::max(m_coveredUntil[c - 1], lastRow);
        if (lastColumn > column || lastRow > m_row) {
            if (Result<void> added =
                    m_sheet.addMerge(RangeRef{{m_row, column}, {lastRow, lastColumn}});
                !added)
                return added;
        }
        m_column = lastColumn;
        Cell cell;
        cell.column = column;
        cell.style = header ? 1 : 0;
        // Excel's own HTML marks text cells with mso-number-format:"\@".
        bool forcedText = attributes.find("mso-number-format") != std::string::npos &&
                          attributes.find("\\@") != std::string::npos;
        std::optional<double> number = forcedText ? std::nullopt : plainNumber(text);
        if (number) {
            cell.type = CellType::Number;
            cell.number = *number;
        } else if (!text.empty()) {
            cell.type = CellType::Text;
            cell.text = text;
        } else if (!header) {
            return {};
        }
        return m_sheet.addCell(m_row, std::move(cell));
    }

private:
    SheetBuilder& m_sheet;
    int m_row = 0;
    int m_column = 0;
    std::vector<int> m_coveredUntil;  // per column, the last row a rowspan covers
};

// The tag at `inside`, the text between '<' and '>'.
Tag readTag(std::string_view inside) {
    Tag tag;
    if (!inside.empty() && inside[0] == '/') {
        tag.closing = true;
        inside.remove_prefix(1);
    }
    std::size_t nameEnd = 0;
    while (nameEnd < inside.size() && !isSpace(inside[nameEnd]) && inside[nameEnd] != '/')
        ++nameEnd;
    tag.name = lowered(inside.substr(0, nameEnd));
    tag.attributes = lowered(inside.substr(nameEnd));
    return tag;
}

// Goes through the page's markup: the text of each td or th inside a table becomes a cell,
// tr starts a row; comments, scripts and styles are skipped.
class MarkupWalker {
public:
    explicit MarkupWalker(TableLayout& layout) : m_layout(layout) {}

    bool sawTable() const { return m_sawTable; }

    Result<void> walk(const std::string& html) {
        for (std::size_t i = 0; i < html.size();) {
            if (html[i] != '<') {
                std::size_t next = html.find('<', i);
                if (next == std::string::npos) next = html.size();
                if (Result<void> taken = takeText(std::string_view(html).substr(i, next - i));
                    !taken)
                    return taken;
                i = next;
                continue;
            }
            if (html.compare(i, 4, "<!--") == 0) {
                std::size_t end = html.find("-->", i + 4);
                i = end == std::string::npos ? html.size() : end + 3;
                continue;
            }
            std::size_t end = html.find('>', i);
            if (end == std::string::npos) break;
            const Tag tag = readTag(std::string_view(html.data() + i + 1, end - i - 1));
            i = end + 1;
            if (tag.name == "script" || tag.name == "style") {
                if (!tag.closing) i = findClosingTag(html, i, tag.name);
                continue;
            }
            if (Result<void> taken = takeTag(tag); !taken) return taken;
        }
        return finishCell();
    }

private:
    // Text inside a cell; source line breaks read as spaces.
    Result<void> takeText(std::string_view text) {
        if (!m_inCell) return {};
        for (const char character : text)
            m_raw += (character == '\n' || character == '\r') ? ' ' : character;
        if (m_raw.size() > MaxCellTextUnits * 4)
            return Error(ErrorCode::SheetLimit, "table cell text over 32767 characters");
        return {};
    }

    Result<void> takeTag(const Tag& tag) {
        if (tag.name == "table") {
            if (Result<void> done = finishCell(); !done) return done;
            m_tableDepth += tag.closing ? (m_tableDepth > 0 ? -1 : 0) : 1;
            m_sawTable = m_sawTable || !tag.closing;
        } else if (m_tableDepth == 0) {
            return {};
        } else if (tag.name == "tr") {
            if (Result<void> done = finishCell(); !done) return done;
            if (!tag.closing) return m_layout.startRow();
        } else if (tag.name == "td" || tag.name == "th") {
            if (Result<void> done = finishCell(); !done) return done;
            if (!tag.closing) {
                m_inCell = true;
                m_headerCell = tag.name == "th";
                m_cellAttributes = tag.attributes;
            }
        } else if (m_inCell && (tag.name == "br" || tag.name == "p" || tag.name == "div") &&
                   !(tag.closing && tag.name == "br")) {
            if ((tag.name == "br" || !tag.closing) && !m_raw.empty()) m_raw += '\n';
        }
        return {};
    }

    Result<void> finishCell() {
        if (!m_inCell) return {};
        m_inCell = false;
        std::string text;
        appendDecoded(text, collapse(m_raw));
        m_raw.clear();
        return m_layout.addCell(text, m_cellAttributes, m_headerCell);
    }

    TableLayout& m_layout;
    int m_tableDepth = 0;
    bool m_sawTable = false;
    bool m_inCell = false;
    bool m_headerCell = false;
    std::string m_cellAttributes;
    std::string m_raw;  // the current cell's text as the page has it
};

}  // namespace

bool looksLikeHtmlTable(std::span<const std::uint8_t> bytes) {
    std::string head = lowered(std::string_view(reinterpret_cast<const char*>(bytes.data()),
                                                std::min<std::size_t>(bytes.size(), 65536)));
    std::size_t start = head.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0;
    start = head.find_first_not_of(" \t\r\n", start);
    if (start == std::string::npos || head[start] != '<') return false;
    if (head.find("urn:schemas-microsoft-com:office:spreadsheet") != std::string::npos &&
        head.find("<html") == std::string::npos) {
        return false;  // SpreadsheetML
    }
    return head.find("<table") != std::string::npos;
}

Result<WorkbookData> readHtmlTable(std::span<const std::uint8_t> bytes,
                                   const std::string& sheetName) {
    Result<std::string> decoded = decodeHtml(bytes);
    if (!decoded) return decoded.error();

    WorkbookData book;
    book.format = FileFormat::Html;
    book.grid = XlsxGrid;
    CellStyle headerStyle;
    headerStyle.font.bold = true;
    headerStyle.alignment.horizontal = "center";
    book.styles = {CellStyle{}, headerStyle};
    book.sheets.emplace_back();
    Sheet& sheet = book.sheets.back();
    sheet.name = sheetName.empty() ? "Sheet1" : sheetName;
    BookBuilder bookBuilder(book);
    SheetBuilder sheetBuilder(bookBuilder, sheet, "HTML table");
    TableLayout layout(sheetBuilder);
    MarkupWalker walker(layout);
    if (Result<void> walked = walker.walk(*decoded); !walked) return walked.error();
    if (!walker.sawTable()) return Error(ErrorCode::UnknownFormat, "an HTML page without a table");
    sheetBuilder.finish();
    bookBuilder.finish();
    return book;
}

}  // namespace spreadsheet
