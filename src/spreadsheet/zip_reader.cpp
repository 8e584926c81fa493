#include "spreadsheet/zip_reader.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace spreadsheet {

namespace {

constexpr std::uint32_t LocalHeaderSignature = 0x04034b50;
constexpr std::uint32_t CentralHeaderSignature = 0x02014b50;
constexpr std::uint32_t EndOfDirectorySignature = 0x06054b50;
constexpr std::uint32_t Zip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t Zip64EndSignature = 0x06064b50;
constexpr std::size_t EndOfDirectorySize = 22;
constexpr std::size_t Zip64LocatorSize = 20;
constexpr std::size_t Zip64EndSize = 56;
constexpr std::size_t CentralHeaderSize = 46;
constexpr std::size_t LocalHeaderSize = 30;

std::uint16_t read16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t read32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t read64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(read32(p)) |
           (static_cast<std::uint64_t>(read32(p + 4)) << 32);
}

Error corrupt(std::string detail) {
    return Error(ErrorCode::ZipCorrupt, std::move(detail));
}

// What a failing isal_inflate status means for a raw deflate stream.
std::string inflateFailure(int status) {
    switch (status) {
        case ISAL_INVALID_BLOCK:
            return "invalid block type, stored length or code lengths";
        case ISAL_INVALID_SYMBOL:
            return "invalid literal, length or distance code";
        case ISAL_INVALID_LOOKBACK:
            return "distance too far back";
        default:
            return "inflater status " + std::to_string(status);
    }
}

// Replaces the 0xFFFFFFFF placeholders of a central header by the ZIP64 extra field's values,
// which come in the fixed order: uncompressed size, compressed size, local header offset.
Result<void> applyZip64Extra(const std::uint8_t* extra, std::size_t extraLength,
                             bool needUncompressed, bool needCompressed, bool needOffset,
                             ZipEntry& entry, std::uint64_t& localOffset) {
    std::size_t position = 0;
    while (position + 4 <= extraLength) {
        const std::uint16_t id = read16(extra + position);
        const std::uint16_t size = read16(extra + position + 2);
        if (position + 4 + size > extraLength) break;
        if (id == 0x0001) {
            const std::uint8_t* field = extra + position + 4;
            std::size_t used = 0;
            auto take = [&](std::uint64_t& target) {
                if (used + 8 > size) return false;
                target = read64(field + used);
                used += 8;
                return true;
            };
            if (needUncompressed && !take(entry.uncompressedSize)) break;
            if (needCompressed && !take(entry.compressedSize)) break;
            if (needOffset && !take(localOffset)) break;
            return {};
        }
        position += 4 + size;
    }
    return corrupt("entry " + entry.name + ": ZIP64 sizes missing from its extra field");
}

}  // namespace

std::string normalisePartName(std::string_view name) {
    std::string result;
    result.reserve(name.size());
    for (char character : name) {
        if (character == '\\') character = '/';
        if (character >= 'A' && character <= 'Z')
            character = static_cast<char>(character - 'A' + 'a');
        result.push_back(character);
    }
    std::size_t leading = 0;
    while (leading < result.size() && result[leading] == '/') ++leading;
    result.erase(0, leading);
    return result;
}

// ---------------------------------------------------------------------------------------------
// Streams

struct ZipEntryStream::State {
    std::string name;
    std::uint16_t method = 0;
    const std::uint8_t* data = nullptr;
    std::uint64_t compressedSize = 0;
    std::uint64_t claimedSize = 0;
    std::uint32_t claimedCrc = 0;
    std::uint64_t consumed = 0;  // compressed bytes handed to the inflater or copied
    std::uint64_t produced = 0;
    std::uint64_t maxBytes = 0;
    std::uint32_t crc = 0;
    ZipLimits limits;
    std::shared_ptr<std::uint64_t> totalInflated;
    // Deflated entries only: the inflater's state holds about 85 KiB of window and tables, so it
    // lives on the heap and stored entries go without it.
    std::unique_ptr<inflate_state> inflater;
    bool finished = false;

    Result<void> count(std::size_t bytes) {
        produced += bytes;
        *totalInflated += bytes;
        if (produced > maxBytes)
            return Error(ErrorCode::ZipLimit, "part " + name + " inflates to more than " +
                                                  std::to_string(maxBytes) +
                                                  " bytes (part size limit)");
        if (*totalInflated > limits.maxTotalBytes)
            return Error(ErrorCode::ZipLimit, "the package inflates to more than " +
                                                  std::to_string(limits.maxTotalBytes) +
                                                  " bytes (package size limit)");
        if (produced > limits.ratioGraceBytes &&
            produced / std::max<std::uint64_t>(compressedSize, 1) > limits.maxRatio)
            return Error(ErrorCode::ZipLimit,
                         "part " + name + " inflates more than " + std::to_string(limits.maxRatio) +
                             " times its compressed size (compression ratio limit)");
        return {};
    }

