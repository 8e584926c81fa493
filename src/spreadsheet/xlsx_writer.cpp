#include "spreadsheet/xlsx_writer.h"

#include <fcntl.h>
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <queue>
#include <unordered_map>

#include "spreadsheet/detail/xlsx_text.h"
#include "spreadsheet/zip_writer.h"

namespace spreadsheet {

// ---------------------------------------------------------------------------------------------
// Text pieces

namespace detail {

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

void appendEscapeCode(std::string& out, std::uint32_t codeUnit) {
    char code[7] = {'_',
                    'x',
                    HexDigits[(codeUnit >> 12) & 15],
                    HexDigits[(codeUnit >> 8) & 15],
                    HexDigits[(codeUnit >> 4) & 15],
                    HexDigits[codeUnit & 15],
                    '_'};
    out.append(code, 7);
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Decodes one UTF-8 sequence at text[i]. Returns its length (0 when the bytes are not UTF-8)
// and the code point; surrogate code points are decoded so that callers can escape them.
std::size_t decodeUtf8(std::string_view text, std::size_t i, std::uint32_t& codePoint) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char lead = byte(0);
    const std::size_t remaining = text.size() - i;
    const auto continuation = [&](std::size_t k) {
        return k < remaining && (byte(k) & 0xC0) == 0x80;
    };
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        if (!continuation(1)) return 0;
        codePoint = ((lead & 0x1Fu) << 6) | (byte(1) & 0x3Fu);
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!continuation(1) || !continuation(2)) return 0;
        codePoint = ((lead & 0x0Fu) << 12) | ((byte(1) & 0x3Fu) << 6) | (byte(2) & 0x3Fu);
        if (codePoint < 0x800) return 0;  // overlong
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
        codePoint = ((lead & 0x07u) << 18) | ((byte(1) & 0x3Fu) << 12) | ((byte(2) & 0x3Fu) << 6) |
                    (byte(3) & 0x3Fu);
        if (codePoint < 0x10000 || codePoint > 0x10FFFF) return 0;
        return 4;
    }
    return 0;
}

constexpr std::string_view ReplacementCharacter = "\xEF\xBF\xBD";

bool isXmlWhitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

bool appendCellText(std::string& out, std::string_view text) {
    std::size_t units = 0;
    std::size_t i = 0;
    const std::size_t size = text.size();
    bool lineBreakOrTab = false;  // seen in the part written
    while (i < size) {
        // Copy a run at once: ASCII that needs no escape, and two- and three-byte UTF-8 that can
        // be neither a surrogate nor U+FFFE/U+FFFF (leads C2-DF, E1-EC, EE), one unit each.
        std::size_t run = i;
        std::size_t runUnits = units;
        while (run < size && runUnits < MaxCellTextUnits) {
            const unsigned char c = static_cast<unsigned char>(text[run]);
            if (c < 0x80) {
                if (c < 0x20 || c == '&' || c == '<' || c == '>' || c == '_') break;
                ++run;
            } else if (c >= 0xC2 && c <= 0xDF) {
                if (run + 1 >= size || (static_cast<unsigned char>(text[run + 1]) & 0xC0) != 0x80)
                    break;
                run += 2;
            } else if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE) {
                if (run + 2 >= size || (static_cast<unsigned char>(text[run + 1]) & 0xC0) != 0x80 ||
                    (static_cast<unsigned char>(text[run + 2]) & 0xC0) != 0x80)
                    break;
                run += 3;
            } else {
                break;
            }
            ++runUnits;
        }
        if (run > i) {
            out.append(text.data() + i, run - i);
            units = runUnits;
            i = run;
        }
        if (i >= size || units >= MaxCellTextUnits) break;
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '\t' || c == '\n' || c == '\r') lineBreakOrTab = true;
            switch (c) {
                case '&':
                    out += "&amp;";
                    break;
                case '<':
                    out += "&lt;";
                    break;
                case '>':
                    out += "&gt;";
                    break;
                case '\t':
                    out += '\t';
                    break;
                case '\n':
                    out += '\n';
                    break;
                case '_':
                    // A literal _xHHHH_ would read back as the escaped character: escape its '_'.
                    if (i + 6 < size && text[i + 1] == 'x' && isHex(text[i + 2]) &&
                        isHex(text[i + 3]) && isHex(text[i + 4]) && isHex(text[i + 5]) &&
                        text[i + 6] == '_')
                        out += "_x005F_";
                    else
                        out += '_';
                    break;
                default:
                    // Control characters, CR included: XML would drop or normalise them.
                    appendEscapeCode(out, c);
                    break;
            }
            ++units;
            ++i;
            continue;
        }
        std::uint32_t codePoint = 0;
        const std::size_t length = decodeUtf8(text, i, codePoint);
        if (length == 0) {
            out += ReplacementCharacter;
            ++units;
            ++i;
            continue;
        }
        const std::size_t charUnits = codePoint >= 0x10000 ? 2 : 1;
        if (units + charUnits > MaxCellTextUnits) break;
        if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint == 0xFFFE ||
            codePoint == 0xFFFF)
            appendEscapeCode(out, codePoint);
        else
            out.append(text.data() + i, length);
        units += charUnits;
        i += length;
    }
    if (text.empty()) return false;
    if (isXmlWhitespace(text.front()) || isXmlWhitespace(text.back()) || lineBreakOrTab)
        return true;
    // A text cut at the limit still asks for xml:space by what it held past the cut.
    return i < size && text.find_first_of("\t\n\r", i) != std::string_view::npos;
}

void appendAttributeText(std::string& out, std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
                case '&':
                    out += "&amp;";
                    break;
                case '<':
                    out += "&lt;";
                    break;
                case '>':
                    out += "&gt;";
                    break;
                case '"':
                    out += "&quot;";
                    break;
                case '\'':
                    out += "&apos;";
                    break;
                case '\t':
                    out += "&#9;";
                    break;
                case '\n':
                    out += "&#10;";
                    break;
                case '\r':
                    out += "&#13;";
                    break;
                default:
                    if (c >= 0x20) out += static_cast<char>(c);
                    break;
            }
            ++i;
            continue;
        }
        std::uint32_t codePoint = 0;
        const std::size_t length = decodeUtf8(text, i, codePoint);
        if (length == 0) {
            out += ReplacementCharacter;
            ++i;
            continue;
        }
        if (!((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint == 0xFFFE ||
              codePoint == 0xFFFF))
            out.append(text.data() + i, length);
        i += length;
    }
}

