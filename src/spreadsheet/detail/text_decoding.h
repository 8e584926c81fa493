// The decoding steps behind text_encoding.h that the encoding detector shares with it: a
// conversion through iconv that replaces what does not decode instead of stopping, and
// Windows-1252 without iconv.
//   std::optional<std::size_t> broken = detail::convertLeniently(bytes, "CP1251", &text);
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace spreadsheet::detail {

// Converts `bytes` from the iconv encoding `iconvName` to UTF-8, appended to `out` (nullptr:
// only counted). Each sequence that does not decode, a cut-off last one included, becomes U+FFFD
// and decoding goes on at the next byte. Returns how many there were, or nullopt when iconv does
// not know the name.
std::optional<std::size_t> convertLeniently(std::span<const std::uint8_t> bytes,
                                            const char* iconvName, std::string* out);

// Appends `bytes` read as Windows-1252 to `out`; the five bytes that code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the Latin-1 characters of the same value.
void appendWindows1252(std::span<const std::uint8_t> bytes, std::string& out);

}  // namespace spreadsheet::detail
