#include "spreadsheet/text_encoding.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "spreadsheet/detail/text_decoding.h"
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

namespace {

bool mostlyUtf8(std::string_view text);

const char* markName(TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::Utf16LittleEndian:
            return encoding_names::Utf16LittleEndian;
        case TextEncoding::Utf16BigEndian:
            return encoding_names::Utf16BigEndian;
        case TextEncoding::Utf8:
            break;
    }
    return encoding_names::Utf8;
}

}  // namespace

std::string detectTextEncoding(std::span<const std::uint8_t> bytes) {
    const ByteOrderMark mark = detectByteOrderMark(bytes);
    if (mark.length > 0) return markName(mark.encoding);
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (isValidUtf8(text) || mostlyUtf8(text)) return encoding_names::Utf8;
    return detectLegacyEncoding(bytes);
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

namespace detail {

std::optional<std::size_t> convertLeniently(std::span<const std::uint8_t> bytes,
                                            const char* iconvName, std::string* out) {
    iconv_t converter = iconv_open("UTF-8", iconvName);
    if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    static constexpr char Replacement[] = "\xEF\xBF\xBD";
    std::size_t broken = 0;
    // iconv's interface takes a non-const input pointer but does not write through it.
    char* input = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
    std::size_t inputLeft = bytes.size();
    std::array<char, 64 * 1024> chunk;
    while (inputLeft > 0) {
        char* output = chunk.data();
        std::size_t outputLeft = chunk.size();
        const std::size_t status = iconv(converter, &input, &inputLeft, &output, &outputLeft);
        if (out != nullptr) out->append(chunk.data(), chunk.size() - outputLeft);
        if (status != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
        // EILSEQ (a sequence the encoding does not have) or EINVAL (cut off at the end): one
        // replacement character, then on from the next byte.
        ++broken;
        if (out != nullptr) out->append(Replacement, 3);
        ++input;
        --inputLeft;
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
    }
    // Flush what a stateful encoding still holds.
    char* output = chunk.data();
    std::size_t outputLeft = chunk.size();
    iconv(converter, nullptr, nullptr, &output, &outputLeft);
    if (out != nullptr) out->append(chunk.data(), chunk.size() - outputLeft);
    iconv_close(converter);
    return broken;
}

void appendWindows1252(std::span<const std::uint8_t> bytes, std::string& out) {
    // 0x80-0x9F; the undefined bytes keep their own value.
    static constexpr char16_t High[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    out.reserve(out.size() + bytes.size() + bytes.size() / 4);
    for (const std::uint8_t byte : bytes) {
        if (byte < 0x80)
            out += static_cast<char>(byte);
        else if (byte < 0xA0)
            appendUtf8(out, High[byte - 0x80]);
        else
            appendUtf8(out, byte);
    }
}

}  // namespace detail

namespace {

// UTF-8 text with a few bytes that are not: a file cut inside its last character, or a UTF-8
// file into which a few lines in a Western code page were pasted. It needs two well-formed
// multi-byte sequences for each broken one; text in a legacy code page forms UTF-8 sequences
// only by chance and breaks several times more often than it forms them.
bool mostlyUtf8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = bytes + text.size();
    std::size_t sequences = 0;
    std::size_t broken = 0;
    while (bytes < end) {
        if (*bytes < 0x80) {
            ++bytes;
            continue;
        }
        char32_t codePoint = 0;
        const int length = decodeUtf8(bytes, end, codePoint);
        if (length > 0) {
            ++sequences;
            bytes += length;
        } else {
            ++broken;
            ++bytes;
        }
    }
    return broken > 0 && sequences >= 2 * broken;
}

// Mostly-UTF-8 text to UTF-8: each byte that is no part of a well-formed sequence is read as
// its Windows-1252 character, so the pasted "José" stays José.
std::string repairUtf8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = bytes + text.size();
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    while (bytes < end) {
        char32_t codePoint = 0;
        const int length = *bytes < 0x80 ? 1 : decodeUtf8(bytes, end, codePoint);
        if (length > 0) {
            out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
            bytes += length;
        } else {
            detail::appendWindows1252(std::span(bytes, 1), out);
            ++bytes;
        }
    }
    return out;
}

// The text after a byte-order mark, which is taken at its word.
DecodedText decodeMarked(std::span<const std::uint8_t> body, TextEncoding encoding) {
    DecodedText decoded;
    decoded.encoding = markName(encoding);
    if (encoding != TextEncoding::Utf8) {
        decoded.text = utf16ToUtf8(body, encoding);
        return decoded;
    }
    const std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
    if (isValidUtf8(text))
        decoded.text.assign(text);
    else
        detail::convertLeniently(body, encoding_names::Utf8, &decoded.text);
    return decoded;
}

// Text in `encoding` as detectLegacyEncoding() names it.
DecodedText decodeLegacy(std::span<const std::uint8_t> bytes, std::string encoding) {
    DecodedText decoded;
    decoded.encoding = std::move(encoding);
    if (decoded.encoding == encoding_names::Windows1252 ||
        !detail::convertLeniently(bytes, decoded.encoding.c_str(), &decoded.text)) {
        decoded.text.clear();
        decoded.encoding = encoding_names::Windows1252;
        detail::appendWindows1252(bytes, decoded.text);
    }
    return decoded;
}

std::string upperTrimmed(std::string_view name) {
    while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.remove_prefix(1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    std::string upper(name);
    for (char& character : upper)
        if (character >= 'a' && character <= 'z') character = static_cast<char>(character - 32);
    return upper;
}

}  // namespace

DecodedText decodeAnyText(std::span<const std::uint8_t> bytes) {
    const ByteOrderMark mark = detectByteOrderMark(bytes);
    const std::span<const std::uint8_t> body = bytes.subspan(mark.length);
    if (mark.length > 0) return decodeMarked(body, mark.encoding);
    const std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
    if (isValidUtf8(text)) return DecodedText{std::string(text), encoding_names::Utf8};
    if (mostlyUtf8(text)) return DecodedText{repairUtf8(text), encoding_names::Utf8};
    return decodeLegacy(body, detectLegacyEncoding(body));
}

std::optional<std::string> knownEncodingName(std::string_view name) {
    std::string upper = upperTrimmed(name);
    if (upper.empty() || upper.find('/') != std::string::npos) return std::nullopt;
    iconv_t converter = iconv_open("UTF-8", upper.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    iconv_close(converter);
    return upper;
}

Result<DecodedText> decodeTextAs(std::span<const std::uint8_t> bytes, std::string_view encoding) {
    const std::optional<std::string> name = knownEncodingName(encoding);
    if (!name)
        return Error(ErrorCode::TextEncoding, texts::EncodingUnavailable + std::string(encoding));
    // The mark of the encoding itself is no part of the text; iconv's "UTF-16" reads its own.
    const ByteOrderMark mark = detectByteOrderMark(bytes);
    const bool isUtf8 = *name == "UTF-8" || *name == "UTF8";
    const bool ownMark = mark.length > 0 && ((mark.encoding == TextEncoding::Utf8 && isUtf8) ||
                                             (mark.encoding == TextEncoding::Utf16LittleEndian &&
                                              (*name == "UTF-16LE" || *name == "UCS-2LE")) ||
                                             (mark.encoding == TextEncoding::Utf16BigEndian &&
                                              (*name == "UTF-16BE" || *name == "UCS-2BE")));
    const std::span<const std::uint8_t> body = ownMark ? bytes.subspan(mark.length) : bytes;
    DecodedText decoded;
    decoded.encoding = *name;
    const std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
    if (isUtf8 && isValidUtf8(text)) {
        decoded.text.assign(text);
        return decoded;
    }
    detail::convertLeniently(body, name->c_str(), &decoded.text);
    return decoded;
}

Result<std::string> decodeText(std::span<const std::uint8_t> bytes) {
    const ByteOrderMark mark = detectByteOrderMark(bytes);
    const std::span<const std::uint8_t> body = bytes.subspan(mark.length);
    if (mark.length > 0 && mark.encoding == TextEncoding::Utf8) {
        // A UTF-8 mark is taken at its word; bytes that break it are an encoding error, not
        // another encoding.
        const std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
        if (!isValidUtf8(text)) return Error(ErrorCode::TextEncoding, texts::BrokenUtf8AfterMark);
    }
    return decodeAnyText(bytes).text;
}

}  // namespace spreadsheet
