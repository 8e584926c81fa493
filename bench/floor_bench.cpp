// The floor of a merge: what reading the sources and writing the result cost with nothing in
// between. First it reads every .xlsx of a folder and inflates its worksheet parts; then it writes
// as many rows of ten mixed cells (numbers, ASCII and CJK text, dates, amounts, booleans,
// percentages, decimals) as the sources hold with the result writer alone, split into sheets at
// the row limit as a merge would. Prints key=value lines for bench/merge_bench.py.
//   build/bench/floor_bench SOURCE_FOLDER OUTPUT_FOLDER [rows_per_source]
#include <string.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "spreadsheet/xlsx_writer.h"
#include "spreadsheet/zip_reader.h"

namespace {

using namespace spreadsheet;
using Clock = std::chrono::steady_clock;

struct Stopwatch {
    Clock::time_point wall = Clock::now();
    double cpu = cpuSeconds();

    static double cpuSeconds() {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
               usage.ru_stime.tv_usec / 1e6;
    }
    double wallSeconds() const {
        return std::chrono::duration<double>(Clock::now() - wall).count();
    }
    double cpuSecondsSince() const { return cpuSeconds() - cpu; }
};

// Mixed cells of the same kinds and styles as the generated sources.
Row makeRow(int number, long long serial, std::uint32_t dateStyle, std::uint32_t amountStyle,
            std::uint32_t percentStyle) {
    Row row;
    row.number = number;
    row.cells.resize(10);
    for (int column = 1; column <= 10; ++column) {
        Cell& cell = row.cells[static_cast<std::size_t>(column - 1)];
        cell.column = column;
        cell.type = CellType::Number;
        switch (column) {
            case 1:
                cell.number = static_cast<double>(serial);
                break;
            case 2:
                cell.type = CellType::Text;
                cell.text = "Item-" + std::to_string(serial % 1000);
                break;
            case 3:
                cell.type = CellType::Text;
                cell.text = "门店" + std::to_string(serial % 97) + "号";
                break;
            case 4:
                cell.number = 44927 + serial % 1000;
                cell.style = dateStyle;
                break;
            case 5:
                cell.number = static_cast<double>(serial * 17 % 100000) / 100.0;
                cell.style = amountStyle;
                break;
            case 6:
                cell.type = CellType::Boolean;
                cell.number = static_cast<double>(serial % 2);
                break;
            case 7:
                cell.number = static_cast<double>(serial * 2);
                break;
            case 8:
                cell.type = CellType::Text;
                cell.text = "Item";
                break;
            case 9:
                cell.number = static_cast<double>(serial % 100) / 100.0;
                cell.style = percentStyle;
                break;
            default:
                cell.number = -static_cast<double>(serial % 9973) / 7.0;
                break;
        }
    }
    return row;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: floor_bench SOURCE_FOLDER OUTPUT_FOLDER\n");
        return 2;
    }
    const std::filesystem::path sources = argv[1];
    const std::filesystem::path output = argv[2];
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(sources))
        if (entry.path().extension() == ".xlsx") files.push_back(entry.path());
    std::sort(files.begin(), files.end());

    // Read and inflate: the bytes of every file, then its worksheet parts in chunks.
    Stopwatch readWatch;
    std::uint64_t inflated = 0;
    std::uint64_t rowsSeen = 0;
    std::vector<char> chunk(1 << 16);
    constexpr char RowStart[] = "<row ";
    for (const std::filesystem::path& file : files) {
        // One read of the whole file, as the program reads a source.
        std::vector<std::uint8_t> bytes(std::filesystem::file_size(file));
        std::ifstream in(file, std::ios::binary);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        Result<ZipReader> zip = ZipReader::open(bytes);
        if (!zip) {
            std::fprintf(stderr, "%s: %s\n", file.c_str(), errorText(zip.error()).c_str());
            return 1;
        }
        for (const ZipEntry& entry : zip->entries()) {
            if (entry.name.rfind("xl/worksheets/", 0) != 0) continue;
            Result<ZipEntryStream> stream = zip->stream(entry, zip->limits().maxSheetPartBytes);
            if (!stream) {
                std::fprintf(stderr, "%s: %s\n", file.c_str(), errorText(stream.error()).c_str());
                return 1;
            }
            std::string carry;  // the end of the previous chunk, where a "<row " may start
            for (;;) {
                Result<std::size_t> got = stream->read(chunk.data(), chunk.size());
                if (!got) {
                    std::fprintf(stderr, "%s: %s\n", file.c_str(), errorText(got.error()).c_str());
                    return 1;
                }
                if (*got == 0) break;
                inflated += *got;
                // Count row starts so the write phase writes as many rows as the sources hold,
                // with glibc's memmem so that the count costs little next to inflating;
                // the last four bytes are carried into the next chunk.
                carry.append(chunk.data(), *got);
                const char* const end = carry.data() + carry.size();
                for (const char* at = carry.data();;) {
                    at = static_cast<const char*>(
                        ::memmem(at, static_cast<std::size_t>(end - at), RowStart, 5));
                    if (!at) break;
                    ++rowsSeen;
                    at += 5;
                }
                carry.erase(0, carry.size() > 4 ? carry.size() - 4 : 0);
            }
        }
    }
    const double readWall = readWatch.wallSeconds();
    const double readCpu = readWatch.cpuSecondsSince();

    // Write: the data rows of all sources (one header row each not counted) plus one header,
    // split into sheets at the row limit, through the spool and the package writer.
    const long long dataRows =
        static_cast<long long>(rowsSeen) - static_cast<long long>(files.size());
    StyleRegistry styles;
    CellStyle date = defaultResultStyle();
    date.numberFormat = "yyyy-mm-dd";
    CellStyle amount = defaultResultStyle();
    amount.numberFormat = "#,##0.00";
    CellStyle percent = defaultResultStyle();
    percent.numberFormat = "0.00%";
    const std::uint32_t dateStyle = styles.intern(date);
    const std::uint32_t amountStyle = styles.intern(amount);
    const std::uint32_t percentStyle = styles.intern(percent);

    Stopwatch writeWatch;
    std::vector<RowSpool> spools;
    long long written = 0;
    while (written < dataRows || spools.empty()) {
        Result<RowSpool> spool = RowSpool::create(output);
        if (!spool) {
            std::fprintf(stderr, "%s\n", errorText(spool.error()).c_str());
            return 1;
        }
        for (int number = 1; number <= 1'048'576 && written < dataRows; ++number) {
            Result<void> appended =
                spool->append(makeRow(number, ++written, dateStyle, amountStyle, percentStyle));
            if (!appended) {
                std::fprintf(stderr, "%s\n", errorText(appended.error()).c_str());
                return 1;
            }
        }
        spools.push_back(std::move(*spool));
    }
    std::vector<SheetToWrite> sheets(spools.size());
    for (std::size_t k = 0; k < spools.size(); ++k) {
        sheets[k].name = "Sheet" + std::to_string(k + 1);
        sheets[k].spooledRows = &spools[k];
    }
    const std::filesystem::path target = output / "floor_bench.xlsx";
    Result<void> saved = writeXlsx(target, sheets, 0, styles, ExistingFile::Replace);
    if (!saved) {
        std::fprintf(stderr, "%s\n", errorText(saved.error()).c_str());
        return 1;
    }
    spools.clear();
    const double writeWall = writeWatch.wallSeconds();
    const double writeCpu = writeWatch.cpuSecondsSince();
    const std::uintmax_t writtenBytes = std::filesystem::file_size(target);
    std::filesystem::remove(target);

    std::printf("files=%zu\ninflated_bytes=%llu\nrows_seen=%llu\n", files.size(),
                static_cast<unsigned long long>(inflated),
                static_cast<unsigned long long>(rowsSeen));
    std::printf("read_wall=%.3f\nread_cpu=%.3f\n", readWall, readCpu);
    std::printf("write_rows=%lld\nwrite_cells=%lld\nwrite_bytes=%ju\n", written, written * 10,
                writtenBytes);
    std::printf("write_wall=%.3f\nwrite_cpu=%.3f\n", writeWall, writeCpu);
    return 0;
}
