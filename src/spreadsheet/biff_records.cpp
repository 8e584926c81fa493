#include "spreadsheet/biff_records.h"

#include "spreadsheet/text_encoding.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace spreadsheet {
namespace {

Error shortRecord(const BiffRecord& record, const char* what, std::size_t needed) {
    char id[8];
    std::snprintf(id, sizeof id, "0x%04X", record.id);
    return Error(ErrorCode::RecordCorrupt, std::string(what) + " record " + id + " at offset " +
                                               std::to_string(record.offset) + " has " +
                                               std::to_string(record.data.size()) +
                                               " bytes, needs " + std::to_string(needed));
}

const char* iconvName(std::uint16_t codePage) {
    switch (codePage) {
        case 367:
            return "ASCII";
        case 437:
            return "CP437";
        case 737:
            return "CP737";
        case 775:
            return "CP775";
        case 850:
            return "CP850";
        case 852:
            return "CP852";
        case 855:
            return "CP855";
        case 857:
            return "CP857";
        case 860:
            return "CP860";
        case 861:
            return "CP861";
        case 862:
            return "CP862";
        case 863:
            return "CP863";
        case 864:
            return "CP864";
        case 865:
            return "CP865";
        case 866:
            return "CP866";
        case 869:
            return "CP869";
        case 874:
            return "CP874";
        case 932:
            return "CP932";
        case 936:
            return "CP936";
        case 949:
            return "CP949";
        case 950:
            return "CP950";
        case 1250:
            return "CP1250";
        case 1251:
            return "CP1251";
        // 1200 (UTF-16) in a byte-string file and 32769 both mean the Windows Latin page here.
        case 1200:
        case 1252:
        case 32769:
            return "CP1252";
        case 1253:
            return "CP1253";
        case 1254:
            return "CP1254";
        case 1255:
            return "CP1255";
        case 1256:
            return "CP1256";
        case 1257:
            return "CP1257";
        case 1258:
            return "CP1258";
        case 1361:
            return "JOHAB";
        case 10000:
        case 32768:
            return "MACINTOSH";
        default:
            return nullptr;
    }
}

}  // namespace

Result<bool> BiffCursor::next(BiffRecord& record) {
    if (m_offset >= m_stream.size()) return false;
    if (m_stream.size() - m_offset < 4) {
        // A stream cut inside the header of its last record: nothing of that record is left.
        m_cutShort = true;
        m_offset = m_stream.size();
        return false;
    }
    std::uint16_t id = readU16(m_stream, m_offset);
    std::size_t length = readU16(m_stream, m_offset + 2);
    if (m_stream.size() - m_offset - 4 < length) {
        // The last record claims more than the stream holds; it brings the bytes there are.
        m_cutShort = true;
        length = m_stream.size() - m_offset - 4;
    }
    record.id = id;
    record.offset = m_offset;
    record.data = m_stream.subspan(m_offset + 4, length);
    m_offset += 4 + length;
    return true;
}

std::optional<std::uint16_t> BiffCursor::peekId() const {
    if (m_offset >= m_stream.size() || m_stream.size() - m_offset < 4) return std::nullopt;
    return readU16(m_stream, m_offset);
}

