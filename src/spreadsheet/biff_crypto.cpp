#include "spreadsheet/biff_crypto.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <functional>
#include <optional>

#include "spreadsheet/detail/crypto_primitives.h"
#include "spreadsheet/office_crypto.h"

namespace spreadsheet {
namespace {

using detail::Bytes;
using detail::HashAlgorithm;

constexpr std::uint16_t BofId = 0x0809;
constexpr std::uint16_t FilePassId = 0x002F;
constexpr std::uint16_t BoundSheetId = 0x0085;
constexpr std::uint16_t EofId = 0x000A;
// RC4 is keyed anew for every 1024 bytes of the stream, counted from its start.
constexpr std::size_t Rc4BlockBytes = 1024;
constexpr std::size_t MaxXorPasswordBytes = 15;

std::uint16_t readLe16(std::span<const std::uint8_t> data, std::size_t offset) {
    return static_cast<std::uint16_t>(data[offset] | data[offset + 1] << 8);
}
std::uint32_t readLe32(std::span<const std::uint8_t> data, std::size_t offset) {
    return static_cast<std::uint32_t>(readLe16(data, offset)) |
           static_cast<std::uint32_t>(readLe16(data, offset + 2)) << 16;
}

Error unsupported(const std::string& what) {
    return Error(ErrorCode::UnsupportedEncryption, "FILEPASS: " + what);
}

// Records whose data stays plain in an encrypted stream.
bool neverEncrypted(std::uint16_t id) {
    switch (id) {
        case BofId:
        case FilePassId:
        case 0x0194:  // USREXCL
        case 0x0195:  // FILELOCK
        case 0x00E1:  // INTERFACEHDR
        case 0x0196:  // RRDINFO
        case 0x0138:  // RRDHEAD
            return true;
        default:
            return false;
    }
}

// Calls `transform(offset, length, recordLength)` for the encrypted bytes of every record from
// `start` to the end of the stream. A BOUNDSHEET record keeps its first four bytes (the sheet's
// stream offset) plain. A last record longer than the stream is cut at its end; the reader
// reports it.
template <typename Transform>
void forEachEncryptedSpan(std::span<std::uint8_t> stream, std::size_t start, Transform transform) {
    std::size_t offset = start;
    while (stream.size() - offset >= 4) {
        const std::uint16_t id = readLe16(stream, offset);
        const std::size_t length = readLe16(stream, offset + 2);
        const std::size_t dataStart = offset + 4;
        const std::size_t present = std::min(length, stream.size() - dataStart);
        if (!neverEncrypted(id)) {
            const std::size_t plain = id == BoundSheetId ? std::min<std::size_t>(4, present) : 0;
            transform(dataStart + plain, present - plain, length);
        }
        offset = dataStart + present;
    }
}

// Password bytes for XOR obfuscation: per UTF-16 unit its low byte, or its high byte when the
// low one is zero, at most 15 of them.
Bytes xorPasswordBytes(const std::string& password) {
    const Bytes units = detail::utf16LittleEndian(password);
    Bytes bytes;
    for (std::size_t k = 0; k + 1 < units.size() && bytes.size() < MaxXorPasswordBytes; k += 2)
        bytes.push_back(units[k] != 0 ? units[k] : units[k + 1]);
    return bytes;
}

// The password in the ANSI code page of Chinese systems (CP936), cut to 15 bytes: the other
// form Excel may have taken the bytes of a non-ASCII XOR password from. nullopt when the
// password is ASCII (both forms agree) or has characters CP936 lacks.
std::optional<Bytes> codePage936PasswordBytes(const std::string& password) {
    if (std::all_of(password.begin(), password.end(),
                    [](char character) { return static_cast<unsigned char>(character) < 0x80; }))
        return std::nullopt;
    iconv_t converter = iconv_open("CP936", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string input = password;
    Bytes output(input.size() * 2 + 4);
    char* in = input.data();
    std::size_t inLeft = input.size();
    char* out = reinterpret_cast<char*>(output.data());
    std::size_t outLeft = output.size();
    const std::size_t converted = iconv(converter, &in, &inLeft, &out, &outLeft);
    iconv_close(converter);
    if (converted == static_cast<std::size_t>(-1)) return std::nullopt;
    output.resize(std::min(output.size() - outLeft, MaxXorPasswordBytes));
    return output;
}

std::uint8_t rotateRight(std::uint8_t value, int bits) {
    return static_cast<std::uint8_t>((value >> bits) | (value << (8 - bits)));
}

std::array<std::uint8_t, 16> xorArray(std::span<const std::uint8_t> password) {
    static constexpr std::uint8_t Pad[15] = {0xBB, 0xFF, 0xFF, 0xBA, 0xFF, 0xFF, 0xB9, 0x80,
                                             0x00, 0xBE, 0x0F, 0x00, 0xBF, 0x0F, 0x00};
    const std::uint16_t key = xorKey(password);
    const auto high = static_cast<std::uint8_t>(key >> 8);
    const auto low = static_cast<std::uint8_t>(key & 0xFF);
    auto xorRor = [](std::uint8_t a, std::uint8_t b) {
        return rotateRight(static_cast<std::uint8_t>(a ^ b), 1);
    };
    std::array<std::uint8_t, 16> array{};
    std::size_t index = password.size();
    if (index % 2 == 1) {
        array[index] = xorRor(Pad[0], high);
        --index;
        array[index] = xorRor(password[password.size() - 1], low);
    }
    while (index > 0) {
        --index;
        array[index] = xorRor(password[index], high);
        --index;
        array[index] = xorRor(password[index], low);
    }
    // The rest is filled from the pad bytes, two at a time, from the end; with an even
    // password length the last step reaches below the pad's start, hence the signed counters.
    int position = 15;
    int padIndex = 15 - static_cast<int>(password.size());
    while (padIndex > 0) {
        array[position] = xorRor(Pad[padIndex], high);
        --position;
        --padIndex;
        array[position] = xorRor(Pad[padIndex], low);
        --position;
        --padIndex;
    }
    return array;
}

Result<void> decryptXor(std::vector<std::uint8_t>& stream, std::size_t start,
                        std::span<const std::uint8_t> fields,
                        std::span<const std::string> passwords) {
    if (fields.size() < 4) return unsupported("XOR obfuscation fields cut short");
    const std::uint16_t verifier = readLe16(fields, 2);
    std::optional<std::array<std::uint8_t, 16>> array;
    auto tryBytes = [&](const Bytes& bytes) {
        if (bytes.empty() || xorPasswordVerifier(bytes) != verifier) return false;
        array = xorArray(bytes);
        return true;
    };
    // Both ways of turning the typed password into bytes are tried, as Excel may have used
    // either: per character its low byte, or the system's code page.
    auto tryPassword = [&](const std::string& password) {
        if (tryBytes(xorPasswordBytes(password))) return true;
        const std::optional<Bytes> ansi = codePage936PasswordBytes(password);
        return ansi && tryBytes(*ansi);
    };
    if (!tryPassword(std::string(DefaultXlsPassword)) &&
        std::none_of(passwords.begin(), passwords.end(), tryPassword))
        return passwordsRefused(passwords.size());
    // The obfuscation array is indexed by the byte's stream offset plus its record's length.
    forEachEncryptedSpan(
        stream, start, [&](std::size_t offset, std::size_t length, std::size_t recordLength) {
            for (std::size_t k = offset; k < offset + length; ++k) {
                const std::uint8_t mask = (*array)[(k + recordLength) % 16];
                stream[k] = rotateRight(static_cast<std::uint8_t>(stream[k] ^ mask), 5);
            }
        });
    return {};
}

// The RC4 key of one 1024-byte block.
using BlockKey = std::function<Bytes(std::uint32_t block)>;

void decryptRc4(std::vector<std::uint8_t>& stream, std::size_t start, const BlockKey& keyFor) {
    std::optional<detail::Rc4> cipher;
    std::size_t block = 0;
    std::size_t position = 0;  // within the block, of the key stream
    forEachEncryptedSpan(stream, start, [&](std::size_t offset, std::size_t length, std::size_t) {
        while (length > 0) {
            const std::size_t wanted = offset / Rc4BlockBytes;
            const std::size_t within = offset % Rc4BlockBytes;
            if (!cipher || wanted != block || within < position) {
                cipher.emplace(keyFor(static_cast<std::uint32_t>(wanted)));
                block = wanted;
                position = 0;
            }
            cipher->skip(within - position);
            const std::size_t step = std::min(length, Rc4BlockBytes - within);
            cipher->apply(std::span<std::uint8_t>(stream.data() + offset, step));
            position = within + step;
            offset += step;
            length -= step;
        }
    });
}

// Whether the verifier and its hash decrypt to a match under the block-0 key.
bool verifierMatches(const Bytes& key, std::span<const std::uint8_t> encryptedVerifier,
                     std::span<const std::uint8_t> encryptedHash, HashAlgorithm algorithm) {
    detail::Rc4 cipher(key);
    Bytes verifier(encryptedVerifier.begin(), encryptedVerifier.end());
    Bytes hash(encryptedHash.begin(), encryptedHash.end());
    cipher.apply(verifier);
    cipher.apply(hash);
    const Bytes expected = detail::hashOf(algorithm, {verifier});
    return hash.size() == expected.size() && std::equal(hash.begin(), hash.end(), expected.begin());
}

// RC4 with an MD5 key (Office 97/2000): version 1.1, salt, verifier, verifier hash.
Result<void> decryptRc4Md5(std::vector<std::uint8_t>& stream, std::size_t start,
                           std::span<const std::uint8_t> fields,
                           std::span<const std::string> passwords) {
    if (fields.size() < 4 + 48) return unsupported("RC4 fields cut short");
    const std::span<const std::uint8_t> salt = fields.subspan(4, 16);
    const std::span<const std::uint8_t> verifier = fields.subspan(20, 16);
    const std::span<const std::uint8_t> verifierHash = fields.subspan(36, 16);
    Bytes truncated;
    auto tryPassword = [&](const std::string& password) {
        Bytes hash = detail::hashOf(HashAlgorithm::Md5, {detail::utf16LittleEndian(password)});
        Bytes repeated;
        for (int copy = 0; copy < 16; ++copy) {
            repeated.insert(repeated.end(), hash.begin(), hash.begin() + 5);
            repeated.insert(repeated.end(), salt.begin(), salt.end());
        }
        Bytes candidate = detail::hashOf(HashAlgorithm::Md5, {repeated});
        candidate.resize(5);
        const std::array<std::uint8_t, 4> zero = detail::littleEndianBytes(0);
        if (!verifierMatches(detail::hashOf(HashAlgorithm::Md5, {candidate, zero}), verifier,
                             verifierHash, HashAlgorithm::Md5))
            return false;
        truncated = std::move(candidate);
        return true;
    };
    if (!tryPassword(std::string(DefaultXlsPassword)) &&
        std::none_of(passwords.begin(), passwords.end(), tryPassword))
        return passwordsRefused(passwords.size());
    decryptRc4(stream, start, [&](std::uint32_t block) {
        return detail::hashOf(HashAlgorithm::Md5, {truncated, detail::littleEndianBytes(block)});
    });
    return {};
}

// RC4 CryptoAPI: version 2-4.2, flags, header size, EncryptionHeader, EncryptionVerifier.
Result<void> decryptRc4CryptoApi(std::vector<std::uint8_t>& stream, std::size_t start,
                                 std::span<const std::uint8_t> fields,
                                 std::span<const std::string> passwords) {
    if (fields.size() < 12) return unsupported("RC4 CryptoAPI fields cut short");
    const std::uint32_t headerSize = readLe32(fields, 8);
    if (headerSize < 32 || headerSize > fields.size() - 12)
        return unsupported("header size " + std::to_string(headerSize) + " does not fit");
    const std::span<const std::uint8_t> header = fields.subspan(12, headerSize);
    const std::uint32_t algorithm = readLe32(header, 8);
    const std::uint32_t hashAlgorithm = readLe32(header, 12);
    std::uint32_t keyBits = readLe32(header, 16);
    if (algorithm != 0x6801 && algorithm != 0)
        return unsupported("cipher " + std::to_string(algorithm) + " (only RC4 is read)");
    if (hashAlgorithm != 0x8004 && hashAlgorithm != 0)
        return unsupported("hash " + std::to_string(hashAlgorithm) + " (only SHA-1 is read)");
    if (keyBits == 0) keyBits = 40;
    if (keyBits < 40 || keyBits > 128 || keyBits % 8 != 0)
        return unsupported("RC4 key of " + std::to_string(keyBits) + " bits");
    const std::span<const std::uint8_t> verifier = fields.subspan(12 + headerSize);
    // Salt size, salt (16), encrypted verifier (16), hash size, encrypted hash (20).
    if (verifier.size() < 4 + 16 + 16 + 4 + 20) return unsupported("the verifier is cut short");
    if (readLe32(verifier, 0) != 16) return unsupported("the salt is not 16 bytes");
    if (readLe32(verifier, 36) != 20) return unsupported("the verifier hash is not 20 bytes");
    const std::span<const std::uint8_t> salt = verifier.subspan(4, 16);

    Bytes passwordHash;
    auto keyFor = [&](std::uint32_t block) {
        Bytes key =
            detail::hashOf(HashAlgorithm::Sha1, {passwordHash, detail::littleEndianBytes(block)});
        key.resize(keyBits / 8);
        // A 40-bit key is used as 128 bits whose last 88 are zero.
        if (keyBits == 40) key.resize(16, 0);
        return key;
    };
    auto tryPassword = [&](const std::string& password) {
        passwordHash =
            detail::hashOf(HashAlgorithm::Sha1, {salt, detail::utf16LittleEndian(password)});
        return verifierMatches(keyFor(0), verifier.subspan(20, 16), verifier.subspan(40, 20),
                               HashAlgorithm::Sha1);
    };
    if (!tryPassword(std::string(DefaultXlsPassword)) &&
        std::none_of(passwords.begin(), passwords.end(), tryPassword))
        return passwordsRefused(passwords.size());
    decryptRc4(stream, start, keyFor);
    return {};
}

}  // namespace

std::uint16_t xorPasswordVerifier(std::span<const std::uint8_t> password) {
    std::uint16_t verifier = 0;
    const std::size_t length = std::min(password.size(), MaxXorPasswordBytes);
    // The length byte, then the password, taken from the last byte backwards.
    for (std::size_t k = length + 1; k-- > 0;) {
        const std::uint8_t byte = k == 0 ? static_cast<std::uint8_t>(length) : password[k - 1];
        const std::uint16_t carry = (verifier & 0x4000) ? 1 : 0;
        const std::uint16_t shifted = static_cast<std::uint16_t>((verifier << 1) & 0x7FFF);
        verifier = static_cast<std::uint16_t>((carry | shifted) ^ byte);
    }
    return static_cast<std::uint16_t>(verifier ^ 0xCE4B);
}

std::uint16_t xorKey(std::span<const std::uint8_t> password) {
    static constexpr std::uint16_t InitialCode[15] = {0xE1F0, 0x1D0F, 0xCC9C, 0x84C0, 0x110C,
                                                      0x0E10, 0xF1CE, 0x313E, 0x1872, 0xE139,
                                                      0xD40F, 0x84F9, 0x280C, 0xA96A, 0x4EC3};
    static constexpr std::uint16_t Matrix[105] = {
        0xAEFC, 0x4DD9, 0x9BB2, 0x2745, 0x4E8A, 0x9D14, 0x2A09, 0x7B61, 0xF6C2, 0xFDA5, 0xEB6B,
        0xC6F7, 0x9DCF, 0x2BBF, 0x4563, 0x8AC6, 0x05AD, 0x0B5A, 0x16B4, 0x2D68, 0x5AD0, 0x0375,
        0x06EA, 0x0DD4, 0x1BA8, 0x3750, 0x6EA0, 0xDD40, 0xD849, 0xA0B3, 0x5147, 0xA28E, 0x553D,
        0xAA7A, 0x44D5, 0x6F45, 0xDE8A, 0xAD35, 0x4A4B, 0x9496, 0x390D, 0x721A, 0xEB23, 0xC667,
        0x9CEF, 0x29FF, 0x53FE, 0xA7FC, 0x5FD9, 0x47D3, 0x8FA6, 0x0F6D, 0x1EDA, 0x3DB4, 0x7B68,
        0xF6D0, 0xB861, 0x60E3, 0xC1C6, 0x93AD, 0x377B, 0x6EF6, 0xDDEC, 0x45A0, 0x8B40, 0x06A1,
        0x0D42, 0x1A84, 0x3508, 0x6A10, 0xAA51, 0x4483, 0x8906, 0x022D, 0x045A, 0x08B4, 0x1168,
        0x76B4, 0xED68, 0xCAF1, 0x85C3, 0x1BA7, 0x374E, 0x6E9C, 0x3730, 0x6E60, 0xDCC0, 0xA9A1,
        0x4363, 0x86C6, 0x1DAD, 0x3331, 0x6662, 0xCCC4, 0x89A9, 0x0373, 0x06E6, 0x0DCC, 0x1021,
        0x2042, 0x4084, 0x8108, 0x1231, 0x2462, 0x48C4};
    const std::size_t length = std::min(password.size(), MaxXorPasswordBytes);
    if (length == 0) return 0;
    std::uint16_t key = InitialCode[length - 1];
    std::size_t element = 0x68;
    for (std::size_t k = length; k-- > 0;) {
        std::uint8_t character = password[k];
        for (int bit = 0; bit < 7; ++bit) {
            if (character & 0x40) key ^= Matrix[element];
            character = static_cast<std::uint8_t>(character << 1);
            --element;
        }
    }
    return key;
}

Result<bool> decryptWorkbookStream(std::vector<std::uint8_t>& stream,
                                   std::span<const std::string> passwords) {
    // FILEPASS stands among the first records of the globals (right after the BOF, as Excel
    // writes it); record headers are never encrypted, so the globals can be walked to find it.
    if (stream.size() < 8 || readLe16(stream, 0) != BofId) return false;
    std::size_t offset = 4 + readLe16(stream, 2);
    while (offset <= stream.size() - 4 && readLe16(stream, offset) != FilePassId) {
        if (readLe16(stream, offset) == EofId) return false;
        offset += 4 + readLe16(stream, offset + 2);
    }
    if (offset > stream.size() - 4) return false;
    const std::size_t length = readLe16(stream, offset + 2);
    if (length > stream.size() - offset - 4) return unsupported("the record runs past the stream");
    const std::vector<std::uint8_t> record(
        stream.begin() + static_cast<std::ptrdiff_t>(offset + 4),
        stream.begin() + static_cast<std::ptrdiff_t>(offset + 4 + length));
    const std::size_t start = offset + 4 + length;
    const bool biff5 = stream.size() >= 6 && readLe16(stream, 4) == 0x0500;
    Result<void> done;
    if (biff5) {
        // BIFF5 knows XOR obfuscation only and writes no encryption type.
        done = decryptXor(stream, start, record, passwords);
    } else if (record.size() < 2) {
        return unsupported("the record holds no encryption type");
    } else if (readLe16(record, 0) == 0) {
        done = decryptXor(stream, start, std::span(record).subspan(2), passwords);
    } else if (readLe16(record, 0) == 1 && record.size() >= 6) {
        const std::uint16_t major = readLe16(record, 2);
        const std::uint16_t minor = readLe16(record, 4);
        const std::span<const std::uint8_t> fields = std::span(record).subspan(2);
        if (major == 1 && minor == 1) {
            done = decryptRc4Md5(stream, start, fields, passwords);
        } else if (major >= 2 && major <= 4 && minor == 2) {
            done = decryptRc4CryptoApi(stream, start, fields, passwords);
        } else {
            return unsupported("RC4 version " + std::to_string(major) + "." +
                               std::to_string(minor));
        }
    } else {
        return unsupported("encryption type " + std::to_string(readLe16(record, 0)));
    }
    if (!done) return done.error();
    return true;
}

}  // namespace spreadsheet
