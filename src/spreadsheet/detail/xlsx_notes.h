// Cell notes in the .xlsx package: the comments part with their text and author, and the VML
// drawing that holds one hidden note shape per comment, which Excel needs to show a note when
// the pointer rests on its cell. Shapes are placed as Excel places a new note: right of and a
// little above their cell, moved inwards at the grid's right and bottom edges.
//   SheetGeometry geometry(columns, &rows, 13.5, 9.140625);
//   std::string comments = commentsXml(notes);
//   std::string drawing = noteDrawingXml(notes, geometry, 1);
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/cell_ref.h"
#include "spreadsheet/workbook_data.h"
#include "spreadsheet/xlsx_writer.h"

namespace spreadsheet::detail {

// Widths and heights in pixels as Excel measures them at 96 dpi with a 7-pixel digit.
class SheetGeometry {
public:
    // `columns` ascending and not overlapping; `rows` ascending, or null. A row not among `rows`
    // (spooled rows too) has `defaultRowPoints`; a column without a width `defaultColumnWidth`
    // (characters as stored in the file).
    SheetGeometry(const std::vector<ColumnInfo>& columns, const std::vector<Row>* rows,
                  double defaultRowPoints, double defaultColumnWidth);

    int columnPixels(int column) const;
    int rowPixels(int row) const;
    // Pixels from the sheet's left edge to the left edge of `column`, and from its top edge to
    // the top edge of `row`.
    long long pixelsLeftOf(int column) const;
    long long pixelsAbove(int row) const;

private:
    struct ColumnRun {
        int first;
        int last;
        int pixels;
    };
    struct RowSize {
        int row;
        int pixels;
        long long deltaBefore;  // sum of (pixels - default) of the sized rows above this one
    };
    std::vector<ColumnRun> m_columns;
    std::vector<RowSize> m_rows;
    int m_defaultColumnPixels;
    int m_defaultRowPixels;
};

// The size of a note's box in pixels.
struct NoteBox {
    int width = 0;
    int height = 0;
};

// A box wide enough for a few words and tall enough for `text` in the note font, wrapped at
// the box's width; never smaller than Excel's new note (128 × 74) and at most 360 pixels tall.
NoteBox noteBoxFor(std::string_view text);

// Where a note's shape lies: x:Anchor's cells (0-based) with offsets in pixels, and the top-left
// corner in pixels from the sheet's corner.
struct NoteAnchor {
    int leftColumn = 0;
    int leftOffset = 0;
    int topRow = 0;
    int topOffset = 0;
    int rightColumn = 0;
    int rightOffset = 0;
    int bottomRow = 0;
    int bottomOffset = 0;
    long long left = 0;
    long long top = 0;
    friend bool operator==(const NoteAnchor&, const NoteAnchor&) = default;
};

// The shape of the note of `cell` (1-based) with a box of `box`: one column right of the cell
// and from the row above it, as Excel places a new note; the shape never leaves the grid.
NoteAnchor anchorNote(CellRef cell, NoteBox box, const SheetGeometry& geometry);

// The number of blocks of 1024 shape ids the drawing of `noteCount` notes claims: block b
// holds ids 1024 × b + 1 to 1024 × b + 1023.
int noteShapeBlocks(std::size_t noteCount);

// xl/commentsN.xml for `notes` (ascending by cell, one per cell), all by this program.
std::string commentsXml(std::span<const CellNote> notes);

// xl/drawings/vmlDrawingN.vml for the same notes; its shapes take the blocks from
// `firstBlock` on, which no other drawing of the package may use.
std::string noteDrawingXml(std::span<const CellNote> notes, const SheetGeometry& geometry,
                           int firstBlock);

}  // namespace spreadsheet::detail
