#include "spreadsheet/office_crypto.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <optional>
#include <string_view>

#include "spreadsheet/detail/crypto_primitives.h"
#include "spreadsheet/detail/xml_reader.h"
#include "spreadsheet/texts.h"

namespace spreadsheet {
namespace {

using detail::Bytes;
using detail::HashAlgorithm;

constexpr std::size_t AesBlock = 16;
// Agile encryption encrypts the package in segments of 4096 bytes, each with its own IV.
constexpr std::size_t SegmentBytes = 4096;
// Standard encryption hashes the password a fixed 50,000 times.
constexpr std::uint32_t StandardSpinCount = 50'000;

// The block keys of agile encryption, one per value derived from the password.
constexpr std::array<std::uint8_t, 8> VerifierInputBlock = {0xFE, 0xA7, 0xD2, 0x76,
                                                            0x3B, 0x4B, 0x9E, 0x79};
constexpr std::array<std::uint8_t, 8> VerifierValueBlock = {0xD7, 0xAA, 0x0F, 0x6D,
                                                            0x30, 0x61, 0x34, 0x4E};
constexpr std::array<std::uint8_t, 8> KeyValueBlock = {0x14, 0x6E, 0x0B, 0xE7,
                                                       0xAB, 0xAC, 0xD0, 0xD6};

Error unsupported(const std::string& what) {
    return Error(ErrorCode::UnsupportedEncryption, "EncryptionInfo: " + what);
}

std::uint32_t readLe32(std::span<const std::uint8_t> data, std::size_t offset) {
    return static_cast<std::uint32_t>(data[offset]) |
           static_cast<std::uint32_t>(data[offset + 1]) << 8 |
           static_cast<std::uint32_t>(data[offset + 2]) << 16 |
           static_cast<std::uint32_t>(data[offset + 3]) << 24;
}

std::uint64_t readLe64(std::span<const std::uint8_t> data, std::size_t offset) {
    return static_cast<std::uint64_t>(readLe32(data, offset)) |
           static_cast<std::uint64_t>(readLe32(data, offset + 4)) << 32;
}

// `bytes` cut or padded with 0x36 to `size`, as both key and IV derivations do.
Bytes fitTo(Bytes bytes, std::size_t size) {
    bytes.resize(size, 0x36);
    return bytes;
}

std::optional<Bytes> decodeBase64(std::string_view text) {
    Bytes out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t accumulator = 0;
    int bits = 0;
    bool ended = false;
    for (const char character : text) {
        int value = -1;
        if (character >= 'A' && character <= 'Z') value = character - 'A';
        if (character >= 'a' && character <= 'z') value = character - 'a' + 26;
        if (character >= '0' && character <= '9') value = character - '0' + 52;
        if (character == '+') value = 62;
        if (character == '/') value = 63;
        if (character == ' ' || character == '\n' || character == '\r' || character == '\t')
            continue;
        if (character == '=') {
            ended = true;
            continue;
        }
        if (value < 0 || ended) return std::nullopt;
        accumulator = (accumulator << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(accumulator >> bits));
        }
    }
    return out;
}

std::optional<HashAlgorithm> hashNamed(std::string_view name) {
    if (name == "SHA512") return HashAlgorithm::Sha512;
    if (name == "SHA384") return HashAlgorithm::Sha384;
    if (name == "SHA256") return HashAlgorithm::Sha256;
    if (name == "SHA1" || name == "SHA-1") return HashAlgorithm::Sha1;
    if (name == "MD5") return HashAlgorithm::Md5;
    return std::nullopt;
}

// The cipher parameters an element of the agile descriptor carries (keyData and the password
// key encryptor share them).
struct CipherParameters {
    std::size_t saltSize = 0;
    std::size_t blockSize = 0;
    std::size_t keyBytes = 0;
    std::size_t hashSize = 0;
    HashAlgorithm hash = HashAlgorithm::Sha1;
    Bytes salt;
};

struct PasswordKeyEncryptor {
    CipherParameters cipher;
    std::uint32_t spinCount = 0;
    Bytes encryptedVerifierHashInput;
    Bytes encryptedVerifierHashValue;
    Bytes encryptedKeyValue;
};

struct AgileInfo {
    std::optional<CipherParameters> keyData;
    std::optional<PasswordKeyEncryptor> password;
};

// Reads the agile descriptor's keyData and password key encryptor; certificate key encryptors
// are passed over.
class AgileDescriptorHandler : public detail::XmlHandler {
public:
    AgileInfo info;