double readF64(std::span<const std::uint8_t> data, std::size_t offset) {
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | data[offset + static_cast<std::size_t>(i)];
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

double decodeRk(std::uint32_t rk) {
    double value;
    if (rk & 2) {
        value = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
    } else {
        std::uint64_t bits = static_cast<std::uint64_t>(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return (rk & 1) ? value / 100.0 : value;
}

CodePageDecoder::CodePageDecoder() {
    m_converter = iconv_open("UTF-8", "CP1252");
}

CodePageDecoder::~CodePageDecoder() {
    if (m_converter != nullptr && m_converter != reinterpret_cast<void*>(-1)) {
        iconv_close(static_cast<iconv_t>(m_converter));
    }
}

Result<void> CodePageDecoder::setCodePage(std::uint16_t codePage) {
    const char* name = iconvName(codePage);
    if (name == nullptr) {
        return Error(ErrorCode::TextEncoding,
                     "code page " + std::to_string(codePage) + " is not supported");
    }
    iconv_t converter = iconv_open("UTF-8", name);
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return Error(ErrorCode::TextEncoding, "code page " + std::to_string(codePage) + " (" +
                                                  name + ") is not available on this system");
    }
    if (m_converter != nullptr && m_converter != reinterpret_cast<void*>(-1)) {
        iconv_close(static_cast<iconv_t>(m_converter));
    }
    m_converter = converter;
    m_codePage = codePage;
    m_set = true;
    return {};
}

void CodePageDecoder::decode(std::span<const std::uint8_t> bytes, std::string& out) const {
    if (std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t byte) { return byte < 0x80; })) {
        out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return;
    }
    if (m_converter == nullptr || m_converter == reinterpret_cast<void*>(-1)) {
        for (std::uint8_t byte : bytes) appendUtf8(out, byte);  // Latin-1 as a last resort
        return;
    }
    iconv_t converter = static_cast<iconv_t>(m_converter);
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    char* input = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
    std::size_t inputLeft = bytes.size();
    char buffer[1024];
    while (inputLeft > 0) {
        char* output = buffer;
        std::size_t outputLeft = sizeof buffer;
        std::size_t converted = iconv(converter, &input, &inputLeft, &output, &outputLeft);
        out.append(buffer, static_cast<std::size_t>(output - buffer));
        if (converted == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG) continue;
            // An invalid or cut-off sequence: one replacement character per bad byte.
            appendUtf8(out, 0xFFFD);
            ++input;
            --inputLeft;
            iconv(converter, nullptr, nullptr, nullptr, nullptr);
        }
    }
}

bool ContinuedReader::atEnd() {
    while (m_segment < m_segments.size() && m_position >= m_segments[m_segment].size()) {
        ++m_segment;
        m_position = 0;
    }
    return m_segment >= m_segments.size();
}

Result<void> ContinuedReader::readBytes(std::size_t count, std::uint8_t* out) {
    while (count > 0) {
        if (atEnd()) return Error(ErrorCode::RecordCorrupt, "string data ends inside a string");
        std::span<const std::uint8_t> segment = m_segments[m_segment];
        std::size_t take = std::min(count, segment.size() - m_position);
        if (out != nullptr) {
            std::memcpy(out, segment.data() + m_position, take);
            out += take;
        }
        m_position += take;
        count -= take;
    }
    return {};
}

Result<void> ContinuedReader::skip(std::size_t count) {
    return readBytes(count, nullptr);
}

std::size_t utf8OffsetOfUnit(std::string_view text, std::size_t unit) {
    std::size_t units = 0;
    std::size_t offset = 0;
    while (offset < text.size() && units < unit) {
        units += utf16UnitsOf(static_cast<unsigned char>(text[offset]));
        ++offset;
        while (offset < text.size() && (static_cast<unsigned char>(text[offset]) & 0xC0) == 0x80)
            ++offset;
    }
    return offset;
}

