#include "spreadsheet/zip_reader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
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

Result<std::string> readEntry(const std::vector<std::uint8_t>& bytes, const std::string& name,
                              ZipLimits limits = {}) {
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
    for (const char* name :
         {"folder/stored.txt", "FOLDER/STORED.TXT", "/Folder/Stored.TXT", "Folder\\Stored.TXT"}) {
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
        EXPECT_EQ(collected,
                  std::string(name) == "folder/deflated.txt" ? HelloText : "stored bytes");
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
    const std::string texts[] = {"", "PK",
                                 "plain text that is long enough to be searched for a directory"};
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
    Result<std::string> overPart =
        zip->readWhole(*zip->find("folder/deflated.txt"), HelloText.size() - 1);
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

// ---------------------------------------------------------------------------------------------
// Deflate streams made here with zlib, packed into one-entry zip files, so that the inflater's
// handling of endings, damage and buffer sizes is checked against an independent deflater.

void put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

struct OneEntry {
    std::string data;  // as stored in the file: deflated or plain
    std::uint16_t method = 8;
    std::uint32_t crc = 0;
    std::uint32_t size = 0;  // the uncompressed size the directory claims
};

// A zip file holding one entry "part.xml" whose directory carries exactly what `entry` says.
std::vector<std::uint8_t> oneEntryZip(const OneEntry& entry) {
    const std::string name = "part.xml";
    std::vector<std::uint8_t> out;
    auto header = [&](bool central) {
        put32(out, central ? 0x02014b50 : 0x04034b50);
        if (central) put16(out, 20);
        put16(out, 20);
        put16(out, 0);  // flags
        put16(out, entry.method);
        put32(out, 0);  // time and date
        put32(out, entry.crc);
        put32(out, static_cast<std::uint32_t>(entry.data.size()));
        put32(out, entry.size);
        put16(out, static_cast<std::uint32_t>(name.size()));
        put16(out, 0);  // extra
        if (central) {
            put16(out, 0);  // comment
            put16(out, 0);  // disk
            put16(out, 0);  // internal attributes
            put32(out, 0);  // external attributes
            put32(out, 0);  // local header offset
        }
        out.insert(out.end(), name.begin(), name.end());
    };
    header(false);
    out.insert(out.end(), entry.data.begin(), entry.data.end());
    const std::size_t directoryOffset = out.size();
    header(true);
    const std::size_t directorySize = out.size() - directoryOffset;
    put32(out, 0x06054b50);
    put32(out, 0);  // disks
    put16(out, 1);
    put16(out, 1);
    put32(out, static_cast<std::uint32_t>(directorySize));
    put32(out, static_cast<std::uint32_t>(directoryOffset));
    put16(out, 0);
    return out;
}

std::string rawDeflate(const std::string& text, int level = Z_DEFAULT_COMPRESSION,
                       int strategy = Z_DEFAULT_STRATEGY) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, strategy), Z_OK);
    std::string out(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::uint32_t zlibCrc(const std::string& text) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
}

OneEntry deflatedEntry(const std::string& text, int level = Z_DEFAULT_COMPRESSION,
                       int strategy = Z_DEFAULT_STRATEGY) {
    return {rawDeflate(text, level, strategy), 8, zlibCrc(text),
            static_cast<std::uint32_t>(text.size())};
}

// Worksheet-like rows with pseudo-random numbers and some raw bytes: long matches, literals and
// several deflate blocks, larger than the inflater's 64 KiB of internal buffer.
std::string sheetLikeText(std::size_t rows) {
    std::string text;
    std::uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (std::size_t row = 1; row <= rows; ++row) {
        text += "<row r=\"" + std::to_string(row) + "\"><c r=\"A" + std::to_string(row) +
                "\" t=\"s\"><v>" + std::to_string(next() % 1000) + "</v></c><c><v>" +
                std::to_string(next()) + "</v></c></row>";
        if (row % 97 == 0)
            for (int i = 0; i < 40; ++i) text.push_back(static_cast<char>(next() >> 24));
    }
    return text;
}

