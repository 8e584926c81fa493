#include "spreadsheet/biff_crypto.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "decrypted_workbook.h"
#include "spreadsheet/office_crypto.h"
#include "spreadsheet/workbook_reader.h"
#include "spreadsheet/xls_reader.h"

namespace spreadsheet {
namespace {

using testing::cryptoFixture;
using testing::sameWorkbook;

std::vector<std::uint8_t> fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

WorkbookData plainBook(const std::filesystem::path& path) {
    Result<WorkbookData> book = openWorkbookFile(path);
    EXPECT_TRUE(book) << path;
    return book ? *book : WorkbookData{};
}

// The unencrypted grid.xls, and the same saved again by LibreOffice, which keeps no cached
// text or boolean results of formulas: the original of the files LibreOffice encrypted.
const WorkbookData& plainGrid() {
    static const WorkbookData grid =
        plainBook(std::filesystem::path(SHEETMERGE_TEST_DATA) / "xls" / "grid.xls");
    return grid;
}
const WorkbookData& libreOfficeGrid() {
    static const WorkbookData grid = plainBook(cryptoFixture("libreoffice_plain_grid.xls"));
    return grid;
}

TEST(BiffCrypto, XorKeyAndVerifierMatchWhatExcelWrote) {
    // The FILEPASS record Excel 2002 wrote for the password "password" (shared corpus file
    // sheetjs__password_2002_40_xor.xls): key 0x147A, verifier 0x83AF.
    const std::vector<std::uint8_t> password = bytesOf("password");
    EXPECT_EQ(xorKey(password), 0x147A);
    EXPECT_EQ(xorPasswordVerifier(password), 0x83AF);
    // Only the first 15 bytes count, as Excel cuts longer passwords.
    const std::vector<std::uint8_t> longer = bytesOf("VelvetSweatshop and more");
    const std::vector<std::uint8_t> cut = bytesOf("VelvetSweatshop");
    EXPECT_EQ(xorKey(longer), xorKey(cut));
    EXPECT_EQ(xorPasswordVerifier(longer), xorPasswordVerifier(cut));
    EXPECT_NE(xorKey(bytesOf("passworc")), xorKey(password));
}

TEST(BiffCrypto, EncryptedXlsReadsLikeItsOriginalWithTheRightPassword) {
    // Every kind of .xls encryption, from LibreOffice and from our own encrypter; the default
    // password opens without being given.
    struct Case {
        const char* file;
        std::vector<std::string> passwords;
        const WorkbookData& original;
    };
    const Case cases[] = {
        {"libreoffice_rc4_grid.xls", {"lo-Pass1"}, libreOfficeGrid()},
        {"libreoffice_default_password_grid.xls", {}, libreOfficeGrid()},
        {"cryptoapi_grid.xls", {"api-Pass"}, plainGrid()},
        {"cryptoapi_40bit_default_password_grid.xls", {}, plainGrid()},
        {"xor_grid.xls", {"xor-pw"}, plainGrid()},
        {"xor_default_password_grid.xls", {}, plainGrid()},
        {"xor_gbk_password_grid.xls", {"密码"}, plainGrid()},
        // Several passwords are tried in order; the right one may come last.
        {"cryptoapi_grid.xls", {"api-pass", "", "密码", "api-Pass"}, plainGrid()},
        {"libreoffice_rc4_grid.xls", {"wrong", "lo-Pass1", "also wrong"}, libreOfficeGrid()},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.file);
        Result<WorkbookData> book = openWorkbookFile(cryptoFixture(row.file), {row.passwords});
        ASSERT_TRUE(book) << errorText(book.error());
        EXPECT_FALSE(row.original.sheets.empty());
        EXPECT_TRUE(sameWorkbook(*book, row.original));
    }
}

TEST(BiffCrypto, WrongOrMissingPasswordsFailWithTheirCause) {
    struct Case {
        const char* file;
        std::vector<std::string> passwords;
        bool wrongPassword;
    };
    const Case cases[] = {
        {"libreoffice_rc4_grid.xls", {}, false},
        {"libreoffice_rc4_grid.xls", {"LO-PASS1", "lo-Pass"}, true},
        {"cryptoapi_grid.xls", {}, false},
        {"cryptoapi_grid.xls", {"xor-pw"}, true},
        {"xor_grid.xls", {"api-Pass"}, true},
        {"xor_gbk_password_grid.xls", {"密", "密码码"}, true},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.file);
        Result<WorkbookData> book = openWorkbookFile(cryptoFixture(row.file), {row.passwords});
        ASSERT_FALSE(book);
        EXPECT_EQ(book.error().code, ErrorCode::EncryptedWorkbook);
        EXPECT_EQ(isWrongPasswordError(book.error()), row.wrongPassword) << book.error().detail;
        EXPECT_EQ(errorText(book.error()).rfind("文件受密码保护（未提供密码或密码不正确）", 0), 0u);
    }
}

