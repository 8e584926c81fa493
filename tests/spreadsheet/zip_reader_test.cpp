#include "spreadsheet/zip_reader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace spreadsheet {
namespace {

std::vector<std::uint8_t> zipFixture(const std::string& name) {
    std::ifstream in(std::string(SHEETMERGE_TEST_DATA) + "/zip/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

const std::string HelloText = repeated("hello, zip ", 50);

Result<std::string> readEntry(const std::vector<std::uint8_t>& bytes, const std::string& name, ZipLimits limits = {}) {
    Result<ZipReader> zip = ZipReader::open(bytes, limits);
    if (!zip) return zip.error();
    const ZipEntry* entry = zip->find(name);
    if (!entry) return Error(ErrorCode::PartMissing, name);
    return zip->readWhole(*entry, limits.maxPartBytes);
}

TEST(ZipReader, ReadsStoredDeflatedAndEmptyEntries) {
    const std::vector<std::uint8_t> bytes = zipFixture("stored_and_deflated.zip");
    struct Case {
        std::string name;
        std::string content;
    };
    const Case cases[] = {
        {"Folder/Stored.TXT", "stored bytes"},
        {"folder/deflated.txt", HelloText},
        {"empty.txt", ""},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        Result<std::string> content = readEntry(bytes, row.name);
        ASSERT_TRUE(content) << content.error().detail;
        EXPECT_EQ(*content, row.content);
    }
}

TEST(ZipReader, FindsNamesIgnoringCaseBackslashAndLeadingSlash) {
    const std::vector<std::uint8_t> bytes = zipFixture("stored_and_deflated.zip");
    Result<ZipReader> zip = ZipReader::open(bytes);
    ASSERT_TRUE(zip);
    EXPECT_EQ(zip->entries().size(), 4u);
    for (const char* name : {"folder/stored.txt", "FOLDER/STORED.TXT", "/Folder/Stored.TXT", "Folder\\Stored.TXT"}) {
        SCOPED_TRACE(name);
        const ZipEntry* entry = zip->find(name);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->name, "Folder/Stored.TXT");
    }
    EXPECT_EQ(zip->find("Folder/Stored"), nullptr);
    EXPECT_EQ(zip->find("missing.txt"), nullptr);

    const std::vector<std::uint8_t> backslashed = zipFixture("backslash_names.zip");
    Result<std::string> content = readEntry(backslashed, "xl/workbook.xml");
    ASSERT_TRUE(content);
    EXPECT_EQ(*content, "<workbook/>");
}

TEST(ZipReader, ReadsEntriesWithDataDescriptors) {
    const std::vector<std::uint8_t> bytes = zipFixture("data_descriptor.zip");
    Result<std::string> first = readEntry(bytes, "a.txt");
    ASSERT_TRUE(first) << first.error().detail;
    EXPECT_EQ(*first, HelloText);
    Result<std::string> second = readEntry(bytes, "b.txt");
    ASSERT_TRUE(second) << second.error().detail;
    EXPECT_EQ(*second, "second");
}

TEST(ZipReader, ReadsZip64Records) {
    const std::vector<std::uint8_t> bytes = zipFixture("zip64_records.zip");
    Result<std::string> first = readEntry(bytes, "a.txt");
    ASSERT_TRUE(first) << first.error().detail;
    EXPECT_EQ(*first, HelloText);
    Result<std::string> second = readEntry(bytes, "b.txt");
    ASSERT_TRUE(second) << second.error().detail;
    EXPECT_EQ(*second, "bee");
}

TEST(ZipReader, StreamsInSmallChunksToTheSameBytes) {
    const std::vector<std::uint8_t> bytes = zipFixture("stored_and_deflated.zip");
    Result<ZipReader> zip = ZipReader::open(bytes);
    ASSERT_TRUE(zip);
    for (const char* name : {"folder/deflated.txt", "folder/stored.txt"}) {
        SCOPED_TRACE(name);
        Result<ZipEntryStream> stream = zip->stream(*zip->find(name), 1 << 20);
        ASSERT_TRUE(stream);
        std::string collected;
        char buffer[7];
        for (;;) {
            Result<std::size_t> got = stream->read(buffer, sizeof buffer);
            ASSERT_TRUE(got) << got.error().detail;
            if (*got == 0) break;
            EXPECT_LE(*got, sizeof buffer);
            collected.append(buffer, *got);
        }
        EXPECT_EQ(collected, std::string(name) == "folder/deflated.txt" ? HelloText : "stored bytes");
    }
}

TEST(ZipReader, RejectsBrokenContainersWithTheirOwnCodes) {
    struct Case {
        const char* file;
        ErrorCode code;
        bool failsAtOpen;
    };
    const Case cases[] = {
        {"truncated.zip", ErrorCode::ZipCorrupt, true},
        {"overlapping_entries.zip", ErrorCode::ZipLimit, true},
        {"encrypted_entry.zip", ErrorCode::ZipUnsupported, true},
        {"unsupported_method.zip", ErrorCode::ZipUnsupported, true},
        {"bad_crc.zip", ErrorCode::ZipCorrupt, false},
        {"size_mismatch.zip", ErrorCode::ZipCorrupt, false},
        {"damaged_deflate.zip", ErrorCode::ZipCorrupt, false},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.file);
        const std::vector<std::uint8_t> bytes = zipFixture(row.file);
        Result<ZipReader> zip = ZipReader::open(bytes);
        if (row.failsAtOpen) {
            ASSERT_FALSE(zip);
            EXPECT_EQ(zip.error().code, row.code);
            EXPECT_FALSE(zip.error().detail.empty());
            continue;
        }
        ASSERT_TRUE(zip) << zip.error().detail;
        Result<std::string> content = zip->readWhole(*zip->find("a.txt"), 1 << 20);
        ASSERT_FALSE(content);
        EXPECT_EQ(content.error().code, row.code);
    }
}

TEST(ZipReader, RejectsBytesThatAreNoZip) {
    const std::string texts[] = {"", "PK", "plain text that is long enough to be searched for a directory"};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        std::vector<std::uint8_t> bytes(text.begin(), text.end());
        Result<ZipReader> zip = ZipReader::open(bytes);
        ASSERT_FALSE(zip);
        EXPECT_EQ(zip.error().code, ErrorCode::ZipCorrupt);
    }
}

