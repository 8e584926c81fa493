// Text decoding for the readers: byte-order marks, UTF-8 validation, UTF-16 and GB18030
// (or any iconv code page) to UTF-8, and encoding detection as a pure function of the bytes.
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

}  // namespace spreadsheet
