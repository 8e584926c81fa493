// The compound file container (OLE2) that holds .xls workbook streams: header v3/v4, FAT,
// DIFAT, mini FAT, mini stream and directory. Every chain walk is bounded by the number of
// sectors really present, and nothing is sized from the header's counts.
//   Result<CompoundFile> file = CompoundFile::open(bytes);
//   Result<std::vector<std::uint8_t>> book = file->readStream("Workbook");
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/error.h"

namespace spreadsheet {

enum class CfbEntryType : std::uint8_t { Empty = 0, Storage = 1, Stream = 2, Root = 5 };

struct CfbEntry {
    std::string name;  // UTF-8
    CfbEntryType type = CfbEntryType::Empty;
    std::uint32_t startSector = 0;
    std::uint64_t size = 0;
};

// True when the bytes start with the compound file signature D0 CF 11 E0 A1 B1 1A E1.
bool isCompoundFile(std::span<const std::uint8_t> bytes);

class CompoundFile {
public:
    // Parses the header, the FAT, the mini FAT and the directory. The bytes must outlive the
    // object. Fails with CfbCorrupt (and evidence) on any structural fault.
    static Result<CompoundFile> open(std::span<const std::uint8_t> bytes);

    // Directory entries in directory order, unused slots left out.
    const std::vector<CfbEntry>& entries() const { return m_entries; }

    // The first stream entry whose name matches, ignoring ASCII case; nullptr when none does.
    const CfbEntry* findStream(std::string_view name) const;

    // The stream's bytes. Fails with PartMissing when there is no such stream and with
    // CfbCorrupt when its chain is broken or shorter than its size.
    Result<std::vector<std::uint8_t>> readStream(std::string_view name) const;
    Result<std::vector<std::uint8_t>> readStream(const CfbEntry& entry) const;

private:
    CompoundFile() = default;
    // The steps of open(), in order.
    Result<void> readFat();
    Result<void> readDirectory(std::uint16_t majorVersion);
    Result<void> readMiniStream();
    Result<void> readChain(std::uint32_t start, std::uint64_t size,
                           std::vector<std::uint8_t>& out) const;
    Result<void> readMiniChain(std::uint32_t start, std::uint64_t size,
                               std::vector<std::uint8_t>& out) const;
    std::span<const std::uint8_t> sector(std::uint32_t id) const;

    std::span<const std::uint8_t> m_bytes;
    std::uint32_t m_sectorSize = 512;
    std::uint32_t m_miniSectorSize = 64;
    std::uint32_t m_miniStreamCutoff = 4096;
    std::uint32_t m_sectorCount = 0;  // sectors present in the file after the header
    std::vector<std::uint32_t> m_fat;
    std::vector<std::uint32_t> m_miniFat;
    std::vector<std::uint8_t> m_miniStream;
    std::vector<CfbEntry> m_entries;
};

}  // namespace spreadsheet