void appendNumber(std::string& out, double value) {
    if (value == 0.0) {
        out += '0';
        return;
    }
    // Whole numbers of up to five digits (counts, dates, codes) are their digits: the shortest
    // round-trip form of such a value is never the exponent form, which takes five characters
    // at least. Longer ones go through to_chars, which may prefer 1e+05.
    if (value > -100'000.0 && value < 100'000.0) {
        const int whole = static_cast<int>(value);
        if (static_cast<double>(whole) == value) {
            char digits[8];
            const auto end = std::to_chars(digits, digits + sizeof digits, whole).ptr;
            out.append(digits, end);
            return;
        }
        // Amounts and rates: a value that is the nearest double to a decimal of at most four
        // places is written as that decimal. With nine significant digits at most no shorter
        // decimal reads back to the same double, and from 0.001 up the plain form is never
        // longer than the exponent form, so this is exactly the shortest round-trip form.
        const double magnitude = std::fabs(value);
        if (magnitude >= 0.001) {
            static constexpr double Scales[] = {10.0, 100.0, 1'000.0, 10'000.0};
            static constexpr long long IntegerScales[] = {10, 100, 1'000, 10'000};
            for (int places = 1; places <= 4; ++places) {
                const double scale = Scales[places - 1];
                const long long scaled = std::llround(magnitude * scale);
                if (static_cast<double>(scaled) / scale != magnitude) continue;
                const long long unit = IntegerScales[places - 1];
                char digits[24];
                char* end = digits;
                if (value < 0) *end++ = '-';
                end = std::to_chars(end, digits + sizeof digits, scaled / unit).ptr;
                *end++ = '.';
                long long fraction = scaled % unit;
                for (long long digit = unit / 10; digit > 0; digit /= 10) {
                    *end++ = static_cast<char>('0' + fraction / digit);
                    fraction %= digit;
                }
                out.append(digits, end);
                return;
            }
        }
    }
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void appendColumnLetters(std::string& out, int column) {
    assert(column >= 1 && column <= XlsxMaxColumns);
    char letters[4];
    int count = 0;
    while (column > 0 && count < 4) {
        const int digit = (column - 1) % 26;
        letters[count++] = static_cast<char>('A' + digit);
        column = (column - 1) / 26;
    }
    while (count > 0) out += letters[--count];
}

std::size_t utf16Length(std::string_view text) {
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        std::uint32_t codePoint = 0;
        const std::size_t length = decodeUtf8(text, i, codePoint);
        if (length == 0) {
            ++units;
            ++i;
            continue;
        }
        units += codePoint >= 0x10000 ? 2 : 1;
        i += length;
    }
    return units;
}

}  // namespace detail

using detail::appendAttributeText;
using detail::appendCellText;
using detail::appendColumnLetters;
using detail::appendNumber;

namespace {

void appendInt(std::string& out, long long value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void appendCellRef(std::string& out, int row, int column) {
    appendColumnLetters(out, column);
    appendInt(out, row);
}

void appendRange(std::string& out, const RangeRef& range) {
    appendCellRef(out, range.first.row, range.first.column);
    if (range.first != range.last) {
        out += ':';
        appendCellRef(out, range.last.row, range.last.column);
    }
}

std::string systemReason(const std::filesystem::path& path, int error) {
    return path.string() + ": " + std::strerror(error);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Default style and sheet names

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
constexpr double DefaultRowHeight = 13.5;
// 8.43 digits plus padding for a 7-pixel digit, as Excel stores its default column width.
constexpr double DefaultColumnWidth = 9.140625;
constexpr std::uint32_t MaxStyles = 64'000;
}  // namespace

bool isValidSheetName(const std::string& name) {
    if (name.empty()) return false;
    const std::size_t units = detail::utf16Length(name);
    if (units < 1 || units > 31) return false;
    if (name.front() == '\'' || name.back() == '\'') return false;
    for (std::size_t i = 0; i < name.size();) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20) return false;
        if (std::strchr("[]:*?/\\", c) != nullptr) return false;
        if (c < 0x80) {
            ++i;
            continue;
        }
        // Only well-formed UTF-8 of characters XML can carry.
        std::uint32_t codePoint = 0;
        std::size_t length = 0;
        const unsigned char lead = c;
        length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
        if (length == 0 || i + length > name.size()) return false;
        codePoint = lead & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(name[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        if ((length == 3 && codePoint < 0x800) ||
            (length == 4 && (codePoint < 0x10000 || codePoint > 0x10FFFF)))
            return false;
        if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint == 0xFFFE ||
            codePoint == 0xFFFF)
            return false;
        i += length;
    }
    // Excel keeps this name for its change history.
    std::string lower;
    for (char c : name) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return lower != "history";
}

// ---------------------------------------------------------------------------------------------
// Style registry

struct StyleRegistry::Impl {
    std::vector<CellStyle> styles;
    std::unordered_multimap<std::size_t, std::uint32_t> byHash;
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

// ---------------------------------------------------------------------------------------------
// Rows as XML

namespace {

// What the rows of a sheet cover, for <dimension>, and the largest style id they use.
struct Extent {
    int firstRow = 0;  // 0 while no cell
    int lastRow = 0;   // of the last cell
    int firstColumn = 0;
    int lastColumn = 0;
    int lastRowNumber = 0;  // of the last row, with or without cells
    std::int64_t maxStyle = -1;

