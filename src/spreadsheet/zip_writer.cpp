#include "spreadsheet/zip_writer.h"

#include <isa-l/crc.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>

namespace spreadsheet {

// ---------------------------------------------------------------------------------------------
// Sinks

Result<void> MemorySink::write(std::span<const std::uint8_t> bytes) {
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return {};
}

Result<void> MemorySink::writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (offset > m_bytes.size() || bytes.size() > m_bytes.size() - offset)
        return Error(ErrorCode::WriteFailed, "patch past the end of the archive");
    std::copy(bytes.begin(), bytes.end(), m_bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    return {};
}

namespace {
constexpr std::size_t FileSinkBufferSize = 1 << 20;
}

FileSink::FileSink(int fileDescriptor, std::string path)
    : m_fileDescriptor(fileDescriptor), m_path(std::move(path)) {
    m_buffer.reserve(FileSinkBufferSize);
}

Result<void> FileSink::writeFully(std::uint64_t offset, const std::uint8_t* data,
                                  std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::pwrite(m_fileDescriptor, data, size, static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR) continue;
            return Error(ErrorCode::WriteFailed, m_path + ": " + std::strerror(errno));
        }
        if (written == 0)
            return Error(ErrorCode::WriteFailed, m_path + ": the file system accepted no bytes");
        data += written;
        size -= static_cast<std::size_t>(written);
        offset += static_cast<std::uint64_t>(written);
    }
    return {};
}

Result<void> FileSink::write(std::span<const std::uint8_t> bytes) {
    if (m_buffer.size() + bytes.size() > FileSinkBufferSize) {
        if (Result<void> flushed = flush(); !flushed) return flushed.error();
    }
    if (bytes.size() >= FileSinkBufferSize) {
        if (Result<void> written = writeFully(m_flushed, bytes.data(), bytes.size()); !written)
            return written.error();
        m_flushed += bytes.size();
        return {};
    }
    m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
    return {};
}

Result<void> FileSink::writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (offset > position() || bytes.size() > position() - offset)
        return Error(ErrorCode::WriteFailed, m_path + ": patch past the end of the file");
    // The part already in the file is rewritten in place, the rest patched in the buffer.
    const std::size_t inFile =
        offset >= m_flushed
            ? 0
            : static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), m_flushed - offset));
    if (inFile > 0) {
        if (Result<void> written = writeFully(offset, bytes.data(), inFile); !written)
            return written.error();
    }
    if (inFile < bytes.size()) {
        const std::size_t bufferOffset = static_cast<std::size_t>(offset + inFile - m_flushed);
        std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(inFile), bytes.end(),
                  m_buffer.begin() + static_cast<std::ptrdiff_t>(bufferOffset));
    }
    return {};
}

Result<void> FileSink::flush() {
    if (m_buffer.empty()) return {};
    if (Result<void> written = writeFully(m_flushed, m_buffer.data(), m_buffer.size()); !written)
        return written.error();
    m_flushed += m_buffer.size();
    m_buffer.clear();
    return {};
}

// ---------------------------------------------------------------------------------------------
// Zip writer

