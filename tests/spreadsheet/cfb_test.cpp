#include "spreadsheet/cfb.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace spreadsheet {
namespace {

std::vector<std::uint8_t> fixture(const char* name) {
    std::ifstream in(std::filesystem::path(SHEETMERGE_TEST_DATA) / "xls" / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::uint32_t u32At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    std::uint32_t value;
    std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

void putU32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
    std::memcpy(bytes.data() + offset, &value, 4);
}

// Offsets of the small crafted file (512-byte sectors): sector n starts at 512 * (n + 1).
std::size_t sectorOffset(std::uint32_t sector) {
    return 512 * (static_cast<std::size_t>(sector) + 1);
}

bool isBiffWorkbookStream(const std::vector<std::uint8_t>& stream) {
    // BOF 0x0809 first, EOF 0x000A with no data last.
    return stream.size() > 8 && stream[0] == 0x09 && stream[1] == 0x08 &&
           stream[stream.size() - 4] == 0x0A && stream[stream.size() - 3] == 0x00 &&
           stream[stream.size() - 2] == 0 && stream[stream.size() - 1] == 0;
}

TEST(CompoundFile, ReadsAStreamFromRegularSectors) {
    // LibreOffice's grid.xls holds an 8 KB workbook stream, above the 4096-byte mini cutoff.
    std::vector<std::uint8_t> bytes = fixture("grid.xls");
    Result<CompoundFile> file = CompoundFile::open(bytes);
    ASSERT_TRUE(file) << file.error().detail;
    const CfbEntry* entry = file->findStream("Workbook");
    ASSERT_NE(entry, nullptr);
    EXPECT_GE(entry->size, 4096u);
    Result<std::vector<std::uint8_t>> stream = file->readStream(*entry);
    ASSERT_TRUE(stream) << stream.error().detail;
    EXPECT_EQ(stream->size(), entry->size);
    EXPECT_TRUE(isBiffWorkbookStream(*stream));
}

TEST(CompoundFile, ReadsASmallStreamFromTheMiniStream) {
    std::vector<std::uint8_t> bytes = fixture("sst_split_across_continue.xls");
    Result<CompoundFile> file = CompoundFile::open(bytes);
    ASSERT_TRUE(file) << file.error().detail;
    Result<std::vector<std::uint8_t>> stream = file->readStream("Workbook");
    ASSERT_TRUE(stream) << stream.error().detail;
    EXPECT_LT(stream->size(), 4096u);
    EXPECT_TRUE(isBiffWorkbookStream(*stream));
}

TEST(CompoundFile, FindsStreamsIgnoringCase) {
    std::vector<std::uint8_t> bytes = fixture("biff5_gbk.xls");
    Result<CompoundFile> file = CompoundFile::open(bytes);
    ASSERT_TRUE(file) << file.error().detail;
    EXPECT_NE(file->findStream("BOOK"), nullptr);
    EXPECT_NE(file->findStream("book"), nullptr);
    EXPECT_EQ(file->findStream("Workbook"), nullptr);
    Result<std::vector<std::uint8_t>> missing = file->readStream("Workbook");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, ErrorCode::PartMissing);
}

TEST(CompoundFile, IgnoresAnInflatedFatSectorCount) {
    // The header claims 4 billion FAT sectors; only the one really listed is used.
    std::vector<std::uint8_t> bytes = fixture("sst_split_across_continue.xls");
    putU32(bytes, 44, 0xFFFFFFF0u);
    Result<CompoundFile> file = CompoundFile::open(bytes);
    ASSERT_TRUE(file) << file.error().detail;
    EXPECT_TRUE(file->readStream("Workbook"));
}

TEST(CompoundFile, RejectsBrokenStructures) {
    const std::vector<std::uint8_t> good = fixture("sst_split_across_continue.xls");
    ASSERT_GT(good.size(), 2048u);
    const std::uint32_t directorySector = u32At(good, 48);
    const std::size_t workbookEntry = sectorOffset(directorySector) + 128;
    struct Case {
        const char* name;
        void (*mutate)(std::vector<std::uint8_t>&, std::uint32_t, std::size_t);
    };
    const Case cases[] = {
        {"header cut short", [](auto& b, auto, auto) { b.resize(300); }},
        {"bad sector shift", [](auto& b, auto, auto) { b[30] = 10; }},
        {"directory sector beyond the file",
         [](auto& b, auto, auto) { putU32(b, 48, 0x00FFFFFF); }},
        {"directory chain loops",
         [](auto& b, std::uint32_t dir, auto) { putU32(b, sectorOffset(0) + 4 * dir, dir); }},
        {"FAT sector beyond the file", [](auto& b, auto, auto) { putU32(b, 76, 5000); }},
        {"DIFAT chain loops",
         [](auto& b, auto, auto) {
             // A DIFAT sector full of free slots whose next pointer is itself.
             std::uint32_t last = static_cast<std::uint32_t>(b.size() / 512 - 2);
             putU32(b, 44, 1000);
             putU32(b, 68, last);
             std::memset(b.data() + sectorOffset(last), 0xFF, 512);
             putU32(b, sectorOffset(last) + 508, last);
         }},
        {"stream larger than the file",
         [](auto& b, auto, std::size_t entry) { putU32(b, entry + 120, 4000); }},
        {"mini sector beyond the mini FAT",
         [](auto& b, auto, std::size_t entry) { putU32(b, entry + 116, 0x7FFF); }},
        {"no root entry", [](auto& b, std::uint32_t dir, auto) { b[sectorOffset(dir) + 66] = 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> bytes = good;
        c.mutate(bytes, directorySector, workbookEntry);
        Result<CompoundFile> file = CompoundFile::open(bytes);
        if (file) {
            Result<std::vector<std::uint8_t>> stream = file->readStream("Workbook");
            ASSERT_FALSE(stream);
            EXPECT_EQ(stream.error().code, ErrorCode::CfbCorrupt) << stream.error().detail;
        } else {
            EXPECT_EQ(file.error().code, ErrorCode::CfbCorrupt) << file.error().detail;
        }
    }
}

TEST(CompoundFile, TruncatedFilesFailOrReadWhatIsComplete) {
    // Every cut of a real file either opens or fails with CfbCorrupt; a stream is never
    // returned shorter than its size.
    const std::vector<std::uint8_t> good = fixture("grid.xls");
    for (std::size_t length = 0; length < good.size(); length += 61) {
        SCOPED_TRACE(length);
        std::vector<std::uint8_t> bytes(good.begin(),
                                        good.begin() + static_cast<std::ptrdiff_t>(length));
        if (!isCompoundFile(bytes)) continue;
        Result<CompoundFile> file = CompoundFile::open(bytes);
        if (!file) {
            EXPECT_EQ(file.error().code, ErrorCode::CfbCorrupt);
            continue;
        }
        const CfbEntry* entry = file->findStream("Workbook");
        if (entry == nullptr) continue;
        Result<std::vector<std::uint8_t>> stream = file->readStream(*entry);
        if (stream) {
            EXPECT_EQ(stream->size(), entry->size);
        }
    }
}

}  // namespace
}  // namespace spreadsheet
