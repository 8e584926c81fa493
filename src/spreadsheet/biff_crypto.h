// Encrypted .xls workbook streams: the FILEPASS record of the workbook globals names XOR
// obfuscation, RC4 with an MD5 key (Office 97/2000) or RC4 CryptoAPI (Office XP to 2003, and
// what current programs write into .xls). The stream is decrypted in memory, never written.
//   Result<bool> decrypted = decryptWorkbookStream(stream, passwords);  // false: not encrypted
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/error.h"

namespace spreadsheet {

// The password spreadsheet programs encrypt "read-only recommended" and structure-protected
// workbooks with; they open such files without asking, and so do we.
inline constexpr std::string_view DefaultXlsPassword = "VelvetSweatshop";

// When the globals of the BIFF5/BIFF8 workbook stream start with a FILEPASS record, decrypts
// the stream in place with the default password or the first of `passwords` (UTF-8) that fits
// and returns true; returns false for a stream that is not encrypted. Record headers, the
// FILEPASS record, the records that are never encrypted and the sheet offsets of BOUNDSHEET
// records stay as they are, so the stream reads as an unencrypted one whose FILEPASS is done
// with. Fails with EncryptedWorkbook when no password fits and with UnsupportedEncryption for
// an unknown or malformed FILEPASS record.
Result<bool> decryptWorkbookStream(std::vector<std::uint8_t>& stream,
                                   std::span<const std::string> passwords);

// The 16-bit password verifier and XOR key of XOR obfuscation, from the password's bytes (at
// most 15), as the FILEPASS record stores them.
std::uint16_t xorPasswordVerifier(std::span<const std::uint8_t> password);
std::uint16_t xorKey(std::span<const std::uint8_t> password);

}  // namespace spreadsheet
