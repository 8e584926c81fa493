// Cell notes of the .xlsx writer (detail/xlsx_notes.h): the comments part and the VML drawing
// of hidden note shapes, in the shapes Excel itself writes for a new note.
#include "spreadsheet/detail/xlsx_notes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>

#include "spreadsheet/app_properties.h"
#include "spreadsheet/detail/xlsx_text.h"

namespace spreadsheet::detail {

namespace {

// Excel's new note: 128 × 74 pixels, placed 15 pixels right of the next column's edge and
// 10 pixels below the top of the row above.
constexpr int NewNoteWidth = 128;
constexpr int NewNoteHeight = 74;
constexpr int LongestNoteHeight = 360;
constexpr int WidestNote = 288;
// The note font, 宋体 9 pt as zh-CN Excel writes its notes: about 6 pixels for a narrow
// character and 12 for a wide one, 15 pixels a line; the box's text keeps about 8 pixels
// from each edge.
constexpr int NarrowCharacterPixels = 6;
constexpr int LinePixels = 15;
constexpr int BoxPadding = 16;
// A drawing claims blocks of 1024 shape ids (o:idmap). Excel's drawings number their shapes
// from 1024 × block + 1, never using a block's first id, so notes take the other 1023.
constexpr int IdsPerBlock = 1024;
constexpr int ShapesPerBlock = IdsPerBlock - 1;

int pixelsOfWidth(double characters) {
    return static_cast<int>(std::floor(characters * 7.0 + 0.5));
}

int pixelsOfHeight(double points) {
    return static_cast<int>(points * 4.0 / 3.0);
}

// East Asian wide and full-width characters take two narrow widths.
bool isWide(std::uint32_t code) {
    return (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
           (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
           (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
           (code >= 0xFFE0 && code <= 0xFFE6) || code >= 0x20000;
}

// The width in narrow characters of each line of `text`.
std::vector<int> lineWidths(std::string_view text) {
    std::vector<int> widths(1, 0);
    for (std::size_t index = 0; index < text.size();) {
        std::uint32_t code = 0xFFFD;
        const std::size_t length = std::max<std::size_t>(1, decodeUtf8(text, index, code));
        index += length;
        if (code == '\n') {
            widths.push_back(0);
        } else if (code != '\r') {
            widths.back() += isWide(code) ? 2 : 1;
        }
    }
    return widths;
}

// Points for a VML style: three quarters of a pixel.
void appendPoints(std::string& out, long long pixels) {
    appendNumber(out, static_cast<double>(pixels) * 0.75);
    out += "pt";
}

}  // namespace

SheetGeometry::SheetGeometry(const std::vector<ColumnInfo>& columns, const std::vector<Row>* rows,
                             double defaultRowPoints, double defaultColumnWidth)
    : m_defaultColumnPixels(pixelsOfWidth(defaultColumnWidth)),
      m_defaultRowPixels(pixelsOfHeight(defaultRowPoints)) {
    for (const ColumnInfo& column : columns) {
        const int pixels = column.hidden        ? 0
                           : column.width > 0.0 ? pixelsOfWidth(std::min(column.width, 255.0))
                                                : m_defaultColumnPixels;
        m_columns.push_back({column.first, column.last, pixels});
    }
    if (rows == nullptr) return;
    long long delta = 0;
    for (const Row& row : *rows) {
        if (!row.hidden && !(row.height > 0.0 && std::isfinite(row.height))) continue;
        const int pixels = row.hidden ? 0 : pixelsOfHeight(std::min(row.height, 409.0));
        m_rows.push_back({row.number, pixels, delta});
        delta += pixels - m_defaultRowPixels;
    }
    // A last entry past the grid carries the sum of every sized row.
    m_rows.push_back({XlsxMaxRows + 1, m_defaultRowPixels, delta});
}

int SheetGeometry::columnPixels(int column) const {
    for (const ColumnRun& run : m_columns)
        if (run.first <= column && column <= run.last) return run.pixels;
    return m_defaultColumnPixels;
}

int SheetGeometry::rowPixels(int row) const {
    auto found =
        std::lower_bound(m_rows.begin(), m_rows.end(), row,
                         [](const RowSize& size, int number) { return size.row < number; });
    return found != m_rows.end() && found->row == row ? found->pixels : m_defaultRowPixels;
}

long long SheetGeometry::pixelsLeftOf(int column) const {
    long long pixels = static_cast<long long>(column - 1) * m_defaultColumnPixels;
    for (const ColumnRun& run : m_columns) {
        const int last = std::min(run.last, column - 1);
        if (run.first <= last)
            pixels +=
                static_cast<long long>(last - run.first + 1) * (run.pixels - m_defaultColumnPixels);
    }
    return pixels;
}

long long SheetGeometry::pixelsAbove(int row) const {
    const long long plain = static_cast<long long>(row - 1) * m_defaultRowPixels;
    if (m_rows.empty()) return plain;
    auto found =
        std::lower_bound(m_rows.begin(), m_rows.end(), row,
                         [](const RowSize& size, int number) { return size.row < number; });
    return plain + (found != m_rows.end() ? found->deltaBefore : m_rows.back().deltaBefore);
}

NoteBox noteBoxFor(std::string_view text) {
    const std::vector<int> widths = lineWidths(text);
    const int widest = *std::max_element(widths.begin(), widths.end());
    NoteBox box;
    box.width = std::clamp(widest * NarrowCharacterPixels + BoxPadding, NewNoteWidth, WidestNote);
    const int perLine = std::max(1, (box.width - BoxPadding) / NarrowCharacterPixels);
    long long lines = 0;
    for (int width : widths) lines += std::max(1, (width + perLine - 1) / perLine);
    box.height = static_cast<int>(
        std::clamp<long long>(lines * LinePixels + BoxPadding, NewNoteHeight, LongestNoteHeight));
    return box;
}

NoteAnchor anchorNote(CellRef cell, NoteBox box, const SheetGeometry& geometry) {
    // 0-based here, as x:Anchor counts.
    const int row = cell.row - 1;
    const int column = cell.column - 1;
    constexpr int LastRow = XlsxMaxRows - 1;
    constexpr int LastColumn = XlsxMaxColumns - 1;
    NoteAnchor anchor;
    // Near the bottom and right edges Excel moves a new note up and left so that it fits.
    if (row == 0) {
        anchor.topRow = 0;
        anchor.topOffset = 2;
    } else if (row >= LastRow - 2) {
        anchor.topRow = row - 4;
        anchor.topOffset = row == LastRow ? 14 : 16;
    } else {
        anchor.topRow = row - 1;
        anchor.topOffset = 10;
    }
    if (column >= LastColumn - 2) {
        anchor.leftColumn = column - 3;
        anchor.leftOffset = 49;
    } else {
        anchor.leftColumn = column + 1;
        anchor.leftOffset = 15;
    }
    auto columnPixels = [&](int zeroBased) { return geometry.columnPixels(zeroBased + 1); };
    auto rowPixels = [&](int zeroBased) { return geometry.rowPixels(zeroBased + 1); };
    anchor.left = geometry.pixelsLeftOf(anchor.leftColumn + 1) + anchor.leftOffset;
    anchor.top = geometry.pixelsAbove(anchor.topRow + 1) + anchor.topOffset;
    // Offsets past the start cell's size move the start on.
    while (anchor.leftColumn < LastColumn && anchor.leftOffset >= columnPixels(anchor.leftColumn)) {
        anchor.leftOffset -= columnPixels(anchor.leftColumn);
        ++anchor.leftColumn;
    }
    while (anchor.topRow < LastRow && anchor.topOffset >= rowPixels(anchor.topRow)) {
        anchor.topOffset -= rowPixels(anchor.topRow);
        ++anchor.topRow;
    }
    anchor.rightColumn = anchor.leftColumn;
    anchor.rightOffset = box.width + anchor.leftOffset;
    while (anchor.rightColumn < LastColumn &&
           anchor.rightOffset >= columnPixels(anchor.rightColumn)) {
        anchor.rightOffset -= columnPixels(anchor.rightColumn);
        ++anchor.rightColumn;
    }
    anchor.bottomRow = anchor.topRow;
    anchor.bottomOffset = box.height + anchor.topOffset;
    while (anchor.bottomRow < LastRow && anchor.bottomOffset >= rowPixels(anchor.bottomRow)) {
        anchor.bottomOffset -= rowPixels(anchor.bottomRow);
        ++anchor.bottomRow;
    }
    // A box that runs past the last column or row ends at its far edge.
    anchor.rightOffset = std::min(anchor.rightOffset, columnPixels(anchor.rightColumn));
    anchor.bottomOffset = std::min(anchor.bottomOffset, rowPixels(anchor.bottomRow));
    return anchor;
}

int noteShapeBlocks(std::size_t noteCount) {
    const std::size_t blocks = (noteCount + ShapesPerBlock - 1) / ShapesPerBlock;
    return static_cast<int>(std::max<std::size_t>(1, blocks));
}

std::string commentsXml(std::span<const CellNote> notes) {
    std::string xml(XmlDeclaration);
    xml += "<comments xmlns=\"";
    xml += MainNamespace;
    xml += "\"><authors><author>";
    xml += ProgramName;  // plain ASCII
    xml += "</author></authors><commentList>";
    std::string text;
    for (const CellNote& note : notes) {
        xml += "<comment ref=\"";
        appendCellRef(xml, note.cell.row, note.cell.column);
        xml +=
            "\" authorId=\"0\"><text><r><rPr><sz val=\"9\"/><rFont val=\"宋体\"/>"
            "<charset val=\"134\"/></rPr>";
        text.clear();
        xml += appendCellText(text, note.text) ? "<t xml:space=\"preserve\">" : "<t>";
        xml += text;
        xml += "</t></r></text></comment>";
    }
    xml += "</commentList></comments>";
    return xml;
}

std::string noteDrawingXml(std::span<const CellNote> notes, const SheetGeometry& geometry,
                           int firstBlock) {
    std::string xml =
        "<xml xmlns:v=\"urn:schemas-microsoft-com:vml\" "
        "xmlns:o=\"urn:schemas-microsoft-com:office:office\" "
        "xmlns:x=\"urn:schemas-microsoft-com:office:excel\">"
        "<o:shapelayout v:ext=\"edit\"><o:idmap v:ext=\"edit\" data=\"";
    xml.reserve(notes.size() * 720 + 600);  // about the size of one shape
    const int blocks = noteShapeBlocks(notes.size());
    for (int block = 0; block < blocks; ++block) {
        if (block > 0) xml += ',';
        appendInt(xml, firstBlock + block);
    }
    // The text box shape type every note shape refers to.
    xml +=
        "\"/></o:shapelayout>"
        "<v:shapetype id=\"_x0000_t202\" coordsize=\"21600,21600\" o:spt=\"202\" "
        "path=\"m,l,21600r21600,l21600,xe\"><v:stroke joinstyle=\"miter\"/>"
        "<v:path gradientshapeok=\"t\" o:connecttype=\"rect\"/></v:shapetype>";
    int zIndex = 0;
    for (const CellNote& note : notes) {
        const long long shapeId =
            static_cast<long long>(firstBlock + zIndex / ShapesPerBlock) * IdsPerBlock +
            zIndex % ShapesPerBlock + 1;
        const NoteBox box = noteBoxFor(note.text);
        const NoteAnchor anchor = anchorNote(note.cell, box, geometry);
        xml += "<v:shape id=\"_x0000_s";
        appendInt(xml, shapeId);
        xml += "\" type=\"#_x0000_t202\" style=\"position:absolute;margin-left:";
        appendPoints(xml, anchor.left);
        xml += ";margin-top:";
        appendPoints(xml, anchor.top);
        xml += ";width:";
        appendPoints(xml, box.width);
        xml += ";height:";
        appendPoints(xml, box.height);
        xml += ";z-index:";
        appendInt(xml, ++zIndex);
        xml +=
            ";visibility:hidden\" fillcolor=\"#ffffe1\" o:insetmode=\"auto\">"
            "<v:fill color2=\"#ffffe1\"/><v:shadow on=\"t\" color=\"black\" obscured=\"t\"/>"
            "<v:path o:connecttype=\"none\"/><v:textbox style=\"mso-direction-alt:auto\">"
            "<div style=\"text-align:left\"></div></v:textbox>"
            "<x:ClientData ObjectType=\"Note\"><x:MoveWithCells/><x:SizeWithCells/><x:Anchor>";
        const int corners[] = {anchor.leftColumn, anchor.leftOffset,  anchor.topRow,
                               anchor.topOffset,  anchor.rightColumn, anchor.rightOffset,
                               anchor.bottomRow,  anchor.bottomOffset};
        for (std::size_t index = 0; index < std::size(corners); ++index) {
            if (index > 0) xml += ", ";
            appendInt(xml, corners[index]);
        }
        xml += "</x:Anchor><x:AutoFill>False</x:AutoFill><x:Row>";
        appendInt(xml, note.cell.row - 1);
        xml += "</x:Row><x:Column>";
        appendInt(xml, note.cell.column - 1);
        xml += "</x:Column></x:ClientData></v:shape>";
    }
    xml += "</xml>";
    return xml;
}

}  // namespace spreadsheet::detail
