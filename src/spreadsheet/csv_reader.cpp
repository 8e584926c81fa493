#include "spreadsheet/csv_reader.h"

#include <string_view>
#include <utility>
#include <vector>

#include "spreadsheet/detail/csv_values.h"
#include "spreadsheet/reader_limits.h"
#include "spreadsheet/sheet_builder.h"
#include "spreadsheet/text_encoding.h"
#include "spreadsheet/texts.h"

namespace spreadsheet {
namespace {

std::string rowText(int row) {
    return texts::RowPrefix + std::to_string(row) + texts::RowSuffix;
}

// Picks the separator: a first line "sep=X" names it; otherwise a comma, unless the first
// line holds no comma outside quotes but semicolons, tabs or vertical bars (exports made with a
// European list separator, tab-separated text, database dumps): then the most frequent of these,
// semicolon before tab before bar on a tie. Returns the offset where the data starts.
std::size_t chooseSeparator(std::string_view text, char& separator) {
    if (text.size() >= 5 && detail::equalsIgnoringCase(text.substr(0, 4), "SEP=")) {
        const char candidate = text[4];
        const std::size_t after = 5;
        const bool lineEnds = after == text.size() || text[after] == '\n' || text[after] == '\r';
        if (candidate != '"' && candidate != '\n' && candidate != '\r' && lineEnds) {
            separator = candidate;
            std::size_t position = after;
            if (position < text.size() && text[position] == '\r') ++position;
            if (position < text.size() && text[position] == '\n') ++position;
            return position;
        }
    }
    std::size_t commas = 0;
    std::size_t semicolons = 0;
    std::size_t tabs = 0;
    std::size_t bars = 0;
    bool quoted = false;
    for (const char character : text) {
        if (character == '"') quoted = !quoted;
        if (quoted) continue;
        if (character == '\n' || character == '\r') break;
        if (character == ',')
            ++commas;
        else if (character == ';')
            ++semicolons;
        else if (character == '\t')
            ++tabs;
        else if (character == '|')
            ++bars;
    }
    separator = ',';
    if (commas > 0) return 0;
    std::size_t most = 0;
    for (const auto& [candidate, count] :
         {std::pair{';', semicolons}, std::pair{'\t', tabs}, std::pair{'|', bars}}) {
        if (count > most) {
            most = count;
            separator = candidate;
        }
    }
    return 0;
}

class CsvParser {
public:
    CsvParser(std::string_view text, char separator, SheetBuilder& sheet,
              std::vector<CellStyle>& styles)
        : m_text(text), m_separator(separator), m_sheet(sheet), m_styles(styles) {}

    Result<void> parse(std::size_t start) {
        std::size_t position = start;
        const std::size_t size = m_text.size();
        while (position < size) {
            // One field per turn; the field ends at a separator, a line end or the end of text.
            std::string_view field;
            if (m_text[position] == '"') {
                Result<std::size_t> end = readQuoted(position);
                if (!end) return end.error();
                position = *end;
                field = m_buffer;
            } else {
                const std::size_t fieldStart = position;
                while (position < size && m_text[position] != m_separator &&
                       m_text[position] != '\n' && m_text[position] != '\r')
                    ++position;
                field = m_text.substr(fieldStart, position - fieldStart);
            }
            Result<void> stored = storeField(field);
            if (!stored) return stored;
            if (position >= size) break;
            const char ender = m_text[position];
            if (ender == m_separator) {
                ++position;
                ++m_column;
                if (m_column > XlsxMaxColumns)
                    return Error(ErrorCode::CsvLimit, rowText(m_row) + texts::OverColumnLimit);
                // A separator at the very end still opens an (empty) last field.
                continue;
            }
            // A line end: CRLF, LF or a lone CR.
            if (ender == '\r' && position + 1 < size && m_text[position + 1] == '\n') ++position;
            ++position;
            Result<void> ended = endRow();
            if (!ended) return ended;
        }
        return endRow();
    }

private:
    // Reads a quoted field starting at the opening quote into m_buffer; returns the offset
    // just past it. Doubled quotes are one quote; text after the closing quote up to the next
    // separator or line end is kept, as spreadsheet programs do. Line breaks inside become LF.
    Result<std::size_t> readQuoted(std::size_t position) {
        m_buffer.clear();
        const std::size_t size = m_text.size();
        const int startRow = m_row;
        ++position;
        while (true) {
            const std::size_t chunkStart = position;
            while (position < size && m_text[position] != '"' && m_text[position] != '\r')
                ++position;
            m_buffer.append(m_text.substr(chunkStart, position - chunkStart));
            if (m_buffer.size() > 4 * MaxCellTextUnits) return fieldTooLong();
            if (position >= size)
                return Error(ErrorCode::RecordCorrupt,
                             "CSV " + rowText(startRow) + texts::UnclosedQuote);
            if (m_text[position] == '\r') {
                m_buffer += '\n';
                ++position;
                if (position < size && m_text[position] == '\n') ++position;
                continue;
            }
            ++position;  // The quote.
            if (position < size && m_text[position] == '"') {
                m_buffer += '"';
                ++position;
                continue;
            }
            break;
        }
        const std::size_t tailStart = position;
        while (position < size && m_text[position] != m_separator && m_text[position] != '\n' &&
               m_text[position] != '\r')
            ++position;
        m_buffer.append(m_text.substr(tailStart, position - tailStart));
        return position;
    }