    void addCell(int row, int column) {
        if (firstRow == 0) firstRow = row;
        lastRow = row;
        if (firstColumn == 0 || column < firstColumn) firstColumn = column;
        if (column > lastColumn) lastColumn = column;
    }
    void addStyle(std::uint32_t style) { maxStyle = std::max<std::int64_t>(maxStyle, style); }
    void add(const Extent& other) {
        if (other.firstRow != 0) {
            if (firstRow == 0) firstRow = other.firstRow;
            lastRow = other.lastRow;
            if (firstColumn == 0 || other.firstColumn < firstColumn)
                firstColumn = other.firstColumn;
            lastColumn = std::max(lastColumn, other.lastColumn);
        }
        lastRowNumber = std::max(lastRowNumber, other.lastRowNumber);
        maxStyle = std::max(maxStyle, other.maxStyle);
    }
};

bool isKnownError(std::string_view text) {
    static constexpr std::string_view Known[] = {"#NULL!", "#DIV/0!", "#VALUE!", "#REF!",
                                                 "#NAME?", "#NUM!",   "#N/A",    "#GETTING_DATA"};
    return std::find(std::begin(Known), std::end(Known), text) != std::end(Known);
}

// Checks a row against the rows before it (`previousRow` is the last row number written).
Result<void> checkRow(const Row& row, int previousRow) {
    if (row.number < 1 || row.number > XlsxMaxRows)
        return Error(ErrorCode::InvalidReference,
                     "row " + std::to_string(row.number) + " outside the sheet");
    if (row.number <= previousRow)
        return Error(ErrorCode::OperationFailed, "row " + std::to_string(row.number) +
                                                     " appended after row " +
                                                     std::to_string(previousRow));
    int previousColumn = 0;
    for (const Cell& cell : row.cells) {
        if (cell.column < 1 || cell.column > XlsxMaxColumns)
            return Error(ErrorCode::InvalidReference, "column " + std::to_string(cell.column) +
                                                          " of row " + std::to_string(row.number));
        if (cell.column <= previousColumn)
            return Error(ErrorCode::OperationFailed, "cells of row " + std::to_string(row.number) +
                                                         " not ascending at column " +
                                                         std::to_string(cell.column));
        previousColumn = cell.column;
    }
    return {};
}

// Appends one checked row as <row> XML. The inner loop builds each cell's opening tag in a small
// buffer and appends it at once: this runs for every cell of a merge.
void appendRowXml(std::string& out, const Row& row, Extent& extent) {
    using namespace std::string_view_literals;
    char rowDigits[12];
    const auto digitsEnd = std::to_chars(rowDigits, rowDigits + sizeof rowDigits, row.number).ptr;
    const std::size_t digitCount = static_cast<std::size_t>(digitsEnd - rowDigits);
    out += "<row r=\""sv;
    out.append(rowDigits, digitCount);
    out += '"';
    if (row.style && *row.style != 0) {
        out += " s=\""sv;
        appendInt(out, *row.style);
        out += "\" customFormat=\"1\""sv;
        extent.addStyle(*row.style);
    }
    if (row.height > 0.0 && std::isfinite(row.height)) {
        out += " ht=\""sv;
        appendNumber(out, std::min(row.height, 409.0));
        out += '"';
        if (row.customHeight) out += " customHeight=\"1\""sv;
    }
    if (row.hidden) out += " hidden=\"1\""sv;
    if (row.cells.empty()) {
        out += "/>"sv;
        extent.lastRowNumber = row.number;
        return;
    }
    out += '>';
    for (const Cell& cell : row.cells) {
        CellType type = cell.type;
        if (type == CellType::Text && cell.text.empty()) type = CellType::Empty;
        if (type == CellType::Empty && cell.style == 0) continue;
        extent.addCell(row.number, cell.column);
        extent.addStyle(cell.style);
        // <c r="XFD1048576" s="4294967295": 39 characters at most.
        char tag[48];
        char* end = tag;
        const auto put = [&end](std::string_view piece) {
            std::memcpy(end, piece.data(), piece.size());
            end += piece.size();
        };
        put("<c r=\""sv);
        {
            int column = cell.column;
            char letters[4];
            int count = 0;
            while (column > 0 && count < 3) {
                letters[count++] = static_cast<char>('A' + (column - 1) % 26);
                column = (column - 1) / 26;
            }
            while (count > 0) *end++ = letters[--count];
        }
        put({rowDigits, digitCount});
        *end++ = '"';
        if (cell.style != 0) {
            put(" s=\""sv);
            end = std::to_chars(end, tag + sizeof tag, cell.style).ptr;
            *end++ = '"';
        }
        out.append(tag, static_cast<std::size_t>(end - tag));
        switch (type) {
            case CellType::Empty:
                out += "/>"sv;
                break;
            case CellType::Number:
                if (std::isfinite(cell.number)) {
                    out += "><v>"sv;
                    appendNumber(out, cell.number);
                    out += "</v></c>"sv;
                } else {
                    // No number format can show NaN or infinity; Excel shows such results as #NUM!.
                    out += " t=\"e\"><v>#NUM!</v></c>"sv;
                }
                break;
            case CellType::Boolean:
                out += cell.number != 0.0 ? " t=\"b\"><v>1</v></c>"sv : " t=\"b\"><v>0</v></c>"sv;
                break;
            case CellType::Error:
                if (isKnownError(cell.text)) {
                    out += " t=\"e\"><v>"sv;
                    out += cell.text;
                    out += "</v></c>"sv;
                    break;
                }
                // An error value Excel does not know would need a repair: keep its text instead.
                [[fallthrough]];
            case CellType::Text: {
                out += " t=\"inlineStr\"><is><t"sv;
                const std::size_t mark = out.size();
                out += '>';
                if (appendCellText(out, cell.text)) out.insert(mark, " xml:space=\"preserve\""sv);
                out += "</t></is></c>"sv;
                break;
            }
        }
    }
    out += "</row>"sv;
    extent.lastRowNumber = row.number;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Row spool

namespace {
constexpr std::size_t SpoolXmlBufferSize = 256 * 1024;
constexpr std::size_t SpoolOutputSize = 128 * 1024;
// Level 1 of the small parts and of what the package writer deflates itself: for a million
// cells zlib's level 1 took 0.38 s of CPU and level 3 0.50 s, for a file only 10 % smaller.
constexpr int SheetDeflateLevel = 1;
// The spooled rows, nearly all of a result sheet, go through ISA-L's deflate at its level 1:
// on the rows of a merge it took 0.08 s where zlib's level 1 took 0.21 s (47 MB of XML), for
// a file 3 % larger.
constexpr std::uint32_t SpoolDeflateLevel = 1;
}  // namespace

struct RowSpool::Impl {
    enum class Flush { None, Sync };

    int fileDescriptor = -1;
    std::string directory;
    isal_zstream stream{};
    std::vector<std::uint8_t> levelBuffer;  // the compressor's working memory for its level
    std::string xml;                        // rows not yet deflated
    std::vector<std::uint8_t> output;       // deflate output buffer
    std::uint64_t deflatedBytes = 0;        // in the file
    std::uint64_t inflatedBytes = 0;        // XML bytes that went into the compressor
    std::uint32_t crc = 0;
    bool pendingSync = false;  // rows deflated since the last sync flush
    bool failed = false;
    Extent extent;
    int rowCount = 0;

    ~Impl() {
        if (fileDescriptor >= 0) ::close(fileDescriptor);
    }

    Result<void> writeOutput(std::size_t size) {
        const std::uint8_t* data = output.data();
        while (size > 0) {
            const ssize_t written = ::write(fileDescriptor, data, size);
            if (written < 0) {
                if (errno == EINTR) continue;
                failed = true;
                return Error(ErrorCode::WriteFailed, systemReason(directory, errno));
            }
            data += written;
            size -= static_cast<std::size_t>(written);
            deflatedBytes += static_cast<std::uint64_t>(written);
        }
        return {};
    }

    // Deflates the buffered XML. A sync flush ends the blocks so far on a byte boundary with an
    // empty stored block, as zlib's Z_SYNC_FLUSH does, and never marks a block final: the
    // package writer appends the spool to the entry's own deflate stream.
    Result<void> deflateXml(Flush flush) {
        if (failed)
            return Error(ErrorCode::WriteFailed,
                         directory + ": an earlier write of the row spool failed");
        if (!xml.empty()) {
            crc =
                crc32_gzip_refl(crc, reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size());
            inflatedBytes += xml.size();
            pendingSync = true;
        }
        if (flush == Flush::Sync && !pendingSync) return {};
        // The compressor counts in 32-bit units and one row of long texts can pass 1 GiB: feed
        // the buffer in slices, flushing after the last one only.
        constexpr std::size_t Slice = std::size_t{1} << 30;
        std::size_t offset = 0;
        do {
            const std::size_t slice = std::min(xml.size() - offset, Slice);
            const bool last = offset + slice == xml.size();
            stream.next_in = reinterpret_cast<std::uint8_t*>(xml.data() + offset);
            stream.avail_in = static_cast<std::uint32_t>(slice);
            stream.flush = last && flush == Flush::Sync ? SYNC_FLUSH : NO_FLUSH;
            stream.end_of_stream = 0;
            for (;;) {
                stream.next_out = output.data();
                stream.avail_out = static_cast<std::uint32_t>(output.size());
                if (isal_deflate(&stream) != COMP_OK) {
                    failed = true;
                    return Error(ErrorCode::WriteFailed, "ISA-L deflate failed in the row spool");
                }
                const std::size_t produced = output.size() - stream.avail_out;
                if (produced > 0) {
                    if (Result<void> written = writeOutput(produced); !written) return written;
                }
                // Done once the input is taken and the output buffer was not filled: a flush
                // is then complete too.
                if (stream.avail_in == 0 && stream.avail_out != 0) break;
            }
            offset += slice;
        } while (offset < xml.size());
        xml.clear();
        if (flush == Flush::Sync) pendingSync = false;
        return {};
    }

    Result<void> syncFlush() { return deflateXml(Flush::Sync); }
};

RowSpool::RowSpool(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
RowSpool::~RowSpool() = default;
RowSpool::RowSpool(RowSpool&&) noexcept = default;
RowSpool& RowSpool::operator=(RowSpool&&) noexcept = default;

Result<RowSpool> RowSpool::create(const std::filesystem::path& directory) {
    auto impl = std::make_unique<Impl>();
    impl->directory = directory.string();
    // An unnamed file: nothing is left behind, whatever happens to the process.
    const std::string folder = directory.empty() ? std::string(".") : directory.string();
    int descriptor = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        // File systems without O_TMPFILE: a named file, unlinked at once.
        std::string pattern = (std::filesystem::path(folder) / ".sheetmerge-rows-XXXXXX").string();
        descriptor = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (descriptor < 0) return Error(ErrorCode::WriteFailed, systemReason(folder, errno));
        ::unlink(pattern.c_str());
    }
    impl->fileDescriptor = descriptor;
    isal_deflate_init(&impl->stream);
    impl->levelBuffer.resize(ISAL_DEF_LVL1_DEFAULT);
    impl->stream.level = SpoolDeflateLevel;
    impl->stream.level_buf = impl->levelBuffer.data();
    impl->stream.level_buf_size = static_cast<std::uint32_t>(impl->levelBuffer.size());
    impl->stream.gzip_flag = IGZIP_DEFLATE;  // raw deflate, as a zip entry holds it
    impl->xml.reserve(SpoolXmlBufferSize + 4096);
    impl->output.resize(SpoolOutputSize);
    return RowSpool(std::move(impl));
}

Result<void> RowSpool::append(const Row& row) {
    Impl& d = *m_impl;
    if (d.failed)
        return Error(ErrorCode::WriteFailed,
                     d.directory + ": an earlier write of the row spool failed");
    if (Result<void> checked = checkRow(row, d.extent.lastRowNumber); !checked) return checked;
    appendRowXml(d.xml, row, d.extent);
    ++d.rowCount;
    if (d.xml.size() >= SpoolXmlBufferSize) return d.deflateXml(Impl::Flush::None);
    return {};
}

int RowSpool::rowCount() const {
    return m_impl->rowCount;
}
int RowSpool::lastRow() const {
    return m_impl->extent.lastRowNumber;
}
int RowSpool::firstColumn() const {
    return m_impl->extent.firstColumn;
}
int RowSpool::lastColumn() const {
    return m_impl->extent.lastColumn;
}

// ---------------------------------------------------------------------------------------------
// Package parts

namespace {

constexpr std::string_view XmlDeclaration =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr std::string_view MainNamespace =
    "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view RelationshipNamespace =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr int SmallPartLevel = 6;

std::string contentTypesXml(std::size_t sheetCount) {
    std::string xml(XmlDeclaration);
    xml +=
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" "
        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/xl/workbook.xml\" "
        "ContentType=\"application/"
        "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>";
    for (std::size_t i = 1; i <= sheetCount; ++i) {
        xml += "<Override PartName=\"/xl/worksheets/sheet";
        appendInt(xml, static_cast<long long>(i));
        xml +=
            ".xml\" "
            "ContentType=\"application/"
            "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
    }
    xml +=
        "<Override PartName=\"/xl/styles.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
        "<Override PartName=\"/docProps/core.xml\" "
        "ContentType=\"application/vnd.openxmlformats-package.core-properties+xml\"/>"
        "<Override PartName=\"/docProps/app.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.extended-properties+xml\"/>"
        "</Types>";
    return xml;
}

std::string packageRelationshipsXml() {
    std::string xml(XmlDeclaration);
    xml +=
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" "
        "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
        "officeDocument\" "
        "Target=\"xl/workbook.xml\"/>"
        "<Relationship Id=\"rId2\" "
        "Type=\"http://schemas.openxmlformats.org/package/2006/relationships/metadata/"
        "core-properties\" "
        "Target=\"docProps/core.xml\"/>"
        "<Relationship Id=\"rId3\" "
        "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
        "extended-properties\" "
        "Target=\"docProps/app.xml\"/>"
        "</Relationships>";
    return xml;
}

std::string corePropertiesXml() {
    char stamp[32] = "1980-01-01T00:00:00Z";
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    if (gmtime_r(&now, &utc) != nullptr)
        std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::string xml(XmlDeclaration);
    xml +=
        "<cp:coreProperties "
        "xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
        "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\" "
        "xmlns:dcmitype=\"http://purl.org/dc/dcmitype/\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
        "<dc:creator>sheetmerge</dc:creator>"
        "<dcterms:created xsi:type=\"dcterms:W3CDTF\">";
    xml += stamp;
    xml += "</dcterms:created><dcterms:modified xsi:type=\"dcterms:W3CDTF\">";
    xml += stamp;
    xml += "</dcterms:modified></cp:coreProperties>";
    return xml;
}

std::string appPropertiesXml() {
    std::string xml(XmlDeclaration);
    xml +=
        "<Properties "
        "xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\" "
        "xmlns:vt=\"http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes\">"
        "<Application>sheetmerge</Application></Properties>";
    return xml;
}

std::string workbookXml(std::span<const SheetToWrite> sheets,
                        std::span<const Visibility> visibility, int activeSheet) {
    std::string xml(XmlDeclaration);
    xml += "<workbook xmlns=\"";
    xml += MainNamespace;
    xml += "\" xmlns:r=\"";
    xml += RelationshipNamespace;
    xml += "\"><workbookPr/><bookViews><workbookView activeTab=\"";
    appendInt(xml, activeSheet);
    xml += "\"/></bookViews><sheets>";
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        xml += "<sheet name=\"";
        appendAttributeText(xml, sheets[i].name);
        xml += "\" sheetId=\"";
        appendInt(xml, static_cast<long long>(i + 1));
        xml += '"';
        if (visibility[i] == Visibility::Hidden) xml += " state=\"hidden\"";
        if (visibility[i] == Visibility::VeryHidden) xml += " state=\"veryHidden\"";
        xml += " r:id=\"rId";
        appendInt(xml, static_cast<long long>(i + 1));
        xml += "\"/>";
    }
    xml += "</sheets><calcPr calcId=\"191029\"/></workbook>";
    return xml;
}

std::string workbookRelationshipsXml(std::size_t sheetCount) {
    std::string xml(XmlDeclaration);
    xml += "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (std::size_t i = 1; i <= sheetCount; ++i) {
        xml += "<Relationship Id=\"rId";
        appendInt(xml, static_cast<long long>(i));
        xml +=
            "\" "
            "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
            "worksheet\" "
            "Target=\"worksheets/sheet";
        appendInt(xml, static_cast<long long>(i));
        xml += ".xml\"/>";
    }
    xml += "<Relationship Id=\"rId";
    appendInt(xml, static_cast<long long>(sheetCount + 1));
    xml +=
        "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
        "Target=\"styles.xml\"/></Relationships>";
    return xml;
}

// ---- styles.xml

bool oneOf(std::string_view value, std::initializer_list<std::string_view> allowed) {
    return std::find(allowed.begin(), allowed.end(), value) != allowed.end();
}

void appendColor(std::string& out, std::string_view element, const Color& color) {
    if (!color) return;
    out += '<';
    out += element;
    out += " rgb=\"";
    for (int shift = 28; shift >= 0; shift -= 4) out += detail::HexDigits[(*color >> shift) & 15];
    out += "\"/>";
}

std::string fontXml(const Font& font) {
    std::string xml = "<font>";
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
    xml += "<name val=\"";
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

std::string stylesXml(const StyleRegistry& registry) {
    XmlTable fonts, fills, borders;
    fills.add(fillXml(Fill{}));  // reserved: none
    Fill gray125;
    gray125.pattern = "gray125";
    fills.add(fillXml(gray125));  // reserved: gray125
    borders.add(borderXml(Border{}));
    std::map<std::string, int> customFormats;  // code -> id
    std::string numberFormats;
    std::string cellXfs;
    for (std::uint32_t id = 0; id < registry.size(); ++id) {
        const CellStyle& style = registry.style(id);
        int formatId = 0;
        const std::string& code = style.numberFormat;
        if (!code.empty() && code != "General") {
            const auto& builtin = builtinFormatIds();
            if (auto found = builtin.find(code); found != builtin.end()) {
                formatId = found->second;
            } else {
                auto [it, inserted] =
                    customFormats.try_emplace(code, 164 + static_cast<int>(customFormats.size()));
                formatId = it->second;
                if (inserted) {
                    numberFormats += "<numFmt numFmtId=\"";
                    appendInt(numberFormats, formatId);
                    numberFormats += "\" formatCode=\"";
                    appendAttributeText(numberFormats, code);
                    numberFormats += "\"/>";
                }
            }
        }
        const std::uint32_t fontId = fonts.add(fontXml(style.font));
        const std::uint32_t fillId = fills.add(fillXml(style.fill));
        const std::uint32_t borderId = borders.add(borderXml(style.border));
        const std::string alignment = alignmentXml(style.alignment);
        const bool protection = style.protection != Protection{};
        cellXfs += "<xf numFmtId=\"";
        appendInt(cellXfs, formatId);
        cellXfs += "\" fontId=\"";
        appendInt(cellXfs, fontId);
        cellXfs += "\" fillId=\"";
        appendInt(cellXfs, fillId);
        cellXfs += "\" borderId=\"";
        appendInt(cellXfs, borderId);
        cellXfs += "\" xfId=\"0\"";
        if (formatId != 0) cellXfs += " applyNumberFormat=\"1\"";
        if (fontId != 0) cellXfs += " applyFont=\"1\"";
        if (fillId != 0) cellXfs += " applyFill=\"1\"";
        if (borderId != 0) cellXfs += " applyBorder=\"1\"";
        if (!alignment.empty()) cellXfs += " applyAlignment=\"1\"";
        if (protection) cellXfs += " applyProtection=\"1\"";
        if (alignment.empty() && !protection) {
            cellXfs += "/>";
            continue;
        }
        cellXfs += '>';
        cellXfs += alignment;
        if (protection) {
            cellXfs += "<protection";
            if (!style.protection.locked) cellXfs += " locked=\"0\"";
            if (style.protection.hidden) cellXfs += " hidden=\"1\"";
            cellXfs += "/>";
        }
        cellXfs += "</xf>";
    }
    std::string xml(XmlDeclaration);
    xml += "<styleSheet xmlns=\"";
    xml += MainNamespace;
    xml += "\">";
    if (!customFormats.empty()) {
        xml += "<numFmts count=\"";
        appendInt(xml, static_cast<long long>(customFormats.size()));
        xml += "\">";
        xml += numberFormats;
        xml += "</numFmts>";
    }
    xml += "<fonts count=\"";
    appendInt(xml, static_cast<long long>(fonts.size()));
    xml += "\">";
    fonts.appendAll(xml);
    xml += "</fonts><fills count=\"";
    appendInt(xml, static_cast<long long>(fills.size()));
    xml += "\">";
    fills.appendAll(xml);
    xml += "</fills><borders count=\"";
    appendInt(xml, static_cast<long long>(borders.size()));
    xml += "\">";
    borders.appendAll(xml);
    xml +=
        "</borders><cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
        "borderId=\"0\"/>"
        "</cellStyleXfs><cellXfs count=\"";
    appendInt(xml, static_cast<long long>(registry.size()));
    xml += "\">";
    xml += cellXfs;
    xml +=
        "</cellXfs><cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" "
        "builtinId=\"0\"/></cellStyles>"
        "<dxfs count=\"0\"/><tableStyles count=\"0\" defaultTableStyle=\"TableStyleMedium9\" "
        "defaultPivotStyle=\"PivotStyleLight16\"/></styleSheet>";
    return xml;
}

// ---- worksheets

// Drops merges that Excel would remove with a repair: single cells, ranges outside the grid
// and ranges overlapping one kept before them (in the order of their top row, then column).
std::vector<RangeRef> usableMerges(const std::vector<RangeRef>& merges) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < merges.size(); ++i) {
        const RangeRef& range = merges[i];
        const bool inGrid = range.first.row >= 1 && range.first.column >= 1 &&
                            range.last.row <= XlsxMaxRows && range.last.column <= XlsxMaxColumns &&
                            range.first.row <= range.last.row &&
                            range.first.column <= range.last.column;
        if (inGrid && range.first != range.last) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const RangeRef& left = merges[a];
        const RangeRef& right = merges[b];
        return std::pair(left.first.row, left.first.column) <
               std::pair(right.first.row, right.first.column);
    });
    // Kept ranges that reach the current top row all cover that row, so their column spans are
    // disjoint: one ordered map of spans answers the overlap question.
    std::map<int, std::pair<int, int>> activeSpans;  // first column -> (last column, last row)
    using Expiry = std::pair<int, int>;              // (last row, first column)
    std::priority_queue<Expiry, std::vector<Expiry>, std::greater<>> expiries;
    std::vector<bool> keep(merges.size(), false);
    for (std::size_t index : order) {
        const RangeRef& range = merges[index];
        while (!expiries.empty() && expiries.top().first < range.first.row) {
            activeSpans.erase(expiries.top().second);
            expiries.pop();
        }
        auto next = activeSpans.upper_bound(range.last.column);
        bool overlaps = false;
        if (next != activeSpans.begin()) {
            auto candidate = std::prev(next);
            overlaps = candidate->second.first >= range.first.column;
        }
        if (overlaps) continue;
        activeSpans.emplace(range.first.column, std::pair(range.last.column, range.last.row));
        expiries.emplace(range.last.row, range.first.column);
        keep[index] = true;
    }
    std::vector<RangeRef> kept;
    for (std::size_t i = 0; i < merges.size(); ++i) {
        if (keep[i]) kept.push_back(merges[i]);
    }
    return kept;
}

// Column runs in the grid, ascending and not overlapping one kept before.
std::vector<ColumnInfo> usableColumns(const std::vector<ColumnInfo>& columns) {
    std::vector<ColumnInfo> kept;
    int lastColumn = 0;
    for (const ColumnInfo& column : columns) {
        if (column.first < 1 || column.last > XlsxMaxColumns || column.first > column.last)
            continue;
        if (column.first <= lastColumn) continue;
        kept.push_back(column);
        lastColumn = column.last;
    }
    return kept;
}

void appendSelection(std::string& out, const char* pane, CellRef cell) {
    out += "<selection";
    if (pane != nullptr) {
        out += " pane=\"";
        out += pane;
        out += '"';
    }
    out += " activeCell=\"";
    appendCellRef(out, cell.row, cell.column);
    out += "\" sqref=\"";
    appendCellRef(out, cell.row, cell.column);
    out += "\"/>";
}

std::string sheetHeaderXml(const SheetToWrite& sheet, const Extent& extent, bool selected,
                           const std::vector<ColumnInfo>& columns) {
    std::string xml(XmlDeclaration);
    xml += "<worksheet xmlns=\"";
    xml += MainNamespace;
    xml += "\" xmlns:r=\"";
    xml += RelationshipNamespace;
    xml += "\"><dimension ref=\"";
    if (extent.firstRow == 0) {
        xml += "A1";
    } else {
        appendRange(xml, RangeRef{{extent.firstRow, extent.firstColumn},
                                  {extent.lastRow, extent.lastColumn}});
    }
    xml += "\"/><sheetViews><sheetView";
    if (selected) xml += " tabSelected=\"1\"";
    xml += " workbookViewId=\"0\"";
    CellRef active{1, 1};
    if (sheet.activeCell && sheet.activeCell->row >= 1 && sheet.activeCell->row <= XlsxMaxRows &&
        sheet.activeCell->column >= 1 && sheet.activeCell->column <= XlsxMaxColumns)
        active = *sheet.activeCell;
    int frozenRows = 0;
    int frozenColumns = 0;
    if (sheet.frozenPane) {
        frozenRows = std::clamp(sheet.frozenPane->rows, 0, XlsxMaxRows - 1);
        frozenColumns = std::clamp(sheet.frozenPane->columns, 0, XlsxMaxColumns - 1);
    }
    if (frozenRows == 0 && frozenColumns == 0) {
        if (active == CellRef{1, 1}) {
            xml += "/></sheetViews>";
        } else {
            xml += '>';
            appendSelection(xml, nullptr, active);
            xml += "</sheetView></sheetViews>";
        }
    } else {
        xml += "><pane";
        if (frozenColumns > 0) {
            xml += " xSplit=\"";
            appendInt(xml, frozenColumns);
            xml += '"';
        }
        if (frozenRows > 0) {
            xml += " ySplit=\"";
            appendInt(xml, frozenRows);
            xml += '"';
        }
        xml += " topLeftCell=\"";
        appendCellRef(xml, frozenRows + 1, frozenColumns + 1);
        const char* activePane = frozenRows > 0 && frozenColumns > 0 ? "bottomRight"
                                 : frozenRows > 0                    ? "bottomLeft"
                                                                     : "topRight";
        xml += "\" activePane=\"";
        xml += activePane;
        xml += "\" state=\"frozen\"/>";
        if (frozenRows > 0 && frozenColumns > 0) {
            appendSelection(xml, "topRight", CellRef{1, frozenColumns + 1});
            appendSelection(xml, "bottomLeft", CellRef{frozenRows + 1, 1});
        }
        appendSelection(xml, activePane, active);
        xml += "</sheetView></sheetViews>";
    }
    xml += "<sheetFormatPr defaultRowHeight=\"";
    appendNumber(xml, DefaultRowHeight);
    xml += "\"/>";
    if (!columns.empty()) {
        xml += "<cols>";
        for (const ColumnInfo& column : columns) {
            xml += "<col min=\"";
            appendInt(xml, column.first);
            xml += "\" max=\"";
            appendInt(xml, column.last);
            xml += '"';
            if (column.width > 0.0 && std::isfinite(column.width)) {
                xml += " width=\"";
                appendNumber(xml, std::min(column.width, 255.0));
                xml += "\" customWidth=\"1\"";
            } else {
                // Excel reads a <col> without width as width 0; give it the default width.
                xml += " width=\"";
                appendNumber(xml, DefaultColumnWidth);
                xml += '"';
            }
            if (column.style && *column.style != 0) {
                xml += " style=\"";
                appendInt(xml, *column.style);
                xml += '"';
            }
            if (column.hidden) xml += " hidden=\"1\"";
            xml += "/>";
        }
        xml += "</cols>";
    }
    xml += "<sheetData>";
    return xml;
}

std::string sheetTrailerXml(const std::vector<RangeRef>& merges) {
    std::string xml = "</sheetData>";
    if (!merges.empty()) {
        xml += "<mergeCells count=\"";
        appendInt(xml, static_cast<long long>(merges.size()));
        xml += "\">";
        for (const RangeRef& range : merges) {
            xml += "<mergeCell ref=\"";
            appendRange(xml, range);
            xml += "\"/>";
        }
        xml += "</mergeCells>";
    }
    xml +=
        "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
        "footer=\"0.3\"/>"
        "</worksheet>";
    return xml;
}

// An upper bound of what deflate makes of `size` bytes (stored blocks cost 5 bytes per 64 KiB).
std::uint64_t deflateBound64(std::uint64_t size) {
    return size + size / 2048 + 64;
}

Result<void> writeEntry(ZipWriter& zip, std::string_view name, std::string_view content) {
    if (Result<void> begun = zip.beginEntry(name, SmallPartLevel, deflateBound64(content.size()));
        !begun)
        return begun;
    if (Result<void> written = zip.write(content); !written) return written;
    return zip.endEntry();
}

// Rows held in memory after the spooled ones, serialised a slice at a time.
template <typename Consumer>
Result<void> forEachRowsXml(const std::vector<Row>* rows, Extent& extent, Consumer&& consume) {
    if (rows == nullptr) return {};
    std::string xml;
    for (const Row& row : *rows) {
        appendRowXml(xml, row, extent);
        if (xml.size() >= SpoolXmlBufferSize) {
            if (Result<void> consumed = consume(xml); !consumed) return consumed;
            xml.clear();
        }
    }
    if (!xml.empty()) return consume(xml);
    return {};
}

Result<void> writeSheet(ZipWriter& zip, std::string_view name, const SheetToWrite& sheet,
                        bool selected) {
    Extent extent;
    RowSpool::Impl* spool = sheet.spooledRows != nullptr ? &sheet.spooledRows->impl() : nullptr;
    if (spool != nullptr) {
        if (Result<void> flushed = spool->syncFlush(); !flushed) return flushed;
        extent = spool->extent;
    }
    // Measure the in-memory rows first: the entry needs an upper bound of its size up front.
    std::uint64_t rowsSize = 0;
    Extent rowsExtent;
    (void)forEachRowsXml(sheet.rows, rowsExtent, [&](const std::string& xml) -> Result<void> {
        rowsSize += xml.size();
        return {};
    });
    extent.add(rowsExtent);
    const std::vector<ColumnInfo> columns = usableColumns(sheet.columns);
    const std::string header = sheetHeaderXml(sheet, extent, selected, columns);
    const std::string trailer = sheetTrailerXml(usableMerges(sheet.merges));
    const std::uint64_t spoolInflated = spool != nullptr ? spool->inflatedBytes : 0;
    const std::uint64_t spoolDeflated = spool != nullptr ? spool->deflatedBytes : 0;
    const std::uint64_t inflated = header.size() + spoolInflated + rowsSize + trailer.size();
    const std::uint64_t deflated =
        deflateBound64(header.size()) + spoolDeflated + deflateBound64(rowsSize + trailer.size());
    if (Result<void> begun = zip.beginEntry(name, SheetDeflateLevel, std::max(inflated, deflated));
        !begun)
        return begun;
    if (Result<void> written = zip.write(header); !written) return written;
    if (spool != nullptr && spoolDeflated > 0) {
        if (Result<void> begun = zip.beginDeflatedCopy(spool->crc, spoolInflated); !begun)
            return begun;
        std::vector<std::uint8_t> buffer(1 << 20);
        std::uint64_t offset = 0;
        while (offset < spoolDeflated) {
            const std::size_t wanted = static_cast<std::size_t>(
                std::min<std::uint64_t>(buffer.size(), spoolDeflated - offset));
            const ssize_t got =
                ::pread(spool->fileDescriptor, buffer.data(), wanted, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0)
                return Error(
                    ErrorCode::WriteFailed,
                    spool->directory + ": the row spool could not be read back" +
                        (got < 0 ? std::string(": ") + std::strerror(errno) : std::string()));
            if (Result<void> copied =
                    zip.writeDeflated({buffer.data(), static_cast<std::size_t>(got)});
                !copied)
                return copied;
            offset += static_cast<std::uint64_t>(got);
        }
    }
    Extent unused;
    if (Result<void> written = forEachRowsXml(
            sheet.rows, unused, [&](const std::string& xml) { return zip.write(xml); });
        !written)
        return written;
    if (Result<void> written = zip.write(trailer); !written) return written;
    return zip.endEntry();
}

// Case-insensitive key of a sheet name: ASCII, Latin-1, Greek, Cyrillic and full-width
// Latin letters folded to lower case, as Excel compares sheet names.
std::u32string sheetNameKey(std::string_view name) {
    std::u32string key;
    for (std::size_t i = 0; i < name.size();) {
        const unsigned char lead = static_cast<unsigned char>(name[i]);
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if (i + length > name.size()) length = name.size() - i;
        char32_t codePoint = length == 1 ? lead
                                         : lead & (length == 2   ? 0x1F
                                                   : length == 3 ? 0x0F
                                                                 : 0x07);
        for (std::size_t k = 1; k < length; ++k)
            codePoint = (codePoint << 6) | (name[i + k] & 0x3F);
        i += length;
        if ((codePoint >= U'A' && codePoint <= U'Z') ||
            (codePoint >= 0xC0 && codePoint <= 0xDE && codePoint != 0xD7) ||
            (codePoint >= 0x391 && codePoint <= 0x3AB) ||
            (codePoint >= 0x410 && codePoint <= 0x42F))
            codePoint += 0x20;
        else if (codePoint >= 0x400 && codePoint <= 0x40F)
            codePoint += 0x50;
        else if (codePoint >= 0xFF21 && codePoint <= 0xFF3A)
            codePoint += 0x20;
        key += codePoint;
    }
    return key;
}

Result<void> checkStyle(std::int64_t style, std::size_t registrySize, const std::string& sheet) {
    if (style >= static_cast<std::int64_t>(registrySize))
        return Error(ErrorCode::OperationFailed,
                     "sheet " + sheet + " uses style " + std::to_string(style) +
                         " of a registry with " + std::to_string(registrySize));
    return {};
}

Result<void> writePackage(OutputSink& sink, std::span<const SheetToWrite> sheets, int activeSheet,
                          const StyleRegistry& styles) {
    if (sheets.empty())
        return Error(ErrorCode::OperationFailed, "a workbook needs at least one sheet");
    std::vector<std::u32string> keys;
    for (const SheetToWrite& sheet : sheets) {
        if (!isValidSheetName(sheet.name)) return Error(ErrorCode::InvalidSheetName, sheet.name);
        std::u32string key = sheetNameKey(sheet.name);
        if (std::find(keys.begin(), keys.end(), key) != keys.end())
            return Error(ErrorCode::DuplicateSheetName, sheet.name);
        keys.push_back(std::move(key));
        // Rows and styles are checked before anything is written: a bad id would make a file
        // that Excel repairs.
        int lastSpooled = 0;
        if (sheet.spooledRows != nullptr) {
            const RowSpool::Impl& spool = sheet.spooledRows->impl();
            if (Result<void> checked = checkStyle(spool.extent.maxStyle, styles.size(), sheet.name);
                !checked)
                return checked;
            lastSpooled = spool.extent.lastRowNumber;
        }
        if (sheet.rows != nullptr) {
            int previous = lastSpooled;
            for (const Row& row : *sheet.rows) {
                if (Result<void> checked = checkRow(row, previous); !checked) return checked;
                previous = row.number;
                if (row.style) {
                    if (Result<void> checked = checkStyle(*row.style, styles.size(), sheet.name);
                        !checked)
                        return checked;
                }
                for (const Cell& cell : row.cells) {
                    if (Result<void> checked = checkStyle(cell.style, styles.size(), sheet.name);
                        !checked)
                        return checked;
                }
            }
        }
        for (const ColumnInfo& column : sheet.columns) {
            if (column.style) {
                if (Result<void> checked = checkStyle(*column.style, styles.size(), sheet.name);
                    !checked)
                    return checked;
            }
        }
    }
    // The active sheet must be visible, and so must at least one sheet.
    std::vector<Visibility> visibility;
    for (const SheetToWrite& sheet : sheets) visibility.push_back(sheet.visibility);
    const int count = static_cast<int>(sheets.size());
    if (activeSheet < 0 || activeSheet >= count) activeSheet = 0;
    if (visibility[static_cast<std::size_t>(activeSheet)] != Visibility::Visible) {
        const auto visible = std::find(visibility.begin(), visibility.end(), Visibility::Visible);
        if (visible != visibility.end())
            activeSheet = static_cast<int>(visible - visibility.begin());
        else
            visibility[static_cast<std::size_t>(activeSheet)] = Visibility::Visible;
    }

    ZipWriter zip(sink);
    if (Result<void> r = writeEntry(zip, "[Content_Types].xml", contentTypesXml(sheets.size())); !r)
        return r;
    if (Result<void> r = writeEntry(zip, "_rels/.rels", packageRelationshipsXml()); !r) return r;
    if (Result<void> r = writeEntry(zip, "docProps/core.xml", corePropertiesXml()); !r) return r;
    if (Result<void> r = writeEntry(zip, "docProps/app.xml", appPropertiesXml()); !r) return r;
    if (Result<void> r =
            writeEntry(zip, "xl/workbook.xml", workbookXml(sheets, visibility, activeSheet));
        !r)
        return r;
    if (Result<void> r =
            writeEntry(zip, "xl/_rels/workbook.xml.rels", workbookRelationshipsXml(sheets.size()));
        !r)
        return r;
    if (Result<void> r = writeEntry(zip, "xl/styles.xml", stylesXml(styles)); !r) return r;
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        const std::string name = "xl/worksheets/sheet" + std::to_string(i + 1) + ".xml";
        if (Result<void> r = writeSheet(zip, name, sheets[i], static_cast<int>(i) == activeSheet);
            !r)
            return r;
    }
    return zip.finish();
}

