// Reads zip packages held in memory: central directory (ZIP64 when present), stored and
// deflated entries, CRC-32 checks, and limits on what inflating actually produces.
//   Result<ZipReader> zip = ZipReader::open(bytes);
//   Result<std::string> xml = zip->readWhole(*zip->find("xl/workbook.xml"),
//   zip->limits().maxPartBytes);
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/error.h"
#include "spreadsheet/reader_limits.h"

namespace spreadsheet {

// Bounds checked against the bytes actually inflated, never against sizes a file claims.
struct ZipLimits {
    std::size_t maxEntries = MaxZipEntries;
    std::uint64_t maxSheetPartBytes = MaxZipSheetPartBytes;  // one worksheet part
    std::uint64_t maxPartBytes = MaxZipPartBytes;            // any other part
    std::uint64_t maxTotalBytes = MaxZipTotalBytes;          // everything from one file
    std::uint64_t ratioGraceBytes = ZipRatioGraceBytes;      // no ratio check below this
    std::uint64_t maxRatio = MaxZipRatio;                    // inflated per compressed byte
};

struct ZipEntry {
    std::string name;          // as stored (UTF-8 or CP437; the parts we look up are ASCII)
    std::uint16_t method = 0;  // 0 stored, 8 deflated
    std::uint32_t crc32 = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;  // as claimed; checked when the entry is read
    std::uint64_t dataOffset = 0;        // first byte of the entry's data in the file
};

class ZipReader;

// Pulls an entry's content in chunks. Inflated bytes are counted against the part limit,
// the file's total and the ratio limit; the CRC and size are checked at the end.
class ZipEntryStream {
public:
    ZipEntryStream(ZipEntryStream&&) noexcept;
    ZipEntryStream& operator=(ZipEntryStream&&) noexcept;
    ~ZipEntryStream();

    // Fills up to `capacity` bytes; returns 0 only at the end of the entry.
    Result<std::size_t> read(char* out, std::size_t capacity);

private:
    friend class ZipReader;
    struct State;
    explicit ZipEntryStream(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

class ZipReader {
public:
    // Reads the central directory of `bytes`, which must outlive the reader. Fails with
    // ZipCorrupt (no or damaged directory, truncated file), ZipUnsupported (multi-disk,
    // encrypted entries, methods other than stored and deflate) or ZipLimit (too many
    // entries, overlapping entries).
    static Result<ZipReader> open(std::span<const std::uint8_t> bytes, ZipLimits limits = {});

    const std::vector<ZipEntry>& entries() const { return m_entries; }
    const ZipLimits& limits() const { return m_limits; }

    // The entry named `name`, compared case-insensitively, with '\' taken as '/' and a
    // leading '/' ignored (part names in a package are case-insensitive); nullptr if none.
    const ZipEntry* find(std::string_view name) const;

    // Streams an entry; at most `maxBytes` may come out of it.
    Result<ZipEntryStream> stream(const ZipEntry& entry, std::uint64_t maxBytes) const;

    // The whole entry in memory; at most `maxBytes` (ZipLimit beyond).
    Result<std::string> readWhole(const ZipEntry& entry, std::uint64_t maxBytes) const;

    // Bytes inflated so far from this file by all streams together.
    std::uint64_t totalInflated() const { return *m_totalInflated; }

private:
    ZipReader() = default;
    std::span<const std::uint8_t> m_bytes;
    ZipLimits m_limits;
    std::vector<ZipEntry> m_entries;
    std::vector<std::pair<std::string, std::size_t>> m_lookup;  // normalised name -> entry, sorted
    std::shared_ptr<std::uint64_t> m_totalInflated = std::make_shared<std::uint64_t>(0);
};

// Lower-case ASCII, '\' as '/', no leading '/': the form names are compared in.
std::string normalisePartName(std::string_view name);

}  // namespace spreadsheet