    void startElement(std::string_view localName,
                      const detail::XmlAttributes& attributes) override {
        if (failure()) return;
        if (localName == "keyData") {
            Result<CipherParameters> cipher = readCipher("keyData", attributes);
            if (!cipher) return fail(cipher.error());
            info.keyData = std::move(*cipher);
        } else if (localName == "keyEncryptor") {
            const std::optional<std::string_view> uri = attributes.get("uri");
            m_inPasswordEncryptor = uri && uri->ends_with("/keyEncryptor/password");
        } else if (localName == "encryptedKey" && m_inPasswordEncryptor && !info.password) {
            Result<PasswordKeyEncryptor> encryptor = readPasswordEncryptor(attributes);
            if (!encryptor) return fail(encryptor.error());
            info.password = std::move(*encryptor);
        }
    }
    void endElement(std::string_view localName) override {
        if (localName == "keyEncryptor") m_inPasswordEncryptor = false;
    }

private:
    static Result<std::size_t> number(std::string_view element,
                                      const detail::XmlAttributes& attributes,
                                      std::string_view name, std::size_t low, std::size_t high) {
        const std::optional<std::string_view> text = attributes.get(name);
        if (!text) return unsupported(std::string(element) + " has no " + std::string(name));
        std::uint64_t value = 0;
        const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
        if (error != std::errc() || end != text->data() + text->size() || value < low ||
            value > high) {
            return unsupported(std::string(element) + " " + std::string(name) + "=\"" +
                               std::string(text->substr(0, 24)) + "\" is outside " +
                               std::to_string(low) + ".." + std::to_string(high));
        }
        return static_cast<std::size_t>(value);
    }

    static Result<Bytes> binary(std::string_view element, const detail::XmlAttributes& attributes,
                                std::string_view name, std::size_t atLeast) {
        const std::optional<std::string_view> text = attributes.get(name);
        std::optional<Bytes> bytes = text ? decodeBase64(*text) : std::nullopt;
        if (!bytes)
            return unsupported(std::string(element) + " " + std::string(name) +
                               " is missing or not base64");
        if (bytes->size() < atLeast) {
            return unsupported(std::string(element) + " " + std::string(name) + " holds " +
                               std::to_string(bytes->size()) + " bytes, fewer than " +
                               std::to_string(atLeast));
        }
        return std::move(*bytes);
    }

    static Result<CipherParameters> readCipher(std::string_view element,
                                               const detail::XmlAttributes& attributes) {
        const std::string_view cipherName = attributes.get("cipherAlgorithm").value_or("");
        if (cipherName != "AES")
            return unsupported(std::string(element) + " cipher \"" +
                               std::string(cipherName.substr(0, 24)) + "\" (only AES is read)");
        const std::string_view chaining = attributes.get("cipherChaining").value_or("");
        if (chaining != "ChainingModeCBC")
            return unsupported(std::string(element) + " chaining \"" +
                               std::string(chaining.substr(0, 24)) +
                               "\" (only ChainingModeCBC is read)");
        const std::string_view hashName = attributes.get("hashAlgorithm").value_or("");
        const std::optional<HashAlgorithm> hash = hashNamed(hashName);
        if (!hash)
            return unsupported(std::string(element) + " hash \"" +
                               std::string(hashName.substr(0, 24)) + "\" is not known");
        CipherParameters cipher;
        cipher.hash = *hash;
        Result<std::size_t> saltSize = number(element, attributes, "saltSize", 1, MaxSaltBytes);
        if (!saltSize) return saltSize.error();
        Result<std::size_t> blockSize =
            number(element, attributes, "blockSize", AesBlock, AesBlock);
        if (!blockSize) return blockSize.error();
        Result<std::size_t> keyBits = number(element, attributes, "keyBits", 128, 256);
        if (!keyBits) return keyBits.error();
        if (*keyBits != 128 && *keyBits != 192 && *keyBits != 256)
            return unsupported(std::string(element) + " keyBits=" + std::to_string(*keyBits) +
                               " is no AES key size");
        const std::size_t digest = detail::hashSize(*hash);
        Result<std::size_t> hashSize = number(element, attributes, "hashSize", digest, digest);
        if (!hashSize) return hashSize.error();
        Result<Bytes> salt = binary(element, attributes, "saltValue", *saltSize);
        if (!salt) return salt.error();
        cipher.saltSize = *saltSize;
        cipher.blockSize = *blockSize;
        cipher.keyBytes = *keyBits / 8;
        cipher.hashSize = *hashSize;
        cipher.salt = std::move(*salt);
        cipher.salt.resize(*saltSize);
        return cipher;
    }

