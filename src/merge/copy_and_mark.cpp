// Copying blocks into the result and labelling them with their source.
#include "merge/copy_and_mark.h"

#include <cctype>

#include "merge/texts.h"

namespace merge {

std::optional<int> headerStartRow(const MergeOptions& options) {
    // The header exists only in the start-row mode, the one the dialog allows it with.
    if (!options.CopyHeaderOnce || options.RangeSpec.size() < 2 || options.RangeSpec[0] != '2')
        return std::nullopt;
    const std::string digits = options.RangeSpec.substr(1);
    if (digits.size() > 7) return std::nullopt;
    int row = 0;
    for (char character : digits) {
        if (!std::isdigit(static_cast<unsigned char>(character))) return std::nullopt;
        row = row * 10 + (character - '0');
    }
    if (row < 1) return std::nullopt;
    return row;
}

int headerRowCount(const MergeOptions& options) {
    const std::optional<int> startRow = headerStartRow(options);
    return startRow ? *startRow - 1 : 0;
}

std::vector<std::string> markParts(const std::string& markCells) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = markCells.find(',', start);
        parts.push_back(
            markCells.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

int markerColumns(const MergeOptions& options) {
    if (!options.MarkSource) return 0;
    if (options.MarkCells.empty()) return 1;
    return static_cast<int>(markParts(options.MarkCells).size());
}

std::string dataSheetBaseName(const MergeOptions& options, const std::string& sourceSheetName) {
    if (!options.SheetSpec.empty() && options.SheetSpec[0] == '3') return sourceSheetName;
    return texts::MergedSheetBase;
}

namespace {

// The label value of one address: the value of its top-left cell in the source.
CellValue labelValue(ResolvedSource& source, const std::string& address) {
    const std::shared_ptr<Range> range = source.sheet->range(address);
    return range ? range->value() : CellValue{};
}

// Writes the labels of rows firstRow .. firstRow + rows - 1, one assignment per label column.
void writeLabels(detail::RunState& run, ResolvedSource& source, int firstRow, int rows,
                 bool autoFit) {
    if (rows < 1) return;
    Worksheet& sheet = *run.resultSheet;
    if (run.options.MarkCells.empty()) {
        const std::string path =
            relativePath(run.sources[static_cast<std::size_t>(run.current)], run.folderPath);
        if (const std::shared_ptr<Range> start = sheet.cell(firstRow, 1))
            if (const std::shared_ptr<Range> column = start->resize(rows, 1))
                column->setValue(CellValue::ofText(path));
        return;
    }
    const std::vector<std::string> parts = markParts(run.options.MarkCells);
    for (std::size_t k = 0; k < parts.size(); ++k) {
        const CellValue value = labelValue(source, parts[k]);
        const std::shared_ptr<Range> start = sheet.cell(firstRow, static_cast<int>(k) + 1);
        const std::shared_ptr<Range> column = start ? start->resize(rows, 1) : nullptr;
        if (!column) continue;
        column->setValue(value);
        if (autoFit) column->autoFitColumns();
    }
}

void placeFirstBlock(detail::RunState& run, ResolvedSource& source) {
    const MergeOptions& options = run.options;
    const int headerRows = headerRowCount(options);
    const int labelColumns = markerColumns(options);
    run.sheetBaseName = dataSheetBaseName(options, source.sheet->name());

    // With a header the rows above the start row come along.
    const spreadsheet::CellRef from = headerRows > 0 ? spreadsheet::CellRef{1, 1} : source.topLeft;
    if (const std::shared_ptr<Range> block = source.sheet->range(from, source.bottomRight)) {
        run.usedRows = block->rowCount();
        block->copy();
    }
    const std::shared_ptr<Range> corner = run.resultSheet->range("A1");
    if (!corner) return;
    const std::shared_ptr<Range> target =
        labelColumns > 0 ? corner->offset(0, labelColumns) : corner;
    if (target) {
        target->pasteSpecial(PasteKind::All);
        target->pasteSpecial(PasteKind::ColumnWidths);
    }
    if (labelColumns > 0) {
        if (headerRows > 0) {
            corner->setValue(CellValue::ofText(texts::FeatureInformation));
            if (const std::shared_ptr<Range> labelHeader = corner->resize(headerRows, labelColumns))
                labelHeader->merge();
        }
        const int firstRow = headerRows + 1;
        writeLabels(run, source, firstRow, run.usedRows - firstRow + 1, true);
        if (options.MarkCells.empty()) corner->setColumnWidth(15);
    }
    run.application.clearClipboard();
    // New result sheets copy their header (or their first row's widths) from this sheet.
    run.resultSheet->holdTopRows(headerRows > 0 ? headerRows : 1);
}

// Starts a new result sheet after the last one, with the header rows and column widths of the
// first. Returns the new sheet, or nullptr when it could not be added.
std::shared_ptr<Worksheet> startNewSheet(detail::RunState& run) {
    Workbook& book = *run.resultBook;
    const std::shared_ptr<Worksheet> last = book.worksheet(book.worksheetCount());
    const std::shared_ptr<Worksheet> sheet =
        last ? book.addWorksheet(*last, Placement::After) : nullptr;
    if (!sheet) return nullptr;
    const std::shared_ptr<Worksheet> full = run.resultSheet;
    run.resultSheet = sheet;
    const int headerRows = headerRowCount(run.options);
    const std::shared_ptr<Worksheet> first = book.worksheet(1);
    const std::shared_ptr<Range> firstCorner = first ? first->range("A1") : nullptr;
    const std::shared_ptr<Range> header =
        firstCorner ? firstCorner->resize(headerRows > 0 ? headerRows : 1, first->usedColumnCount())
                    : nullptr;
    if (header) header->copy();
    run.usedRows = 0;
    if (const std::shared_ptr<Range> corner = sheet->range("A1")) {
        if (headerRows > 0) {
            corner->pasteSpecial(PasteKind::All);
            run.usedRows = headerRows;
        }
        corner->pasteSpecial(PasteKind::ColumnWidths);
    }
    run.application.clearClipboard();
    // Nothing goes to the full sheet any more (a failed block removes only the new sheet), so
    // its last block need not stay in memory until the save.
    if (full) full->finishRows();
    return sheet;
}

}  // namespace

bool copyAndMark(detail::RunState& run, ResolvedSource& source) {
    ErrorState& errors = run.errors();
    const int usedRowsBefore = run.usedRows;
    const std::shared_ptr<Worksheet> sheetBefore = run.resultSheet;
    std::shared_ptr<Worksheet> addedSheet;

    ++run.mergedCount;
    const bool firstBlock = run.mergedCount == 1;
    if (firstBlock) {
        placeFirstBlock(run, source);
    } else {
        const std::shared_ptr<Range> block =
            source.sheet->range(source.topLeft, source.bottomRight);
        const int blockRows = block ? block->rowCount() : 0;
        // A block that ends exactly on the last row still fits.
        if (static_cast<long long>(run.usedRows) + blockRows > run.maxRows)
            addedSheet = startNewSheet(run);
        const int labelColumns = markerColumns(run.options);
        if (block) {
            if (const std::shared_ptr<Range> target =
                    run.resultSheet->cell(run.usedRows + 1, labelColumns + 1))
                block->copyTo(*target);
            if (labelColumns > 0) writeLabels(run, source, run.usedRows + 1, blockRows, false);
        }
        run.usedRows += blockRows;
    }

    bool placed = true;
    if (errors.isSet()) {
        // Nothing of a failed source stays in the result: its rows (or the sheet started for
        // it) go, and it does not count as merged.
        errors.clear();
        if (addedSheet) {
            addedSheet->remove();
            run.resultSheet = sheetBefore;
        } else if (run.resultSheet) {
            run.resultSheet->clearFromRow(usedRowsBefore + 1);
        }
        run.usedRows = usedRowsBefore;
        --run.mergedCount;
        if (firstBlock) run.sheetBaseName.clear();
        run.application.clearClipboard();
        errors.clear();
        run.recordFailure(FailureReason::Other);
        placed = false;
    }
    source.sheet.reset();
    source.book->close();
    source.book.reset();
    errors.clear();
    return placed;
}

}  // namespace merge
