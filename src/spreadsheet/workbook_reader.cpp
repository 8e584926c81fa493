#include "spreadsheet/workbook_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "spreadsheet/cfb.h"
#include "spreadsheet/csv_reader.h"
#include "spreadsheet/html_table_reader.h"
#include "spreadsheet/office_crypto.h"
#include "spreadsheet/reader_limits.h"
#include "spreadsheet/spreadsheetml_reader.h"
#include "spreadsheet/text_encoding.h"
#include "spreadsheet/texts.h"
#include "spreadsheet/xls_reader.h"
#include "spreadsheet/xlsx_reader.h"

namespace spreadsheet {
namespace {

// How much of the start decides between text and binary content.
constexpr std::size_t SniffBytes = 8192;

std::uint16_t littleEndian16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

bool startsWith(std::span<const std::uint8_t> bytes, std::initializer_list<std::uint8_t> prefix) {
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

// A worksheet BOF record (BIFF2 to BIFF8) at offset 0: the stream of an .xls file that is not
// wrapped in a compound file, as Excel 2 to 4 wrote them.
bool startsWithBiffBof(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 8) return false;
    const std::uint16_t id = littleEndian16(bytes, 0);
    const std::uint16_t length = littleEndian16(bytes, 2);
    const bool bofId = id == 0x0009 || id == 0x0209 || id == 0x0409 || id == 0x0809;
    return bofId && length >= 4 && length <= 32;
}

// The first bytes in hex, as evidence for a file nothing can read.
std::string leadingBytesHex(std::span<const std::uint8_t> bytes) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string hex = texts::LeadingBytes;
    const std::size_t count = std::min<std::size_t>(bytes.size(), 8);
    for (std::size_t index = 0; index < count; ++index) {
        hex += ' ';
        hex += Digits[bytes[index] >> 4];
        hex += Digits[bytes[index] & 0x0F];
    }
    return hex;
}

// HTML tables and SpreadsheetML saved under a spreadsheet name are text too, but not CSV.
bool looksLikeMarkup(std::span<const std::uint8_t> bytes) {
    std::size_t position = 0;
    if (startsWith(bytes, {0xEF, 0xBB, 0xBF})) position = 3;
    while (position < bytes.size() && (bytes[position] == ' ' || bytes[position] == '\t' ||
                                       bytes[position] == '\r' || bytes[position] == '\n'))
        ++position;
    std::string start;
    for (; position < bytes.size() && start.size() < 16; ++position)
        start += static_cast<char>(std::tolower(bytes[position]));
    for (const std::string_view prefix :
         {"<?xml", "<html", "<!doctype", "<table", "<head", "<body"})
        if (start.starts_with(prefix)) return true;
    return false;
}

// Excel names the sheet of a file that carries no sheet name (CSV, BIFF2-4 worksheets) after
// the file without its extension, cut to 31 characters.
std::string sheetNameFromFile(const std::string& fileName) {
    std::string stem = std::filesystem::path(fileName).stem().string();
    std::size_t units = 0;
    for (std::size_t position = 0; position < stem.size(); ++position) {
        const std::size_t width = utf16UnitsOf(static_cast<unsigned char>(stem[position]));
        if (width == 0) continue;
        if (units + width > 31) {
            stem.resize(position);
            break;
        }
        units += width;
    }
    return stem;
}

// What a file's extension allows it to hold. Extensions compare as written, as the folder walk
// and the choice of the sample compare them.
enum class ExtensionRule { Any, Package, Text };

ExtensionRule extensionRule(const std::string& fileName) {
    const std::string extension = std::filesystem::path(fileName).extension().string();
    if (extension == ".xlsx" || extension == ".xlsm") return ExtensionRule::Package;
    if (extension == ".csv") return ExtensionRule::Text;
    return ExtensionRule::Any;
}

Error extensionMismatch(const std::string& fileName, ContentKind kind,
                        std::span<const std::uint8_t> bytes) {
    const std::string extension = std::filesystem::path(fileName).extension().string();
    std::string detail = texts::ExtensionHead + extension;
    if (extensionRule(fileName) == ExtensionRule::Text) {
        detail += texts::NotTextTail;
        if (kind == ContentKind::Zip) detail += texts::ContentIsXlsx;
        if (kind == ContentKind::CompoundFile || kind == ContentKind::Biff)
            detail += texts::ContentIsXls;
    } else {
        detail += texts::NotAWorkbookTail;
        if (kind == ContentKind::Text) detail += texts::ContentIsText;
        if (kind == ContentKind::CompoundFile || kind == ContentKind::Biff)
            detail += texts::ContentIsXls;
    }
    if (kind == ContentKind::Unknown) detail += "（" + leadingBytesHex(bytes) + "）";
    return Error(ErrorCode::ExtensionMismatch, std::move(detail));
}

// UTF-16 text without a byte-order mark: NUL in the high byte of most characters (the ASCII
// separators, digits and line ends of CSV), hardly ever in the low one. Returns the encoding's
// name or "".
const char* unmarkedUtf16(std::span<const std::uint8_t> bytes) {
    const std::size_t units = std::min<std::size_t>(bytes.size(), SniffBytes) / 2;
    if (units < 2) return "";
    std::size_t zeroLow = 0;
    std::size_t zeroHigh = 0;
    for (std::size_t unit = 0; unit < units; ++unit) {
        if (bytes[2 * unit] == 0) ++zeroLow;
        if (bytes[2 * unit + 1] == 0) ++zeroHigh;
    }
    if (zeroHigh * 2 >= units && zeroLow * 20 <= units) return encoding_names::Utf16LittleEndian;
    if (zeroLow * 2 >= units && zeroHigh * 20 <= units) return encoding_names::Utf16BigEndian;
    return "";
}

Error fileError(int errorNumber, const std::filesystem::path& path) {
    const std::string evidence = path.string() + ": " + std::strerror(errorNumber);
    if (errorNumber == ENOENT || errorNumber == ENOTDIR)
        return Error(ErrorCode::FileNotFound, evidence);
    return Error(ErrorCode::FileNotReadable, evidence);
}

}  // namespace

