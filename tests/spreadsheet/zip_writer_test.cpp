#include "spreadsheet/zip_writer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "writer_test_support.h"

namespace spreadsheet {
namespace {

using testing::crcOf;
using testing::readZip;
using testing::ZipView;

ZipView parse(const std::vector<std::uint8_t>& bytes) {
    std::string problem;
    std::optional<ZipView> view = readZip(bytes, problem);
    EXPECT_TRUE(view.has_value()) << problem;
    return view.value_or(ZipView{});
}

void addEntry(ZipWriter& zip, const std::string& name, const std::string& content, int level,
              std::uint64_t bound = ZipWriter::UnknownSize) {
    ASSERT_TRUE(zip.beginEntry(name, level, bound));
    ASSERT_TRUE(zip.write(content));
    ASSERT_TRUE(zip.endEntry());
}

std::string repetitiveText(std::size_t size) {
    std::string text;
    while (text.size() < size)
        text += "<row r=\"" + std::to_string(text.size()) + "\"><c><v>1.5</v></c></row>";
    text.resize(size);
    return text;
}

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
    return bytes;
}

// Raw deflate of `text` ending with a sync flush, as the row spool produces it.
std::vector<std::uint8_t> syncFlushedDeflate(const std::string& text) {
    z_stream stream{};
    deflateInit2(&stream, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::vector<std::uint8_t> out(deflateBound(&stream, text.size()) + 64);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_SYNC_FLUSH);
    out.resize(out.size() - stream.avail_out);
    deflateEnd(&stream);
    return out;
}

TEST(ZipWriter, EntriesReadBackInOrderWithTheirContent) {
    MemorySink sink;
    ZipWriter zip(sink);
    const std::string first = "<?xml version=\"1.0\"?><Types/>";
    const std::string second = repetitiveText(300'000);
    const std::string third = randomBytes(70'000, 7);
    addEntry(zip, "[Content_Types].xml", first, 6);
    addEntry(zip, "xl/worksheets/sheet1.xml", second, 1);
    addEntry(zip, "stored.bin", third, 0);
    addEntry(zip, "empty.xml", "", 6);
    ASSERT_TRUE(zip.finish());

    const ZipView view = parse(sink.bytes());
    ASSERT_EQ(view.entries.size(), 4u);
    EXPECT_EQ(view.entries[0].name, "[Content_Types].xml");
    const std::string expected[] = {first, second, third, ""};
    for (std::size_t i = 0; i < 4; ++i) {
        const testing::ZipEntryView& entry = view.entries[i];
        SCOPED_TRACE(entry.name);
        EXPECT_EQ(entry.content, expected[i]);
        EXPECT_EQ(entry.crc, crcOf(expected[i]));
        EXPECT_EQ(entry.size, expected[i].size());
    }
    EXPECT_EQ(view.entries[1].method, 8);
    EXPECT_LT(view.entries[1].compressedSize, second.size() / 4);
    EXPECT_EQ(view.entries[2].method, 0);
}

TEST(ZipWriter, LocalHeadersCarryCrcAndSizesWithoutDataDescriptor) {
    MemorySink sink;
    ZipWriter zip(sink);
    addEntry(zip, "a.xml", repetitiveText(5'000), 6);
    addEntry(zip, "b.bin", randomBytes(1'000, 3), 0);
    ASSERT_TRUE(zip.finish());
    for (const testing::ZipEntryView& entry : parse(sink.bytes()).entries) {
        SCOPED_TRACE(entry.name);
        EXPECT_EQ(entry.flags & 0x0008, 0) << "data descriptor flag";
        EXPECT_EQ(entry.localCrc, entry.crc);
        EXPECT_EQ(entry.localCompressedSize, entry.compressedSize);
        EXPECT_EQ(entry.localSize, entry.size);
        // 1980-01-01 00:00.
        EXPECT_EQ(entry.dosDate, 0x0021);
        EXPECT_EQ(entry.dosTime, 0);
    }
}

TEST(ZipWriter, SmallArchiveHasNoZip64Records) {
    MemorySink sink;
    ZipWriter zip(sink);
    addEntry(zip, "a.xml", repetitiveText(100'000), 1, 100'000);
    ASSERT_TRUE(zip.finish());
    const ZipView view = parse(sink.bytes());
    ASSERT_EQ(view.entries.size(), 1u);
    EXPECT_FALSE(view.zip64End);
    EXPECT_FALSE(view.entries[0].localZip64);
    EXPECT_FALSE(view.entries[0].centralZip64);
    EXPECT_EQ(view.entries[0].localVersionNeeded, 20);
    EXPECT_EQ(view.entries[0].centralVersionNeeded, 20);
}

TEST(ZipWriter, PreDeflatedSegmentJoinsTheEntryStream) {
    const std::string header = "<worksheet><sheetData>";
    const std::string rows = repetitiveText(200'000);
    const std::string trailer = "</sheetData></worksheet>";
    const std::vector<std::uint8_t> segment = syncFlushedDeflate(rows);
    MemorySink sink;
    ZipWriter zip(sink);
    ASSERT_TRUE(zip.beginEntry("sheet.xml", 1));
    ASSERT_TRUE(zip.write(header));
    ASSERT_TRUE(zip.beginDeflatedCopy(crcOf(rows), rows.size()));
    // In pieces, as the spool is copied.
    const std::size_t half = segment.size() / 2;
    ASSERT_TRUE(zip.writeDeflated({segment.data(), half}));
    ASSERT_TRUE(zip.writeDeflated({segment.data() + half, segment.size() - half}));
    ASSERT_TRUE(zip.write(trailer));
    ASSERT_TRUE(zip.endEntry());
    ASSERT_TRUE(zip.finish());
    const ZipView view = parse(sink.bytes());
    ASSERT_EQ(view.entries.size(), 1u);
    EXPECT_EQ(view.entries[0].content, header + rows + trailer);
    EXPECT_EQ(view.entries[0].crc, crcOf(header + rows + trailer));
    EXPECT_EQ(view.entries[0].size, header.size() + rows.size() + trailer.size());
}

TEST(ZipWriter, EntryThatMayReachTheLimitGetsZip64Sizes) {
    // Limits lowered so that 4 KiB stands for 4 GiB.
    const ZipFieldLimits limits{4096, 0xFFFF};
    MemorySink sink;
    ZipWriter zip(sink, limits);
    const std::string big = randomBytes(6'000, 11);
    addEntry(zip, "small.xml", "<a/>", 6, 10);
    addEntry(zip, "big.bin", big, 6, 6'100);
    addEntry(zip, "after.xml", "<b/>", 6, 10);  // its offset is past the limit
    ASSERT_TRUE(zip.finish());
    const ZipView view = parse(sink.bytes());
    ASSERT_EQ(view.entries.size(), 3u);
    const auto& small = view.entries[0];
    const auto& large = view.entries[1];
    const auto& after = view.entries[2];
    EXPECT_FALSE(small.localZip64);
    EXPECT_FALSE(small.centralZip64);
    EXPECT_EQ(small.centralVersionNeeded, 20);
    EXPECT_TRUE(large.localZip64);
    EXPECT_TRUE(large.centralZip64);
    EXPECT_EQ(large.localVersionNeeded, 45);
    EXPECT_EQ(large.centralVersionNeeded, 45);
    EXPECT_EQ(large.localSize, big.size());
    EXPECT_EQ(large.localCompressedSize, large.compressedSize);
    EXPECT_EQ(large.content, big);
    EXPECT_FALSE(after.localZip64);
    EXPECT_TRUE(after.centralZip64) << "offset past the limit";
    EXPECT_GT(after.localOffset, 4096u);
    EXPECT_EQ(after.content, "<b/>");
    EXPECT_TRUE(view.zip64End) << "central directory starts past the limit";
}

TEST(ZipWriter, EntryOverTheLimitWithoutRoomFailsInsteadOfLying) {
    const ZipFieldLimits limits{4096, 0xFFFF};
    MemorySink sink;
    ZipWriter zip(sink, limits);
    ASSERT_TRUE(zip.beginEntry("big.bin", 0));
    ASSERT_TRUE(zip.write(randomBytes(5'000, 5)));
    Result<void> ended = zip.endEntry();
    ASSERT_FALSE(ended);
    EXPECT_EQ(ended.error().code, ErrorCode::WriteFailed);
}

TEST(ZipWriter, Zip64EndRecordOnlyPastTheEntryCountLimit) {
    struct Case {
        std::size_t entries;
        bool zip64;
    };
    for (const Case& row : {Case{65'534, false}, Case{65'535, true}, Case{65'536, true}}) {
        SCOPED_TRACE(row.entries);
        MemorySink sink;
        ZipWriter zip(sink);
        for (std::size_t i = 0; i < row.entries; ++i) {
            ASSERT_TRUE(zip.beginEntry("e" + std::to_string(i), 0, 0));
            ASSERT_TRUE(zip.endEntry());
        }
        ASSERT_TRUE(zip.finish());
        const ZipView view = parse(sink.bytes());
        EXPECT_EQ(view.zip64End, row.zip64);
        EXPECT_EQ(view.declaredEntries, row.entries);
        ASSERT_EQ(view.entries.size(), row.entries);
        EXPECT_EQ(view.entries.back().name, "e" + std::to_string(row.entries - 1));
    }
}

// A sink that refuses everything past a byte budget, as a full disk does.
class FullSink final : public OutputSink {
public:
    explicit FullSink(std::size_t budget) : m_budget(budget) {}
    Result<void> write(std::span<const std::uint8_t> bytes) override {
        if (m_inner.position() + bytes.size() > m_budget)
            return Error(ErrorCode::WriteFailed, "disk full");
        return m_inner.write(bytes);
    }
    Result<void> writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override {
        return m_inner.writeAt(offset, bytes);
    }
    std::uint64_t position() const override { return m_inner.position(); }
    Result<void> flush() override { return {}; }

private:
    MemorySink m_inner;
    std::size_t m_budget;
};

TEST(ZipWriter, SinkFailureEndsTheArchiveWithTheSinkError) {
    for (std::size_t budget : {10u, 100u, 5'000u, 60'000u}) {
        SCOPED_TRACE(budget);
        FullSink sink(budget);
        ZipWriter zip(sink);
        bool failed = false;
        for (int i = 0; i < 3 && !failed; ++i) {
            Result<void> begun = zip.beginEntry("part" + std::to_string(i), 1);
            Result<void> written =
                begun ? zip.write(randomBytes(20'000, static_cast<unsigned>(i))) : begun;
            Result<void> ended = written ? zip.endEntry() : written;
            if (!ended) {
                EXPECT_EQ(ended.error().code, ErrorCode::WriteFailed);
                EXPECT_EQ(ended.error().detail, "disk full");
                failed = true;
            }
        }
        if (!failed) {
            Result<void> finished = zip.finish();
            ASSERT_FALSE(finished);
            EXPECT_EQ(finished.error().code, ErrorCode::WriteFailed);
        }
    }
}

}  // namespace
}  // namespace spreadsheet