    Result<void> finish() {
        finished = true;
        if (produced != claimedSize)
            return corrupt("part " + name + " holds " + std::to_string(produced) +
                           " bytes, its directory entry says " + std::to_string(claimedSize));
        if (crc != claimedCrc) return corrupt("part " + name + " fails its CRC-32 check");
        return {};
    }
};

ZipEntryStream::ZipEntryStream(std::unique_ptr<State> state) : m_state(std::move(state)) {}
ZipEntryStream::ZipEntryStream(ZipEntryStream&&) noexcept = default;
ZipEntryStream& ZipEntryStream::operator=(ZipEntryStream&&) noexcept = default;
ZipEntryStream::~ZipEntryStream() = default;

Result<std::size_t> ZipEntryStream::read(char* out, std::size_t capacity) {
    State& state = *m_state;
    if (state.finished || capacity == 0) return std::size_t{0};
    capacity = std::min<std::size_t>(capacity, UINT32_MAX);

    if (state.method == 0) {
        const std::uint64_t remaining = state.compressedSize - state.consumed;
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, capacity));
        if (length == 0) {
            Result<void> finished = state.finish();
            if (!finished) return finished.error();
            return std::size_t{0};
        }
        std::memcpy(out, state.data + state.consumed, length);
        state.consumed += length;
        state.crc = crc32_gzip_refl(state.crc, reinterpret_cast<const unsigned char*>(out), length);
        Result<void> counted = state.count(length);
        if (!counted) return counted.error();
        return length;
    }

    // isal_inflate reports running out of input or of output space as success; whether the
    // stream is complete shows only in its block state, and a stream that stops short shows as
    // a call that neither takes input nor gives output.
    inflate_state& inflater = *state.inflater;
    inflater.next_out = reinterpret_cast<std::uint8_t*>(out);
    inflater.avail_out = static_cast<std::uint32_t>(capacity);
    while (inflater.avail_out == capacity && inflater.block_state != ISAL_BLOCK_FINISH) {
        if (inflater.avail_in == 0 && state.consumed < state.compressedSize) {
            const std::uint64_t chunk =
                std::min<std::uint64_t>(state.compressedSize - state.consumed, 1u << 30);
            inflater.next_in = const_cast<std::uint8_t*>(state.data + state.consumed);
            inflater.avail_in = static_cast<std::uint32_t>(chunk);
            state.consumed += chunk;
        }
        const std::uint32_t availableBefore = inflater.avail_in;
        const int status = isal_inflate(&inflater);
        if (status != ISAL_DECOMP_OK)
            return corrupt("part " + state.name + ": damaged deflate data (" +
                           inflateFailure(status) + ")");
        if (inflater.block_state == ISAL_BLOCK_FINISH) break;
        if (inflater.avail_out == capacity && inflater.avail_in == availableBefore) {
            if (availableBefore == 0)
                return corrupt("part " + state.name + ": deflate data ends early");
            return corrupt("part " + state.name +
                           ": damaged deflate data (the inflater makes no progress)");
        }
    }
    const std::size_t produced = capacity - inflater.avail_out;
    state.crc = crc32_gzip_refl(state.crc, reinterpret_cast<const unsigned char*>(out), produced);
    Result<void> counted = state.count(produced);
    if (!counted) return counted.error();
    // Bytes after the final block are left unread, as they were never part of the stream.
    if (inflater.block_state == ISAL_BLOCK_FINISH) {
        Result<void> finished = state.finish();
        if (!finished) return finished.error();
    }
    return produced;
}

// ---------------------------------------------------------------------------------------------
// Directory

namespace {

// Where the central directory lies, as the end-of-directory records give it.
struct DirectoryLocation {
    std::uint64_t entryCount = 0;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
};

// Finds the end-of-directory record, and the ZIP64 one when a locator points to it.
Result<DirectoryLocation> locateDirectory(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < EndOfDirectorySize)
        return corrupt("file of " + std::to_string(bytes.size()) +
                       " bytes is too short for a zip package");
    const std::uint8_t* base = bytes.data();

    // The end-of-directory record sits in the last 22 + 65,535 bytes (its comment may follow).
    std::size_t endOffset = SIZE_MAX;
    const std::size_t lowest =
        bytes.size() > EndOfDirectorySize + 0xFFFF ? bytes.size() - EndOfDirectorySize - 0xFFFF : 0;
    for (std::size_t offset = bytes.size() - EndOfDirectorySize + 1; offset-- > lowest;) {
        if (read32(base + offset) == EndOfDirectorySignature &&
            offset + EndOfDirectorySize + read16(base + offset + 20) <= bytes.size()) {
            endOffset = offset;
            break;
        }
    }
    if (endOffset == SIZE_MAX)
        return corrupt("no end of central directory found (truncated or not a zip file)");