TEST(ZipReader, RefusesCompressionRatioAboveTheLimitBeyondTheGrace) {
    const std::vector<std::uint8_t> bytes = zipFixture("zeros_2mib.zip");
    // About 1:1000 for two MiB of zeros: over the default limit.
    Result<std::string> refused = readEntry(bytes, "zeros.bin");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, ErrorCode::ZipLimit);
    EXPECT_NE(refused.error().detail.find("ratio"), std::string::npos);

    ZipLimits generous;
    generous.maxRatio = 2000;
    Result<std::string> read = readEntry(bytes, "zeros.bin", generous);
    ASSERT_TRUE(read) << read.error().detail;
    EXPECT_EQ(read->size(), 2u << 20);
    EXPECT_EQ(read->find_first_not_of('\0'), std::string::npos);

    ZipLimits largeGrace;
    largeGrace.ratioGraceBytes = 4u << 20;
    EXPECT_TRUE(readEntry(bytes, "zeros.bin", largeGrace));
}

TEST(ZipReader, CountsInflatedBytesAgainstPartAndFileLimits) {
    const std::vector<std::uint8_t> bytes = zipFixture("stored_and_deflated.zip");
    Result<ZipReader> zip = ZipReader::open(bytes);
    ASSERT_TRUE(zip);
    Result<std::string> overPart = zip->readWhole(*zip->find("folder/deflated.txt"), HelloText.size() - 1);
    ASSERT_FALSE(overPart);
    EXPECT_EQ(overPart.error().code, ErrorCode::ZipLimit);
    EXPECT_NE(overPart.error().detail.find("part size limit"), std::string::npos);
    EXPECT_TRUE(zip->readWhole(*zip->find("folder/deflated.txt"), HelloText.size()));

    ZipLimits total;
    total.maxTotalBytes = HelloText.size() + 10;
    Result<ZipReader> counted = ZipReader::open(bytes, total);
    ASSERT_TRUE(counted);
    EXPECT_TRUE(counted->readWhole(*counted->find("folder/deflated.txt"), 1 << 20));
    Result<std::string> again = counted->readWhole(*counted->find("folder/deflated.txt"), 1 << 20);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().code, ErrorCode::ZipLimit);
    EXPECT_NE(again.error().detail.find("package size limit"), std::string::npos);
}

TEST(ZipReader, RefusesMoreEntriesThanTheLimit) {
    const std::vector<std::uint8_t> bytes = zipFixture("stored_and_deflated.zip");
    ZipLimits limits;
    limits.maxEntries = 3;
    Result<ZipReader> zip = ZipReader::open(bytes, limits);
    ASSERT_FALSE(zip);
    EXPECT_EQ(zip.error().code, ErrorCode::ZipLimit);
    limits.maxEntries = 4;
    EXPECT_TRUE(ZipReader::open(bytes, limits));
}

}  // namespace
}  // namespace spreadsheet
