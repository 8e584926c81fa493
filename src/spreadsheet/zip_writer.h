// Zip archives for the result package: entries stored or raw-deflated through zlib, written to
// a seekable sink, each local header patched with CRC and sizes after its data (no data
// descriptors), ZIP64 records only where an entry, an offset or the entry count needs them.
//   MemorySink sink;
//   ZipWriter zip(sink);
//   zip.beginEntry("[Content_Types].xml", 6); zip.write(xml); zip.endEntry(); zip.finish();
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/error.h"

namespace spreadsheet {

// Where the archive bytes go. Bytes are appended at position(); writeAt() overwrites bytes
// appended before (the zip writer patches local headers that way).
class OutputSink {
public:
    virtual ~OutputSink() = default;
    virtual Result<void> write(std::span<const std::uint8_t> bytes) = 0;
    virtual Result<void> writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) = 0;
    virtual std::uint64_t position() const = 0;
    // Pushes buffered bytes to their destination.
    virtual Result<void> flush() = 0;
};

// Keeps the archive in memory.
class MemorySink final : public OutputSink {
public:
    Result<void> write(std::span<const std::uint8_t> bytes) override;
    Result<void> writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;
    std::uint64_t position() const override { return m_bytes.size(); }
    Result<void> flush() override { return {}; }
    const std::vector<std::uint8_t>& bytes() const { return m_bytes; }
    std::vector<std::uint8_t> takeBytes() { return std::move(m_bytes); }

private:
    std::vector<std::uint8_t> m_bytes;
};

// Writes to an open file descriptor from its start, buffered. Does not own the descriptor;
// `path` only names the file in errors (WriteFailed with the path and the system's reason).
class FileSink final : public OutputSink {
public:
    FileSink(int fileDescriptor, std::string path);
    Result<void> write(std::span<const std::uint8_t> bytes) override;
    Result<void> writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) override;
    std::uint64_t position() const override { return m_flushed + m_buffer.size(); }
    Result<void> flush() override;

private:
    Result<void> writeFully(std::uint64_t offset, const std::uint8_t* data, std::size_t size);

    int m_fileDescriptor;
    std::string m_path;
    std::uint64_t m_flushed = 0;  // bytes already in the file
    std::vector<std::uint8_t> m_buffer;
};

// The limits past which ZIP64 records are needed. Tests lower them to exercise ZIP64
// without writing gigabytes.
struct ZipFieldLimits {
    std::uint64_t size = 0xFFFF'FFFFu;  // sizes and offsets at or above this need ZIP64
    std::uint64_t entries = 0xFFFFu;    // entry counts at or above this need ZIP64
};

class ZipWriter {
public:
    static constexpr std::uint64_t UnknownSize = ~std::uint64_t{0};

    explicit ZipWriter(OutputSink& sink, ZipFieldLimits limits = {});
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Starts an entry. `level` 0 stores it, 1-9 deflates it. `sizeBound` is an upper bound of
    // both its inflated and its compressed size: an entry that may reach 4 GiB gets ZIP64
    // sizes in its local header, decided here because the header precedes the data. An entry
    // started with UnknownSize fails at endEntry() if it turns out to need them.
    Result<void> beginEntry(std::string_view name, int level,
                            std::uint64_t sizeBound = UnknownSize);
    // Appends entry content (compressed with the entry's level).
    Result<void> write(std::span<const std::uint8_t> bytes);
    Result<void> write(std::string_view text);
    // Appends raw deflate data produced elsewhere: non-final blocks ending on a byte boundary,
    // as zlib leaves them after Z_SYNC_FLUSH. Content written before is flushed first and the
    // compressor starts afresh afterwards, so no back-reference crosses the joins.
    // `crc` and `length` describe the inflated content of the whole run of bytes passed to
    // writeDeflated() after this call. Deflated entries only.
    Result<void> beginDeflatedCopy(std::uint32_t crc, std::uint64_t length);
    Result<void> writeDeflated(std::span<const std::uint8_t> deflated);
    // Finishes the entry and patches its local header.
    Result<void> endEntry();
    // Writes the central directory and end records. The writer is unusable afterwards.
    Result<void> finish();

    std::size_t entryCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace spreadsheet