    const std::uint8_t* end = base + endOffset;
    std::uint64_t diskNumber = read16(end + 4);
    std::uint64_t directoryDisk = read16(end + 6);
    DirectoryLocation location{read16(end + 10), read32(end + 12), read32(end + 16)};

    if (endOffset >= Zip64LocatorSize && read32(end - Zip64LocatorSize) == Zip64LocatorSignature) {
        const std::uint64_t zip64Offset = read64(end - Zip64LocatorSize + 8);
        if (zip64Offset > bytes.size() || bytes.size() - zip64Offset < Zip64EndSize ||
            read32(base + zip64Offset) != Zip64EndSignature)
            return corrupt("ZIP64 end of central directory record missing or damaged");
        const std::uint8_t* end64 = base + zip64Offset;
        diskNumber = read32(end64 + 16);
        directoryDisk = read32(end64 + 20);
        location = {read64(end64 + 32), read64(end64 + 40), read64(end64 + 48)};
    }
    if (diskNumber != 0 || directoryDisk != 0)
        return Error(ErrorCode::ZipUnsupported, "multi-disk zip archive");
    if (location.offset > bytes.size() || location.size > bytes.size() - location.offset)
        return corrupt("central directory at " + std::to_string(location.offset) + " (+" +
                       std::to_string(location.size) + " bytes) lies outside the file of " +
                       std::to_string(bytes.size()) + " bytes");
    return location;
}

// One central directory entry at `position` (moved past it), checked against its local header.
// `span` gets the bytes the entry occupies in the file, from its local header to its data's end.
Result<ZipEntry> readDirectoryEntry(std::span<const std::uint8_t> bytes, std::uint64_t& position,
                                    std::uint64_t directoryEnd, std::uint64_t index,
                                    std::pair<std::uint64_t, std::uint64_t>& span) {
    const std::uint8_t* base = bytes.data();
    if (directoryEnd - position < CentralHeaderSize ||
        read32(base + position) != CentralHeaderSignature)
        return corrupt("central directory entry " + std::to_string(index) + " at offset " +
                       std::to_string(position) + " is damaged");
    const std::uint8_t* header = base + position;
    const std::uint16_t flags = read16(header + 8);
    const std::size_t nameLength = read16(header + 28);
    const std::size_t extraLength = read16(header + 30);
    const std::size_t commentLength = read16(header + 32);
    if (directoryEnd - position < CentralHeaderSize + nameLength + extraLength + commentLength)
        return corrupt("central directory entry " + std::to_string(index) +
                       " runs past the directory");

    ZipEntry entry;
    entry.name.assign(reinterpret_cast<const char*>(header + CentralHeaderSize), nameLength);
    entry.method = read16(header + 10);
    entry.crc32 = read32(header + 16);
    entry.compressedSize = read32(header + 20);
    entry.uncompressedSize = read32(header + 24);
    std::uint64_t localOffset = read32(header + 42);
    const bool needUncompressed = entry.uncompressedSize == 0xFFFFFFFF;
    const bool needCompressed = entry.compressedSize == 0xFFFFFFFF;
    const bool needOffset = localOffset == 0xFFFFFFFF;
    if (needUncompressed || needCompressed || needOffset) {
        Result<void> applied =
            applyZip64Extra(header + CentralHeaderSize + nameLength, extraLength, needUncompressed,
                            needCompressed, needOffset, entry, localOffset);
        if (!applied) return applied.error();
    }
    position += CentralHeaderSize + nameLength + extraLength + commentLength;

    if (flags & 0x0001)
        return Error(ErrorCode::ZipUnsupported, "entry " + entry.name + " is encrypted");
    if (entry.method != 0 && entry.method != 8)
        return Error(
            ErrorCode::ZipUnsupported,
            "entry " + entry.name + " uses compression method " + std::to_string(entry.method));

    if (localOffset > bytes.size() || bytes.size() - localOffset < LocalHeaderSize ||
        read32(base + localOffset) != LocalHeaderSignature)
        return corrupt("entry " + entry.name + ": no local header at offset " +
                       std::to_string(localOffset));
    const std::uint64_t dataOffset = localOffset + LocalHeaderSize +
                                     read16(base + localOffset + 26) +
                                     read16(base + localOffset + 28);
    if (dataOffset > bytes.size() || entry.compressedSize > bytes.size() - dataOffset)
        return corrupt("entry " + entry.name + ": data runs past the end of the file (truncated?)");
    if (entry.method == 0 && entry.compressedSize != entry.uncompressedSize)
        return corrupt("stored entry " + entry.name +
                       " has different compressed and uncompressed sizes");
    entry.dataOffset = dataOffset;
    span = {localOffset, dataOffset + entry.compressedSize};
    return entry;
}

}  // namespace