// ---- saving to a file

class TemporaryFile {
public:
    ~TemporaryFile() { discard(); }
    // Creates a new file next to `target`. Its name does not repeat the target's, which may
    // already be as long as the file system allows.
    Result<void> create(const std::filesystem::path& target, const std::filesystem::path& folder) {
        static unsigned counter = 0;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
            char name[64];
            std::snprintf(name, sizeof name, ".~sheetmerge-%d-%u-%llx.tmp",
                          static_cast<int>(::getpid()), ++counter,
                          static_cast<unsigned long long>(ticks) & 0xFFFFFF);
            m_path = folder / name;
            m_descriptor = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (m_descriptor >= 0) return {};
            if (errno != EEXIST) {
                const int error = errno;
                m_path.clear();
                return Error(ErrorCode::WriteFailed, systemReason(target, error));
            }
        }
        m_path.clear();
        return Error(ErrorCode::WriteFailed, target.string() + ": no free temporary file name");
    }
    int descriptor() const { return m_descriptor; }
    const std::filesystem::path& path() const { return m_path; }
    // Makes the content durable and closes the file.
    Result<void> close(const std::filesystem::path& target) {
        if (::fsync(m_descriptor) != 0)
            return Error(ErrorCode::WriteFailed, systemReason(target, errno));
        const int status = ::close(m_descriptor);
        m_descriptor = -1;
        if (status != 0) return Error(ErrorCode::WriteFailed, systemReason(target, errno));
        return {};
    }
    // The file now lives under another name.
    void release() { m_path.clear(); }
    void discard() {
        if (m_descriptor >= 0) ::close(m_descriptor);
        m_descriptor = -1;
        if (!m_path.empty()) ::unlink(m_path.c_str());
        m_path.clear();
    }

