// Finishing the result: data sheet names and panes, the failure-list sheet, the save, and the
// texts of the summary.
#include "merge/result_finishing.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>

#include "merge/copy_and_mark.h"
#include "merge/detail/planned_block.h"
#include "merge/merge_log.h"
#include "merge/texts.h"
#include "spreadsheet/sheet_name.h"

namespace merge {

std::string dataSheetName(const std::string& baseName, int mergedCount, int position,
                          int sheetCount) {
    std::string name = baseName + "(" + std::to_string(mergedCount) + ")";
    if (sheetCount != 1) name += "-" + std::to_string(position);
    return name;
}

namespace {

// The number of UTF-16 units of the UTF-8 character starting with `lead`, and its byte length.
std::size_t utf8Length(unsigned char lead) {
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    if (lead >= 0xC0) return 2;
    return 1;
}

// `name` cut to at most `units` UTF-16 units at a character boundary (sheet-name lengths
// count UTF-16 units; a character beyond the Basic Multilingual Plane takes two).
std::string cutToUnits(const std::string& name, std::size_t units) {
    std::size_t used = 0;
    std::size_t at = 0;
    while (at < name.size()) {
        const std::size_t length =
            std::min(utf8Length(static_cast<unsigned char>(name[at])), name.size() - at);
        const std::size_t width = length == 4 ? 2 : 1;
        if (used + width > units) break;
        used += width;
        at += length;
    }
    return name.substr(0, at);
}

// The length of the well-formed UTF-8 character at `at` of a character XML can carry, or 0.
std::size_t wellFormedLength(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const std::size_t length = utf8Length(byte(at));
    if (length == 1) return byte(at) < 0x80 ? 1 : 0;
    if (length > 4 || byte(at) > 0xF4 || at + length > text.size()) return 0;
    std::uint32_t codePoint = byte(at) & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(at + k) & 0xC0) != 0x80) return 0;
        codePoint = (codePoint << 6) | (byte(at + k) & 0x3F);
    }
    const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < smallest[length] || codePoint > 0x10FFFF) return 0;
    if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint == 0xFFFE || codePoint == 0xFFFF)
        return 0;
    return length;
}

// `name` with what no sheet name may hold replaced by "_": []:*?/\ and control characters,
// bytes that are no well-formed UTF-8, an apostrophe at either end; "_" when empty.
std::string sheetNameCharacters(const std::string& name) {
    std::string clean;
    clean.reserve(name.size());
    for (std::size_t at = 0; at < name.size();) {
        const std::size_t length = wellFormedLength(name, at);
        const auto byte = static_cast<unsigned char>(name[at]);
        if (length == 0 || byte < 0x20 || (length == 1 && std::strchr("[]:*?/\\", byte))) {
            clean += '_';
            at += length == 0 ? 1 : length;
            continue;
        }
        clean.append(name, at, length);
        at += length;
    }
    if (clean.empty()) clean = "_";
    if (clean.front() == '\'') clean.front() = '_';
    if (clean.back() == '\'') clean.back() = '_';
    return clean;
}

}  // namespace

std::vector<std::string> ownSheetNames(const std::vector<std::string>& bases,
                                       const std::vector<std::string>& reserved) {
    constexpr std::size_t MaxUnits = 31;
    std::set<std::u32string> taken;
    for (const std::string& name : reserved) taken.insert(spreadsheet::sheetNameKey(name));
    std::vector<std::string> names;
    names.reserve(bases.size());
    for (const std::string& base : bases) {
        const std::string clean = sheetNameCharacters(base);
        // Cutting may leave an apostrophe at the end.
        std::string name = sheetNameCharacters(cutToUnits(clean, MaxUnits));
        for (int number = 2;
             !spreadsheet::isValidSheetName(name) || taken.count(spreadsheet::sheetNameKey(name));
             ++number) {
            const std::string suffix = " (" + std::to_string(number) + ")";
            name = cutToUnits(clean, MaxUnits - suffix.size()) + suffix;
        }
        taken.insert(spreadsheet::sheetNameKey(name));
        names.push_back(std::move(name));
    }
    return names;
}

std::string failureSheetName(int failCount) {
    return std::string(texts::FailureSheetBase) + "(" + std::to_string(failCount) + ")";
}