TEST(BiffCrypto, RealExcelXorFileOpensWithItsPassword) {
    const auto path =
        std::filesystem::path(SHEETMERGE_CORPUS) / "sheetjs__password_2002_40_xor.xls";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "corpus not available";
    Result<WorkbookData> none = openWorkbookFile(path);
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error().code, ErrorCode::EncryptedWorkbook);
    Result<WorkbookData> book = openWorkbookFile(path, {{"password"}});
    ASSERT_TRUE(book) << errorText(book.error());
    ASSERT_EQ(book->sheets.size(), 3u);
    EXPECT_EQ(book->sheets[0].name, "Sheet1");
    const Cell* cell = book->sheets[0].cell(2, 2);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->number, 10.0);
}

// An .xls fixture with `bytes` written over its FILEPASS record's data from `field` on.
std::vector<std::uint8_t> withFilePassChanged(const char* file, std::size_t field,
                                              std::vector<std::uint8_t> bytes) {
    std::vector<std::uint8_t> data = fileBytes(cryptoFixture(file));
    // FILEPASS follows the globals' BOF (record 0x0809 of 16 bytes) at stream offset 20; its
    // fields are found through their record id in the file, which stores the stream whole.
    for (std::size_t at = 512; at + 4 < data.size(); ++at) {
        if (data[at - 20] == 0x09 && data[at - 19] == 0x08 && data[at] == 0x2F &&
            data[at + 1] == 0) {
            std::copy(bytes.begin(), bytes.end(), data.begin() + static_cast<long>(at + 4 + field));
            return data;
        }
    }
    ADD_FAILURE() << "no FILEPASS in " << file;
    return data;
}

TEST(BiffCrypto, MalformedFilePassFailsFastWithItsCause) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        ErrorCode code;
    };
    const Case cases[] = {
        {"header size of 2 GiB", fileBytes(cryptoFixture("hostile_cryptoapi_header_size.xls")),
         ErrorCode::UnsupportedEncryption},
        {"unknown encryption type", withFilePassChanged("cryptoapi_grid.xls", 0, {0x07, 0x00}),
         ErrorCode::UnsupportedEncryption},
        {"unknown RC4 version",
         withFilePassChanged("cryptoapi_grid.xls", 2, {0x09, 0x00, 0x02, 0x00}),
         ErrorCode::UnsupportedEncryption},
        {"AES named inside an .xls",
         withFilePassChanged("cryptoapi_grid.xls", 2 + 12 + 8, {0x0E, 0x66}),
         ErrorCode::UnsupportedEncryption},
        {"a key of 256 bits", withFilePassChanged("cryptoapi_grid.xls", 2 + 12 + 16, {0x00, 0x01}),
         ErrorCode::UnsupportedEncryption},
        {"RC4 version 2.1",
         withFilePassChanged("libreoffice_rc4_grid.xls", 0, {0x01, 0x00, 0x02, 0x00}),
         ErrorCode::UnsupportedEncryption},
        {"changed verifier",
         withFilePassChanged("libreoffice_rc4_grid.xls", 2 + 4 + 16, {0x00, 0x01, 0x02}),
         ErrorCode::EncryptedWorkbook},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        Result<WorkbookData> book =
            readXls(row.bytes, std::string(), std::vector<std::string>{"api-Pass", "lo-Pass1"});
        ASSERT_FALSE(book);
        EXPECT_EQ(book.error().code, row.code) << errorText(book.error());
        EXPECT_FALSE(book.error().detail.empty());
    }
}

TEST(BiffCrypto, CutsAndFlippedBytesOfEncryptedBooksNeverCrash) {
    // Decryption runs before the reader's own checks: every prefix and a sweep of flipped bytes
    // must still give a book or an error (sanitizer builds catch memory faults here).
    const std::vector<std::string> passwords{"api-Pass"};
    const std::vector<std::uint8_t> good = fileBytes(cryptoFixture("cryptoapi_grid.xls"));
    for (std::size_t length = 0; length < good.size(); length += 61) {
        Result<WorkbookData> book = readXls(std::span(good.data(), length), {}, passwords);
        if (!book) {
            EXPECT_FALSE(book.error().detail.empty());
        }
    }
    for (std::size_t at = 512; at < good.size(); at += 23) {
        std::vector<std::uint8_t> bytes = good;
        bytes[at] ^= 0x5A;
        Result<WorkbookData> book = readXls(bytes, {}, passwords);
        if (!book) {
            EXPECT_FALSE(book.error().detail.empty());
        }
    }
}

}  // namespace
}  // namespace spreadsheet
