#include "spreadsheet/workbook_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace spreadsheet {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

// A fresh folder under the system temp folder, removed with its contents at the end.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "sheetmerge-reader-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::permissions(m_path, fs::perms::owner_all, ignored);
        fs::remove_all(m_path, ignored);
    }
    fs::path write(const std::string& name, std::string_view bytes) const {
        const fs::path path = m_path / name;
        std::ofstream(path, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

TEST(WorkbookReader, SniffsTheFormatFromTheFirstBytes) {
    struct Case {
        const char* name;
        std::string bytes;
        ContentKind kind;
    };
    const Case cases[] = {
        {"empty", "", ContentKind::Empty},
        {"zip local header", std::string("PK\x03\x04\x14\0\0\0", 8), ContentKind::Zip},
        {"empty zip", std::string("PK\x05\x06\0\0\0\0", 8), ContentKind::Zip},
        {"compound file", "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1\0\0", ContentKind::CompoundFile},
        {"cut compound file signature", "\xD0\xCF\x11\xE0", ContentKind::Unknown},
        {"biff8 bof", std::string("\x09\x08\x10\0\0\x06\x10\0", 8), ContentKind::Biff},
        {"biff4 bof", std::string("\x09\x04\x06\0\0\0\x10\0", 8), ContentKind::Biff},
        {"biff2 bof", std::string("\x09\0\x04\0\x02\0\x10\0", 8), ContentKind::Biff},
        {"bof with a huge length", std::string("\x09\x08\xFF\x7F\0\x06\x10\0", 8),
         ContentKind::Unknown},
        {"utf-8 mark",
         "\xEF\xBB\xBF"
         "a,b",
         ContentKind::Text},
        {"utf-16le mark",
         std::string("\xFF\xFE"
                     "a\0",
                     4),
         ContentKind::Text},
        {"utf-16be mark", std::string("\xFE\xFF\0a", 4), ContentKind::Text},
        {"ascii csv", "a,b\r\n1,2\r\n", ContentKind::Text},
        {"gbk csv", "\xD6\xD0,\xCE\xC4\n", ContentKind::Text},
        {"one letter", "a", ContentKind::Text},
        {"nul byte", std::string("a,b\0c", 5), ContentKind::Unknown},
        {"executable", std::string("MZ\x90\0\x03\0\0\0", 8), ContentKind::Unknown},
        {"control bytes", "\x01\x02\x03\x04\x05\x06 ab", ContentKind::Unknown},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(sniffContent(bytesOf(row.bytes)), row.kind);
    }
}

TEST(WorkbookReader, EmptyFileFailsWithItsOwnReason) {
    Result<WorkbookData> book = readWorkbook({}, "null_file.xlsx");
    ASSERT_FALSE(book);
    EXPECT_EQ(book.error().code, ErrorCode::UnknownFormat);
    EXPECT_NE(errorText(book.error()).find("文件为空（0 字节）"), std::string::npos);
}

TEST(WorkbookReader, UnknownContentNamesItsFirstBytes) {
    Result<WorkbookData> book = readWorkbook(bytesOf(std::string("MZ\x90\0", 4)), "program.xls");
    ASSERT_FALSE(book);
    EXPECT_EQ(book.error().code, ErrorCode::UnknownFormat);
    EXPECT_NE(book.error().detail.find("4D 5A 90 00"), std::string::npos) << book.error().detail;
}

TEST(WorkbookReader, MarkupWithoutATableIsNotReadAsCsv) {
    for (const char* text :
         {"<html><body><p>1</p></body></html>", "\xEF\xBB\xBF  <?xml version=\"1.0\"?><Workbook/>",
          "<!DOCTYPE html>"}) {
        SCOPED_TRACE(text);
        Result<WorkbookData> book = readWorkbook(bytesOf(text), "export.xls");
        ASSERT_FALSE(book);
        EXPECT_EQ(book.error().code, ErrorCode::UnknownFormat);
    }
}

TEST(WorkbookReader, HtmlAndXml2003ExportsNamedXlsOpenAsOneWorksheet) {
    for (const char* name : {"html_table_gb2312.xls", "spreadsheetml_2003.xls"}) {
        SCOPED_TRACE(name);
        Result<WorkbookData> book =
            openWorkbookFile(std::filesystem::path(SHEETMERGE_TEST_DATA) / "xls" / name);
        ASSERT_TRUE(book) << errorText(book.error());
        ASSERT_FALSE(book->sheets.empty());
        EXPECT_EQ(book->sheets[0].kind, SheetKind::Worksheet);
        EXPECT_FALSE(book->sheets[0].rows.empty());
    }
}

TEST(WorkbookReader, TextWithAnyExtensionIsReadAsCsvNamedAfterTheFile) {
    Result<WorkbookData> book = readWorkbook(bytesOf("a,b\n1,2\n"), "月报.2024.xls");
    ASSERT_TRUE(book) << errorText(book.error());
    EXPECT_EQ(book->format, FileFormat::Csv);
    ASSERT_EQ(book->sheets.size(), 1u);
    EXPECT_EQ(book->sheets[0].name, "月报.2024");
}

std::string fixtureBytes(const char* folder, const char* name) {
    std::ifstream stream(fs::path(SHEETMERGE_TEST_DATA) / folder / name, std::ios::binary);
    EXPECT_TRUE(stream) << name;
    return {std::istreambuf_iterator<char>(stream), {}};
}

// The extension decides what a file may hold, as in spreadsheet programs: .xlsx and .xlsm only a
// zip package or an encrypted one, .csv only text, .xls anything the engine reads.
TEST(WorkbookReader, TheExtensionDecidesWhatAFileMayHold) {
    const std::string text = "not a zip";
    const std::string html = fixtureBytes("xls", "html_table_gb2312.xls");
    const std::string biff = fixtureBytes("xls", "grid.xls");
    const std::string package = fixtureBytes("xls", "grid.xlsx");
    const std::string encrypted = fixtureBytes("crypto", "agile_grid.xlsx");
    const std::string utf16 = std::string("a\0,\0b\0\n\0001\0,\0002\0\n\0", 16);
    const std::string program = std::string("MZ\x90\0\x03\0", 6);
    struct Case {
        const char* fileName;
        const std::string& bytes;
        bool opens;
        const char* detail;  // a part of the cause when it fails
    };
    const Case cases[] = {
        {"0坏.xlsx", text, false, "扩展名为 .xlsx 的文件不是 Excel 工作簿（内容是文本）"},
        {"0坏.xlsm", text, false, "扩展名为 .xlsm 的文件不是 Excel 工作簿（内容是文本）"},
        {"0坏.xls", text, true, nullptr},
        {"0坏.csv", text, true, nullptr},
        {"导出.xlsx", html, false, "（内容是文本）"},
        {"导出.xls", html, true, nullptr},
        {"改名.xlsx", biff, false, "（内容是 .xls 格式的工作簿）"},
        {"改名.xls", biff, true, nullptr},
        {"改名.csv", biff, false, "扩展名为 .csv 的文件不是文本文件（内容是 .xls 格式的工作簿）"},
        {"表.xlsx", package, true, nullptr},
        {"表.xlsm", package, true, nullptr},
        {"表.xls", package, true, nullptr},
        {"表.csv", package, false, "（内容是 .xlsx 格式的工作簿）"},
        {"无标记.csv", utf16, true, nullptr},
        {"程序.xlsx", program, false, "4D 5A 90 00"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.fileName);
        Result<WorkbookData> book = readWorkbook(bytesOf(row.bytes), row.fileName);
        if (row.opens) {
            ASSERT_TRUE(book) << errorText(book.error());
            ASSERT_FALSE(book->sheets.empty());
            EXPECT_FALSE(book->sheets[0].rows.empty());
            continue;
        }
        ASSERT_FALSE(book);
        EXPECT_EQ(book.error().code, ErrorCode::ExtensionMismatch);
        EXPECT_NE(book.error().detail.find(row.detail), std::string::npos) << book.error().detail;
    }
    // A password-protected package named .xlsx is still a package: it opens with its password.
    OpenOptions options;
    options.passwords = {"密码Agile-1"};
    Result<WorkbookData> protectedBook = readWorkbook(bytesOf(encrypted), "密.xlsx", options);
    EXPECT_TRUE(protectedBook) << errorText(protectedBook.error());
    // From disk, the cause names the file's content in the user's words.
    TempFolder folder;
    Result<WorkbookData> fromDisk = openWorkbookFile(folder.write("0坏.xlsx", text));
    ASSERT_FALSE(fromDisk);
    EXPECT_NE(errorText(fromDisk.error()).find("文件格式或扩展名无效"), std::string::npos)
        << errorText(fromDisk.error());
    EXPECT_TRUE(openWorkbookFile(folder.write("0坏.xls", text)));
}

TEST(WorkbookReader, CutsACsvSheetNameTo31Characters) {
    struct Case {
        std::string fileName;
        std::string sheetName;
    };
    std::string cjk40;
    for (int index = 0; index < 40; ++index) cjk40 += "表";
    std::string cjk31;
    for (int index = 0; index < 31; ++index) cjk31 += "表";
    std::string emoji16;  // 16 characters of two UTF-16 units each: only 15 fit
    for (int index = 0; index < 16; ++index) emoji16 += "\xF0\x9F\x98\x80";
    const Case cases[] = {
        {"csvspectrum__quotes_and_newlines.csv", "csvspectrum__quotes_and_newline"},
        {cjk40 + ".csv", cjk31},
        {emoji16 + ".csv", emoji16.substr(0, 15 * 4)},
        {"short.csv", "short"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.fileName);
        Result<WorkbookData> book = readWorkbook(bytesOf("1"), row.fileName);
        ASSERT_TRUE(book);
        EXPECT_EQ(book->sheets.at(0).name, row.sheetName);
    }
}

TEST(WorkbookReader, NamesTheSheetOfAnExcel4WorksheetFileAfterTheFile) {
    const std::string path = std::string(SHEETMERGE_CORPUS) + "/poi__testEXCEL_4.xls";
    if (!fs::exists(path)) GTEST_SKIP() << "corpus file missing: " << path;
    Result<WorkbookData> book = openWorkbookFile(path);
    if (!book && book.error().code == ErrorCode::UnsupportedVersion)
        GTEST_SKIP() << "BIFF4 not read";
    ASSERT_TRUE(book) << errorText(book.error());
    ASSERT_EQ(book->sheets.size(), 1u);
    EXPECT_EQ(book->sheets[0].name, "poi__testEXCEL_4");
}

TEST(WorkbookReader, BrokenZipGoesToTheZipReaderAndFails) {
    Result<WorkbookData> book =
        readWorkbook(bytesOf(std::string("PK\x03\x04\x14\0\0\0\0\0", 10)), "cut.xlsx");
    ASSERT_FALSE(book);
    EXPECT_NE(book.error().code, ErrorCode::UnknownFormat);
}

TEST(WorkbookReader, OpensAFileReadOnlyAndLeavesItUnchanged) {
    TempFolder folder;
    const std::string content = "名称,数量\n甲,1\n";
    const fs::path path = folder.write("data.csv", content);
    ::chmod(path.c_str(), 0444);
    const auto before = fs::last_write_time(path);
    Result<WorkbookData> book = openWorkbookFile(path);
    ASSERT_TRUE(book) << errorText(book.error());
    EXPECT_EQ(book->sheets.at(0).name, "data");
    EXPECT_EQ(fs::last_write_time(path), before);
    std::ifstream stream(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(stream), {}), content);
}

TEST(WorkbookReader, MissingFileAndFolderFailClearly) {
    TempFolder folder;
    Result<WorkbookData> missing = openWorkbookFile(folder.path() / "nothing.xlsx");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, ErrorCode::FileNotFound);
    EXPECT_NE(missing.error().detail.find("nothing.xlsx"), std::string::npos);
    Result<WorkbookData> directory = openWorkbookFile(folder.path());
    ASSERT_FALSE(directory);
    EXPECT_EQ(directory.error().code, ErrorCode::FileNotReadable);
}