Result<void> ContinuedReader::readUnicodeString(std::string& out, bool richExtended,
                                                std::vector<FormatRun>* runs) {
    std::uint8_t header[3];
    if (Result<void> read = readBytes(3, header); !read) return read;
    std::size_t remaining = static_cast<std::size_t>(header[0] | (header[1] << 8));
    std::uint8_t flags = header[2];
    std::size_t runBytes = 0;
    std::size_t extendedBytes = 0;
    if (richExtended && (flags & 0x08)) {
        std::uint8_t count[2];
        if (Result<void> read = readBytes(2, count); !read) return read;
        runBytes = 4 * static_cast<std::size_t>(count[0] | (count[1] << 8));
    }
    if (richExtended && (flags & 0x04)) {
        std::uint8_t count[4];
        if (Result<void> read = readBytes(4, count); !read) return read;
        extendedBytes = readU32(std::span<const std::uint8_t>(count, 4), 0);
    }
    bool highByte = flags & 0x01;
    m_units.clear();
    // A character count past the end of the data cuts the string there, as spreadsheet
    // programs read it.
    while (remaining > 0 && m_segment < m_segments.size()) {
        std::span<const std::uint8_t> segment = m_segments[m_segment];
        if (m_position >= segment.size()) {
            // The character array goes on in the next CONTINUE, after its own flags byte.
            ++m_segment;
            m_position = 0;
            if (m_segment >= m_segments.size() || m_segments[m_segment].empty()) break;
            highByte = m_segments[m_segment][0] & 0x01;
            m_position = 1;
            continue;
        }
        std::size_t available = segment.size() - m_position;
        const std::uint8_t* bytes = segment.data() + m_position;
        if (highByte) {
            std::size_t count = std::min(remaining, available / 2);
            for (std::size_t i = 0; i < count; ++i) {
                m_units.push_back(static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
            }
            remaining -= count;
            // A lone byte at the end of a record cannot hold a character: skip it.
            m_position += count == 0 ? available : count * 2;
        } else {
            std::size_t count = std::min(remaining, available);
            for (std::size_t i = 0; i < count; ++i) m_units.push_back(bytes[i]);
            remaining -= count;
            m_position += count;
        }
    }
    appendUtf16(m_units, out);
    if (remaining > 0) return {};  // cut: its runs and phonetic data are gone too
    if (runs == nullptr || runBytes == 0) return skip(runBytes + extendedBytes);
    std::vector<std::uint8_t> bytes(runBytes);
    if (Result<void> read = readBytes(runBytes, bytes.data()); !read) return read;
    for (std::size_t offset = 0; offset < runBytes; offset += 4)
        runs->push_back({readU16(bytes, offset), readU16(bytes, offset + 2)});
    return skip(extendedBytes);
}

Result<void> readRecordString(std::span<const std::uint8_t> data, std::size_t& offset,
                              int lengthBytes, BiffVersion version, const CodePageDecoder& decoder,
                              std::string& out) {
    if (offset > data.size() || data.size() - offset < static_cast<std::size_t>(lengthBytes)) {
        return Error(ErrorCode::RecordCorrupt, "string length missing at the end of its record (" +
                                                   std::to_string(data.size()) + " bytes)");
    }
    std::size_t count = lengthBytes == 1 ? data[offset] : readU16(data, offset);
    offset += static_cast<std::size_t>(lengthBytes);
    // A count past the end of the record is a writer's fault that spreadsheet programs pass
    // over: the string ends with the record (a government archive's LABEL records).
    if (version != BiffVersion::Biff8) {
        count = std::min(count, data.size() - offset);
        decoder.decode(data.subspan(offset, count), out);
        offset += count;
        return {};
    }
    if (offset >= data.size()) return {};
    std::uint8_t flags = data[offset++];
    std::size_t runBytes = 0;
    std::size_t extendedBytes = 0;
    if ((flags & 0x08) && data.size() - offset >= 2) {
        runBytes = 4 * static_cast<std::size_t>(readU16(data, offset));
        offset += 2;
    }
    if ((flags & 0x04) && data.size() - offset >= 4) {
        extendedBytes = readU32(data, offset);
        offset += 4;
    }
    if (flags & 0x01) {
        count = std::min(count, (data.size() - offset) / 2);
        std::u16string units;
        units.reserve(count);
        for (std::size_t i = 0; i < count; ++i)
            units.push_back(static_cast<char16_t>(readU16(data, offset + 2 * i)));
        appendUtf16(units, out);
        offset += 2 * count;
    } else {
        count = std::min(count, data.size() - offset);
        for (std::size_t i = 0; i < count; ++i) appendUtf8(out, data[offset + i]);
        offset += count;
    }
    // Formatting runs and phonetic data are not kept; a record that ends early loses nothing we
    // read.
    offset += std::min(data.size() - offset, runBytes + extendedBytes);
    return {};
}

Result<BofRecord> parseBof(const BiffRecord& record) {
    if (record.data.size() < 4) return shortRecord(record, "BOF", 4);
    BofRecord bof;
    bof.type = readU16(record.data, 2);
    switch (record.id) {
        case biff::Bof2:
            bof.version = BiffVersion::Biff2;
            break;
        case biff::Bof3:
            bof.version = BiffVersion::Biff3;
            break;
        case biff::Bof4:
            bof.version = BiffVersion::Biff4;
            break;
        default:
            bof.version =
                readU16(record.data, 0) >= 0x0600 ? BiffVersion::Biff8 : BiffVersion::Biff5;
            break;
    }
    return bof;
}

Result<BoundSheetRecord> parseBoundSheet(const BiffRecord& record, BiffVersion version,
                                         const CodePageDecoder& decoder) {
    if (record.data.size() < 7) return shortRecord(record, "BOUNDSHEET", 7);
    BoundSheetRecord sheet;
    sheet.streamOffset = readU32(record.data, 0);
    sheet.state = record.data[4] & 0x03;
    sheet.type = record.data[5];
    std::size_t offset = 6;
    if (Result<void> read = readRecordString(record.data, offset, 1, version, decoder, sheet.name);
        !read) {
        return read.error();
    }
    return sheet;
}

Result<FontRecord> parseFont(const BiffRecord& record, BiffVersion version,
                             const CodePageDecoder& decoder) {
    FontRecord font;
    const auto& data = record.data;
    std::size_t nameOffset = 0;
    if (version == BiffVersion::Biff5 || version == BiffVersion::Biff8) {
        if (data.size() < 15) return shortRecord(record, "FONT", 15);
        std::uint16_t flags = readU16(data, 2);
        font.italic = flags & 0x02;
        font.strike = flags & 0x08;
        font.colorIndex = readU16(data, 4);
        font.weight = readU16(data, 6);
        font.script = readU16(data, 8);
        font.underline = data[10];
        font.family = data[11];
        font.charset = data[12];
        nameOffset = 14;
    } else {
        // BIFF2-4: height, flags (bold, italic, underline, strike), BIFF3-4 a colour, the name.
        // Excel 2.x's FONT has no colour (FONTCOLOR gives it), whatever version claims it.
        bool withColor = record.id == biff::Font34;
        std::size_t fixed = withColor ? 6 : 4;
        if (data.size() < fixed + 1) return shortRecord(record, "FONT", fixed + 1);
        std::uint16_t flags = readU16(data, 2);
        font.weight = (flags & 0x01) ? 700 : 400;
        font.italic = flags & 0x02;
        font.underline = (flags & 0x04) ? 1 : 0;
        font.strike = flags & 0x08;
        if (withColor) font.colorIndex = readU16(data, 4);
        nameOffset = fixed;
    }
    font.heightPoints = readU16(data, 0) / 20.0;
    if (Result<void> read = readRecordString(data, nameOffset, 1, version, decoder, font.name);
        !read) {
        return read.error();
    }
    return font;
}

Result<FormatRecord> parseFormat(const BiffRecord& record, BiffVersion version,
                                 const CodePageDecoder& decoder) {
    FormatRecord format;
    std::size_t offset = 0;
    int lengthBytes = 1;
    switch (version) {
        case BiffVersion::Biff8:
            if (record.data.size() < 2) return shortRecord(record, "FORMAT", 2);
            format.index = readU16(record.data, 0);
            offset = 2;
            lengthBytes = 2;
            break;
        case BiffVersion::Biff5:
            if (record.data.size() < 2) return shortRecord(record, "FORMAT", 2);
            format.index = readU16(record.data, 0);
            offset = 2;
            break;
        default:
            // BIFF2-4 number their formats in order. Excel 4.0's record keeps an unused index
            // field; Excel 2.x and 3.0's (0x001E) has none.
            offset = record.id == biff::Format ? 2 : 0;
            break;
    }
    if (Result<void> read =
            readRecordString(record.data, offset, lengthBytes, version, decoder, format.code);
        !read) {
        return read.error();
    }
    return format;
}

namespace {

// The fill and borders of a BIFF3 or BIFF4 XF, from byte 6 on: 5-bit colour indexes.
void readBiff34FillAndBorders(std::span<const std::uint8_t> data, XfRecord& xf) {
    std::uint16_t fill = readU16(data, 6);
    xf.pattern = fill & 0x3F;
    xf.patternColor = (fill >> 6) & 0x1F;
    xf.backgroundColor = (fill >> 11) & 0x1F;
    std::uint32_t borders = readU32(data, 8);
    xf.topStyle = borders & 0x07;
    xf.topColor = (borders >> 3) & 0x1F;
    xf.leftStyle = (borders >> 8) & 0x07;
    xf.leftColor = (borders >> 11) & 0x1F;
    xf.bottomStyle = (borders >> 16) & 0x07;
    xf.bottomColor = (borders >> 19) & 0x1F;
    xf.rightStyle = (borders >> 24) & 0x07;
    xf.rightColor = (borders >> 27) & 0x1F;
}

}  // namespace

Result<XfRecord> parseXf(const BiffRecord& record, BiffVersion version) {
    XfRecord xf;
    const auto& data = record.data;
    if (version == BiffVersion::Biff8) {
        if (data.size() < 20) return shortRecord(record, "XF", 20);
        xf.fontIndex = readU16(data, 0);
        xf.formatIndex = readU16(data, 2);
        std::uint16_t protection = readU16(data, 4);
        xf.locked = protection & 0x01;
        xf.hidden = protection & 0x02;
        xf.horizontal = data[6] & 0x07;
        xf.wrap = data[6] & 0x08;
        xf.vertical = (data[6] >> 4) & 0x07;
        xf.rotation = data[7];
        xf.indent = data[8] & 0x0F;
        xf.shrinkToFit = data[8] & 0x10;
        std::uint32_t borders = readU32(data, 10);
        xf.leftStyle = borders & 0x0F;
        xf.rightStyle = (borders >> 4) & 0x0F;
        xf.topStyle = (borders >> 8) & 0x0F;
        xf.bottomStyle = (borders >> 12) & 0x0F;
        xf.leftColor = (borders >> 16) & 0x7F;
        xf.rightColor = (borders >> 23) & 0x7F;
        xf.diagonalDown = (borders >> 30) & 0x01;
        xf.diagonalUp = (borders >> 31) & 0x01;
        std::uint32_t more = readU32(data, 14);
        xf.topColor = more & 0x7F;
        xf.bottomColor = (more >> 7) & 0x7F;
        xf.diagonalColor = (more >> 14) & 0x7F;
        xf.diagonalStyle = (more >> 21) & 0x0F;
        xf.pattern = (more >> 26) & 0x3F;
        std::uint16_t colors = readU16(data, 18);
        xf.patternColor = colors & 0x7F;
        xf.backgroundColor = (colors >> 7) & 0x7F;
    } else if (version == BiffVersion::Biff5) {
        if (data.size() < 16) return shortRecord(record, "XF", 16);
        xf.fontIndex = readU16(data, 0);
        xf.formatIndex = readU16(data, 2);
        std::uint16_t protection = readU16(data, 4);
        xf.locked = protection & 0x01;
        xf.hidden = protection & 0x02;
        xf.horizontal = data[6] & 0x07;
        xf.wrap = data[6] & 0x08;
        xf.vertical = (data[6] >> 4) & 0x07;
        static constexpr std::uint8_t Orientation[4] = {0, 255, 90, 180};
        xf.rotation = Orientation[data[7] & 0x03];
        std::uint32_t fill = readU32(data, 8);
        xf.patternColor = fill & 0x7F;
        xf.backgroundColor = (fill >> 7) & 0x7F;
        xf.pattern = (fill >> 16) & 0x3F;
        xf.bottomStyle = (fill >> 22) & 0x07;
        xf.bottomColor = (fill >> 25) & 0x7F;
        std::uint32_t borders = readU32(data, 12);
        xf.topStyle = borders & 0x07;
        xf.leftStyle = (borders >> 3) & 0x07;
        xf.rightStyle = (borders >> 6) & 0x07;
        xf.topColor = (borders >> 9) & 0x7F;
        xf.leftColor = (borders >> 16) & 0x7F;
        xf.rightColor = (borders >> 23) & 0x7F;
    } else if (version == BiffVersion::Biff4) {
        if (data.size() < 12) return shortRecord(record, "XF", 12);
        xf.fontIndex = data[0];
        xf.formatIndex = data[1];
        std::uint16_t protection = readU16(data, 2);
        xf.locked = protection & 0x01;
        xf.hidden = protection & 0x02;
        xf.horizontal = data[4] & 0x07;
        xf.wrap = data[4] & 0x08;
        xf.vertical = (data[4] >> 4) & 0x03;
        static constexpr std::uint8_t Orientation[4] = {0, 255, 90, 180};
        xf.rotation = Orientation[(data[4] >> 6) & 0x03];
        readBiff34FillAndBorders(data, xf);
    } else if (version == BiffVersion::Biff3) {
        if (data.size() < 12) return shortRecord(record, "XF", 12);
        xf.fontIndex = data[0];
        xf.formatIndex = data[1];
        std::uint16_t protection = readU16(data, 2);
        xf.locked = protection & 0x01;
        xf.hidden = protection & 0x02;
        xf.horizontal = data[4] & 0x07;
        xf.wrap = data[4] & 0x08;
        readBiff34FillAndBorders(data, xf);
    } else {
        if (data.size() < 4) return shortRecord(record, "XF", 4);
        xf = biff2Xf(data[0], data[2], data[3]);
    }
    return xf;
}

XfRecord biff2Xf(std::uint8_t font, std::uint8_t formatAndProtection, std::uint8_t flags) {
    XfRecord xf;
    xf.fontIndex = font;
    xf.formatIndex = formatAndProtection & 0x3F;
    xf.locked = formatAndProtection & 0x40;
    xf.hidden = formatAndProtection & 0x80;
    xf.horizontal = flags & 0x07;
    // Borders are thin lines in the window text colour; shading is a light grey pattern.
    const std::uint8_t thin = 1;
    xf.leftStyle = (flags & 0x08) ? thin : 0;
    xf.rightStyle = (flags & 0x10) ? thin : 0;
    xf.topStyle = (flags & 0x20) ? thin : 0;
    xf.bottomStyle = (flags & 0x40) ? thin : 0;
    xf.leftColor = xf.rightColor = xf.topColor = xf.bottomColor = WindowTextColor234;
    if (flags & 0x80) {
        xf.pattern = 17;  // gray125
        xf.patternColor = 0;
        xf.backgroundColor = 1;
    }
    return xf;
}

Result<std::vector<std::uint32_t>> parsePalette(const BiffRecord& record) {
    if (record.data.size() < 2) return shortRecord(record, "PALETTE", 2);
    std::size_t count = readU16(record.data, 0);
    if ((record.data.size() - 2) / 4 < count) return shortRecord(record, "PALETTE", 2 + 4 * count);
    std::vector<std::uint32_t> colors;
    colors.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* rgb = record.data.data() + 2 + 4 * i;
        colors.push_back(0xFF000000u | (static_cast<std::uint32_t>(rgb[0]) << 16) |
                         (static_cast<std::uint32_t>(rgb[1]) << 8) | rgb[2]);
    }
    return colors;
}

