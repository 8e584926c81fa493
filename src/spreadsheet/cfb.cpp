#include "spreadsheet/cfb.h"

#include <algorithm>
#include <cstring>

#include "spreadsheet/text_encoding.h"

namespace spreadsheet {
namespace {

constexpr std::uint8_t Signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t MaxRegularSector = 0xFFFFFFFA;
constexpr std::uint32_t EndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t FreeSector = 0xFFFFFFFF;
constexpr std::size_t HeaderSize = 512;
constexpr std::size_t DirectoryEntrySize = 128;
constexpr int HeaderDifatEntries = 109;

std::uint16_t readU16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::uint32_t readU32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) |
           (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

// Directory names are UTF-16LE with a terminating zero counted in the length field.
std::string decodeEntryName(std::span<const std::uint8_t> entry) {
    std::uint16_t byteLength = readU16(entry, 64);
    std::size_t units = std::min<std::size_t>(byteLength, 64) / 2;
    std::size_t length = 0;
    while (length < units && readU16(entry, length * 2) != 0) ++length;
    return utf16ToUtf8(entry.first(length * 2), TextEncoding::Utf16LittleEndian);
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

Error corrupt(std::string detail) {
    return Error(ErrorCode::CfbCorrupt, std::move(detail));
}

}  // namespace

bool isCompoundFile(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= sizeof Signature &&
           std::memcmp(bytes.data(), Signature, sizeof Signature) == 0;
}

std::span<const std::uint8_t> CompoundFile::sector(std::uint32_t id) const {
    // The last sector of a file may be cut short; callers get what is there.
    std::size_t offset = HeaderSize > m_sectorSize ? HeaderSize : m_sectorSize;
    offset += static_cast<std::size_t>(id) * m_sectorSize;
    if (offset >= m_bytes.size()) return {};
    return m_bytes.subspan(offset, std::min<std::size_t>(m_sectorSize, m_bytes.size() - offset));
}

Result<CompoundFile> CompoundFile::open(std::span<const std::uint8_t> bytes) {
    if (!isCompoundFile(bytes)) return corrupt("no compound file signature");
    if (bytes.size() < HeaderSize) {
        return corrupt("header cut short: " + std::to_string(bytes.size()) + " of 512 bytes");
    }
    CompoundFile file;
    file.m_bytes = bytes;
    std::uint16_t majorVersion = readU16(bytes, 26);
    std::uint16_t sectorShift = readU16(bytes, 30);
    std::uint16_t miniSectorShift = readU16(bytes, 32);
    if (sectorShift != 9 && sectorShift != 12) {
        return corrupt("sector shift " + std::to_string(sectorShift) + " (version " +
                       std::to_string(majorVersion) + "), expected 9 or 12");
    }
    if (miniSectorShift != 6)
        return corrupt("mini sector shift " + std::to_string(miniSectorShift) + ", expected 6");
    file.m_sectorSize = 1u << sectorShift;
    file.m_miniSectorSize = 1u << miniSectorShift;
    file.m_miniStreamCutoff = readU32(bytes, 56);
    std::size_t firstSectorOffset = std::max<std::size_t>(HeaderSize, file.m_sectorSize);
    if (bytes.size() > firstSectorOffset) {
        std::size_t body = bytes.size() - firstSectorOffset;
        std::size_t count = (body + file.m_sectorSize - 1) / file.m_sectorSize;
        if (count >= MaxRegularSector)
            return corrupt("file holds more sectors than a compound file can address");
        file.m_sectorCount = static_cast<std::uint32_t>(count);
    }
    if (Result<void> read = file.readFat(); !read) return read.error();
    if (Result<void> read = file.readDirectory(majorVersion); !read) return read.error();
    if (Result<void> read = file.readMiniStream(); !read) return read.error();
    return file;
}

// FAT sector ids: the header's 109 DIFAT slots, then the DIFAT chain. The header's FAT sector
// count only caps how many are taken; storage grows with sectors really present.
Result<void> CompoundFile::readFat() {
    const std::uint32_t sectorCount = m_sectorCount;
    const std::uint32_t idsPerSector = m_sectorSize / 4;
    const std::uint32_t claimedFatSectors = readU32(m_bytes, 44);
    std::vector<std::uint32_t> fatSectors;
    auto takeFatSector = [&](std::uint32_t id) -> Result<void> {
        if (id >= sectorCount) {
            return corrupt("FAT sector id " + std::to_string(id) + " beyond the " +
                           std::to_string(sectorCount) + " sectors of the file");
        }
        fatSectors.push_back(id);
        return {};
    };
    for (int i = 0; i < HeaderDifatEntries && fatSectors.size() < claimedFatSectors; ++i) {
        std::uint32_t id = readU32(m_bytes, 76 + static_cast<std::size_t>(i) * 4);
        if (id > MaxRegularSector) break;
        if (Result<void> taken = takeFatSector(id); !taken) return taken;
    }
    std::uint32_t difatSector = readU32(m_bytes, 68);
    std::uint32_t difatSteps = 0;
    while (fatSectors.size() < claimedFatSectors && difatSector <= MaxRegularSector) {
        if (difatSector >= sectorCount) {
            return corrupt("DIFAT sector id " + std::to_string(difatSector) + " beyond the " +
                           std::to_string(sectorCount) + " sectors of the file");
        }
        if (++difatSteps > sectorCount) return corrupt("DIFAT chain loops");
        std::span<const std::uint8_t> data = sector(difatSector);
        if (data.size() < m_sectorSize)
            return corrupt("DIFAT sector " + std::to_string(difatSector) + " cut short");
        for (std::uint32_t i = 0; i + 1 < idsPerSector && fatSectors.size() < claimedFatSectors;
             ++i) {
            std::uint32_t id = readU32(data, static_cast<std::size_t>(i) * 4);
            if (id > MaxRegularSector) continue;
            if (Result<void> taken = takeFatSector(id); !taken) return taken;
        }
        difatSector = readU32(data, static_cast<std::size_t>(idsPerSector - 1) * 4);
    }
    if (fatSectors.empty()) return corrupt("no FAT sectors");
    m_fat.reserve(fatSectors.size() * idsPerSector);
    for (std::uint32_t id : fatSectors) {
        std::span<const std::uint8_t> data = sector(id);
        for (std::uint32_t i = 0; i < idsPerSector; ++i) {
            std::size_t offset = static_cast<std::size_t>(i) * 4;
            m_fat.push_back(offset + 4 <= data.size() ? readU32(data, offset) : FreeSector);
        }
    }
    return {};
}

// The directory's entries in order, unused slots left out; the first must be the root.
Result<void> CompoundFile::readDirectory(std::uint16_t majorVersion) {
    std::vector<std::uint8_t> directory;
    std::uint32_t directoryStart = readU32(m_bytes, 48);
    if (directoryStart > MaxRegularSector) return corrupt("no directory sector");
    if (Result<void> read = readChain(directoryStart, UINT64_MAX, directory); !read) return read;
    std::size_t entryCount = directory.size() / DirectoryEntrySize;
    if (entryCount == 0) return corrupt("empty directory");
    std::span<const std::uint8_t> directoryBytes(directory);
    for (std::size_t i = 0; i < entryCount; ++i) {
        std::span<const std::uint8_t> entryBytes =
            directoryBytes.subspan(i * DirectoryEntrySize, DirectoryEntrySize);
        std::uint8_t type = entryBytes[66];
        if (type != 1 && type != 2 && type != 5) continue;
        CfbEntry entry;
        entry.name = decodeEntryName(entryBytes);
        entry.type = static_cast<CfbEntryType>(type);
        entry.startSector = readU32(entryBytes, 116);
        entry.size = readU32(entryBytes, 120);
        // Version 3 files may carry garbage in the high half of the size.
        if (majorVersion >= 4)
            entry.size |= static_cast<std::uint64_t>(readU32(entryBytes, 124)) << 32;
        m_entries.push_back(std::move(entry));
    }
    if (m_entries.empty() || m_entries.front().type != CfbEntryType::Root) {
        return corrupt("directory does not start with the root entry");
    }
    return {};
}

// The mini FAT and the mini stream (the root entry's chain), only when some stream needs them.
Result<void> CompoundFile::readMiniStream() {
    const CfbEntry& root = m_entries.front();
    bool needsMini =
        std::any_of(m_entries.begin() + 1, m_entries.end(), [&](const CfbEntry& entry) {
            return entry.type == CfbEntryType::Stream && entry.size > 0 &&
                   entry.size < m_miniStreamCutoff;
        });
    if (!needsMini) return {};
    std::uint32_t miniFatStart = readU32(m_bytes, 60);
    std::vector<std::uint8_t> miniFatBytes;
    if (miniFatStart <= MaxRegularSector) {
        if (Result<void> read = readChain(miniFatStart, UINT64_MAX, miniFatBytes); !read)
            return read;
    }
    m_miniFat.reserve(miniFatBytes.size() / 4);
    for (std::size_t offset = 0; offset + 4 <= miniFatBytes.size(); offset += 4)
        m_miniFat.push_back(readU32(miniFatBytes, offset));
    if (root.startSector <= MaxRegularSector) {
        if (Result<void> read = readChain(root.startSector, root.size, m_miniStream); !read)
            return Error(ErrorCode::CfbCorrupt, "mini stream: " + read.error().detail);
    }
    return {};
}

Result<void> CompoundFile::readChain(std::uint32_t start, std::uint64_t size,
                                     std::vector<std::uint8_t>& out) const {
    // `size` is a claim: bytes are appended sector by sector and never reserved from it.
    std::uint32_t current = start;
    std::uint64_t remaining = size;
    std::uint32_t steps = 0;
    while (remaining > 0 && current != EndOfChain) {
        if (current >= m_sectorCount || current >= m_fat.size()) {
            return corrupt("sector id " + std::to_string(current) + " beyond the " +
                           std::to_string(m_sectorCount) + " sectors of the file");
        }
        if (++steps > m_sectorCount)
            return corrupt("sector chain loops (from sector " + std::to_string(start) + ")");
        std::span<const std::uint8_t> data = sector(current);
        std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, data.size()));
        out.insert(out.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(take));
        if (remaining != UINT64_MAX) remaining -= take;
        if (data.size() < m_sectorSize && remaining > 0 && remaining != UINT64_MAX) {
            return corrupt("file cut short inside sector " + std::to_string(current));
        }
        current = m_fat[current];
    }
    if (remaining > 0 && remaining != UINT64_MAX) {
        return corrupt("stream chain from sector " + std::to_string(start) + " ends " +
                       std::to_string(remaining) + " bytes before its size of " +
                       std::to_string(size));
    }
    return {};
}

