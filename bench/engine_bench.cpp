// Engine benchmark: writes a generated workbook of about a million cells with the result
// writer, reads it back with the .xlsx reader, and prints cells per second for each and the
// peak memory of the process.
//   build/bench/engine_bench [rows] [columns] [folder]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "spreadsheet/workbook_reader.h"
#include "spreadsheet/xlsx_writer.h"

namespace {

using namespace spreadsheet;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

long peakMemoryKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Mixed types like a real report: dates, text, integers, decimals, booleans.
Row makeRow(int number, int columns, std::uint32_t dateStyle, std::uint32_t moneyStyle) {
    Row row;
    row.number = number;
    row.cells.reserve(columns);
    for (int column = 1; column <= columns; ++column) {
        Cell cell;
        cell.column = column;
        switch (column % 5) {
            case 1:
                cell.type = CellType::Number;
                cell.number = 45000 + number % 365;
                cell.style = dateStyle;
                break;
            case 2:
                cell.type = CellType::Text;
                cell.text = "门店" + std::to_string(number % 97);
                break;
            case 3:
                cell.type = CellType::Number;
                cell.number = number * 7 % 1000;
                break;
            case 4:
                cell.type = CellType::Number;
                cell.number = number * 1.25 + column / 8.0;
                cell.style = moneyStyle;
                break;
            default:
                cell.type = CellType::Boolean;
                cell.number = number % 2;
                break;
        }
        row.cells.push_back(std::move(cell));
    }
    return row;
}

}  // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100'000;
    const int columns = argc > 2 ? std::atoi(argv[2]) : 10;
    const std::filesystem::path folder =
        argc > 3 ? argv[3] : std::filesystem::temp_directory_path();
    const std::filesystem::path target = folder / "engine_bench.xlsx";
    std::filesystem::remove(target);
    const double cells = double(rows) * columns;

    StyleRegistry styles;
    CellStyle date = defaultResultStyle();
    date.numberFormat = "yyyy-mm-dd";
    CellStyle money = defaultResultStyle();
    money.numberFormat = "#,##0.00";
    const std::uint32_t dateStyle = styles.intern(date);
    const std::uint32_t moneyStyle = styles.intern(money);

    auto start = Clock::now();
    Result<RowSpool> spool = RowSpool::create(folder);
    if (!spool) {
        std::fprintf(stderr, "%s\n", errorText(spool.error()).c_str());
        return 1;
    }
    for (int number = 1; number <= rows; ++number) {
        Result<void> appended = spool->append(makeRow(number, columns, dateStyle, moneyStyle));
        if (!appended) {
            std::fprintf(stderr, "%s\n", errorText(appended.error()).c_str());
            return 1;
        }
    }
    SheetToWrite sheet;
    sheet.name = "Sheet1";
    sheet.spooledRows = &spool.value();
    Result<void> written = writeXlsx(target, {&sheet, 1}, 0, styles, ExistingFile::Replace);
    if (!written) {
        std::fprintf(stderr, "%s\n", errorText(written.error()).c_str());
        return 1;
    }
    const double writeSeconds = secondsSince(start);
    const long writePeak = peakMemoryKiB();

    start = Clock::now();
    Result<WorkbookData> book = openWorkbookFile(target);
    const double readSeconds = secondsSince(start);
    if (!book) {
        std::fprintf(stderr, "%s\n", errorText(book.error()).c_str());
        return 1;
    }
    std::size_t cellsRead = 0;
    for (const Row& row : book->sheets.at(0).rows) cellsRead += row.cells.size();

    std::printf("cells            %.0f (%d rows x %d columns), file %.1f MiB\n", cells, rows,
                columns, std::filesystem::file_size(target) / 1048576.0);
    std::printf("write            %.3f s  %.0f cells/s  peak %ld MiB\n", writeSeconds,
                cells / writeSeconds, writePeak / 1024);
    std::printf("read             %.3f s  %.0f cells/s  (%zu cells read)\n", readSeconds,
                cells / readSeconds, cellsRead);
    std::printf("peak memory      %ld MiB (after reading the whole workbook into memory)\n",
                peakMemoryKiB() / 1024);
    std::filesystem::remove(target);
    return 0;
}