std::string summaryText(int chosen, int merged, int failed) {
    return std::string(texts::SummaryChosen) + std::to_string(chosen) + texts::SummaryMerged +
           std::to_string(merged) + texts::SummaryFailed + std::to_string(failed) +
           texts::SummaryTail;
}

std::string earlierResultsText(int count) {
    if (count <= 0) return {};
    return texts::EarlierResultsHead + std::to_string(count) + texts::EarlierResultsTail;
}

std::string finalMessage(const std::string& summary, const std::vector<SourceReport>& reports) {
    std::string message = summary;
    int uncalculatedFiles = 0;
    long long uncalculatedCells = 0;
    bool anyFailed = false;
    for (const SourceReport& report : reports) {
        anyFailed = anyFailed || !report.merged();
        if (report.merged() && report.uncalculatedFormulas > 0) {
            ++uncalculatedFiles;
            uncalculatedCells += report.uncalculatedFormulas;
        }
    }
    if (anyFailed) message += std::string("\n") + texts::FailuresListed;
    if (uncalculatedFiles > 0)
        message += std::string("\n") + texts::UncalculatedFilesHead +
                   std::to_string(uncalculatedFiles) + texts::UncalculatedCellsHead +
                   std::to_string(uncalculatedCells) + texts::UncalculatedTail;
    return message;
}

std::string failureNote(const SourceFailure& failure) {
    const std::string cause = failure.cause();
    if (cause.empty()) return reasonText(failure.reason);
    return reasonText(failure.reason) + texts::NoteSeparator + cause;
}

std::string saveFailedText(int chosen, int merged, int failed, const std::string& path,
                           const std::string& reason) {
    return std::string(texts::SummaryChosen) + std::to_string(chosen) + texts::SummaryMerged +
           std::to_string(merged) + texts::SummaryFailed + std::to_string(failed) +
           texts::SaveFailedCounts + path + texts::QuoteColon + reason + texts::FullStop;
}

namespace {

// Gives every sheet of `book` a name that none of `names` is, so that each can then take its
// name from `names` without meeting a sheet that still has it.
void renameAside(Workbook& book, const std::vector<std::string>& names) {
    std::set<std::u32string> wanted;
    for (const std::string& name : names) wanted.insert(spreadsheet::sheetNameKey(name));
    int number = 0;
    const int count = book.worksheetCount();
    for (int position = 1; position <= count; ++position) {
        const std::shared_ptr<Worksheet> sheet = book.worksheet(position);
        if (!sheet) continue;
        std::string aside;
        do {
            aside = "~" + std::to_string(++number);
        } while (wanted.count(spreadsheet::sheetNameKey(aside)));
        sheet->setName(aside);
    }
}

void addFailureSheet(detail::RunState& run) {
    Workbook& book = *run.resultBook;
    const std::shared_ptr<Worksheet> first = book.worksheet(1);
    const std::shared_ptr<Worksheet> sheet =
        first ? book.addWorksheet(*first, Placement::Before) : nullptr;
    if (!sheet) return;
    // In a CSV result the sheet becomes the file 失败列表.csv: the count is in its second row.
    sheet->setName(run.resultFormat == SaveFormat::Csv
                       ? std::string(texts::FailureSheetBase)
                       : failureSheetName(run.failures.failCount()));
    const ValueBlock& grid = run.failures.grid();
    const std::shared_ptr<Range> corner = sheet->range("A1");
    if (const std::shared_ptr<Range> table =
            corner ? corner->resize(static_cast<int>(grid.size()), 5) : nullptr) {
        table->setValues(grid);
        table->setFontSize(10);
        table->setFontName(texts::FailureSheetFont);
        table->autoFitColumns();
    }
    // Each failed source's cell tells why it failed when the pointer rests on it.
    for (const FailureTable::Entry& entry : run.failures.entries())
        if (const std::shared_ptr<Range> cell =
                sheet->cell(entry.gridRow, static_cast<int>(entry.failure.reason)))
            cell->setNote(failureNote(entry.failure));
    if (const std::shared_ptr<Range> headings = sheet->range("A1:E2")) headings->setFontBold(true);
    if (const std::shared_ptr<Range> below = sheet->range("A3")) {
        below->select();
        book.setFreezePanes(true);
    }
    if (const std::shared_ptr<Range> counts = sheet->range("B2:E2")) {
        counts->select();
        counts->setFontColorIndex(3);
        counts->centreHorizontally();
    }
    // The workbook opens on the first data sheet.
    if (const std::shared_ptr<Worksheet> data = book.worksheet(2)) data->select();
}

// Tells every block where it landed by the name of its sheet, and which of the result's columns
// it did not fill.
void completeReports(detail::RunState& run) {
    Workbook& book = *run.resultBook;
    for (SourceReport& report : run.reports)
        for (BlockReport& block : report.blocks) {
            if (const std::shared_ptr<Worksheet> sheet = book.worksheet(block.resultSheet))
                block.resultSheetName = sheet->name();
            if (run.settings.alignColumns)
                block.missingColumns = missingColumns(run.columns, block);
        }
    run.errors().clear();
}

// The merge log as the workbook's last sheet: headings in bold and kept in view.
void addLogSheet(detail::RunState& run) {
    Workbook& book = *run.resultBook;
    const std::shared_ptr<Worksheet> last = book.worksheet(book.worksheetCount());
    const std::shared_ptr<Worksheet> sheet =
        last ? book.addWorksheet(*last, Placement::After) : nullptr;
    if (!sheet) return;
    sheet->setName(texts::LogSheetName);
    const ValueBlock grid = logGrid(run.reports, run.settings);
    const int columns = static_cast<int>(grid.front().size());
    const std::shared_ptr<Range> corner = sheet->range("A1");
    if (const std::shared_ptr<Range> table =
            corner ? corner->resize(static_cast<int>(grid.size()), columns) : nullptr) {
        table->setValues(grid);
        table->autoFitColumns();
    }
    if (const std::shared_ptr<Range> headings = corner ? corner->resize(1, columns) : nullptr)
        headings->setFontBold(true);
    if (const std::shared_ptr<Range> below = sheet->range("A2")) {
        below->select();
        book.setFreezePanes(true);
    }
}

}  // namespace