Result<CellHeader> parseCellHeader(const BiffRecord& record) {
    if (record.data.size() < 6) return shortRecord(record, "cell", 6);
    return CellHeader{readU16(record.data, 0), readU16(record.data, 2), readU16(record.data, 4)};
}

Result<Biff2CellHeader> parseBiff2CellHeader(const BiffRecord& record) {
    if (record.data.size() < 7) return shortRecord(record, "cell", 7);
    Biff2CellHeader cell;
    cell.zeroBasedRow = readU16(record.data, 0);
    cell.zeroBasedColumn = readU16(record.data, 2);
    for (std::size_t i = 0; i < 3; ++i) cell.attributes[i] = record.data[4 + i];
    return cell;
}

Result<ColWidthRecord> parseColWidth(const BiffRecord& record) {
    if (record.data.size() < 4) return shortRecord(record, "COLWIDTH", 4);
    return ColWidthRecord{record.data[0], record.data[1], readU16(record.data, 2)};
}

Result<ColumnDefaultRecord> parseColumnDefault(const BiffRecord& record) {
    if (record.data.size() < 4) return shortRecord(record, "COLUMNDEFAULT", 4);
    ColumnDefaultRecord columns;
    columns.zeroBasedFirst = readU16(record.data, 0);
    const int end = std::min<int>(readU16(record.data, 2), XlsMaxColumns);
    // The count comes from the column range; a record holding fewer blocks is cut short.
    for (int column = columns.zeroBasedFirst; column < end; ++column) {
        std::size_t at = 4 + 3 * static_cast<std::size_t>(column - columns.zeroBasedFirst);
        if (record.data.size() < at + 3) return shortRecord(record, "COLUMNDEFAULT", at + 3);
        columns.attributes.push_back({record.data[at], record.data[at + 1], record.data[at + 2]});
    }
    return columns;
}