    static Result<PasswordKeyEncryptor> readPasswordEncryptor(
        const detail::XmlAttributes& attributes) {
        constexpr std::string_view Element = "password encryptedKey";
        PasswordKeyEncryptor encryptor;
        Result<CipherParameters> cipher = readCipher(Element, attributes);
        if (!cipher) return cipher.error();
        encryptor.cipher = std::move(*cipher);
        Result<std::size_t> spinCount = number(Element, attributes, "spinCount", 0, MaxSpinCount);
        if (!spinCount) return spinCount.error();
        encryptor.spinCount = static_cast<std::uint32_t>(*spinCount);
        const CipherParameters& parameters = encryptor.cipher;
        Result<Bytes> input =
            binary(Element, attributes, "encryptedVerifierHashInput", parameters.saltSize);
        if (!input) return input.error();
        Result<Bytes> value =
            binary(Element, attributes, "encryptedVerifierHashValue", parameters.hashSize);
        if (!value) return value.error();
        Result<Bytes> key = binary(Element, attributes, "encryptedKeyValue", parameters.keyBytes);
        if (!key) return key.error();
        for (const Bytes* encrypted : {&*input, &*value, &*key}) {
            if (encrypted->size() % AesBlock != 0 || encrypted->size() > MaxSaltBytes)
                return unsupported(std::string(Element) +
                                   " holds an encrypted value that is no whole number of blocks");
        }
        encryptor.encryptedVerifierHashInput = std::move(*input);
        encryptor.encryptedVerifierHashValue = std::move(*value);
        encryptor.encryptedKeyValue = std::move(*key);
        return encryptor;
    }

