// A small independent zip reader for the writer tests: parses the end records, the central
// directory and each local header by the zip format, and inflates entries with zlib, so the
// tests check the archive without the engine's own reader.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace spreadsheet::testing {

struct ZipEntryView {
    std::string name;
    std::uint16_t localVersionNeeded = 0;
    std::uint16_t centralVersionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t dosTime = 0;
    std::uint16_t dosDate = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t localOffset = 0;
    bool localZip64 = false;     // ZIP64 extra field in the local header
    bool centralZip64 = false;   // ZIP64 extra field in the central header
    std::uint32_t localCrc = 0;  // as the local header states them
    std::uint64_t localCompressedSize = 0;
    std::uint64_t localSize = 0;
    std::string content;  // inflated
};

struct ZipView {
    std::vector<ZipEntryView> entries;
    bool zip64End = false;
    std::uint64_t declaredEntries = 0;
    const ZipEntryView* find(const std::string& name) const {
        for (const ZipEntryView& entry : entries)
            if (entry.name == name) return &entry;
        return nullptr;
    }
};

namespace zipdetail {
inline std::uint64_t little(const std::vector<std::uint8_t>& bytes, std::uint64_t at, int size) {
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | bytes.at(at + static_cast<std::uint64_t>(i));
    return value;
}
}  // namespace zipdetail

// Parses `bytes`; on a structural fault returns nullopt and describes it in `problem`.
inline std::optional<ZipView> readZip(const std::vector<std::uint8_t>& bytes,
                                      std::string& problem) {
    using zipdetail::little;
    ZipView view;
    if (bytes.size() < 22) {
        problem = "shorter than an end record";
        return std::nullopt;
    }
    std::uint64_t end = bytes.size() - 22;
    while (little(bytes, end, 4) != 0x06054b50) {
        if (end == 0) {
            problem = "no end record";
            return std::nullopt;
        }
        --end;
    }
    std::uint64_t count = little(bytes, end + 10, 2);
    std::uint64_t directorySize = little(bytes, end + 12, 4);
    std::uint64_t directoryOffset = little(bytes, end + 16, 4);
    if (end >= 20 && little(bytes, end - 20, 4) == 0x07064b50) {
        const std::uint64_t record = little(bytes, end - 20 + 8, 8);
        if (little(bytes, record, 4) != 0x06064b50) {
            problem = "ZIP64 locator points to no ZIP64 end record";
            return std::nullopt;
        }
        view.zip64End = true;
        count = little(bytes, record + 32, 8);
        directorySize = little(bytes, record + 40, 8);
        directoryOffset = little(bytes, record + 48, 8);
    }
    view.declaredEntries = count;
    std::uint64_t at = directoryOffset;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (little(bytes, at, 4) != 0x02014b50) {
            problem = "central header " + std::to_string(i) + " has no signature";
            return std::nullopt;
        }
        ZipEntryView entry;
        entry.centralVersionNeeded = static_cast<std::uint16_t>(little(bytes, at + 6, 2));
        entry.flags = static_cast<std::uint16_t>(little(bytes, at + 8, 2));
        entry.method = static_cast<std::uint16_t>(little(bytes, at + 10, 2));
        entry.dosTime = static_cast<std::uint16_t>(little(bytes, at + 12, 2));
        entry.dosDate = static_cast<std::uint16_t>(little(bytes, at + 14, 2));
        entry.crc = static_cast<std::uint32_t>(little(bytes, at + 16, 4));
        entry.compressedSize = little(bytes, at + 20, 4);
        entry.size = little(bytes, at + 24, 4);
        const std::uint64_t nameLength = little(bytes, at + 28, 2);
        const std::uint64_t extraLength = little(bytes, at + 30, 2);
        const std::uint64_t commentLength = little(bytes, at + 32, 2);
        entry.localOffset = little(bytes, at + 42, 4);
        entry.name.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at + 46),
                          bytes.begin() + static_cast<std::ptrdiff_t>(at + 46 + nameLength));
        std::uint64_t extra = at + 46 + nameLength;
        const std::uint64_t extraEnd = extra + extraLength;
        while (extra + 4 <= extraEnd) {
            const std::uint64_t id = little(bytes, extra, 2);
            const std::uint64_t size = little(bytes, extra + 2, 2);
            if (id == 1) {
                entry.centralZip64 = true;
                std::uint64_t field = extra + 4;
                if (entry.size == 0xFFFFFFFFu) entry.size = little(bytes, field, 8), field += 8;
                if (entry.compressedSize == 0xFFFFFFFFu)
                    entry.compressedSize = little(bytes, field, 8), field += 8;
                if (entry.localOffset == 0xFFFFFFFFu)
                    entry.localOffset = little(bytes, field, 8), field += 8;
            }
            extra += 4 + size;
        }
        at = extraEnd + commentLength;
        // The local header.
        const std::uint64_t local = entry.localOffset;
        if (little(bytes, local, 4) != 0x04034b50) {
            problem = entry.name + ": local header has no signature";
            return std::nullopt;
        }
        entry.localVersionNeeded = static_cast<std::uint16_t>(little(bytes, local + 4, 2));
        entry.localCrc = static_cast<std::uint32_t>(little(bytes, local + 14, 4));
        entry.localCompressedSize = little(bytes, local + 18, 4);
        entry.localSize = little(bytes, local + 22, 4);
        const std::uint64_t localName = little(bytes, local + 26, 2);
        const std::uint64_t localExtra = little(bytes, local + 28, 2);
        std::uint64_t localField = local + 30 + localName;
        const std::uint64_t localExtraEnd = localField + localExtra;
        while (localField + 4 <= localExtraEnd) {
            if (little(bytes, localField, 2) == 1) {
                entry.localZip64 = true;
                entry.localSize = little(bytes, localField + 4, 8);
                entry.localCompressedSize = little(bytes, localField + 12, 8);
            }
            localField += 4 + little(bytes, localField + 2, 2);
        }
        const std::uint64_t data = localExtraEnd;
        if (data + entry.compressedSize > bytes.size()) {
            problem = entry.name + ": data past the end";
            return std::nullopt;
        }
        if (entry.method == 0) {
            entry.content.assign(
                bytes.begin() + static_cast<std::ptrdiff_t>(data),
                bytes.begin() + static_cast<std::ptrdiff_t>(data + entry.compressedSize));
        } else if (entry.method == 8) {
            z_stream stream{};
            inflateInit2(&stream, -MAX_WBITS);
            stream.next_in = const_cast<Bytef*>(bytes.data() + data);
            stream.avail_in = static_cast<uInt>(entry.compressedSize);
            std::vector<char> buffer(1 << 16);
            int status = Z_OK;
            while (status == Z_OK) {
                stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
                stream.avail_out = static_cast<uInt>(buffer.size());
                status = inflate(&stream, Z_NO_FLUSH);
                entry.content.append(buffer.data(), buffer.size() - stream.avail_out);
            }
            const bool ended = status == Z_STREAM_END && stream.avail_in == 0;
            inflateEnd(&stream);
            if (!ended) {
                problem = entry.name + ": deflate data does not end where the sizes say (" +
                          std::to_string(status) + ")";
                return std::nullopt;
            }
        } else {
            problem = entry.name + ": method " + std::to_string(entry.method);
            return std::nullopt;
        }
        view.entries.push_back(std::move(entry));
    }
    (void)directorySize;
    return view;
}

inline std::uint32_t crcOf(const std::string& content) {
    return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(content.data()),
                                            static_cast<uInt>(content.size())));
}

}  // namespace spreadsheet::testing