Result<void> CompoundFile::readMiniChain(std::uint32_t start, std::uint64_t size,
                                         std::vector<std::uint8_t>& out) const {
    std::uint32_t current = start;
    std::uint64_t remaining = size;
    std::size_t steps = 0;
    while (remaining > 0) {
        if (current == EndOfChain) {
            return corrupt("mini stream chain from sector " + std::to_string(start) + " ends " +
                           std::to_string(remaining) + " bytes before its size of " +
                           std::to_string(size));
        }
        if (current >= m_miniFat.size()) {
            return corrupt("mini sector id " + std::to_string(current) + " beyond the mini FAT");
        }
        if (++steps > m_miniFat.size()) return corrupt("mini sector chain loops");
        std::size_t offset = static_cast<std::size_t>(current) * m_miniSectorSize;
        if (offset >= m_miniStream.size()) {
            return corrupt("mini sector " + std::to_string(current) + " beyond the mini stream");
        }
        std::size_t available =
            std::min<std::size_t>(m_miniSectorSize, m_miniStream.size() - offset);
        std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, available));
        if (take < std::min<std::uint64_t>(remaining, m_miniSectorSize)) {
            return corrupt("mini stream cut short at mini sector " + std::to_string(current));
        }
        out.insert(out.end(), m_miniStream.begin() + static_cast<std::ptrdiff_t>(offset),
                   m_miniStream.begin() + static_cast<std::ptrdiff_t>(offset + take));
        remaining -= take;
        current = m_miniFat[current];
    }
    return {};
}

