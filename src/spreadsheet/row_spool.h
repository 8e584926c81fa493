// The finished rows of one result sheet, written as worksheet XML, deflated and kept in an
// unnamed temporary file until the package is saved, so memory does not grow with the sheet.
//   Result<RowSpool> spool = RowSpool::create(folder);
//   spool->append(row);                        // rows ascending
#pragma once

#include <filesystem>
#include <memory>

#include "spreadsheet/error.h"
#include "spreadsheet/workbook_data.h"

namespace spreadsheet {

class StyleRegistry;

// The finished rows of one result sheet, kept in a temporary file (deleted with the object).
class RowSpool {
public:
    // Creates the temporary file in `directory`. `styles` is the registry the rows' style and
    // run font ids belong to; it must outlive the spool. Without one, runs of rich cells show
    // in their cell's font.
    static Result<RowSpool> create(const std::filesystem::path& directory,
                                   const StyleRegistry* styles = nullptr);
    ~RowSpool();
    RowSpool(RowSpool&&) noexcept;
    RowSpool& operator=(RowSpool&&) noexcept;

    // Appends a row; its number must be greater than every row appended before, its cells
    // ascending by column, their styles ids of the StyleRegistry the sheet is written with.
    // After a failed write every later call fails too (WriteFailed).
    Result<void> append(const Row& row);
    int rowCount() const;     // rows appended
    int lastRow() const;      // 0 when empty
    int firstColumn() const;  // 0 when no cell
    int lastColumn() const;   // 0 when no cell

    struct Impl;
    Impl& impl() const { return *m_impl; }  // for the package writer (detail/row_xml.h)

private:
    explicit RowSpool(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

}  // namespace spreadsheet