Result<RStringRecord> parseRString(const BiffRecord& record, BiffVersion version,
                                   const CodePageDecoder& decoder) {
    const auto& data = record.data;
    if (data.size() < 8) return shortRecord(record, "RSTRING", 8);
    RStringRecord parsed;
    parsed.cell = CellHeader{readU16(data, 0), readU16(data, 2), readU16(data, 4)};
    if (version == BiffVersion::Biff8) {
        // XLUnicodeString, then a run count and runs of a 2-byte character and a 2-byte font.
        std::size_t offset = 6;
        if (Result<void> read = readRecordString(data, offset, 2, version, decoder, parsed.text);
            !read)
            return read.error();
        if (data.size() - offset < 2) return parsed;
        const std::size_t count = readU16(data, offset);
        offset += 2;
        for (std::size_t k = 0; k < count && data.size() - offset >= 4; ++k, offset += 4)
            parsed.runs.push_back({readU16(data, offset), readU16(data, offset + 2)});
        return parsed;
    }
    // A byte string in the code page; a run's character counts the decoded characters, as
    // LibreOffice reads them, whatever bytes a character takes. A length past the end of the
    // record ends the string with the record, as for LABEL, and leaves it without runs.
    std::size_t offset = 6;
    if (Result<void> read = readRecordString(data, offset, 2, version, decoder, parsed.text); !read)
        return read.error();
    if (offset >= data.size()) return parsed;
    const std::size_t count = data[offset++];
    for (std::size_t k = 0; k < count && data.size() - offset >= 2; ++k, offset += 2)
        parsed.runs.push_back({data[offset], data[offset + 1]});
    return parsed;
}