ContentKind sniffContent(std::span<const std::uint8_t> firstBytes) {
    if (firstBytes.empty()) return ContentKind::Empty;
    if (startsWith(firstBytes, {'P', 'K', 0x03, 0x04}) ||
        startsWith(firstBytes, {'P', 'K', 0x05, 0x06}) ||
        startsWith(firstBytes, {'P', 'K', 0x07, 0x08}))
        return ContentKind::Zip;
    if (startsWith(firstBytes, {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}))
        return ContentKind::CompoundFile;
    if (startsWithBiffBof(firstBytes)) return ContentKind::Biff;
    if (startsWith(firstBytes, {0xEF, 0xBB, 0xBF}) || startsWith(firstBytes, {0xFF, 0xFE}) ||
        startsWith(firstBytes, {0xFE, 0xFF}))
        return ContentKind::Text;
    // Without a byte-order mark, text has no NUL bytes and hardly any other control bytes.
    const std::span<const std::uint8_t> head =
        firstBytes.first(std::min(firstBytes.size(), SniffBytes));
    std::size_t controlBytes = 0;
    for (const std::uint8_t byte : head) {
        if (byte == 0) return ContentKind::Unknown;
        const bool allowed =
            byte == '\t' || byte == '\n' || byte == '\r' || byte == '\f' || byte == 0x1A;
        if (byte < 0x20 && !allowed) ++controlBytes;
        if (byte == 0x7F) ++controlBytes;
    }
    if (controlBytes * 32 > head.size()) return ContentKind::Unknown;
    return ContentKind::Text;
}

