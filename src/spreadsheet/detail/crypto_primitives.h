// The cryptographic building blocks behind the decryption of password-protected workbooks:
// hashes, AES and RC4 from nettle, behind a small interface so that the container parsing and
// key derivation in office_crypto and biff_crypto stay free of nettle's types.
//   Bytes digest = hashOf(HashAlgorithm::Sha1, {salt, password});
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace spreadsheet::detail {

using Bytes = std::vector<std::uint8_t>;

enum class HashAlgorithm { Md5, Sha1, Sha256, Sha384, Sha512 };

// Digest size in bytes: 16, 20, 32, 48 or 64.
std::size_t hashSize(HashAlgorithm algorithm);

// The digest of the concatenated parts.
Bytes hashOf(HashAlgorithm algorithm, std::initializer_list<std::span<const std::uint8_t>> parts);

// Repeats H(iterator as 4 little-endian bytes + H) `iterations` times on `digest` in place, the
// password hash loop of OOXML encryption. `digest` must hold hashSize(algorithm) bytes.
void iterateHash(HashAlgorithm algorithm, Bytes& digest, std::uint32_t iterations);

// AES with a 16, 24 or 32 byte key; `data` is a whole number of 16-byte blocks, decrypted in
// place. False for another key or data size.
bool aesDecryptEcb(std::span<const std::uint8_t> key, std::span<std::uint8_t> data);
// The same in CBC mode with a 16-byte initialisation vector.
bool aesDecryptCbc(std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv,
                   std::span<std::uint8_t> data);

// The RC4 key stream: XORs it over data, or skips bytes of it.
class Rc4 {
public:
    // `key` of 1 to 256 bytes.
    explicit Rc4(std::span<const std::uint8_t> key);
    ~Rc4();
    Rc4(const Rc4&) = delete;
    Rc4& operator=(const Rc4&) = delete;
    void apply(std::span<std::uint8_t> data);
    void skip(std::size_t count);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// A password as the UTF-16LE bytes the key derivations hash (UTF-8 in, invalid bytes as U+FFFD).
Bytes utf16LittleEndian(std::string_view utf8);

// 4 little-endian bytes.
inline std::array<std::uint8_t, 4> littleEndianBytes(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

}  // namespace spreadsheet::detail
