// Copying blocks into the result and labelling them with their source.
#include "merge/copy_and_mark.h"

#include <filesystem>

#include "merge/detail/planned_block.h"
#include "merge/texts.h"

namespace merge {

int headerRowCount(const MergeSettings& settings) {
    // The header exists only in the start-row mode, the one the dialog allows it with.
    if (!settings.copyHeaderOnce || settings.range.mode != RangeMode::FromRow ||
        settings.range.startRow < 1)
        return 0;
    return settings.range.startRow - 1;
}

int resultHeaderRows(const MergeSettings& settings) {
    // Aligned blocks in the range modes carry their header row: it is written once, as the
    // union of the names.
    if (settings.alignColumns && settings.range.mode != RangeMode::FromRow) return 1;
    return headerRowCount(settings);
}

std::string fileNameLabel(const std::string& path) {
    return std::filesystem::path(path).stem().string();
}

namespace {

// The label columns of the label mode, left of the sheet-name column.
int modeColumns(const LabelChoice& label) {
    switch (label.mode) {
        case LabelMode::None:
            return 0;
        case LabelMode::FilePath:
        case LabelMode::FileName:
            return 1;
        case LabelMode::CellList:
            return static_cast<int>(label.cells.size());
    }
    return 0;
}

bool labelsByFile(const LabelChoice& label) {
    return label.mode == LabelMode::FilePath || label.mode == LabelMode::FileName;
}

}  // namespace

int markerColumns(const MergeSettings& settings) {
    return modeColumns(settings.label) + (settings.label.sheetName ? 1 : 0);
}

std::string sourceSheetBase(const std::string& path, const std::string& sheetName,
                            bool severalSheets) {
    std::string base = std::filesystem::path(path).stem().string();
    if (severalSheets) base += texts::FileSheetSeparator + sheetName;
    return base;
}

std::string dataSheetBaseName(const SheetChoice& sheet, const std::string& sourceSheetName) {
    if (sheet.mode == SheetMode::ByName) return sourceSheetName;
    return texts::MergedSheetBase;
}

namespace {

// The label of one address: the value of its top-left cell in the source, with the number
// format it shows in there, so that the label shows the same (a date as its date). The label
// column keeps its own font, fill and borders: a title cell's look repeated down every row of a
// block would drown the data beside it.
struct Label {
    CellValue value;
    std::string numberFormat = "General";
};

Label labelOf(ResolvedSource& source, const std::string& address) {
    const std::shared_ptr<Range> range = source.sheet->range(address);
    if (!range) return {};
    Label label{range->value()};
    if (!label.value.isEmpty()) label.numberFormat = range->numberFormat();
    return label;
}

}  // namespace

void writeLabels(detail::RunState& run, ResolvedSource& source, int firstRow, int rows,
                 bool autoFit) {
    if (rows < 1) return;
    Worksheet& sheet = *run.resultSheet;
    const LabelChoice& label = run.settings.label;
    if (label.sheetName) {
        const std::shared_ptr<Range> start = sheet.cell(firstRow, modeColumns(label) + 1);
        if (const std::shared_ptr<Range> column = start ? start->resize(rows, 1) : nullptr) {
            column->setValue(CellValue::ofText(source.sheet->name()));
            if (autoFit) column->autoFitColumns();
        }
    }
    if (labelsByFile(label)) {
        const std::string& path = run.sources[static_cast<std::size_t>(run.current)];
        const std::string text = label.mode == LabelMode::FileName
                                     ? fileNameLabel(path)
                                     : relativePath(path, run.folderPath);
        if (const std::shared_ptr<Range> start = sheet.cell(firstRow, 1))
            if (const std::shared_ptr<Range> column = start->resize(rows, 1))
                column->setValue(CellValue::ofText(text));
        return;
    }
    for (std::size_t k = 0; k < label.cells.size(); ++k) {
        const Label value = labelOf(source, label.cells[k]);
        const std::shared_ptr<Range> start = sheet.cell(firstRow, static_cast<int>(k) + 1);
        const std::shared_ptr<Range> column = start ? start->resize(rows, 1) : nullptr;
        if (!column) continue;
        column->setValue(value.value);
        if (value.numberFormat != "General") column->setNumberFormat(value.numberFormat);
        if (autoFit) column->autoFitColumns();
    }
}

namespace {

void placeFirstBlock(detail::RunState& run, ResolvedSource& source) {
    const MergeSettings& settings = run.settings;
    const int headerRows = headerRowCount(settings);
    const int labelColumns = markerColumns(settings);
    run.sheetBaseName = dataSheetBaseName(settings.sheet, source.sheet->name());

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
        if (labelsByFile(settings.label)) corner->setColumnWidth(15);
    }
    run.application.clearClipboard();
    // New result sheets copy their header (or their first row's widths) from this sheet.
    run.resultSheet->holdTopRows(headerRows > 0 ? headerRows : 1);
}

}  // namespace

