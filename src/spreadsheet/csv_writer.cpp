// CSV text of sheet values, the spool that keeps a result sheet's finished rows as CSV fields,
// and the writing of a CSV result folder.
#include "spreadsheet/csv_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "spreadsheet/atomic_file.h"
#include "spreadsheet/sheet_extent.h"
#include "spreadsheet/value_text.h"
#include "spreadsheet/zip_writer.h"

namespace spreadsheet {

namespace {

// Spooled text is handed to the file in pieces of about this size.
constexpr std::size_t SpoolSliceSize = 256 * 1024;

// What precedes each spooled row's fields in the spool file.
struct RecordHeader {
    std::int32_t row = 0;
    std::int32_t fields = 0;
    std::uint64_t length = 0;  // bytes of the fields
};

Result<void> writeBytes(OutputSink& sink, std::string_view bytes) {
    return sink.write(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

// Appends the end of a line: the commas of the fields a row lacks up to `width`, then "\n".
void appendLineEnd(std::string& out, int fields, int width) {
    if (width > 1)
        out.append(static_cast<std::size_t>(std::max(0, width - std::max(fields, 1))), ',');
    out += '\n';
}

}  // namespace

void appendCsvField(std::string& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += field;
        return;
    }
    out += '"';
    for (const char character : field) {
        if (character == '"') out += '"';
        out += character;
    }
    out += '"';
}

int appendCsvFields(std::string& out, const Row& row, int lastColumn,
                    const DateStyleTest& isDateStyle) {
    // The row's last cell holding a value, within the width asked for.
    int last = 0;
    for (auto cell = row.cells.rbegin(); cell != row.cells.rend(); ++cell)
        if (cell->column <= lastColumn && holdsValue(*cell)) {
            last = cell->column;
            break;
        }
    int next = 1;  // the column of the next field
    for (const Cell& cell : row.cells) {
        if (cell.column > last) break;
        if (cell.column < next) continue;  // a duplicate column: the first one counts
        // A comma before every field but the first; columns without a cell are empty fields.
        for (; next <= cell.column; ++next)
            if (next > 1) out += ',';
        const bool dated = cell.type == CellType::Number && isDateStyle && isDateStyle(cell.style);
        appendCsvField(out, valueText(cell, dated));
    }
    return last;
}

DateStyleTest dateStylesOf(const StyleRegistry& styles) {
    // 0 not yet known, 1 a date style, 2 not.
    auto known = std::make_shared<std::vector<std::uint8_t>>();
    return [&styles, known](std::uint32_t style) {
        if (style >= known->size()) known->resize(std::max<std::size_t>(style + 1, styles.size()));
        std::uint8_t& answer = (*known)[style];
        if (answer == 0) answer = isDateFormat(styles.style(style).numberFormat) ? 1 : 2;
        return answer == 1;
    };
}

struct CsvRowSpool::Impl {
    int fileDescriptor = -1;
    std::string directory;
    std::string pending;  // records not yet in the file
    std::uint64_t fileBytes = 0;
    bool failed = false;
    int lastRow = 0;
    int lastColumn = 0;
    int lastRowNumber = 0;

    ~Impl() {
        if (fileDescriptor >= 0) ::close(fileDescriptor);
    }

