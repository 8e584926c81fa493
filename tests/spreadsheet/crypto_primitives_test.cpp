#include "spreadsheet/detail/crypto_primitives.h"

#include <gtest/gtest.h>

#include <string>

namespace spreadsheet::detail {
namespace {

Bytes hex(std::string_view text) {
    Bytes out;
    for (std::size_t k = 0; k + 1 < text.size(); k += 2)
        out.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(text.substr(k, 2)), nullptr, 16)));
    return out;
}

Bytes ascii(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

TEST(CryptoPrimitives, HashesMatchTheirPublishedVectors) {
    // RFC 1321 and FIPS 180-2 appendix examples for "abc"; the empty string for MD5.
    struct Case {
        HashAlgorithm algorithm;
        const char* input;
        const char* digest;
    };
    const Case cases[] = {
        {HashAlgorithm::Md5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {HashAlgorithm::Md5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {HashAlgorithm::Sha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {HashAlgorithm::Sha256, "abc",
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {HashAlgorithm::Sha384, "abc",
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca1"
         "34c825a7"},
        {HashAlgorithm::Sha512, "abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23"
         "a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.digest);
        EXPECT_EQ(hashOf(row.algorithm, {ascii(row.input)}), hex(row.digest));
        // The parts are hashed as one message.
        const std::string input = row.input;
        if (input.size() > 1) {
            EXPECT_EQ(hashOf(row.algorithm, {ascii(input.substr(0, 1)), ascii(input.substr(1))}),
                      hex(row.digest));
        }
    }
}

TEST(CryptoPrimitives, IteratedHashPrefixesTheRoundNumber) {
    // Two rounds by hand: H(00000000 + H0), then H(01000000 + H1).
    Bytes digest = hashOf(HashAlgorithm::Sha1, {ascii("abc")});
    Bytes expected = digest;
    for (std::uint32_t round = 0; round < 2; ++round) {
        const auto prefix = littleEndianBytes(round);
        expected = hashOf(HashAlgorithm::Sha1, {prefix, expected});
    }
    iterateHash(HashAlgorithm::Sha1, digest, 2);
    EXPECT_EQ(digest, expected);
}

TEST(CryptoPrimitives, AesDecryptsTheStandardsExamples) {
    // FIPS-197 appendix C.1 and C.3 (ECB), SP 800-38A F.2.1 (CBC, first block).
    struct Case {
        const char* key;
        const char* iv;  // empty: ECB
        const char* cipherText;
        const char* plainText;
    };
    const Case cases[] = {
        {"000102030405060708090a0b0c0d0e0f", "", "69c4e0d86a7b0430d8cdb78070b4c55a",
         "00112233445566778899aabbccddeeff"},
        {"000102030405060708090a0b0c0d0e0f1011121314151617", "", "dda97ca4864cdfe06eaf70a0ec0d7191",
         "00112233445566778899aabbccddeeff"},
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "",
         "8ea2b7ca516745bfeafc49904b496089", "00112233445566778899aabbccddeeff"},
        {"2b7e151628aed2a6abf7158809cf4f3c", "000102030405060708090a0b0c0d0e0f",
         "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2",
         "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.cipherText);
        Bytes data = hex(row.cipherText);
        const std::string iv = row.iv;
        const bool done = iv.empty() ? aesDecryptEcb(hex(row.key), data)
                                     : aesDecryptCbc(hex(row.key), hex(row.iv), data);
        ASSERT_TRUE(done);
        EXPECT_EQ(data, hex(row.plainText));
    }
    Bytes partial(15);
    EXPECT_FALSE(aesDecryptEcb(hex("000102030405060708090a0b0c0d0e0f"), partial));
    Bytes block(16);
    EXPECT_FALSE(aesDecryptEcb(Bytes(20), block));
}

TEST(CryptoPrimitives, Rc4KeyStreamMatchesRfc6229AndSkipsExactly) {
    // RFC 6229, 40-bit key 0x0102030405, key stream at offsets 0 and 16.
    const Bytes key = hex("0102030405");
    Rc4 whole(key);
    Bytes stream(32);
    whole.apply(stream);
    EXPECT_EQ(stream, hex("b2396305f03dc027ccc3524a0a1118a86982944f18fc82d589c403a47a0d0919"));
    Rc4 skipping(key);
    skipping.skip(16);
    Bytes second(16);
    skipping.apply(second);
    EXPECT_EQ(second, Bytes(stream.begin() + 16, stream.end()));
}

TEST(CryptoPrimitives, PasswordsBecomeUtf16LittleEndian) {
    struct Case {
        const char* utf8;
        const char* utf16;
    };
    const Case cases[] = {
        {"", ""},
        {"Ab1", "410062003100"},
        {"密码", "c65b0178"},
        {"\xF0\x9D\x84\x9E", "34d81edd"},  // U+1D11E as a surrogate pair
        {"a\xFF"
         "b",
         "6100fdff6200"},                  // a stray byte becomes U+FFFD
        {"\xE5\xAF", "fdfffdff"},          // a cut sequence too
        {"\xED\xA0\x80", "fdfffdfffdff"},  // an encoded surrogate is no character
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.utf16);
        EXPECT_EQ(utf16LittleEndian(row.utf8), hex(row.utf16));
    }
}

}  // namespace
}  // namespace spreadsheet::detail
