// The planned copy of a block: where its header row is, which of its columns go where, which
// rows are kept, and the header of the result growing with every new column name.
#include "merge/detail/planned_block.h"

#include <algorithm>

#include "merge/column_alignment.h"
#include "merge/copy_and_mark.h"
#include "merge/texts.h"

namespace merge {

namespace {

// Where a block's rows are on its source sheet.
struct BlockRows {
    int headerRow = 0;  // the row of names above the data; 0 = none
    int dataTop = 0;    // the first data row
};

BlockRows blockRows(const MergeSettings& settings, const ResolvedSource& source) {
    BlockRows rows;
    rows.dataTop = source.topLeft.row;
    if (settings.range.mode == RangeMode::FromRow) {
        // The row just above the start row names the columns.
        if (source.topLeft.row > 1) rows.headerRow = source.topLeft.row - 1;
        return rows;
    }
    if (settings.alignColumns) {
        // In the range modes the range's first row names the columns; the block is below it.
        rows.headerRow = source.topLeft.row;
        rows.dataTop = source.topLeft.row + 1;
    }
    return rows;
}

// The displayed texts of one row of the block's columns.
std::vector<std::string> rowTexts(Worksheet& sheet, int row, int firstColumn, int lastColumn) {
    std::vector<std::string> texts(static_cast<std::size_t>(lastColumn - firstColumn + 1));
    const std::shared_ptr<Range> range = sheet.range({row, firstColumn}, {row, lastColumn});
    if (!range) return texts;
    const ValueBlock values = range->values();
    if (values.empty()) return texts;
    for (std::size_t k = 0; k < texts.size() && k < values.front().size(); ++k)
        texts[k] = displayedText(values.front()[k]);
    return texts;
}

// The name a result column is listed under in the log: its header text, or for an empty
// header cell the sheet column it stands in.
std::string columnName(const ResultColumn& column) {
    if (!column.title.empty()) return column.title;
    return texts::EmptyHeadingHead + spreadsheet::columnLetters(std::max(1, column.sheetColumn)) +
           texts::EmptyHeadingTail;
}

// Writes the header cells of columns new to the result into the header row of every result
// data sheet, each with its format, and takes their widths from `source`.
void addHeaderCells(detail::RunState& run, ResolvedSource& source, const BlockRows& rows,
                    const ColumnMatch& match, int headerRows) {
    Workbook& book = *run.resultBook;
    const int labelColumns = markerColumns(run.settings);
    const int sheets = book.worksheetCount();
    for (std::size_t k = 0; k < match.added.size(); ++k) {
        const int sourceColumn = source.topLeft.column + match.addedOffsets[k];
        const int resultColumn =
            labelColumns + 1 + match.map[static_cast<std::size_t>(match.addedOffsets[k])];
        const std::shared_ptr<Range> heading =
            rows.headerRow > 0 ? source.sheet->cell(rows.headerRow, sourceColumn) : nullptr;
        const std::shared_ptr<Range> widthCell =
            source.sheet->cell(std::max(1, rows.headerRow), sourceColumn);
        for (int position = 1; position <= sheets; ++position) {
            const std::shared_ptr<Worksheet> sheet = book.worksheet(position);
            if (!sheet) continue;
            if (heading && headerRows > 0)
                if (const std::shared_ptr<Range> target = sheet->cell(headerRows, resultColumn))
                    heading->copyTo(*target);
            if (widthCell) {
                widthCell->copy();
                if (const std::shared_ptr<Range> target = sheet->cell(1, resultColumn))
                    target->pasteSpecial(PasteKind::ColumnWidths);
            }
        }
    }
    run.application.clearClipboard();
}

// Copies the rows above the data of the first block once: the header rows, or with columns
// matched by name in the range modes the header row, with their formats and merges; then the
// block's column widths.
void placeFirstHeader(detail::RunState& run, ResolvedSource& source, const BlockRows& rows,
                      int headerRows) {
    const int labelColumns = markerColumns(run.settings);
    const std::shared_ptr<Range> corner = run.resultSheet->range("A1");
    if (!corner) return;
    const std::shared_ptr<Range> target =
        labelColumns > 0 ? corner->offset(0, labelColumns) : corner;
    if (!target) return;
    if (headerRows > 0) {
        const spreadsheet::CellRef from =
            run.settings.range.mode == RangeMode::FromRow
                ? spreadsheet::CellRef{1, 1}
                : spreadsheet::CellRef{rows.headerRow, source.topLeft.column};
        const spreadsheet::CellRef to{from.row + headerRows - 1, source.bottomRight.column};
        if (const std::shared_ptr<Range> header = source.sheet->range(from, to)) {
            header->copy();
            target->pasteSpecial(PasteKind::All);
        }
    }
    if (const std::shared_ptr<Range> widths =
            source.sheet->range({1, source.topLeft.column}, {1, source.bottomRight.column})) {
        widths->copy();
        target->pasteSpecial(PasteKind::ColumnWidths);
    }
    run.application.clearClipboard();
    if (labelColumns > 0 && headerRows > 0) {
        corner->setValue(CellValue::ofText(texts::FeatureInformation));
        if (const std::shared_ptr<Range> labelHeader = corner->resize(headerRows, labelColumns))
            labelHeader->merge();
    }
}

}  // namespace

void placePlannedBlock(detail::RunState& run, ResolvedSource& source, bool firstBlock,
                       std::shared_ptr<Worksheet>& addedSheet, BlockReport& block) {
    const MergeSettings& settings = run.settings;
    ErrorState& errors = run.errors();
    const BlockRows rows = blockRows(settings, source);
    const int firstColumn = source.topLeft.column;
    const int lastColumn = source.bottomRight.column;
    const int headerRows = resultHeaderRows(settings);
    const int labelColumns = markerColumns(settings);
    // With a result sheet per block, each later block starts a sheet of its own and is laid out
    // at its top as the first block is.
    const bool ownSheet = settings.perSource && !firstBlock;
    const bool topOfSheet = firstBlock || ownSheet;

    BlockPlan plan;
    plan.skipBlankRows = settings.cleaning.skipBlankRows;
    plan.stopAt = settings.cleaning.stopAt;
    plan.skipLast = settings.cleaning.skipLast;
    plan.dedupe = settings.cleaning.dedupe;
    std::vector<std::string> header;
    if (rows.headerRow > 0)
        header = rowTexts(*source.sheet, rows.headerRow, firstColumn, lastColumn);
    ColumnMatch match;
    if (settings.alignColumns) {
        if (header.empty()) header.resize(static_cast<std::size_t>(lastColumn - firstColumn + 1));
        match = run.columns.match(header, firstColumn);
        plan.columnMap = match.map;
    }
    if (settings.cleaning.dropHeaderRepeats) {
        if (rows.headerRow > 0) {
            plan.headerKeys = headerKeys(header);
        } else if (topOfSheet) {
            // No row names the columns: the first block's first row is the header, kept once
            // (once per sheet when each block has a sheet of its own).
            plan.headerKeys =
                headerKeys(rowTexts(*source.sheet, rows.dataTop, firstColumn, lastColumn));
            plan.firstRowIsHeader = true;
            if (firstBlock) run.firstBlockKeys = plan.headerKeys;
        } else {
            plan.headerKeys = run.firstBlockKeys;
        }
    }

    const int bottom = source.bottomRight.row;
    const spreadsheet::RangeRef data{{rows.dataTop, firstColumn}, {bottom, lastColumn}};
    if (settings.cleaning.fillMerged && rows.dataTop <= bottom)
        block.mergesFilled = source.sheet->fillMergedCells(data);
    const std::shared_ptr<Range> range =
        rows.dataTop <= bottom ? source.sheet->range(data.first, data.last) : nullptr;
    RowSelection selection = range ? range->selectRows(plan, run.digests) : RowSelection{};
    const int placed = static_cast<int>(selection.rows.size());

    if (firstBlock) {
        run.sheetBaseName = dataSheetBaseName(settings.sheet, source.sheet->name());
        // The header of names may grow with later blocks: it stays writable (before any row
        // below it is placed, which would make it final).
        if (settings.alignColumns && headerRows > 0) run.resultSheet->keepTopRowsOpen(headerRows);
        placeFirstHeader(run, source, rows, headerRows);
        run.usedRows = headerRows;
    } else if (ownSheet && settings.alignColumns) {
        // The columns are the result's, as on every other sheet: the sheet starts with the
        // first sheet's rows above the data (the header of names so far), and names this block
        // adds reach every sheet's header below.
        addedSheet = startNewSheet(run);
    } else if (ownSheet) {
        // Without matching the block keeps its own columns, and its own rows above the data.
        addedSheet = startSourceSheet(run);
        if (addedSheet) {
            placeFirstHeader(run, source, rows, headerRows);
            run.usedRows = headerRows;
        }
    } else if (static_cast<long long>(run.usedRows) + placed > run.maxRows) {
        addedSheet = startNewSheet(run);
    }
    if (ownSheet && !addedSheet && !errors.isSet())
        errors.set(spreadsheet::Error(spreadsheet::ErrorCode::OperationFailed));
    if (errors.isSet()) {
        run.digests.erase(selection.digests);
        return;
    }
    if (range && placed > 0)
        if (const std::shared_ptr<Range> target =
                run.resultSheet->cell(run.usedRows + 1, labelColumns + 1))
            block.mergesUnmerged = range->copyRows(*target, selection, plan);
    if (labelColumns > 0 && placed > 0)
        writeLabels(run, source, run.usedRows + 1, placed, topOfSheet);
    if (topOfSheet) {
        if (labelColumns > 0 && (settings.label.mode == LabelMode::FilePath ||
                                 settings.label.mode == LabelMode::FileName))
            if (const std::shared_ptr<Range> corner = run.resultSheet->range("A1"))
                corner->setColumnWidth(15);
        // New result sheets copy their header (or their first row's widths) from this sheet.
        run.resultSheet->holdTopRows(headerRows > 0 ? headerRows : 1);
    }
    run.usedRows += placed;
    // A block that is not placed leaves no digests behind: its rows are no duplicates' models.
    if (errors.isSet()) {
        run.digests.erase(selection.digests);
        return;
    }

    if (settings.alignColumns) {
        if (!firstBlock) addHeaderCells(run, source, rows, match, headerRows);
        if (errors.isSet()) {
            run.digests.erase(selection.digests);
            return;
        }
        run.columns.commit(match);
        const std::vector<ResultColumn>& columns = run.columns.columns();
        block.filled = match.map;
        // The first source's columns are the result's: all of them count as matched.
        for (std::size_t offset = 0; offset < match.map.size(); ++offset) {
            const bool added = std::find(match.addedOffsets.begin(), match.addedOffsets.end(),
                                         static_cast<int>(offset)) != match.addedOffsets.end();
            const ResultColumn& column = columns[static_cast<std::size_t>(match.map[offset])];
            (added && !firstBlock ? block.addedColumns : block.matchedColumns)
                .push_back(columnName(column));
        }
    }
    block.rowsCopied = placed;
    block.stoppedRows = selection.stopped;
    block.skippedLastRows = selection.skippedLast;
    block.blankRows = selection.blank;
    block.headerRepeatRows = selection.headerRepeats;
    block.duplicateRows = selection.duplicates;
}

std::vector<std::string> missingColumns(const ColumnUnion& columns, const BlockReport& block) {
    std::vector<std::string> missing;
    for (int index = 0; index < columns.size(); ++index)
        if (std::find(block.filled.begin(), block.filled.end(), index) == block.filled.end())
            missing.push_back(columnName(columns.columns()[static_cast<std::size_t>(index)]));
    return missing;
}

}  // namespace merge
