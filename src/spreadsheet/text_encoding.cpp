#include "spreadsheet/text_encoding.h"

#include <iconv.h>

#include <array>
#include <cerrno>

#include "spreadsheet/texts.h"

namespace spreadsheet {

ByteOrderMark detectByteOrderMark(std::span<const std::uint8_t> bytes) {
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        return {TextEncoding::Utf8, 3};
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE)
        return {TextEncoding::Utf16LittleEndian, 2};
    if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF)
        return {TextEncoding::Utf16BigEndian, 2};
    return {};
}

bool isValidUtf8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = bytes + text.size();
    while (bytes < end) {
        if (*bytes < 0x80) {
            ++bytes;
            continue;
        }
        char32_t codePoint = 0;
        const int length = decodeUtf8(bytes, end, codePoint);
        if (length <= 0) return false;
        bytes += length;
    }
    return true;
}

std::size_t utf16Length(std::string_view utf8) {
    std::size_t units = 0;
    for (const char character : utf8) units += utf16UnitsOf(static_cast<unsigned char>(character));
    return units;
}

TextEncoding detectTextEncoding(std::span<const std::uint8_t> bytes) {
    const ByteOrderMark mark = detectByteOrderMark(bytes);
    if (mark.length > 0) return mark.encoding;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return isValidUtf8(text) ? TextEncoding::Utf8 : TextEncoding::Gb18030;
}

void appendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

namespace {

constexpr char32_t ReplacementCharacter = 0xFFFD;

// The one UTF-16 decoder: `count` units, the unit at an index from `unitAt`.
template <typename UnitAt>
void appendUtf16Units(std::size_t count, UnitAt unitAt, std::string& out) {
    for (std::size_t index = 0; index < count; ++index) {
        const char32_t unit = unitAt(index);
        if (unit < 0x80) {
            out += static_cast<char>(unit);
        } else if (unit >= 0xD800 && unit <= 0xDBFF) {
            const char32_t next = index + 1 < count ? unitAt(index + 1) : 0;
            if (next >= 0xDC00 && next <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++index;
            } else {
                appendUtf8(out, ReplacementCharacter);
            }
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            appendUtf8(out, ReplacementCharacter);
        } else {
            appendUtf8(out, unit);
        }
    }
}

}  // namespace

void appendUtf16(std::u16string_view units, std::string& out) {
    appendUtf16Units(
        units.size(), [units](std::size_t index) { return char32_t{units[index]}; }, out);
}

std::string utf16ToUtf8(std::span<const std::uint8_t> bytes, TextEncoding byteOrder) {
    const bool bigEndian = byteOrder == TextEncoding::Utf16BigEndian;
    const std::size_t unitCount = bytes.size() / 2;
    std::string out;
    out.reserve(unitCount + unitCount / 2);
    appendUtf16Units(
        unitCount,
        [bytes, bigEndian](std::size_t index) {
            const std::uint8_t first = bytes[2 * index];
            const std::uint8_t second = bytes[2 * index + 1];
            return bigEndian ? static_cast<char32_t>(first << 8 | second)
                             : static_cast<char32_t>(second << 8 | first);
        },
        out);
    if (bytes.size() % 2 != 0) appendUtf8(out, ReplacementCharacter);
    return out;
}

Result<std::string> convertToUtf8(std::span<const std::uint8_t> bytes, const char* iconvName) {
    iconv_t converter = iconv_open("UTF-8", iconvName);
    if (converter == reinterpret_cast<iconv_t>(-1))
        return Error(ErrorCode::TextEncoding, std::string(texts::EncodingUnavailable) + iconvName);
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    // iconv's interface takes a non-const input pointer but does not write through it.
    char* input = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
    std::size_t inputLeft = bytes.size();
    std::array<char, 64 * 1024> chunk;
    while (true) {
        char* output = chunk.data();
        std::size_t outputLeft = chunk.size();
        const std::size_t status =
            iconv(converter, inputLeft > 0 ? &input : nullptr, &inputLeft, &output, &outputLeft);
        out.append(chunk.data(), chunk.size() - outputLeft);
        if (status != static_cast<std::size_t>(-1)) {
            if (inputLeft == 0) break;
            continue;
        }
        if (errno == E2BIG) continue;
        // EILSEQ (a sequence the encoding does not have) or EINVAL (cut off at the end).
        const std::size_t offset = bytes.size() - inputLeft;
        iconv_close(converter);
        return Error(ErrorCode::TextEncoding, std::string(iconvName) + texts::CannotDecodeAt +
                                                  std::to_string(offset) + texts::BytesOnward);
    }
    iconv_close(converter);
    return out;
}

Result<std::string> decodeText(std::span<const std::uint8_t> bytes) {
    const ByteOrderMark mark = detectByteOrderMark(bytes);
    const std::span<const std::uint8_t> body = bytes.subspan(mark.length);
    if (mark.length > 0 && mark.encoding != TextEncoding::Utf8)
        return utf16ToUtf8(body, mark.encoding);
    std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
    if (mark.length > 0) {
        // A UTF-8 mark is taken at its word; bytes that break it are an encoding error, not
        // GB18030.
        if (!isValidUtf8(text)) return Error(ErrorCode::TextEncoding, texts::BrokenUtf8AfterMark);
        return std::string(text);
    }
    if (isValidUtf8(text)) return std::string(text);
    return convertToUtf8(body, "GB18030");
}

}  // namespace spreadsheet