    Error fieldTooLong() const {
        return Error(ErrorCode::CsvLimit, rowText(m_row) + texts::ColumnPrefix +
                                              std::to_string(m_column) + texts::FieldOverCellLimit);
    }

    // Quoting only protects separators and line breaks: "12" is a number as 12 is.
    Result<void> storeField(std::string_view field) {
        if (field.empty()) return {};
        if (field.size() > MaxCellTextUnits && utf16Length(field) > MaxCellTextUnits)
            return fieldTooLong();
        if (m_row > XlsxMaxRows) return Error(ErrorCode::CsvLimit, texts::OverRowLimit);
        Cell cell;
        cell.column = m_column;
        const detail::CsvValue value = detail::readCsvValue(field);
        cell.type = value.type;
        cell.number = value.number;
        if (value.type == CellType::Text) cell.text.assign(field);
        if (value.numberFormat != nullptr) cell.style = styleOf(value.numberFormat);
        return m_sheet.addCell(m_row, std::move(cell));
    }

    // The book's style that shows numbers in `numberFormat`, added on first use. A CSV book
    // needs a handful at most: a list is quicker than a map.
    std::uint32_t styleOf(const char* numberFormat) {
        for (const auto& [format, style] : m_formatStyles)
            if (format == numberFormat) return style;
        CellStyle style;
        style.numberFormat = numberFormat;
        const auto index = static_cast<std::uint32_t>(m_styles.size());
        m_styles.push_back(std::move(style));
        m_formatStyles.emplace_back(numberFormat, index);
        return index;
    }

    Result<void> endRow() {
        ++m_row;
        m_column = 1;
        return {};
    }

    std::string_view m_text;
    char m_separator;
    SheetBuilder& m_sheet;
    std::vector<CellStyle>& m_styles;  // the book's
    std::vector<std::pair<const char*, std::uint32_t>> m_formatStyles;
    std::string m_buffer;  // the current quoted field
    int m_row = 1;
    int m_column = 1;
};

}  // namespace

Result<WorkbookData> readCsv(std::span<const std::uint8_t> bytes, const std::string& sheetName,
                             std::string_view encoding) {
    // UTF-8 text, the usual case, is parsed where it lies; other encodings are converted first.
    DecodedText decoded;
    std::string_view text;
    if (!encoding.empty()) {
        Result<DecodedText> forced = decodeTextAs(bytes, encoding);
        if (!forced) return forced.error();
        decoded = std::move(forced).value();
        text = decoded.text;
    } else {
        const ByteOrderMark mark = detectByteOrderMark(bytes);
        const std::span<const std::uint8_t> body = bytes.subspan(mark.length);
        text = std::string_view(reinterpret_cast<const char*>(body.data()), body.size());
        if (mark.encoding == TextEncoding::Utf8 && isValidUtf8(text)) {
            decoded.encoding = encoding_names::Utf8;
        } else {
            decoded = decodeAnyText(bytes);
            text = decoded.text;
        }
    }
    WorkbookData book;
    book.textEncoding = decoded.encoding;
    book.format = FileFormat::Csv;
    book.grid = XlsxGrid;
    book.activeSheet = 0;
    Sheet& sheet = book.sheets.emplace_back();
    sheet.name = sheetName;
    char separator = ',';
    const std::size_t start = chooseSeparator(text, separator);
    BookBuilder builder(book);
    SheetBuilder sheetBuilder(builder, sheet, "CSV");
    CsvParser parser(text, separator, sheetBuilder, book.styles);
    Result<void> parsed = parser.parse(start);
    if (!parsed) return parsed.error();
    sheetBuilder.finish();
    builder.finish();
    return book;
}

}  // namespace spreadsheet
