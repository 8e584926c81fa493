// Text decoding for the readers: byte-order marks, UTF-8 validation, UTF-16 and GB18030
// (or any iconv code page) to UTF-8, and encoding detection as a pure function of the bytes.
// The one UTF-8 decoder, UTF-8 appender and UTF-16 decoder every reader uses live here.
//   Result<std::string> text = decodeText(bytes);  // BOM, else valid UTF-8, else GB18030
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "spreadsheet/error.h"

namespace spreadsheet {

enum class TextEncoding { Utf8, Utf16LittleEndian, Utf16BigEndian, Gb18030 };

struct ByteOrderMark {
    TextEncoding encoding = TextEncoding::Utf8;
    std::size_t length = 0;  // 0 = no byte-order mark
};

// The byte-order mark at the start of `bytes`: EF BB BF, FF FE or FE FF.
ByteOrderMark detectByteOrderMark(std::span<const std::uint8_t> bytes);

// True when `bytes` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// The encoding a text file is read in: its byte-order mark; else UTF-8 when the bytes are valid
// UTF-8; else GB18030, the encoding text files saved on Chinese systems use.
TextEncoding detectTextEncoding(std::span<const std::uint8_t> bytes);

// UTF-16 without a byte-order mark to UTF-8. A lone surrogate or an odd last byte becomes
// U+FFFD, so one damaged character does not cost the rest of the text.
std::string utf16ToUtf8(std::span<const std::uint8_t> bytes, TextEncoding byteOrder);

// Bytes in an encoding iconv knows (e.g. "GB18030", "CP936", "CP1252") to UTF-8. Fails with
// TextEncoding and the byte offset of the first sequence that does not decode.
Result<std::string> convertToUtf8(std::span<const std::uint8_t> bytes, const char* iconvName);

// Detects the encoding and returns the text as UTF-8 without its byte-order mark.
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