private:
    std::filesystem::path m_path;
    int m_descriptor = -1;
};

// Moves `from` to `to` unless `to` exists, without a window in which another file could appear.
Result<void> renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno == EEXIST) return Error(ErrorCode::TargetExists, to.string());
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return Error(ErrorCode::WriteFailed, systemReason(to, errno));
    // File systems without RENAME_NOREPLACE: a hard link fails when the name is taken.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return {};
    }
    if (errno == EEXIST) return Error(ErrorCode::TargetExists, to.string());
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK)
        return Error(ErrorCode::WriteFailed, systemReason(to, errno));
    // No hard links either (FAT): claim the name exclusively, then replace our own claim.
    const int claim = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (claim < 0) {
        if (errno == EEXIST) return Error(ErrorCode::TargetExists, to.string());
        return Error(ErrorCode::WriteFailed, systemReason(to, errno));
    }
    ::close(claim);
    if (::rename(from.c_str(), to.c_str()) != 0) {
        const int error = errno;
        ::unlink(to.c_str());
        return Error(ErrorCode::WriteFailed, systemReason(to, error));
    }
    return {};
}

void syncFolder(const std::filesystem::path& folder) {
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return;
    (void)::fsync(descriptor);
    ::close(descriptor);
}

}  // namespace

Result<void> writeXlsx(const std::filesystem::path& target, std::span<const SheetToWrite> sheets,
                       int activeSheet, const StyleRegistry& styles, ExistingFile existing) {
    if (target.filename().empty())
        return Error(ErrorCode::WriteFailed, target.string() + ": no file name");
    // A quick refusal before the work; the rename below is what guarantees it.
    struct stat existingStatus {};
    if (existing == ExistingFile::Refuse && ::lstat(target.c_str(), &existingStatus) == 0)
        return Error(ErrorCode::TargetExists, target.string());
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    TemporaryFile temporary;
    if (Result<void> created = temporary.create(target, folder); !created) return created;
    {
        FileSink sink(temporary.descriptor(), target.string());
        if (Result<void> written = writePackage(sink, sheets, activeSheet, styles); !written)
            return written;
    }
    if (Result<void> closed = temporary.close(target); !closed) return closed;
    if (existing == ExistingFile::Replace) {
        if (::rename(temporary.path().c_str(), target.c_str()) != 0)
            return Error(ErrorCode::WriteFailed, systemReason(target, errno));
    } else {
        if (Result<void> moved = renameNoReplace(temporary.path(), target); !moved) return moved;
    }
    temporary.release();
    syncFolder(folder);
    return {};
}

Result<std::vector<std::uint8_t>> writeXlsxToMemory(std::span<const SheetToWrite> sheets,
                                                    int activeSheet, const StyleRegistry& styles) {
    MemorySink sink;
    if (Result<void> written = writePackage(sink, sheets, activeSheet, styles); !written)
        return written.error();
    return sink.takeBytes();
}

}  // namespace spreadsheet