TEST(WorkbookReader, PipeNamedLikeASourceFailsWithoutWaiting) {
    TempFolder folder;
    const fs::path path = folder.path() / "pipe.csv";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    Result<WorkbookData> book = openWorkbookFile(path);
    ASSERT_FALSE(book);
    EXPECT_EQ(book.error().code, ErrorCode::FileNotReadable);
}

TEST(WorkbookReader, UnreadableFileFailsAsNotReadable) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads files without read permission";
    TempFolder folder;
    const fs::path path = folder.write("secret.csv", "a");
    ::chmod(path.c_str(), 0000);
    Result<WorkbookData> book = openWorkbookFile(path);
    ASSERT_FALSE(book);
    EXPECT_EQ(book.error().code, ErrorCode::FileNotReadable);
}

TEST(WorkbookReader, FileOverTwoGibibytesFailsBeforeItIsRead) {
    TempFolder folder;
    const fs::path path = folder.write("huge.csv", "");
    // A sparse file: it takes no disk space, and the size check must come before reading.
    fs::resize_file(path, 2ull * 1024 * 1024 * 1024 + 1);
    Result<WorkbookData> book = openWorkbookFile(path);
    ASSERT_FALSE(book);
    EXPECT_EQ(book.error().code, ErrorCode::FileTooLarge);
    EXPECT_NE(book.error().detail.find("2 GiB"), std::string::npos);
}

}  // namespace
}  // namespace spreadsheet