Result<WorkbookData> readWorkbook(std::span<const std::uint8_t> bytes, const std::string& fileName,
                                  const OpenOptions& options) {
    const ContentKind kind = sniffContent(bytes);
    if (kind == ContentKind::Empty) return Error(ErrorCode::UnknownFormat, texts::EmptyFile);
    switch (extensionRule(fileName)) {
        case ExtensionRule::Package:
            if (kind == ContentKind::Zip) return readXlsx(bytes);
            if (kind == ContentKind::CompoundFile) {
                Result<CompoundFile> file = CompoundFile::open(bytes);
                if (!file) return file.error();
                if (holdsEncryptedPackage(*file)) {
                    Result<std::vector<std::uint8_t>> package =
                        decryptPackage(*file, options.passwords);
                    if (!package) return package.error();
                    return readXlsx(*package);
                }
            }
            return extensionMismatch(fileName, kind, bytes);
        case ExtensionRule::Text:
            if (kind == ContentKind::Text)
                return readCsv(bytes, sheetNameFromFile(fileName), options.csvEncoding);
            if (kind == ContentKind::Unknown) {
                const std::string_view utf16 = unmarkedUtf16(bytes);
                if (!utf16.empty())
                    return readCsv(bytes, sheetNameFromFile(fileName),
                                   options.csvEncoding.empty() ? utf16 : options.csvEncoding);
            }
            return extensionMismatch(fileName, kind, bytes);
        case ExtensionRule::Any:
            break;
    }
    switch (kind) {
        case ContentKind::Empty:
            return Error(ErrorCode::UnknownFormat, texts::EmptyFile);
        case ContentKind::Zip:
            return readXlsx(bytes);
        case ContentKind::CompoundFile: {
            // A password-protected .xlsx/.xlsm: the package inside is decrypted in memory.
            Result<CompoundFile> file = CompoundFile::open(bytes);
            if (file && holdsEncryptedPackage(*file)) {
                Result<std::vector<std::uint8_t>> package =
                    decryptPackage(*file, options.passwords);
                if (!package) return package.error();
                return readXlsx(*package);
            }
            return readXls(bytes, std::string(), options.passwords);
        }
        case ContentKind::Biff: {
            Result<WorkbookData> book = readXls(bytes);
            // An Excel 2-4 worksheet file holds one unnamed sheet; BIFF5/8 streams name theirs.
            const bool unnamedWorksheetFile = littleEndian16(bytes, 0) != 0x0809;
            if (book && unnamedWorksheetFile && book->sheets.size() == 1)
                book->sheets[0].name = sheetNameFromFile(fileName);
            return book;
        }
        case ContentKind::Text:
            // Business systems export HTML tables and Excel 2003 XML under an .xls name.
            if (looksLikeSpreadsheetMl(bytes)) return readSpreadsheetMl(bytes);
            if (looksLikeHtmlTable(bytes)) return readHtmlTable(bytes, sheetNameFromFile(fileName));
            if (looksLikeMarkup(bytes)) return Error(ErrorCode::UnknownFormat, texts::MarkupNotCsv);
            return readCsv(bytes, sheetNameFromFile(fileName), options.csvEncoding);
        case ContentKind::Unknown:
            break;
    }
    return Error(ErrorCode::UnknownFormat, leadingBytesHex(bytes));
}

Result<WorkbookData> openWorkbookFile(const std::filesystem::path& path,
                                      const OpenOptions& options) {
    // Read-only, without a lock and without following into a terminal: a source is never changed.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (descriptor < 0) return fileError(errno, path);
    struct Closer {
        int descriptor;
        ~Closer() { ::close(descriptor); }
    } closer{descriptor};
    struct stat status {};
    if (::fstat(descriptor, &status) != 0) return fileError(errno, path);
    if (S_ISDIR(status.st_mode))
        return Error(ErrorCode::FileNotReadable, path.string() + texts::IsFolder);
    if (!S_ISREG(status.st_mode))
        return Error(ErrorCode::FileNotReadable, path.string() + texts::NotRegularFile);
    if (static_cast<std::uint64_t>(status.st_size) > MaxFileBytes)
        return Error(ErrorCode::FileTooLarge,
                     std::to_string(status.st_size) + texts::BytesOverLimit);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(status.st_size));
    std::array<std::uint8_t, 1 << 16> chunk;
    while (true) {
        const ssize_t count = ::read(descriptor, chunk.data(), chunk.size());
        if (count < 0) {
            if (errno == EINTR) continue;
            return fileError(errno, path);
        }
        if (count == 0) break;
        // The limit holds for what is read, also when the file grows while it is read.
        if (bytes.size() + static_cast<std::size_t>(count) > MaxFileBytes)
            return Error(ErrorCode::FileTooLarge, texts::ReadOverLimit);
        bytes.insert(bytes.end(), chunk.data(), chunk.data() + count);
    }
    return readWorkbook(bytes, path.filename().string(), options);
}

}  // namespace spreadsheet