    bool m_inPasswordEncryptor = false;
};

// The intermediate key of agile encryption when `password` is right.
std::optional<Bytes> agileSecretKey(const PasswordKeyEncryptor& encryptor,
                                    const std::string& password) {
    const CipherParameters& cipher = encryptor.cipher;
    Bytes hash = detail::hashOf(cipher.hash, {cipher.salt, detail::utf16LittleEndian(password)});
    detail::iterateHash(cipher.hash, hash, encryptor.spinCount);
    const Bytes iv = fitTo(cipher.salt, cipher.blockSize);
    auto decrypt = [&](std::span<const std::uint8_t> blockKey, const Bytes& encrypted) {
        const Bytes key = fitTo(detail::hashOf(cipher.hash, {hash, blockKey}), cipher.keyBytes);
        Bytes plain = encrypted;
        detail::aesDecryptCbc(key, iv, plain);
        return plain;
    };
    Bytes input = decrypt(VerifierInputBlock, encryptor.encryptedVerifierHashInput);
    input.resize(cipher.saltSize);
    const Bytes expected = detail::hashOf(cipher.hash, {input});
    Bytes value = decrypt(VerifierValueBlock, encryptor.encryptedVerifierHashValue);
    if (!std::equal(expected.begin(), expected.end(), value.begin())) return std::nullopt;
    Bytes key = decrypt(KeyValueBlock, encryptor.encryptedKeyValue);
    key.resize(cipher.keyBytes);
    return key;
}

// The package length the EncryptedPackage stream claims, checked against what it holds.
Result<std::size_t> claimedLength(std::span<const std::uint8_t> stream, std::size_t blockSize) {
    if (stream.size() < 8)
        return Error(ErrorCode::CfbCorrupt, "EncryptedPackage stream shorter than its size field");
    const std::uint64_t claimed = readLe64(stream, 0);
    const std::uint64_t available = stream.size() - 8;
    const std::uint64_t needed = (claimed + blockSize - 1) / blockSize * blockSize;
    if (claimed > available || needed > available) {
        return Error(ErrorCode::CfbCorrupt, "EncryptedPackage claims " + std::to_string(claimed) +
                                                " bytes but holds " + std::to_string(available));
    }
    return static_cast<std::size_t>(claimed);
}

Result<std::vector<std::uint8_t>> decryptAgile(std::span<const std::uint8_t> info,
                                               std::vector<std::uint8_t> package,
                                               std::span<const std::string> passwords) {
    std::string_view xml(reinterpret_cast<const char*>(info.data()) + 8, info.size() - 8);
    AgileDescriptorHandler handler;
    Result<void> parsed = detail::parseXml(handler, "EncryptionInfo", xml);
    if (!parsed) {
        if (parsed.error().code == ErrorCode::UnsupportedEncryption) return parsed.error();
        return unsupported("the encryption descriptor is not readable XML: " +
                           parsed.error().detail);
    }
    if (!handler.info.keyData) return unsupported("the descriptor has no keyData");
    if (!handler.info.password)
        return unsupported("no password key encryptor (certificate encryption is not read)");
    const CipherParameters& data = *handler.info.keyData;
    Result<std::size_t> length = claimedLength(package, data.blockSize);
    if (!length) return length.error();

    std::optional<Bytes> secret;
    for (const std::string& password : passwords) {
        secret = agileSecretKey(*handler.info.password, password);
        if (secret) break;
    }
    if (!secret) return passwordsRefused(passwords.size());
    if (secret->size() != data.keyBytes)
        return unsupported("the key encryptor's key size differs from keyData's");

    const std::size_t needed = (*length + data.blockSize - 1) / data.blockSize * data.blockSize;
    std::span<std::uint8_t> payload(package.data() + 8, needed);
    for (std::size_t offset = 0, segment = 0; offset < payload.size();
         offset += SegmentBytes, ++segment) {
        const std::array<std::uint8_t, 4> index =
            detail::littleEndianBytes(static_cast<std::uint32_t>(segment));
        const Bytes iv = fitTo(detail::hashOf(data.hash, {data.salt, index}), data.blockSize);
        const std::size_t size = std::min(SegmentBytes, payload.size() - offset);
        detail::aesDecryptCbc(*secret, iv, payload.subspan(offset, size));
    }
    package.erase(package.begin(), package.begin() + 8);
    package.resize(*length);
    return package;
}

// The AES key of standard encryption for `password`.
Bytes standardKey(std::span<const std::uint8_t> salt, const std::string& password,
                  std::size_t keyBytes) {
    Bytes hash = detail::hashOf(HashAlgorithm::Sha1, {salt, detail::utf16LittleEndian(password)});
    detail::iterateHash(HashAlgorithm::Sha1, hash, StandardSpinCount);
    const std::array<std::uint8_t, 4> block = detail::littleEndianBytes(0);
    const Bytes final = detail::hashOf(HashAlgorithm::Sha1, {hash, block});
    std::array<std::uint8_t, 64> inner;
    std::array<std::uint8_t, 64> outer;
    inner.fill(0x36);
    outer.fill(0x5C);
    for (std::size_t k = 0; k < final.size(); ++k) {
        inner[k] ^= final[k];
        outer[k] ^= final[k];
    }
    Bytes key = detail::hashOf(HashAlgorithm::Sha1, {inner});
    const Bytes second = detail::hashOf(HashAlgorithm::Sha1, {outer});
    key.insert(key.end(), second.begin(), second.end());
    key.resize(keyBytes);
    return key;
}

Result<std::vector<std::uint8_t>> decryptStandard(std::span<const std::uint8_t> info,
                                                  std::vector<std::uint8_t> package,
                                                  std::span<const std::string> passwords) {
    // Version, flags copy, header size, header, then the verifier.
    if (info.size() < 12) return unsupported("shorter than its fixed fields");
    const std::uint32_t headerSize = readLe32(info, 8);
    if (headerSize < 32 || headerSize > info.size() - 12)
        return unsupported("header size " + std::to_string(headerSize) + " does not fit");
    const std::span<const std::uint8_t> header = info.subspan(12, headerSize);
    const std::uint32_t flags = readLe32(header, 0);
    const std::uint32_t algorithm = readLe32(header, 8);
    const std::uint32_t hashAlgorithm = readLe32(header, 12);
    const std::uint32_t keyBits = readLe32(header, 16);
    constexpr std::uint32_t CryptoApiFlag = 0x04;
    constexpr std::uint32_t AesFlag = 0x20;
    constexpr std::uint32_t ExternalFlag = 0x10;
    if ((flags & ExternalFlag) != 0) return unsupported("an external encryption provider");
    if ((flags & (CryptoApiFlag | AesFlag)) != (CryptoApiFlag | AesFlag))
        return unsupported("standard encryption without AES (flags " + std::to_string(flags) + ")");
    const bool aes128 = algorithm == 0x660E || algorithm == 0;
    const bool knownAes = aes128 || algorithm == 0x660F || algorithm == 0x6610;
    const std::uint32_t expectedBits = algorithm == 0x660F ? 192 : algorithm == 0x6610 ? 256 : 128;
    if (!knownAes || keyBits != expectedBits)
        return unsupported("cipher " + std::to_string(algorithm) + " with a key of " +
                           std::to_string(keyBits) + " bits");
    if (hashAlgorithm != 0x8004 && hashAlgorithm != 0)
        return unsupported("hash " + std::to_string(hashAlgorithm) + " (only SHA-1 is read)");

    const std::span<const std::uint8_t> verifier = info.subspan(12 + headerSize);
    // Salt size, salt (16), encrypted verifier (16), hash size, encrypted hash (32).
    if (verifier.size() < 4 + 16 + 16 + 4 + 32) return unsupported("the verifier is cut short");
    if (readLe32(verifier, 0) != 16) return unsupported("the salt is not 16 bytes");
    if (readLe32(verifier, 36) != 20) return unsupported("the verifier hash is not 20 bytes");
    const std::span<const std::uint8_t> salt = verifier.subspan(4, 16);

    Result<std::size_t> length = claimedLength(package, AesBlock);
    if (!length) return length.error();
    std::optional<Bytes> key;
    for (const std::string& password : passwords) {
        Bytes candidate = standardKey(salt, password, keyBits / 8);
        Bytes plainVerifier(verifier.begin() + 20, verifier.begin() + 36);
        Bytes plainHash(verifier.begin() + 40, verifier.begin() + 72);
        detail::aesDecryptEcb(candidate, plainVerifier);
        detail::aesDecryptEcb(candidate, plainHash);
        const Bytes expected = detail::hashOf(HashAlgorithm::Sha1, {plainVerifier});
        if (std::equal(expected.begin(), expected.end(), plainHash.begin())) {
            key = std::move(candidate);
            break;
        }
    }
    if (!key) return passwordsRefused(passwords.size());
    const std::size_t needed = (*length + AesBlock - 1) / AesBlock * AesBlock;
    detail::aesDecryptEcb(*key, std::span<std::uint8_t>(package.data() + 8, needed));
    package.erase(package.begin(), package.begin() + 8);
    package.resize(*length);
    return package;
}

}  // namespace