Result<ColInfoRecord> parseColInfo(const BiffRecord& record) {
    if (record.data.size() < 10) return shortRecord(record, "COLINFO", 10);
    ColInfoRecord info;
    info.zeroBasedFirst = readU16(record.data, 0);
    info.zeroBasedLast = readU16(record.data, 2);
    info.width = readU16(record.data, 4);
    info.xf = readU16(record.data, 6);
    info.hidden = readU16(record.data, 8) & 0x01;
    return info;
}

Result<RowRecord> parseRow(const BiffRecord& record, BiffVersion version) {
    if (record.id == biff::Row2 && version == BiffVersion::Biff2) {
        // Row, first and last column, height (bit 15: the default height), two unused bytes, a
        // flag for a row format, an offset, then the format: attributes, or an XF index.
        if (record.data.size() < 11) return shortRecord(record, "ROW", 11);
        RowRecord row;
        row.zeroBasedRow = readU16(record.data, 0);
        std::uint16_t height = readU16(record.data, 6);
        row.customHeight = !(height & 0x8000);
        row.heightTwips = row.customHeight ? (height & 0x7FFF) : 0;
        if (record.data[10] != 0) {
            if (record.data.size() >= 18) {
                row.xf = readU16(record.data, 16);
            } else if (record.data.size() >= 16) {
                row.attributes = {record.data[13], record.data[14], record.data[15]};
            }
        }
        return row;
    }
    if (record.data.size() < 16) return shortRecord(record, "ROW", 16);
    RowRecord row;
    row.zeroBasedRow = readU16(record.data, 0);
    row.heightTwips = readU16(record.data, 6) & 0x7FFF;
    std::uint16_t flags = readU16(record.data, 12);
    row.hidden = flags & 0x20;
    row.customHeight = flags & 0x40;
    if (flags & 0x80) row.xf = readU16(record.data, 14) & 0x0FFF;
    return row;
}