Result<std::string> readOne(const OneEntry& entry, std::uint64_t maxBytes = 1 << 30,
                            ZipLimits limits = {}) {
    const std::vector<std::uint8_t> bytes = oneEntryZip(entry);
    Result<ZipReader> zip = ZipReader::open(bytes, limits);
    if (!zip) return zip.error();
    return zip->readWhole(zip->entries().front(), maxBytes);
}

// Reads in pieces of `capacity` into a buffer with a guard area behind it; fails the test when a
// read writes past its capacity, gives more than asked, or gives 0 before the end.
Result<std::string> readInPieces(const std::vector<std::uint8_t>& bytes, std::size_t capacity) {
    Result<ZipReader> zip = ZipReader::open(bytes);
    if (!zip) return zip.error();
    Result<ZipEntryStream> stream = zip->stream(zip->entries().front(), 1 << 30);
    if (!stream) return stream.error();
    constexpr std::size_t Guard = 64;
    std::vector<char> buffer(capacity + Guard);
    std::string collected;
    for (;;) {
        std::memset(buffer.data(), 0x5A, buffer.size());
        Result<std::size_t> got = stream->read(buffer.data(), capacity);
        if (!got) return got.error();
        EXPECT_LE(*got, capacity);
        for (std::size_t i = capacity; i < buffer.size(); ++i)
            if (buffer[i] != 0x5A) {
                ADD_FAILURE() << "byte " << i - capacity << " past a read of " << capacity
                              << " was written";
                break;
            }
        if (*got == 0) break;
        collected.append(buffer.data(), *got);
    }
    // Once finished, the stream stays at its end.
    Result<std::size_t> after = stream->read(buffer.data(), capacity);
    EXPECT_TRUE(after && *after == 0);
    return collected;
}

