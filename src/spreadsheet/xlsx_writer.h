// Streaming .xlsx writer for the result workbook. Each sheet's finished rows are spooled to a
// temporary file as they come, so memory stays bounded by the rows still being changed; the
// package is assembled at save time: header elements (dimension, panes, widths) first, then the
// spooled rows, then the merges. Saving writes a temporary file in the target folder and renames
// it into place, so a crash never leaves a half-written result.
//   StyleRegistry styles;
//   Result<RowSpool> spool = RowSpool::create(folder);
//   spool->append(row);                        // rows ascending
//   writeXlsx(path, sheets, 0, styles, ExistingFile::Refuse);
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "spreadsheet/error.h"
#include "spreadsheet/style.h"
#include "spreadsheet/workbook_data.h"

namespace spreadsheet {

// The font every result cell gets unless it carries its own (renders on Linux with
// fonts-noto-cjk and in zh-CN Excel).
CellStyle defaultResultStyle();

// Interns CellStyle values for the result workbook. Id 0 is defaultResultStyle().
class StyleRegistry {
public:
    StyleRegistry();
    ~StyleRegistry();
    StyleRegistry(StyleRegistry&&) noexcept;
    StyleRegistry& operator=(StyleRegistry&&) noexcept;

    // The id of an equal style, added when new. Past the format limit of the file format
    // (about 64,000 distinct formats) it returns the id of the default style.
    std::uint32_t intern(const CellStyle& style);
    const CellStyle& style(std::uint32_t id) const;
    std::size_t size() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The finished rows of one result sheet, kept in a temporary file (deleted with the object).
class RowSpool {
public:
    // Creates the temporary file in `directory`.
    static Result<RowSpool> create(const std::filesystem::path& directory);
    ~RowSpool();
    RowSpool(RowSpool&&) noexcept;
    RowSpool& operator=(RowSpool&&) noexcept;

    // Appends a row; its number must be greater than every row appended before, its cells
    // ascending by column, their styles ids of the StyleRegistry the sheet is written with.
    Result<void> append(const Row& row);
    int rowCount() const;     // rows appended
    int lastRow() const;      // 0 when empty
    int firstColumn() const;  // 0 when no cell
    int lastColumn() const;   // 0 when no cell

    struct Impl;
    Impl& impl() const { return *m_impl; }  // for the package writer

private:
    explicit RowSpool(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

// One sheet of the package as the writer sees it.
struct SheetToWrite {
    std::string name;  // already validated (see isValidSheetName)
    Visibility visibility = Visibility::Visible;
    const RowSpool* spooledRows = nullptr;  // written first; may be null
    const std::vector<Row>* rows =
        nullptr;  // written after, ascending, all below the spooled ones; may be null
    std::vector<RangeRef> merges;     // not overlapping, none of one cell
    std::vector<ColumnInfo> columns;  // ascending, not overlapping
    std::optional<FrozenPane> frozenPane;
    std::optional<CellRef> activeCell;  // the selected cell; A1 when not given
};

enum class ExistingFile { Refuse, Replace };

// Writes the package to `target` through a temporary file in the same folder, then renames it
// into place. With ExistingFile::Refuse an existing `target` is never replaced: TargetExists.
// Fails with WriteFailed (and removes the temporary file) when the file system refuses.
// `activeSheet` is 0-based; exactly that sheet is tab-selected.
Result<void> writeXlsx(const std::filesystem::path& target, std::span<const SheetToWrite> sheets,
                       int activeSheet, const StyleRegistry& styles, ExistingFile existing);

// The same package written to memory (tests).
Result<std::vector<std::uint8_t>> writeXlsxToMemory(std::span<const SheetToWrite> sheets,
                                                    int activeSheet, const StyleRegistry& styles);

// 1 to 31 characters (UTF-16 units), none of []:*?/\, not starting or ending with '.
bool isValidSheetName(const std::string& name);

}  // namespace spreadsheet