Result<Window2Record> parseWindow2(const BiffRecord& record) {
    if (record.id == biff::Window2Biff2) {
        if (record.data.size() < 4) return shortRecord(record, "WINDOW2", 4);
        return Window2Record{record.data[3] != 0, false};
    }
    if (record.data.size() < 2) return shortRecord(record, "WINDOW2", 2);
    std::uint16_t flags = readU16(record.data, 0);
    return Window2Record{static_cast<bool>(flags & 0x0008), static_cast<bool>(flags & 0x0200)};
}

Result<PaneRecord> parsePane(const BiffRecord& record) {
    if (record.data.size() < 4) return shortRecord(record, "PANE", 4);
    return PaneRecord{readU16(record.data, 0), readU16(record.data, 2)};
}

Result<std::vector<RangeRef>> parseMergedCells(const BiffRecord& record) {
    if (record.data.size() < 2) return shortRecord(record, "MERGEDCELLS", 2);
    std::size_t count = readU16(record.data, 0);
    if ((record.data.size() - 2) / 8 < count)
        return shortRecord(record, "MERGEDCELLS", 2 + 8 * count);
    std::vector<RangeRef> ranges;
    ranges.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t offset = 2 + 8 * i;
        int firstRow = readU16(record.data, offset);
        int lastRow = readU16(record.data, offset + 2);
        int firstColumn = readU16(record.data, offset + 4);
        int lastColumn = readU16(record.data, offset + 6);
        if (firstRow > lastRow) std::swap(firstRow, lastRow);
        if (firstColumn > lastColumn) std::swap(firstColumn, lastColumn);
        if (lastColumn >= XlsMaxColumns) continue;
        ranges.push_back(RangeRef{{firstRow + 1, firstColumn + 1}, {lastRow + 1, lastColumn + 1}});
    }
    return ranges;
}

}  // namespace spreadsheet