namespace {

constexpr std::uint32_t LocalHeaderSignature = 0x04034b50;
constexpr std::uint32_t CentralHeaderSignature = 0x02014b50;
constexpr std::uint32_t EndSignature = 0x06054b50;
constexpr std::uint32_t Zip64EndSignature = 0x06064b50;
constexpr std::uint32_t Zip64LocatorSignature = 0x07064b50;
constexpr std::uint16_t Zip64ExtraId = 0x0001;
constexpr std::uint16_t VersionDefault = 20;  // deflate
constexpr std::uint16_t VersionZip64 = 45;
// 1980-01-01 00:00, as office applications write it: the archive does not change with the clock.
constexpr std::uint16_t DosTime = 0;
constexpr std::uint16_t DosDate = (0 << 9) | (1 << 5) | 1;
constexpr std::size_t Zip64LocalExtraSize = 20;
constexpr std::size_t DeflateOutputSize = 256 * 1024;

class ByteWriter {
public:
    void u16(std::uint16_t value) {
        m_bytes.push_back(static_cast<std::uint8_t>(value));
        m_bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    void u32(std::uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8)
            m_bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
    void u64(std::uint64_t value) {
        for (int shift = 0; shift < 64; shift += 8)
            m_bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
    void text(std::string_view value) { m_bytes.insert(m_bytes.end(), value.begin(), value.end()); }
    std::span<const std::uint8_t> bytes() const { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
};

struct EntryRecord {
    std::string name;
    std::uint16_t method = 0;
    bool zip64Sizes = false;  // ZIP64 sizes in the local header
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t localHeaderOffset = 0;
};

}  // namespace

struct ZipWriter::Impl {
    OutputSink& sink;
    ZipFieldLimits limits;
    std::vector<EntryRecord> entries;
    bool inEntry = false;
    bool finished = false;
    EntryRecord current;
    std::uint64_t dataStart = 0;

    z_stream stream{};
    bool streamReady = false;
    int streamLevel = -1;
    std::vector<std::uint8_t> output = std::vector<std::uint8_t>(DeflateOutputSize);

    Impl(OutputSink& s, ZipFieldLimits l) : sink(s), limits(l) {}
    ~Impl() {
        if (streamReady) deflateEnd(&stream);
    }

    Result<void> fail(std::string detail) {
        finished = true;  // no further use after a failure
        return Error(ErrorCode::WriteFailed, std::move(detail));
    }

    Result<void> startCompressor(int level) {
        if (streamReady && streamLevel == level) {
            if (deflateReset(&stream) != Z_OK) return fail("zlib deflateReset failed");
            return {};
        }
        if (streamReady) deflateEnd(&stream);
        streamReady = false;
        stream = z_stream{};
        if (deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            return fail("zlib deflateInit2 failed");
        streamReady = true;
        streamLevel = level;
        return {};
    }

    // Runs the compressor over `input` with `flushMode` and writes what comes out.
    Result<void> deflateBytes(const std::uint8_t* input, std::size_t size, int flushMode) {
        // zlib counts in 32-bit units; feed large inputs in slices.
        constexpr std::size_t Slice = 1u << 30;
        do {
            const std::size_t slice = std::min(size, Slice);
            const bool last = slice == size;
            const int mode = last ? flushMode : Z_NO_FLUSH;
            stream.next_in = const_cast<Bytef*>(input);
            stream.avail_in = static_cast<uInt>(slice);
            for (;;) {
                stream.next_out = output.data();
                stream.avail_out = static_cast<uInt>(output.size());
                const int status = deflate(&stream, mode);
                if (status == Z_STREAM_ERROR) return fail("zlib deflate failed");
                const std::size_t produced = output.size() - stream.avail_out;
                if (produced > 0) {
                    if (Result<void> written = sink.write({output.data(), produced}); !written) {
                        finished = true;
                        return written.error();
                    }
                    current.compressedSize += produced;
                }
                if (status == Z_STREAM_END) break;
                // Otherwise done once the input is consumed and the output buffer was not
                // filled; Z_FINISH goes on until the end of the stream.
                if (mode != Z_FINISH && stream.avail_in == 0 && stream.avail_out != 0) break;
            }
            input += slice;
            size -= slice;
        } while (size > 0);
        return {};
    }
};

ZipWriter::ZipWriter(OutputSink& sink, ZipFieldLimits limits)
    : m_impl(std::make_unique<Impl>(sink, limits)) {}
ZipWriter::~ZipWriter() = default;

std::size_t ZipWriter::entryCount() const {
    return m_impl->entries.size();
}

namespace {

ByteWriter buildLocalHeader(const EntryRecord& entry) {
    ByteWriter header;
    header.u32(LocalHeaderSignature);
    header.u16(entry.zip64Sizes ? VersionZip64 : VersionDefault);
    header.u16(0);  // flags: sizes in this header, no data descriptor
    header.u16(entry.method);
    header.u16(DosTime);
    header.u16(DosDate);
    header.u32(entry.crc);
    if (entry.zip64Sizes) {
        header.u32(0xFFFF'FFFFu);
        header.u32(0xFFFF'FFFFu);
    } else {
        header.u32(static_cast<std::uint32_t>(entry.compressedSize));
        header.u32(static_cast<std::uint32_t>(entry.size));
    }
    header.u16(static_cast<std::uint16_t>(entry.name.size()));
    header.u16(entry.zip64Sizes ? static_cast<std::uint16_t>(Zip64LocalExtraSize) : 0);
    header.text(entry.name);
    if (entry.zip64Sizes) {
        header.u16(Zip64ExtraId);
        header.u16(16);
        header.u64(entry.size);
        header.u64(entry.compressedSize);
    }
    return header;
}

}  // namespace

Result<void> ZipWriter::beginEntry(std::string_view name, int level, std::uint64_t sizeBound) {
    Impl& d = *m_impl;
    assert(!d.inEntry && !d.finished);
    if (d.inEntry || d.finished)
        return Error(ErrorCode::WriteFailed, "zip entry started out of turn");
    if (name.empty() || name.size() > 0xFFFF)
        return Error(ErrorCode::WriteFailed,
                     "zip entry name of " + std::to_string(name.size()) + " bytes");
    d.current = EntryRecord{};
    d.current.name = std::string(name);
    d.current.method = level > 0 ? 8 : 0;
    d.current.zip64Sizes = sizeBound != UnknownSize && sizeBound >= d.limits.size;
    d.current.localHeaderOffset = d.sink.position();
    // The header is written with zero CRC and sizes and patched by endEntry().
    ByteWriter header = buildLocalHeader(d.current);
    if (Result<void> written = d.sink.write(header.bytes()); !written) {
        d.finished = true;
        return written.error();
    }
    d.dataStart = d.sink.position();
    if (level > 0) {
        if (Result<void> started = d.startCompressor(std::min(level, 9)); !started) return started;
    }
    d.inEntry = true;
    return {};
}

Result<void> ZipWriter::write(std::string_view text) {
    return write(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()),
                                               text.size()));
}

Result<void> ZipWriter::write(std::span<const std::uint8_t> bytes) {
    Impl& d = *m_impl;
    assert(d.inEntry);
    if (!d.inEntry) return Error(ErrorCode::WriteFailed, "zip data outside an entry");
    if (bytes.empty()) return {};
    // ISA-L's CRC-32 (the zip polynomial, reflected) runs several times faster than zlib's.
    d.current.crc = crc32_gzip_refl(d.current.crc, bytes.data(), bytes.size());
    d.current.size += bytes.size();
    if (d.current.method == 0) {
        if (Result<void> written = d.sink.write(bytes); !written) {
            d.finished = true;
            return written.error();
        }
        d.current.compressedSize += bytes.size();
        return {};
    }
    return d.deflateBytes(bytes.data(), bytes.size(), Z_NO_FLUSH);
}

Result<void> ZipWriter::beginDeflatedCopy(std::uint32_t crc, std::uint64_t length) {
    Impl& d = *m_impl;
    assert(d.inEntry && d.current.method == 8);
    if (!d.inEntry || d.current.method != 8)
        return Error(ErrorCode::WriteFailed, "deflated copy into a stored entry");
    // Close what the compressor holds on a byte boundary, then forget its history.
    if (Result<void> flushed = d.deflateBytes(nullptr, 0, Z_SYNC_FLUSH); !flushed) return flushed;
    if (deflateReset(&d.stream) != Z_OK) return d.fail("zlib deflateReset failed");
    d.current.crc = static_cast<std::uint32_t>(
        crc32_combine64(d.current.crc, crc, static_cast<z_off64_t>(length)));
    d.current.size += length;
    return {};
}

Result<void> ZipWriter::writeDeflated(std::span<const std::uint8_t> deflated) {
    Impl& d = *m_impl;
    assert(d.inEntry && d.current.method == 8);
    if (!d.inEntry || d.current.method != 8)
        return Error(ErrorCode::WriteFailed, "deflated copy into a stored entry");
    if (Result<void> written = d.sink.write(deflated); !written) {
        d.finished = true;
        return written.error();
    }
    d.current.compressedSize += deflated.size();
    return {};
}

Result<void> ZipWriter::endEntry() {
    Impl& d = *m_impl;
    assert(d.inEntry);
    if (!d.inEntry) return Error(ErrorCode::WriteFailed, "zip entry ended out of turn");
    if (d.current.method == 8) {
        if (Result<void> ended = d.deflateBytes(nullptr, 0, Z_FINISH); !ended) return ended;
    }
    d.inEntry = false;
    const bool tooLarge =
        d.current.size >= d.limits.size || d.current.compressedSize >= d.limits.size;
    if (tooLarge && !d.current.zip64Sizes)
        return d.fail("zip entry " + d.current.name +
                      " reached 4 GiB without room for ZIP64 sizes");
    ByteWriter header = buildLocalHeader(d.current);
    if (Result<void> patched = d.sink.writeAt(d.current.localHeaderOffset, header.bytes());
        !patched) {
        d.finished = true;
        return patched.error();
    }
    d.entries.push_back(std::move(d.current));
    d.current = EntryRecord{};
    return {};
}

Result<void> ZipWriter::finish() {
    Impl& d = *m_impl;
    assert(!d.inEntry && !d.finished);
    if (d.inEntry || d.finished)
        return Error(ErrorCode::WriteFailed, "zip archive finished out of turn");
    const std::uint64_t limit = d.limits.size;
    const std::uint64_t directoryOffset = d.sink.position();
    for (const EntryRecord& entry : d.entries) {
        const bool offsetZip64 = entry.localHeaderOffset >= limit;
        ByteWriter extra;
        if (entry.zip64Sizes || offsetZip64) {
            std::uint16_t extraSize = (entry.zip64Sizes ? 16 : 0) + (offsetZip64 ? 8 : 0);
            extra.u16(Zip64ExtraId);
            extra.u16(extraSize);
            if (entry.zip64Sizes) {
                extra.u64(entry.size);
                extra.u64(entry.compressedSize);
            }
            if (offsetZip64) extra.u64(entry.localHeaderOffset);
        }
        const bool zip64 = entry.zip64Sizes || offsetZip64;
        ByteWriter header;
        header.u32(CentralHeaderSignature);
        header.u16(zip64 ? VersionZip64 : VersionDefault);  // made by MS-DOS (host 0)
        header.u16(zip64 ? VersionZip64 : VersionDefault);
        header.u16(0);
        header.u16(entry.method);
        header.u16(DosTime);
        header.u16(DosDate);
        header.u32(entry.crc);
        header.u32(entry.zip64Sizes ? 0xFFFF'FFFFu
                                    : static_cast<std::uint32_t>(entry.compressedSize));
        header.u32(entry.zip64Sizes ? 0xFFFF'FFFFu : static_cast<std::uint32_t>(entry.size));
        header.u16(static_cast<std::uint16_t>(entry.name.size()));
        header.u16(static_cast<std::uint16_t>(extra.bytes().size()));
        header.u16(0);  // comment
        header.u16(0);  // disk
        header.u16(0);  // internal attributes
        header.u32(0);  // external attributes
        header.u32(offsetZip64 ? 0xFFFF'FFFFu
                               : static_cast<std::uint32_t>(entry.localHeaderOffset));
        header.text(entry.name);
        if (Result<void> written = d.sink.write(header.bytes()); !written) return written.error();
        if (!extra.bytes().empty()) {
            if (Result<void> written = d.sink.write(extra.bytes()); !written)
                return written.error();
        }
    }
    const std::uint64_t directoryEnd = d.sink.position();
    const std::uint64_t directorySize = directoryEnd - directoryOffset;
    const std::uint64_t count = d.entries.size();
    const bool countZip64 = count >= d.limits.entries;
    const bool needZip64End = countZip64 || directoryOffset >= limit || directorySize >= limit;
    ByteWriter end;
    if (needZip64End) {
        end.u32(Zip64EndSignature);
        end.u64(44);  // size of the rest of this record
        end.u16(VersionZip64);
        end.u16(VersionZip64);
        end.u32(0);
        end.u32(0);
        end.u64(count);
        end.u64(count);
        end.u64(directorySize);
        end.u64(directoryOffset);
        end.u32(Zip64LocatorSignature);
        end.u32(0);
        end.u64(directoryEnd);
        end.u32(1);
    }
    end.u32(EndSignature);
    end.u16(0);
    end.u16(0);
    const std::uint16_t count16 = countZip64 ? 0xFFFF : static_cast<std::uint16_t>(count);
    end.u16(count16);
    end.u16(count16);
    end.u32(directorySize >= limit ? 0xFFFF'FFFFu : static_cast<std::uint32_t>(directorySize));
    end.u32(directoryOffset >= limit ? 0xFFFF'FFFFu : static_cast<std::uint32_t>(directoryOffset));
    end.u16(0);  // comment length
    if (Result<void> written = d.sink.write(end.bytes()); !written) return written.error();
    d.finished = true;
    return d.sink.flush();
}

}  // namespace spreadsheet