Result<ZipReader> ZipReader::open(std::span<const std::uint8_t> bytes, ZipLimits limits) {
    Result<DirectoryLocation> directory = locateDirectory(bytes);
    if (!directory) return directory.error();
    if (directory->entryCount > limits.maxEntries)
        return Error(ErrorCode::ZipLimit,
                     std::to_string(directory->entryCount) + " entries, more than " +
                         std::to_string(limits.maxEntries) + " (entry count limit)");

    ZipReader reader;
    reader.m_bytes = bytes;
    reader.m_limits = limits;

    struct Range {
        std::uint64_t first;
        std::uint64_t end;
        std::size_t entry;
    };
    std::vector<Range> ranges;
    std::uint64_t position = directory->offset;
    const std::uint64_t directoryEnd = directory->offset + directory->size;
    for (std::uint64_t index = 0; index < directory->entryCount; ++index) {
        std::pair<std::uint64_t, std::uint64_t> span;
        Result<ZipEntry> entry = readDirectoryEntry(bytes, position, directoryEnd, index, span);
        if (!entry) return entry.error();
        ranges.push_back({span.first, span.second, reader.m_entries.size()});
        reader.m_entries.push_back(std::move(*entry));
    }

    // Entries sharing bytes are the mark of overlapping-entry zip bombs.
    std::sort(ranges.begin(), ranges.end(),
              [](const Range& a, const Range& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < ranges.size(); ++i) {
        if (ranges[i].first < ranges[i - 1].end)
            return Error(ErrorCode::ZipLimit, "entries " +
                                                  reader.m_entries[ranges[i - 1].entry].name +
                                                  " and " + reader.m_entries[ranges[i].entry].name +
                                                  " overlap (overlapping entries are refused)");
    }

    reader.m_lookup.reserve(reader.m_entries.size());
    for (std::size_t i = 0; i < reader.m_entries.size(); ++i)
        reader.m_lookup.emplace_back(normalisePartName(reader.m_entries[i].name), i);
    // Stable, so that of two names differing only in case the first in the directory wins.
    std::stable_sort(reader.m_lookup.begin(), reader.m_lookup.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return reader;
}

const ZipEntry* ZipReader::find(std::string_view name) const {
    const std::string key = normalisePartName(name);
    auto found = std::lower_bound(
        m_lookup.begin(), m_lookup.end(), key,
        [](const auto& item, const std::string& wanted) { return item.first < wanted; });
    if (found == m_lookup.end() || found->first != key) return nullptr;
    return &m_entries[found->second];
}

Result<ZipEntryStream> ZipReader::stream(const ZipEntry& entry, std::uint64_t maxBytes) const {
    auto state = std::make_unique<ZipEntryStream::State>();
    state->name = entry.name;
    state->method = entry.method;
    state->data = m_bytes.data() + entry.dataOffset;
    state->compressedSize = entry.compressedSize;
    state->claimedSize = entry.uncompressedSize;
    state->claimedCrc = entry.crc32;
    state->maxBytes = maxBytes;
    state->limits = m_limits;
    state->totalInflated = m_totalInflated;
    if (entry.method == 8) {
        // Raw deflate as a zip entry holds it: no wrapper, no checksum of the inflater's own
        // (crc_flag ISAL_DEFLATE), the full 32 KiB window (hist_bits 0).
        state->inflater = std::make_unique<inflate_state>();
        isal_inflate_init(state->inflater.get());
        state->inflater->crc_flag = ISAL_DEFLATE;
        state->inflater->hist_bits = 0;
    }
    return ZipEntryStream(std::move(state));
}

Result<std::string> ZipReader::readWhole(const ZipEntry& entry, std::uint64_t maxBytes) const {
    Result<ZipEntryStream> opened = stream(entry, maxBytes);
    if (!opened) return opened.error();
    std::string content;
    // Grow from what has really been inflated; the claimed size only caps the first guess.
    std::size_t chunk =
        static_cast<std::size_t>(std::clamp<std::uint64_t>(entry.uncompressedSize, 4096, 1 << 20));
    for (;;) {
        const std::size_t used = content.size();
        content.resize(used + chunk);
        Result<std::size_t> got = opened->read(content.data() + used, chunk);
        if (!got) return got.error();
        content.resize(used + *got);
        if (*got == 0) break;
        chunk = std::min<std::size_t>(chunk * 2, 16 << 20);
    }
    return content;
}

}  // namespace spreadsheet