std::shared_ptr<Worksheet> startNewSheet(detail::RunState& run) {
    Workbook& book = *run.resultBook;
    const std::shared_ptr<Worksheet> last = book.worksheet(book.worksheetCount());
    const std::shared_ptr<Worksheet> sheet =
        last ? book.addWorksheet(*last, Placement::After) : nullptr;
    if (!sheet) return nullptr;
    const std::shared_ptr<Worksheet> full = run.resultSheet;
    run.resultSheet = sheet;
    const int headerRows = resultHeaderRows(run.settings);
    const std::shared_ptr<Worksheet> first = book.worksheet(1);
    const std::shared_ptr<Range> firstCorner = first ? first->range("A1") : nullptr;
    const std::shared_ptr<Range> header =
        firstCorner ? firstCorner->resize(headerRows > 0 ? headerRows : 1, first->usedColumnCount())
                    : nullptr;
    if (header) header->copy();
    run.usedRows = 0;
    // A header of names matched across sources may still grow.
    if (run.settings.alignColumns && headerRows > 0) sheet->keepTopRowsOpen(headerRows);
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

std::shared_ptr<Worksheet> startSourceSheet(detail::RunState& run) {
    Workbook& book = *run.resultBook;
    const std::shared_ptr<Worksheet> last = book.worksheet(book.worksheetCount());
    const std::shared_ptr<Worksheet> sheet =
        last ? book.addWorksheet(*last, Placement::After) : nullptr;
    if (!sheet) {
        if (!run.errors().isSet())
            run.errors().set(spreadsheet::Error(spreadsheet::ErrorCode::OperationFailed));
        return nullptr;
    }
    // Nothing goes to the sheet before any more, so its rows need not stay in memory.
    if (run.resultSheet) run.resultSheet->finishRows();
    run.resultSheet = sheet;
    run.usedRows = 0;
    return sheet;
}

bool copyAndMark(detail::RunState& run, ResolvedSource& source) {
    ErrorState& errors = run.errors();
    const int usedRowsBefore = run.usedRows;
    const std::shared_ptr<Worksheet> sheetBefore = run.resultSheet;
    std::shared_ptr<Worksheet> addedSheet;
    BlockReport placedBlock;
    placedBlock.sheet = source.sheet->name();
    placedBlock.uncalculatedFormulas = source.uncalculatedFormulas;

    ++run.mergedCount;
    const bool firstBlock = run.mergedCount == 1;
    const bool ownSheet = run.settings.perSource;
    if (ownSheet)
        run.sheetBases.push_back(sourceSheetBase(run.sources[static_cast<std::size_t>(run.current)],
                                                 source.sheet->name(),
                                                 run.settings.sheet.takesSeveral()));
    if (run.settings.plannedCopy()) {
        placePlannedBlock(run, source, firstBlock, addedSheet, placedBlock);
    } else if (firstBlock) {
        placeFirstBlock(run, source);
        placedBlock.rowsCopied = run.usedRows - headerRowCount(run.settings);
    } else if (ownSheet) {
        // Each block is laid out as the first block of a stacked result is, on a sheet of its
        // own.
        addedSheet = startSourceSheet(run);
        if (addedSheet) {
            placeFirstBlock(run, source);
            placedBlock.rowsCopied = run.usedRows - headerRowCount(run.settings);
        }
    } else {
        const std::shared_ptr<Range> block =
            source.sheet->range(source.topLeft, source.bottomRight);
        const int blockRows = block ? block->rowCount() : 0;
        // A block that ends exactly on the last row still fits.
        if (static_cast<long long>(run.usedRows) + blockRows > run.maxRows)
            addedSheet = startNewSheet(run);
        const int labelColumns = markerColumns(run.settings);
        if (block) {
            if (const std::shared_ptr<Range> target =
                    run.resultSheet->cell(run.usedRows + 1, labelColumns + 1))
                block->copyTo(*target);
            if (labelColumns > 0) writeLabels(run, source, run.usedRows + 1, blockRows, false);
        }
        run.usedRows += blockRows;
        placedBlock.rowsCopied = blockRows;
    }

    bool placed = true;
    SourceReport& report = run.reports[static_cast<std::size_t>(run.current)];
    if (errors.isSet()) {
        // Nothing of a failed source stays in the result: its rows (or the sheet started for
        // it) go, and it does not count as merged.
        std::optional<spreadsheet::Error> cause = run.pendingError();
        errors.clear();
        if (addedSheet) {
            addedSheet->remove();
            run.resultSheet = sheetBefore;
        } else if (run.resultSheet) {
            run.resultSheet->clearFromRow(usedRowsBefore + 1);
        }
        run.usedRows = usedRowsBefore;
        --run.mergedCount;
        if (ownSheet) run.sheetBases.pop_back();
        if (firstBlock) run.sheetBaseName.clear();
        run.application.clearClipboard();
        errors.clear();
        // The log names the sheet whose block failed.
        report.sheet = source.sheet->name();
        run.recordFailure(FailureReason::Other, std::move(cause), texts::NotPlaced);
        placed = false;
    } else {
        report.uncalculatedFormulas += source.uncalculatedFormulas;
        // The result's data sheets are the workbook's sheets while the run lasts; the current
        // one is the last.
        placedBlock.resultSheet = run.resultBook->worksheetCount();
        if (placedBlock.rowsCopied > 0) {
            placedBlock.lastRow = run.usedRows;
            placedBlock.firstRow = run.usedRows - placedBlock.rowsCopied + 1;
        }
        report.blocks.push_back(std::move(placedBlock));
    }
    source.sheet.reset();
    errors.clear();
    return placed;
}

}  // namespace merge
