#include "spreadsheet/office_crypto.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "decrypted_workbook.h"
#include "spreadsheet/workbook_reader.h"

namespace spreadsheet {
namespace {

using testing::cryptoFixture;
using testing::sameWorkbook;

const WorkbookData& plainGrid() {
    static const WorkbookData grid = [] {
        Result<WorkbookData> book =
            openWorkbookFile(std::filesystem::path(SHEETMERGE_TEST_DATA) / "xls" / "grid.xlsx");
        EXPECT_TRUE(book);
        return book ? *book : WorkbookData{};
    }();
    return grid;
}

TEST(OfficeCrypto, EncryptedXlsxReadsLikeItsOriginalWithTheRightPassword) {
    // Encrypted by officecrypto-tool: agile (AES-256, SHA-512) with a Chinese password, and
    // standard (AES-128, SHA-1).
    struct Case {
        const char* file;
        std::vector<std::string> passwords;
    };
    const Case cases[] = {
        {"agile_grid.xlsx", {"密码Agile-1"}},
        {"standard_grid.xlsx", {"standard-pw"}},
        // Tried in order until one opens the file; later ones are not needed.
        {"agile_grid.xlsx", {"密码agile-1", "", "密码Agile-1", "standard-pw"}},
        {"standard_grid.xlsx", {"Standard-pw", "standard-pw"}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.file);
        Result<WorkbookData> book = openWorkbookFile(cryptoFixture(row.file), {row.passwords});
        ASSERT_TRUE(book) << errorText(book.error());
        EXPECT_EQ(book->format, FileFormat::Xlsx);
        EXPECT_TRUE(sameWorkbook(*book, plainGrid()));
    }
}

TEST(OfficeCrypto, WrongOrMissingPasswordsFailWithTheirCause) {
    struct Case {
        const char* file;
        std::vector<std::string> passwords;
        const char* detail;
    };
    const Case cases[] = {
        {"agile_grid.xlsx", {}, "未提供密码"},
        {"agile_grid.xlsx", {"密码agile-1", "standard-pw"}, "提供的 2 个密码都不正确"},
        {"standard_grid.xlsx", {}, "未提供密码"},
        {"standard_grid.xlsx", {"密码Agile-1"}, "提供的 1 个密码都不正确"},
        // The default password of .xls files is not tried on packages.
        {"standard_grid.xlsx", {"VelvetSweatshop"}, "提供的 1 个密码都不正确"},
        // A verifier that no password matches reads as a wrong password.
        {"hostile_wrong_verifier.xlsx", {"密码Agile-1"}, "提供的 1 个密码都不正确"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.file);
        Result<WorkbookData> book = openWorkbookFile(cryptoFixture(row.file), {row.passwords});
        ASSERT_FALSE(book);
        EXPECT_EQ(book.error().code, ErrorCode::EncryptedWorkbook);
        EXPECT_EQ(book.error().detail, row.detail);
        EXPECT_EQ(isWrongPasswordError(book.error()), !row.passwords.empty());
        EXPECT_EQ(errorText(book.error()),
                  std::string("文件受密码保护（未提供密码或密码不正确）：") + row.detail);
    }
}

TEST(OfficeCrypto, HostileEncryptionInformationFailsBeforeAnyPasswordIsTried) {
    // Each file asks for something no real file asks for; it is refused from the descriptor,
    // with or without passwords (the spin count alone would take hours per password).
    struct Case {
        const char* file;
        ErrorCode code;
        const char* evidence;
    };
    const Case cases[] = {
        {"hostile_spin_count.xlsx", ErrorCode::UnsupportedEncryption, "spinCount"},
        {"hostile_key_bits.xlsx", ErrorCode::UnsupportedEncryption, "keyBits"},
        {"hostile_salt_size.xlsx", ErrorCode::UnsupportedEncryption, "saltSize"},
        {"hostile_unknown_cipher.xlsx", ErrorCode::UnsupportedEncryption, "ROT13"},
        {"hostile_unknown_hash.xlsx", ErrorCode::UnsupportedEncryption, "WHIRLPOOL"},
        {"hostile_standard_header_size.xlsx", ErrorCode::UnsupportedEncryption, "header size"},
        {"hostile_package_claims_more.xlsx", ErrorCode::CfbCorrupt, "claims 1099511627776"},
    };
    for (const Case& row : cases) {
        for (const std::vector<std::string>& passwords :
             {std::vector<std::string>{}, std::vector<std::string>{"密码Agile-1", "standard-pw"}}) {
            SCOPED_TRACE(std::string(row.file) + " with " + std::to_string(passwords.size()));
            Result<WorkbookData> book = openWorkbookFile(cryptoFixture(row.file), {passwords});
            ASSERT_FALSE(book);
            EXPECT_EQ(book.error().code, row.code);
            EXPECT_NE(book.error().detail.find(row.evidence), std::string::npos)
                << book.error().detail;
        }
    }
}

TEST(OfficeCrypto, RealEncryptedPackageFromTheCorpus) {
    // calamine's pass_protected.xlsx: agile, AES-256 with SHA-512, password "123".
    const auto path = std::filesystem::path(SHEETMERGE_CORPUS) / "calamine__pass_protected.xlsx";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "corpus not available";
    Result<WorkbookData> none = openWorkbookFile(path);
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error().code, ErrorCode::EncryptedWorkbook);
    Result<WorkbookData> book = openWorkbookFile(path, {{"1234", "123"}});
    ASSERT_TRUE(book) << errorText(book.error());
    ASSERT_FALSE(book->sheets.empty());
    EXPECT_EQ(book->sheets[0].name, "Sheet1");
}

TEST(OfficeCrypto, CutsAndFlippedBytesNeverCrash) {
    // Decrypted bytes go on to the zip reader; damaged ciphertext must end in an error, never
    // a crash (sanitizer builds catch memory faults here).
    std::ifstream in(cryptoFixture("standard_grid.xlsx"), std::ios::binary);
    const std::vector<std::uint8_t> good{std::istreambuf_iterator<char>(in), {}};
    const OpenOptions options{{"standard-pw"}};
    for (std::size_t length = 0; length < good.size(); length += 97) {
        Result<WorkbookData> book = readWorkbook(std::span(good.data(), length), "a.xlsx", options);
        if (!book) {
            EXPECT_FALSE(book.error().detail.empty());
        }
    }
    for (std::size_t at = 512; at < good.size(); at += 41) {
        std::vector<std::uint8_t> bytes = good;
        bytes[at] ^= 0xA5;
        Result<WorkbookData> book = readWorkbook(bytes, "a.xlsx", options);
        if (!book) {
            EXPECT_FALSE(book.error().detail.empty());
        }
    }
}

}  // namespace
}  // namespace spreadsheet
