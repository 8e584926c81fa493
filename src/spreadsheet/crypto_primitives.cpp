#include "spreadsheet/detail/crypto_primitives.h"

#include <nettle/aes.h>
#include <nettle/arcfour.h>
#include <nettle/cbc.h>
#include <nettle/md5.h>
#include <nettle/sha1.h>
#include <nettle/sha2.h>

#include <cassert>
#include <cstring>

namespace spreadsheet::detail {
namespace {

// One context of any of the hashes, driven through the same three calls.
class AnyHash {
public:
    explicit AnyHash(HashAlgorithm algorithm) : m_algorithm(algorithm) { reset(); }

    void reset() {
        switch (m_algorithm) {
            case HashAlgorithm::Md5:
                md5_init(&m_context.md5);
                break;
            case HashAlgorithm::Sha1:
                sha1_init(&m_context.sha1);
                break;
            case HashAlgorithm::Sha256:
                sha256_init(&m_context.sha256);
                break;
            case HashAlgorithm::Sha384:
                sha384_init(&m_context.sha512);
                break;
            case HashAlgorithm::Sha512:
                sha512_init(&m_context.sha512);
                break;
        }
    }
    void update(std::span<const std::uint8_t> bytes) {
        switch (m_algorithm) {
            case HashAlgorithm::Md5:
                md5_update(&m_context.md5, bytes.size(), bytes.data());
                break;
            case HashAlgorithm::Sha1:
                sha1_update(&m_context.sha1, bytes.size(), bytes.data());
                break;
            case HashAlgorithm::Sha256:
                sha256_update(&m_context.sha256, bytes.size(), bytes.data());
                break;
            case HashAlgorithm::Sha384:
            case HashAlgorithm::Sha512:
                sha512_update(&m_context.sha512, bytes.size(), bytes.data());
                break;
        }
    }
    // Writes the digest and starts over, as nettle's digest functions do.
    void digest(std::uint8_t* out) {
        const std::size_t size = hashSize(m_algorithm);
        switch (m_algorithm) {
            case HashAlgorithm::Md5:
                md5_digest(&m_context.md5, size, out);
                break;
            case HashAlgorithm::Sha1:
                sha1_digest(&m_context.sha1, size, out);
                break;
            case HashAlgorithm::Sha256:
                sha256_digest(&m_context.sha256, size, out);
                break;
            case HashAlgorithm::Sha384:
                sha384_digest(&m_context.sha512, size, out);
                break;
            case HashAlgorithm::Sha512:
                sha512_digest(&m_context.sha512, size, out);
                break;
        }
    }

private:
    HashAlgorithm m_algorithm;
    union {
        md5_ctx md5;
        sha1_ctx sha1;
        sha256_ctx sha256;
        sha512_ctx sha512;
    } m_context;
};

}  // namespace

std::size_t hashSize(HashAlgorithm algorithm) {
    switch (algorithm) {
        case HashAlgorithm::Md5:
            return MD5_DIGEST_SIZE;
        case HashAlgorithm::Sha1:
            return SHA1_DIGEST_SIZE;
        case HashAlgorithm::Sha256:
            return SHA256_DIGEST_SIZE;
        case HashAlgorithm::Sha384:
            return SHA384_DIGEST_SIZE;
        case HashAlgorithm::Sha512:
            return SHA512_DIGEST_SIZE;
    }
    return 0;
}

Bytes hashOf(HashAlgorithm algorithm, std::initializer_list<std::span<const std::uint8_t>> parts) {
    AnyHash hash(algorithm);
    for (std::span<const std::uint8_t> part : parts) hash.update(part);
    Bytes digest(hashSize(algorithm));
    hash.digest(digest.data());
    return digest;
}

void iterateHash(HashAlgorithm algorithm, Bytes& digest, std::uint32_t iterations) {
    assert(digest.size() == hashSize(algorithm));
    AnyHash hash(algorithm);
    for (std::uint32_t iterator = 0; iterator < iterations; ++iterator) {
        const std::array<std::uint8_t, 4> prefix = littleEndianBytes(iterator);
        hash.update(prefix);
        hash.update(digest);
        hash.digest(digest.data());
    }
}

bool aesDecryptEcb(std::span<const std::uint8_t> key, std::span<std::uint8_t> data) {
    if (data.size() % AES_BLOCK_SIZE != 0) return false;
    switch (key.size()) {
        case AES128_KEY_SIZE: {
            aes128_ctx context;
            aes128_set_decrypt_key(&context, key.data());
            aes128_decrypt(&context, data.size(), data.data(), data.data());
            return true;
        }
        case AES192_KEY_SIZE: {
            aes192_ctx context;
            aes192_set_decrypt_key(&context, key.data());
            aes192_decrypt(&context, data.size(), data.data(), data.data());
            return true;
        }
        case AES256_KEY_SIZE: {
            aes256_ctx context;
            aes256_set_decrypt_key(&context, key.data());
            aes256_decrypt(&context, data.size(), data.data(), data.data());
            return true;
        }
        default:
            return false;
    }
}

bool aesDecryptCbc(std::span<const std::uint8_t> key, std::span<const std::uint8_t> iv,
                   std::span<std::uint8_t> data) {
    if (data.size() % AES_BLOCK_SIZE != 0 || iv.size() != AES_BLOCK_SIZE) return false;
    std::uint8_t chain[AES_BLOCK_SIZE];
    std::memcpy(chain, iv.data(), AES_BLOCK_SIZE);
    switch (key.size()) {
        case AES128_KEY_SIZE: {
            aes128_ctx context;
            aes128_set_decrypt_key(&context, key.data());
            cbc_decrypt(&context, reinterpret_cast<nettle_cipher_func*>(aes128_decrypt),
                        AES_BLOCK_SIZE, chain, data.size(), data.data(), data.data());
            return true;
        }
        case AES192_KEY_SIZE: {
            aes192_ctx context;
            aes192_set_decrypt_key(&context, key.data());
            cbc_decrypt(&context, reinterpret_cast<nettle_cipher_func*>(aes192_decrypt),
                        AES_BLOCK_SIZE, chain, data.size(), data.data(), data.data());
            return true;
        }
        case AES256_KEY_SIZE: {
            aes256_ctx context;
            aes256_set_decrypt_key(&context, key.data());
            cbc_decrypt(&context, reinterpret_cast<nettle_cipher_func*>(aes256_decrypt),
                        AES_BLOCK_SIZE, chain, data.size(), data.data(), data.data());
            return true;
        }
        default:
            return false;
    }
}

struct Rc4::State {
    arcfour_ctx context;
};

Rc4::Rc4(std::span<const std::uint8_t> key) : m_state(std::make_unique<State>()) {
    assert(!key.empty() && key.size() <= ARCFOUR_MAX_KEY_SIZE);
    arcfour_set_key(&m_state->context, key.size(), key.data());
}

Rc4::~Rc4() = default;

void Rc4::apply(std::span<std::uint8_t> data) {
    arcfour_crypt(&m_state->context, data.size(), data.data(), data.data());
}

void Rc4::skip(std::size_t count) {
    std::uint8_t scratch[256];
    while (count > 0) {
        const std::size_t step = count < sizeof scratch ? count : sizeof scratch;
        arcfour_crypt(&m_state->context, step, scratch, scratch);
        count -= step;
    }
}

Bytes utf16LittleEndian(std::string_view utf8) {
    Bytes out;
    out.reserve(utf8.size() * 2);
    auto unit = [&](std::uint32_t value) {
        out.push_back(static_cast<std::uint8_t>(value));
        out.push_back(static_cast<std::uint8_t>(value >> 8));
    };
    std::size_t position = 0;
    while (position < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[position]);
        std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x06 ? 2
                             : (lead >> 4) == 0x0E ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
        std::uint32_t codePoint = length == 1   ? lead
                                  : length == 2 ? (lead & 0x1Fu)
                                  : length == 3 ? (lead & 0x0Fu)
                                                : (lead & 0x07u);
        bool valid = length != 0 && position + length <= utf8.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[position + k]);
            if ((next & 0xC0) != 0x80) valid = false;
            codePoint = (codePoint << 6) | (next & 0x3Fu);
        }
        if (valid) {
            const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
            valid = codePoint >= smallest[length] && codePoint <= 0x10FFFF &&
                    (codePoint < 0xD800 || codePoint > 0xDFFF);
        }
        if (!valid) {
            unit(0xFFFD);
            ++position;
            continue;
        }
        position += length;
        if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            unit(0xD800 + (codePoint >> 10));
            unit(0xDC00 + (codePoint & 0x3FF));
        } else {
            unit(codePoint);
        }
    }
    return out;
}

}  // namespace spreadsheet::detail
