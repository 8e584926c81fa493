// Password-protected .xlsx and .xlsm files: a compound file whose EncryptionInfo stream says
// how the EncryptedPackage stream (the zip package) was encrypted, with agile encryption (AES,
// any SHA, the default of current spreadsheet programs) or standard encryption (AES with
// SHA-1, Office 2007). The package is decrypted in memory only, never written anywhere.
//   if (holdsEncryptedPackage(file)) Result<std::vector<std::uint8_t>> zip = decryptPackage(file,
//   passwords);
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "spreadsheet/cfb.h"
#include "spreadsheet/error.h"
#include "spreadsheet/reader_limits.h"

namespace spreadsheet {

// True when the compound file holds an EncryptionInfo or an EncryptedPackage stream.
bool holdsEncryptedPackage(const CompoundFile& file);

// The zip package, decrypted with the first of `passwords` (UTF-8) that opens it. Fails with
// EncryptedWorkbook when none does (its detail tells no password given from wrong passwords),
// with UnsupportedEncryption for encryption information that is malformed, out of bounds or
// of a kind not read (certificate-only, extensible, RC2, CFB chaining), and with CfbCorrupt
// when the EncryptedPackage stream is shorter than it claims.
Result<std::vector<std::uint8_t>> decryptPackage(const CompoundFile& file,
                                                 std::span<const std::string> passwords);

// The error of an encrypted source none of `passwordsTried` opened (0: none was given).
Error passwordsRefused(std::size_t passwordsTried);

// True for the error of an encrypted source that was tried with at least one wrong password
// (and not only without any).
bool isWrongPasswordError(const Error& error);

}  // namespace spreadsheet