    Result<void> flush() {
        if (failed)
            return Error(ErrorCode::WriteFailed,
                         directory + ": an earlier write of the row spool failed");
        if (Result<void> written =
                writeScratch(fileDescriptor, pending.data(), pending.size(), directory);
            !written) {
            failed = true;
            return written;
        }
        fileBytes += pending.size();
        pending.clear();
        return {};
    }
};

CsvRowSpool::CsvRowSpool(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
CsvRowSpool::~CsvRowSpool() = default;
CsvRowSpool::CsvRowSpool(CsvRowSpool&&) noexcept = default;
CsvRowSpool& CsvRowSpool::operator=(CsvRowSpool&&) noexcept = default;

Result<CsvRowSpool> CsvRowSpool::create(const std::filesystem::path& directory) {
    auto impl = std::make_unique<Impl>();
    impl->directory = directory.string();
    Result<int> descriptor = openScratchFile(directory, ".sheetmerge-csv");
    if (!descriptor) return descriptor.error();
    impl->fileDescriptor = *descriptor;
    impl->pending.reserve(SpoolSliceSize + 4096);
    return CsvRowSpool(std::move(impl));
}

Result<void> CsvRowSpool::append(const Row& row, const DateStyleTest& isDateStyle) {
    Impl& d = *m_impl;
    if (d.failed)
        return Error(ErrorCode::WriteFailed,
                     d.directory + ": an earlier write of the row spool failed");
    if (row.number <= d.lastRowNumber)
        return Error(ErrorCode::OperationFailed, "row " + std::to_string(row.number) +
                                                     " appended after row " +
                                                     std::to_string(d.lastRowNumber));
    d.lastRowNumber = row.number;
    // The header goes in front of the fields once their length is known.
    const std::size_t headerAt = d.pending.size();
    d.pending.append(sizeof(RecordHeader), '\0');
    const int fields = appendCsvFields(d.pending, row, XlsxMaxColumns, isDateStyle);
    if (fields == 0) {
        d.pending.resize(headerAt);  // nothing to keep: the row becomes empty fields, if any
        return {};
    }
    RecordHeader header;
    header.row = row.number;
    header.fields = fields;
    header.length = d.pending.size() - headerAt - sizeof(RecordHeader);
    std::memcpy(d.pending.data() + headerAt, &header, sizeof header);
    d.lastRow = row.number;
    d.lastColumn = std::max(d.lastColumn, fields);
    if (d.pending.size() >= SpoolSliceSize) return d.flush();
    return {};
}

int CsvRowSpool::lastRow() const {
    return m_impl->lastRow;
}
int CsvRowSpool::lastColumn() const {
    return m_impl->lastColumn;
}
int CsvRowSpool::lastRowNumber() const {
    return m_impl->lastRowNumber;
}

namespace {

// Reads the spool file from its start, in large pieces.
class SpoolReader {
public:
    SpoolReader(int descriptor, std::uint64_t size, std::string directory)
        : m_descriptor(descriptor), m_size(size), m_directory(std::move(directory)) {
        m_buffer.resize(1 << 20);
    }
    bool atEnd() const { return m_offset + m_end == m_size && m_start == m_end; }
    // Hands `length` bytes to `take` in one or more pieces.
    Result<void> read(std::uint64_t length,
                      const std::function<Result<void>(std::string_view)>& take) {
        while (length > 0) {
            if (m_start == m_end) {
                if (Result<void> filled = fill(); !filled) return filled;
            }
            const std::size_t piece =
                static_cast<std::size_t>(std::min<std::uint64_t>(length, m_end - m_start));
            if (Result<void> taken = take({m_buffer.data() + m_start, piece}); !taken) return taken;
            m_start += piece;
            length -= piece;
        }
        return {};
    }

private:
    Result<void> fill() {
        m_offset += m_end;
        m_start = m_end = 0;
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(m_buffer.size(), m_size - m_offset));
        for (;;) {
            const ssize_t got =
                ::pread(m_descriptor, m_buffer.data(), wanted, static_cast<off_t>(m_offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0)
                return Error(
                    ErrorCode::WriteFailed,
                    m_directory + ": the row spool could not be read back" +
                        (got < 0 ? std::string(": ") + std::strerror(errno) : std::string()));
            m_end = static_cast<std::size_t>(got);
            return {};
        }
    }

    int m_descriptor;
    std::uint64_t m_size;
    std::string m_directory;
    std::vector<char> m_buffer;
    std::uint64_t m_offset = 0;  // file offset of the buffer's first byte
    std::size_t m_start = 0;
    std::size_t m_end = 0;
};

}  // namespace

Result<void> writeCsvSheet(OutputSink& sink, const CsvRowSpool* spooledRows,
                           const std::vector<Row>* rows, const DateStyleTest& isDateStyle,
                           ByteOrderMark mark, std::size_t headRows) {
    // The sheet's extent: the spooled rows', widened by the rows still in memory.
    int lastRow = spooledRows ? spooledRows->lastRow() : 0;
    int width = spooledRows ? spooledRows->lastColumn() : 0;
    if (rows) {
        for (const Row& row : *rows) {
            for (auto cell = row.cells.rbegin(); cell != row.cells.rend(); ++cell)
                if (holdsValue(*cell)) {
                    lastRow = std::max(lastRow, row.number);
                    width = std::max(width, cell->column);
                    break;
                }
        }
    }
    std::string out(mark == ByteOrderMark::Yes ? Utf8ByteOrderMark : std::string_view());
    int nextRow = 1;  // the first row whose line is not written yet
    auto emptyLinesBefore = [&](int row) {
        for (; nextRow < row; ++nextRow) appendLineEnd(out, 0, width);
    };
    auto flushIfLarge = [&]() -> Result<void> {
        if (out.size() < SpoolSliceSize) return {};
        Result<void> written = writeBytes(sink, out);
        out.clear();
        return written;
    };

    const std::size_t head = rows ? std::min(headRows, rows->size()) : 0;
    // Writes the entries from..to of `rows` that lie at or below the next line and hold it.
    auto writeRows = [&](std::size_t from, std::size_t to) -> Result<void> {
        for (std::size_t k = from; k < to; ++k) {
            const Row& row = (*rows)[k];
            if (row.number > lastRow) break;
            if (row.number < nextRow) continue;  // already written from the spool
            emptyLinesBefore(row.number);
            appendLineEnd(out, appendCsvFields(out, row, width, isDateStyle), width);
            nextRow = row.number + 1;
            if (Result<void> flushed = flushIfLarge(); !flushed) return flushed;
        }
        return {};
    };

    if (Result<void> written = writeRows(0, head); !written) return written;
    if (spooledRows && spooledRows->lastRow() > 0) {
        CsvRowSpool::Impl& spool = spooledRows->impl();
        if (Result<void> flushed = spool.flush(); !flushed) return flushed;
        SpoolReader reader(spool.fileDescriptor, spool.fileBytes, spool.directory);
        while (!reader.atEnd()) {
            RecordHeader header;
            std::size_t got = 0;
            if (Result<void> read = reader.read(sizeof header,
                                                [&](std::string_view piece) -> Result<void> {
                                                    std::memcpy(
                                                        reinterpret_cast<char*>(&header) + got,
                                                        piece.data(), piece.size());
                                                    got += piece.size();
                                                    return {};
                                                });
                !read)
                return read;
            emptyLinesBefore(header.row);
            if (Result<void> read = reader.read(header.length,
                                                [&](std::string_view piece) -> Result<void> {
                                                    out += piece;
                                                    return flushIfLarge();
                                                });
                !read)
                return read;
            appendLineEnd(out, header.fields, width);
            nextRow = header.row + 1;
            if (Result<void> flushed = flushIfLarge(); !flushed) return flushed;
        }
    }
    if (rows)
        if (Result<void> written = writeRows(head, rows->size()); !written) return written;
    emptyLinesBefore(lastRow + 1);
    if (Result<void> written = writeBytes(sink, out); !written) return written;
    return sink.flush();
}

Result<void> writeCsvFolder(const std::filesystem::path& target,
                            const std::vector<CsvSheetToWrite>& sheets,
                            const DateStyleTest& isDateStyle) {
    for (const CsvSheetToWrite& sheet : sheets) {
        const std::string& name = sheet.fileName;
        if (name.empty() || name == "." || name == ".." ||
            name.find_first_of(std::string_view("/\0", 2)) != std::string::npos)
            return Error(ErrorCode::WriteFailed, target.string() + ": no plain file name: " + name);
    }
    return writeFolderAtomically(target, [&](const std::filesystem::path& folder) -> Result<void> {
        for (const CsvSheetToWrite& sheet : sheets) {
            Result<void> written = writeFileAtomically(
                folder / sheet.fileName, ExistingFile::Refuse, [&](OutputSink& sink) {
                    return writeCsvSheet(sink, sheet.spooledRows, sheet.rows, isDateStyle,
                                         ByteOrderMark::Yes, sheet.headRows);
                });
            if (!written) return written;
        }
        return {};
    });
}

}  // namespace spreadsheet
