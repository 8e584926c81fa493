// Text decoding for the readers: byte-order marks, UTF-8 validation, UTF-16 and any iconv code
// page to UTF-8, and encoding detection as a pure function of the bytes (a mark, valid UTF-8,
// else the legacy code page the bytes fit best, GB18030 first among the CJK ones).
// The one UTF-8 decoder, UTF-8 appender and UTF-16 decoder every reader uses live here.
//   DecodedText text = decodeAnyText(bytes);  // never fails; text.encoding names what was used
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "spreadsheet/error.h"

namespace spreadsheet {

// The encodings a byte-order mark announces.
enum class TextEncoding { Utf8, Utf16LittleEndian, Utf16BigEndian };

struct ByteOrderMark {
    TextEncoding encoding = TextEncoding::Utf8;
    std::size_t length = 0;  // 0 = no byte-order mark
};

// The byte-order mark at the start of `bytes`: EF BB BF, FF FE or FE FF.
ByteOrderMark detectByteOrderMark(std::span<const std::uint8_t> bytes);

// True when `bytes` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// Names of the encodings the engine reads text in, as iconv knows them and `inspect` shows them.
namespace encoding_names {
inline constexpr const char* Utf8 = "UTF-8";
inline constexpr const char* Utf16LittleEndian = "UTF-16LE";
inline constexpr const char* Utf16BigEndian = "UTF-16BE";
inline constexpr const char* Gb18030 = "GB18030";
// Windows-1252 with the five bytes it leaves undefined kept as their Latin-1 characters: what a
// text that fits no encoding is read in.
inline constexpr const char* Windows1252 = "WINDOWS-1252";
}  // namespace encoding_names

// The encoding a text file is read in, by name: its byte-order mark; else UTF-8 when the bytes
// are valid UTF-8 or nearly so (see decodeAnyText()); else detectLegacyEncoding().
std::string detectTextEncoding(std::span<const std::uint8_t> bytes);

// The legacy code page of text that has no byte-order mark and is not UTF-8: the CJK multi-byte
// encodings (GB18030, Big5, Shift_JIS, EUC-KR, EUC-JP), Windows-1250 to 1258, KOI8-R/U and the
// ISO-8859 family. A statistical detector (uchardet) judges the lines that hold non-ASCII bytes;
// its answer counts only when the bytes decode in it. Double-byte text that decodes as GB18030
// into common Chinese characters is read as GB18030 unless the detector names another CJK
// encoding on enough evidence, since Chinese users' files are GB18030 far more often than
// anything else. Windows-1252 when nothing fits.
std::string detectLegacyEncoding(std::span<const std::uint8_t> bytes);

// Text decoded to UTF-8 and the encoding it was read in.
struct DecodedText {
    std::string text;      // UTF-8 without a byte-order mark
    std::string encoding;  // an encoding_names value or another iconv name ("BIG5", "CP1251")
};

// Decodes text of any origin and never fails: a byte-order mark is taken at its word (bytes that
// break it become U+FFFD), valid UTF-8 is UTF-8, and so is UTF-8 with a few broken bytes (a file
// cut inside a character, a pasted line in a Western code page: at least two well-formed
// multi-byte sequences per broken byte), each broken byte read as its Windows-1252 character;
// anything else is read in
// detectLegacyEncoding(); sequences that do not decode become U+FFFD, and in Windows-1252 the
// undefined bytes become the Latin-1 characters of the same value.
DecodedText decodeAnyText(std::span<const std::uint8_t> bytes);

// Decodes text in `encoding`, any name iconv knows ("GBK", "windows-1251", "UTF-16"); a byte-order
// mark of that encoding is dropped and sequences that do not decode become U+FFFD. Fails with
// TextEncoding when iconv does not know the name.
Result<DecodedText> decodeTextAs(std::span<const std::uint8_t> bytes, std::string_view encoding);

// The name as decodeTextAs() uses it (upper case, surrounding spaces dropped) when iconv can
// decode from it; nullopt for a name it does not know.
std::optional<std::string> knownEncodingName(std::string_view name);

// UTF-16 without a byte-order mark to UTF-8. A lone surrogate or an odd last byte becomes
// U+FFFD, so one damaged character does not cost the rest of the text.
std::string utf16ToUtf8(std::span<const std::uint8_t> bytes, TextEncoding byteOrder);

// Bytes in an encoding iconv knows (e.g. "GB18030", "CP936", "CP1252") to UTF-8. Fails with
// TextEncoding and the byte offset of the first sequence that does not decode.
Result<std::string> convertToUtf8(std::span<const std::uint8_t> bytes, const char* iconvName);

// Returns the text as UTF-8 without its byte-order mark: as decodeAnyText(), except that bytes
// breaking a UTF-8 mark fail with TextEncoding instead of being replaced.
Result<std::string> decodeText(std::span<const std::uint8_t> bytes);

// Appends the UTF-8 form of `codePoint` (which must be a scalar value) to `out`.
void appendUtf8(std::string& out, char32_t codePoint);

// Appends UTF-16 code units (surrogate pairs joined) as UTF-8; a lone surrogate becomes U+FFFD.
void appendUtf16(std::u16string_view units, std::string& out);

// Decodes the UTF-8 sequence at `bytes`, which lies before `end`: returns its length and sets
// `codePoint`. Returns 0 when the bytes there are not well-formed UTF-8 (a stray continuation
// byte, an overlong form, a surrogate, a value past U+10FFFF) and -1 when `end` cuts short a
// sequence that is well-formed so far.
inline int decodeUtf8(const unsigned char* bytes, const unsigned char* end, char32_t& codePoint) {
    const unsigned char lead = bytes[0];
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    int length = 0;
    char32_t code = 0;
    unsigned char low = 0x80;   // the allowed range of the second byte rules out
    unsigned char high = 0xBF;  // overlong forms, surrogates and values past U+10FFFF
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    for (int index = 1; index < length; ++index) {
        if (bytes + index >= end) return -1;
        const unsigned char next = bytes[index];
        if (index == 1 ? (next < low || next > high) : (next & 0xC0) != 0x80) return 0;
        code = code << 6 | (next & 0x3F);
    }
    codePoint = code;
    return length;
}

// The UTF-16 units of the UTF-8 sequence that `lead` starts: 2 for a four-byte sequence (a
// surrogate pair), 0 for a continuation byte, else 1.
constexpr std::size_t utf16UnitsOf(unsigned char lead) {
    return (lead & 0xC0) == 0x80 ? 0 : lead >= 0xF0 ? 2 : 1;
}

// The UTF-16 units of well-formed UTF-8 text, as spreadsheet programs count a cell's length.
std::size_t utf16Length(std::string_view utf8);

}  // namespace spreadsheet