bool finishResult(detail::RunState& run, std::string& saveError) {
    Workbook& book = *run.resultBook;
    ErrorState& errors = run.errors();
    const int headerRows = resultHeaderRows(run.settings);
    const bool frozenHeader = headerRows > 0;
    const int dataSheets = book.worksheetCount();
    // Blocks on sheets of their own: one name per sheet, none the failure list's or the log's.
    const bool ownSheets =
        run.settings.perSource && static_cast<int>(run.sheetBases.size()) == dataSheets;
    std::vector<std::string> ownNames;
    if (ownSheets) {
        std::vector<std::string> reserved;
        if (!run.failures.empty()) reserved.push_back(failureSheetName(run.failures.failCount()));
        if (run.settings.logSheet) reserved.push_back(texts::LogSheetName);
        ownNames = ownSheetNames(run.sheetBases, reserved);
        renameAside(book, ownNames);
    }
    for (int position = 1; position <= dataSheets; ++position) {
        const std::shared_ptr<Worksheet> sheet = book.worksheet(position);
        if (!sheet) continue;
        sheet->select();
        // A name the application refuses (too long) leaves the sheet under the name it had.
        sheet->setName(ownSheets ? ownNames[static_cast<std::size_t>(position - 1)]
                                 : dataSheetName(run.sheetBaseName, run.mergedSources, position,
                                                 book.worksheetCount()));
        const std::string cell =
            frozenHeader ? "A" + std::to_string(headerRows + 1) : std::string("A1");
        if (const std::shared_ptr<Range> range = sheet->range(cell)) {
            range->select();
            if (frozenHeader) book.setFreezePanes(true);
        }
    }
    run.sheetBaseName.clear();
    completeReports(run);
    if (run.settings.logSheet) addLogSheet(run);

    if (!run.failures.empty()) {
        addFailureSheet(run);
    } else if (const std::shared_ptr<Worksheet> data = book.worksheet(1)) {
        data->select();
    }
    run.resultSheet.reset();

    errors.clear();
    book.save();
    if (errors.isSet()) {
        saveError = errors.message();
        errors.clear();
        return false;
    }
    return true;
}

}  // namespace merge