bool holdsEncryptedPackage(const CompoundFile& file) {
    return file.findStream("EncryptionInfo") != nullptr ||
           file.findStream("EncryptedPackage") != nullptr;
}

Error passwordsRefused(std::size_t passwordsTried) {
    if (passwordsTried == 0) return Error(ErrorCode::EncryptedWorkbook, texts::NoPasswordGiven);
    return Error(ErrorCode::EncryptedWorkbook, std::string(texts::PasswordsWrongHead) +
                                                   std::to_string(passwordsTried) +
                                                   texts::PasswordsWrongTail);
}

bool isWrongPasswordError(const Error& error) {
    return error.code == ErrorCode::EncryptedWorkbook &&
           error.detail.starts_with(texts::PasswordsWrongHead);
}

Result<std::vector<std::uint8_t>> decryptPackage(const CompoundFile& file,
                                                 std::span<const std::string> passwords) {
    const CfbEntry* infoEntry = file.findStream("EncryptionInfo");
    const CfbEntry* packageEntry = file.findStream("EncryptedPackage");
    if (infoEntry == nullptr || packageEntry == nullptr)
        return unsupported("the EncryptionInfo or the EncryptedPackage stream is missing");
    if (infoEntry->size > MaxEncryptionInfoBytes)
        return unsupported("the stream holds " + std::to_string(infoEntry->size) +
                           " bytes (at most 1 MiB is read)");
    Result<std::vector<std::uint8_t>> info = file.readStream(*infoEntry);
    if (!info) return info.error();
    if (info->size() < 8) return unsupported("shorter than its version");
    const std::uint16_t major = static_cast<std::uint16_t>((*info)[0] | (*info)[1] << 8);
    const std::uint16_t minor = static_cast<std::uint16_t>((*info)[2] | (*info)[3] << 8);
    const bool agile = major == 4 && minor == 4;
    const bool standard = (major == 2 || major == 3 || major == 4) && minor == 2;
    if (!agile && !standard) {
        return unsupported("version " + std::to_string(major) + "." + std::to_string(minor) +
                           (minor == 3 ? " (extensible encryption)" : ""));
    }
    Result<std::vector<std::uint8_t>> package = file.readStream(*packageEntry);
    if (!package) return package.error();
    if (agile) return decryptAgile(*info, std::move(*package), passwords);
    return decryptStandard(*info, std::move(*package), passwords);
}

}  // namespace spreadsheet