const CfbEntry* CompoundFile::findStream(std::string_view name) const {
    for (const CfbEntry& entry : m_entries) {
        if (entry.type == CfbEntryType::Stream && equalsIgnoringAsciiCase(entry.name, name))
            return &entry;
    }
    return nullptr;
}

Result<std::vector<std::uint8_t>> CompoundFile::readStream(std::string_view name) const {
    const CfbEntry* entry = findStream(name);
    if (entry == nullptr)
        return Error(ErrorCode::PartMissing, "no stream named " + std::string(name));
    return readStream(*entry);
}

Result<std::vector<std::uint8_t>> CompoundFile::readStream(const CfbEntry& entry) const {
    std::vector<std::uint8_t> out;
    if (entry.size == 0) return out;
    // A stream cannot be larger than the file that holds it; within that bound its size is
    // reserved up front (the bytes are in memory already, so this costs no more than the file).
    if (entry.size > m_bytes.size()) {
        return corrupt("stream " + entry.name + " claims " + std::to_string(entry.size) +
                       " bytes in a file of " + std::to_string(m_bytes.size()));
    }
    out.reserve(static_cast<std::size_t>(entry.size));
    Result<void> read = entry.size < m_miniStreamCutoff
                            ? readMiniChain(entry.startSector, entry.size, out)
                            : readChain(entry.startSector, entry.size, out);
    if (!read)
        return Error(ErrorCode::CfbCorrupt, "stream " + entry.name + ": " + read.error().detail);
    return out;
}

}  // namespace spreadsheet