TEST(ZipReader, InflatesEveryKindOfZlibStream) {
    const std::string text = sheetLikeText(6000);
    ASSERT_GT(text.size(), 300'000u);
    struct Case {
        const char* name;
        int level;
        int strategy;
    };
    const Case cases[] = {
        {"stored blocks (level 0)", 0, Z_DEFAULT_STRATEGY},
        {"fastest (level 1)", 1, Z_DEFAULT_STRATEGY},
        {"default (level 6)", 6, Z_DEFAULT_STRATEGY},
        {"best (level 9)", 9, Z_DEFAULT_STRATEGY},
        {"fixed codes only", 6, Z_FIXED},
        {"Huffman only, no matches", 6, Z_HUFFMAN_ONLY},
        {"run lengths only", 6, Z_RLE},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        const OneEntry entry = deflatedEntry(text, row.level, row.strategy);
        Result<std::string> whole = readOne(entry);
        ASSERT_TRUE(whole) << whole.error().detail;
        EXPECT_TRUE(*whole == text);
        Result<std::string> pieces = readInPieces(oneEntryZip(entry), 65536);
        ASSERT_TRUE(pieces) << pieces.error().detail;
        EXPECT_TRUE(*pieces == text);
    }
    // An empty part: one final fixed block holding only its end code.
    Result<std::string> empty = readOne({std::string("\x03\x00", 2), 8, 0, 0});
    ASSERT_TRUE(empty) << empty.error().detail;
    EXPECT_EQ(*empty, "");
}

TEST(ZipReader, TinyReadsGiveTheSameBytesAndStayInsideTheirBuffer) {
    const std::string text = sheetLikeText(2500);
    ASSERT_GT(text.size(), 2 * 65536u);
    const std::vector<std::uint8_t> bytes = oneEntryZip(deflatedEntry(text));
    for (std::size_t capacity : {1, 2, 3, 4, 5, 6, 7, 4095, 32768, 65537}) {
        SCOPED_TRACE(capacity);
        Result<std::string> content = readInPieces(bytes, capacity);
        ASSERT_TRUE(content) << content.error().detail;
        EXPECT_TRUE(*content == text)
            << "differs from byte "
            << std::mismatch(content->begin(), content->end(), text.begin(), text.end()).first -
                   content->begin();
    }
}

TEST(ZipReader, TruncatedDeflateStreamEndsEarlyAtEveryCut) {
    const std::string text = sheetLikeText(400);
    const OneEntry whole = deflatedEntry(text);
    ASSERT_GT(whole.data.size(), 1000u);
    for (std::size_t cut = 0; cut < whole.data.size();
         cut += (cut < 16 || whole.data.size() - cut < 16) ? 1 : 37) {
        SCOPED_TRACE(cut);
        OneEntry truncated = whole;
        truncated.data.resize(cut);
        for (std::size_t capacity : {std::size_t{3}, std::size_t{1} << 20}) {
            SCOPED_TRACE(capacity);
            Result<std::string> content = readInPieces(oneEntryZip(truncated), capacity);
            ASSERT_FALSE(content);
            EXPECT_EQ(content.error().code, ErrorCode::ZipCorrupt);
            EXPECT_NE(content.error().detail.find("ends early"), std::string::npos)
                << content.error().detail;
        }
    }
}

TEST(ZipReader, DamagedDeflateBlocksAreCorrupt) {
    struct Case {
        const char* name;
        std::string data;
    };
    // Hand-made raw deflate streams, bits packed from the lowest bit of each byte up.
    const Case cases[] = {
        {"block type 3", std::string("\x07\x00", 2)},
        {"stored block whose length and its complement disagree",
         std::string("\x01\x05\x00\x00\x00hello", 10)},
        {"distance reaching before the first byte", std::string("\x03\x02\x00", 3)},
        {"over-subscribed code length code", std::string("\x05\x00\x92\x04\x00", 5)},
        {"incomplete code length code", std::string("\x05\x00\x04\x00\x00\x00", 6)},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        for (std::size_t capacity : {std::size_t{1}, std::size_t{1} << 16}) {
            SCOPED_TRACE(capacity);
            Result<std::string> content =
                readInPieces(oneEntryZip({row.data, 8, zlibCrc("hello"), 5}), capacity);
            ASSERT_FALSE(content);
            EXPECT_EQ(content.error().code, ErrorCode::ZipCorrupt);
            EXPECT_NE(content.error().detail.find("damaged deflate data"), std::string::npos)
                << content.error().detail;
        }
    }
}

TEST(ZipReader, NoSingleDamagedByteGoesUnnoticed) {
    const std::string text = sheetLikeText(300);
    const OneEntry whole = deflatedEntry(text);
    for (std::size_t position = 0; position < whole.data.size(); position += 7) {
        SCOPED_TRACE(position);
        OneEntry damaged = whole;
        damaged.data[position] = static_cast<char>(damaged.data[position] ^ 0x55);
        Result<std::string> content = readOne(damaged);
        ASSERT_FALSE(content);
        EXPECT_EQ(content.error().code, ErrorCode::ZipCorrupt);
    }
}

TEST(ZipReader, InflatedBytesCountAgainstThePartLimitWhateverTheClaim) {
    const std::string text = sheetLikeText(1500);
    ASSERT_GT(text.size(), 65536u);
    OneEntry entry = deflatedEntry(text);
    for (std::uint32_t claimed : {static_cast<std::uint32_t>(text.size()), 100u}) {
        SCOPED_TRACE(claimed);
        entry.size = claimed;
        Result<std::string> over = readOne(entry, text.size() - 1);
        ASSERT_FALSE(over);
        EXPECT_EQ(over.error().code, ErrorCode::ZipLimit);
        EXPECT_NE(over.error().detail.find("part size limit"), std::string::npos);
    }
    entry.size = static_cast<std::uint32_t>(text.size());
    Result<std::string> exact = readOne(entry, text.size());
    ASSERT_TRUE(exact) << exact.error().detail;
    EXPECT_TRUE(*exact == text);

    // A stream that claims a few bytes but inflates to far more is stopped by the ratio limit.
    ZipLimits limits;
    limits.ratioGraceBytes = 4096;
    limits.maxRatio = 20;
    const std::string zeros(1 << 20, '\0');
    Result<std::string> bomb =
        readOne({rawDeflate(zeros, 9), 8, zlibCrc(zeros), 10}, 1 << 30, limits);
    ASSERT_FALSE(bomb);
    EXPECT_EQ(bomb.error().code, ErrorCode::ZipLimit);
    EXPECT_NE(bomb.error().detail.find("ratio"), std::string::npos);
}

TEST(ZipReader, StreamEndingBeforeOrAfterItsDeclaredSizeIsCorrupt) {
    const std::string text = sheetLikeText(200);
    struct Case {
        const char* name;
        std::uint32_t claimed;
    };
    const Case cases[] = {
        {"declared one byte more", static_cast<std::uint32_t>(text.size() + 1)},
        {"declared twice as much", static_cast<std::uint32_t>(text.size() * 2)},
        {"declared one byte less", static_cast<std::uint32_t>(text.size() - 1)},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        OneEntry entry = deflatedEntry(text);
        entry.size = row.claimed;
        for (std::size_t capacity : {std::size_t{5}, std::size_t{1} << 20}) {
            SCOPED_TRACE(capacity);
            Result<std::string> content = readInPieces(oneEntryZip(entry), capacity);
            ASSERT_FALSE(content);
            EXPECT_EQ(content.error().code, ErrorCode::ZipCorrupt);
            EXPECT_NE(
                content.error().detail.find("directory entry says " + std::to_string(row.claimed)),
                std::string::npos)
                << content.error().detail;
        }
    }
}

TEST(ZipReader, BytesAfterTheFinalBlockAreNotPartOfThePart) {
    const std::string text = sheetLikeText(200);
    const OneEntry whole = deflatedEntry(text);
    struct Case {
        const char* name;
        std::string after;
    };
    const Case cases[] = {
        {"garbage", std::string("\xFF\xFE garbage \x00\x01", 14)},
        {"a second complete stream", rawDeflate("more text that must not appear")},
        {"one zero byte", std::string(1, '\0')},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        OneEntry entry = whole;
        entry.data += row.after;
        for (std::size_t capacity : {std::size_t{7}, std::size_t{1} << 20}) {
            SCOPED_TRACE(capacity);
            Result<std::string> content = readInPieces(oneEntryZip(entry), capacity);
            ASSERT_TRUE(content) << content.error().detail;
            EXPECT_TRUE(*content == text);
        }
    }
}

TEST(ZipReader, ChecksTheCrcOfStoredAndDeflatedEntries) {
    const std::string text = sheetLikeText(100);
    struct Case {
        const char* name;
        OneEntry entry;
    };
    const Case cases[] = {
        {"stored", {text, 0, zlibCrc(text) ^ 1, static_cast<std::uint32_t>(text.size())}},
        {"deflated",
         {rawDeflate(text), 8, zlibCrc(text) ^ 0x80000000u,
          static_cast<std::uint32_t>(text.size())}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        Result<std::string> refused = readOne(row.entry);
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().code, ErrorCode::ZipCorrupt);
        EXPECT_NE(refused.error().detail.find("CRC-32"), std::string::npos);
        OneEntry fixed = row.entry;
        fixed.crc = zlibCrc(text);
        Result<std::string> read = readOne(fixed);
        ASSERT_TRUE(read) << read.error().detail;
        EXPECT_TRUE(*read == text);
    }
}

}  // namespace
}  // namespace spreadsheet
