// The .xlsx package: its parts in order, each sheet's entry assembled from its header, its
// spooled rows, its rows in memory and its trailer, and the checks made before a byte is written.
#include "spreadsheet/xlsx_writer.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <functional>
#include <map>
#include <queue>
#include <utility>

#include "spreadsheet/detail/row_xml.h"
#include "spreadsheet/detail/xlsx_notes.h"
#include "spreadsheet/detail/xlsx_text.h"
#include "spreadsheet/zip_writer.h"

namespace spreadsheet {

using detail::appendAttributeText;
using detail::appendCellRef;
using detail::appendInt;
using detail::appendNumber;
using detail::appendRange;
using detail::Extent;
using detail::MainNamespace;
using detail::RelationshipNamespace;
using detail::XmlDeclaration;

namespace {

constexpr int SmallPartLevel = 6;
// Level 1 of what the package writer deflates itself: for a million cells zlib's level 1 took
// 0.38 s of CPU and level 3 0.50 s, for a file only 10 % smaller.
constexpr int SheetDeflateLevel = 1;
constexpr double DefaultRowHeight = 13.5;
// 8.43 digits plus padding for a 7-pixel digit, as Excel stores its default column width.
constexpr double DefaultColumnWidth = 9.140625;

// ---------------------------------------------------------------------------------------------
// The workbook's parts

// `notedSheets`: how many sheets have notes, each with a comments part and a VML drawing.
std::string contentTypesXml(std::size_t sheetCount, int notedSheets) {
    std::string xml(XmlDeclaration);
    xml +=
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" "
        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>";
    if (notedSheets > 0)
        xml +=
            "<Default Extension=\"vml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.vmlDrawing\"/>";
    xml +=
        "<Override PartName=\"/xl/workbook.xml\" "
        "ContentType=\"application/"
        "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>";
    for (std::size_t i = 1; i <= sheetCount; ++i) {
        xml += "<Override PartName=\"/xl/worksheets/sheet";
        appendInt(xml, static_cast<long long>(i));
        xml +=
            ".xml\" "
            "ContentType=\"application/"
            "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
    }
    xml +=
        "<Override PartName=\"/xl/styles.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
        "<Override PartName=\"/docProps/core.xml\" "
        "ContentType=\"application/vnd.openxmlformats-package.core-properties+xml\"/>"
        "<Override PartName=\"/docProps/app.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.extended-properties+xml\"/>";
    for (int part = 1; part <= notedSheets; ++part) {
        xml += "<Override PartName=\"/xl/comments";
        appendInt(xml, part);
        xml +=
            ".xml\" "
            "ContentType=\"application/"
            "vnd.openxmlformats-officedocument.spreadsheetml.comments+xml\"/>";
    }
    xml += "</Types>";
    return xml;
}

std::string packageRelationshipsXml() {
    std::string xml(XmlDeclaration);
    xml +=
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" "
        "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
        "officeDocument\" "
        "Target=\"xl/workbook.xml\"/>"
        "<Relationship Id=\"rId2\" "
        "Type=\"http://schemas.openxmlformats.org/package/2006/relationships/metadata/"
        "core-properties\" "
        "Target=\"docProps/core.xml\"/>"
        "<Relationship Id=\"rId3\" "
        "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
        "extended-properties\" "
        "Target=\"docProps/app.xml\"/>"
        "</Relationships>";
    return xml;
}

std::string corePropertiesXml() {
    char stamp[32] = "1980-01-01T00:00:00Z";
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    if (gmtime_r(&now, &utc) != nullptr)
        std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::string xml(XmlDeclaration);
    xml +=
        "<cp:coreProperties "
        "xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
        "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\" "
        "xmlns:dcmitype=\"http://purl.org/dc/dcmitype/\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
        "<dc:creator>sheetmerge</dc:creator>"
        "<dcterms:created xsi:type=\"dcterms:W3CDTF\">";
    xml += stamp;
    xml += "</dcterms:created><dcterms:modified xsi:type=\"dcterms:W3CDTF\">";
    xml += stamp;
    xml += "</dcterms:modified></cp:coreProperties>";
    return xml;
}

std::string appPropertiesXml() {
    std::string xml(XmlDeclaration);
    xml +=
        "<Properties "
        "xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\" "
        "xmlns:vt=\"http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes\">"
        "<Application>sheetmerge</Application></Properties>";
    return xml;
}

std::string workbookXml(std::span<const SheetToWrite> sheets,
                        std::span<const Visibility> visibility, int activeSheet) {
    std::string xml(XmlDeclaration);
    xml += "<workbook xmlns=\"";
    xml += MainNamespace;
    xml += "\" xmlns:r=\"";
    xml += RelationshipNamespace;
    xml += "\"><workbookPr/><bookViews><workbookView activeTab=\"";
    appendInt(xml, activeSheet);
    xml += "\"/></bookViews><sheets>";
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        xml += "<sheet name=\"";
        appendAttributeText(xml, sheets[i].name);
        xml += "\" sheetId=\"";
        appendInt(xml, static_cast<long long>(i + 1));
        xml += '"';
        if (visibility[i] == Visibility::Hidden) xml += " state=\"hidden\"";
        if (visibility[i] == Visibility::VeryHidden) xml += " state=\"veryHidden\"";
        xml += " r:id=\"rId";
        appendInt(xml, static_cast<long long>(i + 1));
        xml += "\"/>";
    }
    xml += "</sheets><calcPr calcId=\"191029\"/></workbook>";
    return xml;
}

std::string workbookRelationshipsXml(std::size_t sheetCount) {
    std::string xml(XmlDeclaration);
    xml += "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (std::size_t i = 1; i <= sheetCount; ++i) {
        xml += "<Relationship Id=\"rId";
        appendInt(xml, static_cast<long long>(i));
        xml +=
            "\" "
            "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
            "worksheet\" "
            "Target=\"worksheets/sheet";
        appendInt(xml, static_cast<long long>(i));
        xml += ".xml\"/>";
    }
    xml += "<Relationship Id=\"rId";
    appendInt(xml, static_cast<long long>(sheetCount + 1));
    xml +=
        "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
        "Target=\"styles.xml\"/></Relationships>";
    return xml;
}

// ---------------------------------------------------------------------------------------------
// Worksheets

// Drops merges that Excel would remove with a repair: single cells, ranges outside the grid
// and ranges overlapping one kept before them (in the order of their top row, then column).
std::vector<RangeRef> usableMerges(const std::vector<RangeRef>& merges) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < merges.size(); ++i) {
        const RangeRef& range = merges[i];
        const bool inGrid = range.first.row >= 1 && range.first.column >= 1 &&
                            range.last.row <= XlsxMaxRows && range.last.column <= XlsxMaxColumns &&
                            range.first.row <= range.last.row &&
                            range.first.column <= range.last.column;
        if (inGrid && range.first != range.last) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const RangeRef& left = merges[a];
        const RangeRef& right = merges[b];
        return std::pair(left.first.row, left.first.column) <
               std::pair(right.first.row, right.first.column);
    });
    // Kept ranges that reach the current top row all cover that row, so their column spans are
    // disjoint: one ordered map of spans answers the overlap question.
    std::map<int, std::pair<int, int>> activeSpans;  // first column -> (last column, last row)
    using Expiry = std::pair<int, int>;              // (last row, first column)
    std::priority_queue<Expiry, std::vector<Expiry>, std::greater<>> expiries;
    std::vector<bool> keep(merges.size(), false);
    for (std::size_t index : order) {
        const RangeRef& range = merges[index];
        while (!expiries.empty() && expiries.top().first < range.first.row) {
            activeSpans.erase(expiries.top().second);
            expiries.pop();
        }
        auto next = activeSpans.upper_bound(range.last.column);
        bool overlaps = false;
        if (next != activeSpans.begin()) {
            auto candidate = std::prev(next);
            overlaps = candidate->second.first >= range.first.column;
        }
        if (overlaps) continue;
        activeSpans.emplace(range.first.column, std::pair(range.last.column, range.last.row));
        expiries.emplace(range.last.row, range.first.column);
        keep[index] = true;
    }
    std::vector<RangeRef> kept;
    for (std::size_t i = 0; i < merges.size(); ++i) {
        if (keep[i]) kept.push_back(merges[i]);
    }
    return kept;
}

// Column runs in the grid, ascending and not overlapping one kept before.
std::vector<ColumnInfo> usableColumns(const std::vector<ColumnInfo>& columns) {
    std::vector<ColumnInfo> kept;
    int lastColumn = 0;
    for (const ColumnInfo& column : columns) {
        if (column.first < 1 || column.last > XlsxMaxColumns || column.first > column.last)
            continue;
        if (column.first <= lastColumn) continue;
        kept.push_back(column);
        lastColumn = column.last;
    }
    return kept;
}

void appendSelection(std::string& out, const char* pane, CellRef cell) {
    out += "<selection";
    if (pane != nullptr) {
        out += " pane=\"";
        out += pane;
        out += '"';
    }
    out += " activeCell=\"";
    appendCellRef(out, cell.row, cell.column);
    out += "\" sqref=\"";
    appendCellRef(out, cell.row, cell.column);
    out += "\"/>";
}

// <sheetViews>: the tab selection, frozen panes and the active cell.
void appendSheetViews(std::string& xml, const SheetToWrite& sheet, bool selected) {
    xml += "<sheetViews><sheetView";
    if (selected) xml += " tabSelected=\"1\"";
    xml += " workbookViewId=\"0\"";
    CellRef active{1, 1};
    if (sheet.activeCell && sheet.activeCell->row >= 1 && sheet.activeCell->row <= XlsxMaxRows &&
        sheet.activeCell->column >= 1 && sheet.activeCell->column <= XlsxMaxColumns)
        active = *sheet.activeCell;
    int frozenRows = 0;
    int frozenColumns = 0;
    if (sheet.frozenPane) {
        frozenRows = std::clamp(sheet.frozenPane->rows, 0, XlsxMaxRows - 1);
        frozenColumns = std::clamp(sheet.frozenPane->columns, 0, XlsxMaxColumns - 1);
    }
    if (frozenRows == 0 && frozenColumns == 0) {
        if (active == CellRef{1, 1}) {
            xml += "/></sheetViews>";
        } else {
            xml += '>';
            appendSelection(xml, nullptr, active);
            xml += "</sheetView></sheetViews>";
        }
        return;
    }
    xml += "><pane";
    if (frozenColumns > 0) {
        xml += " xSplit=\"";
        appendInt(xml, frozenColumns);
        xml += '"';
    }
    if (frozenRows > 0) {
        xml += " ySplit=\"";
        appendInt(xml, frozenRows);
        xml += '"';
    }
    xml += " topLeftCell=\"";
    appendCellRef(xml, frozenRows + 1, frozenColumns + 1);
    const char* activePane = frozenRows > 0 && frozenColumns > 0 ? "bottomRight"
                             : frozenRows > 0                    ? "bottomLeft"
                                                                 : "topRight";
    xml += "\" activePane=\"";
    xml += activePane;
    xml += "\" state=\"frozen\"/>";
    if (frozenRows > 0 && frozenColumns > 0) {
        appendSelection(xml, "topRight", CellRef{1, frozenColumns + 1});
        appendSelection(xml, "bottomLeft", CellRef{frozenRows + 1, 1});
    }
    appendSelection(xml, activePane, active);
    xml += "</sheetView></sheetViews>";
}

// <cols>, left out when there are no column runs.
void appendColumns(std::string& xml, const std::vector<ColumnInfo>& columns) {
    if (columns.empty()) return;
    xml += "<cols>";
    for (const ColumnInfo& column : columns) {
        xml += "<col min=\"";
        appendInt(xml, column.first);
        xml += "\" max=\"";
        appendInt(xml, column.last);
        xml += '"';
        if (column.width > 0.0 && std::isfinite(column.width)) {
            xml += " width=\"";
            appendNumber(xml, std::min(column.width, 255.0));
            xml += "\" customWidth=\"1\"";
        } else {
            // Excel reads a <col> without width as width 0; give it the default width.
            xml += " width=\"";
            appendNumber(xml, DefaultColumnWidth);
            xml += '"';
        }
        if (column.style && *column.style != 0) {
            xml += " style=\"";
            appendInt(xml, *column.style);
            xml += '"';
        }
        if (column.hidden) xml += " hidden=\"1\"";
        xml += "/>";
    }
    xml += "</cols>";
}

// Everything of a worksheet part before its rows.
std::string sheetHeaderXml(const SheetToWrite& sheet, const Extent& extent, bool selected,
                           const std::vector<ColumnInfo>& columns) {
    std::string xml(XmlDeclaration);
    xml += "<worksheet xmlns=\"";
    xml += MainNamespace;
    xml += "\" xmlns:r=\"";
    xml += RelationshipNamespace;
    xml += "\"><dimension ref=\"";
    if (extent.firstRow == 0) {
        xml += "A1";
    } else {
        appendRange(xml, RangeRef{{extent.firstRow, extent.firstColumn},
                                  {extent.lastRow, extent.lastColumn}});
    }
    xml += "\"/>";
    appendSheetViews(xml, sheet, selected);
    xml += "<sheetFormatPr defaultRowHeight=\"";
    appendNumber(xml, DefaultRowHeight);
    xml += "\"/>";
    appendColumns(xml, columns);
    xml += "<sheetData>";
    return xml;
}

// The relationship id of a sheet's note drawing, in the sheet's own relationships.
constexpr std::string_view NoteDrawingRelationship = "rId1";

// Everything of a worksheet part after its rows. A sheet with notes names their drawing, which
// Excel needs to show them, in <legacyDrawing> after the page margins.
std::string sheetTrailerXml(const std::vector<RangeRef>& merges, bool hasNotes) {
    std::string xml = "</sheetData>";
    if (!merges.empty()) {
        xml += "<mergeCells count=\"";
        appendInt(xml, static_cast<long long>(merges.size()));
        xml += "\">";
        for (const RangeRef& range : merges) {
            xml += "<mergeCell ref=\"";
            appendRange(xml, range);
            xml += "\"/>";
        }
        xml += "</mergeCells>";
    }
    xml +=
        "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
        "footer=\"0.3\"/>";
    if (hasNotes) {
        xml += "<legacyDrawing r:id=\"";
        xml += NoteDrawingRelationship;
        xml += "\"/>";
    }
    xml += "</worksheet>";
    return xml;
}

// An upper bound of what deflate makes of `size` bytes (stored blocks cost 5 bytes per 64 KiB).
std::uint64_t deflateBound64(std::uint64_t size) {
    return size + size / 2048 + 64;
}

Result<void> writeEntry(ZipWriter& zip, std::string_view name, std::string_view content) {
    if (Result<void> begun = zip.beginEntry(name, SmallPartLevel, deflateBound64(content.size()));
        !begun)
        return begun;
    if (Result<void> written = zip.write(content); !written) return written;
    return zip.endEntry();
}

// Rows held in memory after the spooled ones, serialised a slice at a time.
template <typename Consumer>
Result<void> forEachRowsXml(const std::vector<Row>* rows, const StyleRegistry& styles,
                            Extent& extent, Consumer&& consume, std::size_t from = 0,
                            std::size_t to = SIZE_MAX) {
    if (rows == nullptr) return {};
    std::string xml;
    to = std::min(to, rows->size());
    for (std::size_t index = std::min(from, to); index < to; ++index) {
        const Row& row = (*rows)[index];
        detail::appendRowXml(xml, row, extent, &styles);
        if (xml.size() >= detail::RowXmlSliceSize) {
            if (Result<void> consumed = consume(xml); !consumed) return consumed;
            xml.clear();
        }
    }
    if (!xml.empty()) return consume(xml);
    return {};
}

// One worksheet entry: header, the spool's deflated rows copied as they are, the rows in
// memory, trailer. The entry's size bound is known before it starts, as ZIP64 needs.
Result<void> writeSheet(ZipWriter& zip, std::string_view name, const SheetToWrite& sheet,
                        bool selected, const StyleRegistry& styles) {
    detail::SpooledRows spooled;
    if (sheet.spooledRows != nullptr) {
        Result<detail::SpooledRows> flushed = detail::flushSpool(*sheet.spooledRows);
        if (!flushed) return flushed.error();
        spooled = *flushed;
    }
    Extent extent = spooled.extent;
    // Measure the in-memory rows first: the entry needs an upper bound of its size up front.
    std::uint64_t rowsSize = 0;
    Extent rowsExtent;
    (void)forEachRowsXml(sheet.rows, styles, rowsExtent,
                         [&](const std::string& xml) -> Result<void> {
                             rowsSize += xml.size();
                             return {};
                         });
    const std::size_t headRows =
        sheet.rows != nullptr ? std::min(sheet.headRows, sheet.rows->size()) : 0;
    extent.add(rowsExtent);
    const std::vector<ColumnInfo> columns = usableColumns(sheet.columns);
    const std::string header = sheetHeaderXml(sheet, extent, selected, columns);
    const std::string trailer = sheetTrailerXml(usableMerges(sheet.merges), !sheet.notes.empty());
    const std::uint64_t inflated =
        header.size() + spooled.inflatedBytes + rowsSize + trailer.size();
    const std::uint64_t deflated = deflateBound64(header.size()) + spooled.deflatedBytes +
                                   deflateBound64(rowsSize + trailer.size());
    if (Result<void> begun = zip.beginEntry(name, SheetDeflateLevel, std::max(inflated, deflated));
        !begun)
        return begun;
    if (Result<void> written = zip.write(header); !written) return written;
    Extent unused;
    if (headRows > 0) {
        if (Result<void> written = forEachRowsXml(
                sheet.rows, styles, unused, [&](const std::string& xml) { return zip.write(xml); },
                0, headRows);
            !written)
            return written;
    }
    if (spooled.deflatedBytes > 0) {
        if (Result<void> begun = zip.beginDeflatedCopy(spooled.crc, spooled.inflatedBytes); !begun)
            return begun;
        if (Result<void> copied = detail::copySpool(*sheet.spooledRows, zip); !copied)
            return copied;
    }
    if (Result<void> written = forEachRowsXml(
            sheet.rows, styles, unused, [&](const std::string& xml) { return zip.write(xml); },
            headRows);
        !written)
        return written;
    if (Result<void> written = zip.write(trailer); !written) return written;
    return zip.endEntry();
}

// The parts of a sheet's notes: the sheet's relationships, the comments and their drawing,
// the `part`-th of the package. The drawing's shapes take the id blocks from `nextBlock` on,
// which moves past them.
Result<void> writeNoteParts(ZipWriter& zip, const SheetToWrite& sheet, std::size_t sheetNumber,
                            int part, int& nextBlock) {
    const std::string number = std::to_string(part);
    std::string relationships(XmlDeclaration);
    relationships +=
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"";
    relationships += NoteDrawingRelationship;
    relationships +=
        "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
        "vmlDrawing\" Target=\"../drawings/vmlDrawing" +
        number +
        ".vml\"/>"
        "<Relationship Id=\"rId2\" "
        "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/comments\" "
        "Target=\"../comments" +
        number + ".xml\"/></Relationships>";
    const detail::SheetGeometry geometry(usableColumns(sheet.columns), sheet.rows, DefaultRowHeight,
                                         DefaultColumnWidth);
    std::string drawing = detail::noteDrawingXml(sheet.notes, geometry, nextBlock);
    nextBlock += detail::noteShapeBlocks(sheet.notes.size());
    const std::pair<std::string, std::string> parts[] = {
        {"xl/worksheets/_rels/sheet" + std::to_string(sheetNumber) + ".xml.rels",
         std::move(relationships)},
        {"xl/comments" + number + ".xml", detail::commentsXml(sheet.notes)},
        {"xl/drawings/vmlDrawing" + number + ".vml", std::move(drawing)},
    };
    for (const auto& [name, xml] : parts)
        if (Result<void> written = writeEntry(zip, name, xml); !written) return written;
    return {};
}

// ---------------------------------------------------------------------------------------------
// Checks before writing

// The first style id of a row (its own, then its cells') that the registry does not hold.
std::optional<std::int64_t> styleOutside(const Row& row, std::size_t registrySize) {
    const auto outside = [&](std::int64_t style) {
        return style >= static_cast<std::int64_t>(registrySize);
    };
    if (row.style && outside(*row.style)) return *row.style;
    for (const Cell& cell : row.cells)
        if (outside(cell.style)) return cell.style;
    return std::nullopt;
}

Error styleError(std::int64_t style, std::size_t registrySize, const std::string& sheet) {
    return Error(ErrorCode::OperationFailed, "sheet " + sheet + " uses style " +
                                                 std::to_string(style) + " of a registry with " +
                                                 std::to_string(registrySize));
}

// Rows and styles are checked before anything is written: a bad id would make a file that
// Excel repairs.
Result<void> checkSheetContent(const SheetToWrite& sheet, std::size_t registrySize) {
    int previous = 0;
    std::size_t index = 0;
    if (sheet.rows != nullptr) {
        // Rows written before the spool must lie above its first row.
        for (; index < std::min(sheet.headRows, sheet.rows->size()); ++index) {
            const Row& row = (*sheet.rows)[index];
            if (Result<void> checked = detail::checkRow(row, previous); !checked) return checked;
            previous = row.number;
            if (std::optional<std::int64_t> style = styleOutside(row, registrySize))
                return styleError(*style, registrySize, sheet.name);
        }
    }
    if (sheet.spooledRows != nullptr) {
        const Extent& spooled = detail::spoolExtent(*sheet.spooledRows);
        if (spooled.maxStyle >= static_cast<std::int64_t>(registrySize))
            return styleError(spooled.maxStyle, registrySize, sheet.name);
        if (spooled.firstRow > 0 && spooled.firstRow <= previous)
            return Error(ErrorCode::OperationFailed,
                         "sheet " + sheet.name + ": rows kept open overlap the spooled rows");
        previous = std::max(previous, spooled.lastRowNumber);
    }
    if (sheet.rows != nullptr) {
        for (; index < sheet.rows->size(); ++index) {
            const Row& row = (*sheet.rows)[index];
            if (Result<void> checked = detail::checkRow(row, previous); !checked) return checked;
            previous = row.number;
            if (std::optional<std::int64_t> style = styleOutside(row, registrySize))
                return styleError(*style, registrySize, sheet.name);
        }
    }
    for (const ColumnInfo& column : sheet.columns)
        if (column.style && *column.style >= registrySize)
            return styleError(*column.style, registrySize, sheet.name);
    // Excel repairs a file with two notes on one cell or one outside the grid.
    for (std::size_t i = 0; i < sheet.notes.size(); ++i) {
        const CellRef cell = sheet.notes[i].cell;
        const bool inGrid = cell.row >= 1 && cell.row <= XlsxMaxRows && cell.column >= 1 &&
                            cell.column <= XlsxMaxColumns;
        const bool ascending =
            i == 0 || std::pair(sheet.notes[i - 1].cell.row, sheet.notes[i - 1].cell.column) <
                          std::pair(cell.row, cell.column);
        if (!inGrid || !ascending)
            return Error(ErrorCode::OperationFailed,
                         "sheet " + sheet.name + " has a note out of order or outside the grid");
    }
    return {};
}

// Names valid and distinct (ignoring case), rows in order, style ids in the registry.
Result<void> checkSheets(std::span<const SheetToWrite> sheets, std::size_t registrySize) {
    if (sheets.empty())
        return Error(ErrorCode::OperationFailed, "a workbook needs at least one sheet");
    std::vector<std::u32string> keys;
    for (const SheetToWrite& sheet : sheets) {
        if (!isValidSheetName(sheet.name)) return Error(ErrorCode::InvalidSheetName, sheet.name);
        std::u32string key = sheetNameKey(sheet.name);
        if (std::find(keys.begin(), keys.end(), key) != keys.end())
            return Error(ErrorCode::DuplicateSheetName, sheet.name);
        keys.push_back(std::move(key));
        if (Result<void> checked = checkSheetContent(sheet, registrySize); !checked) return checked;
    }
    return {};
}

// The sheets' states with the active one visible, and so at least one sheet; `activeSheet`
// moves to the first visible sheet when it is hidden, and to 0 when out of range.
std::vector<Visibility> visibleStates(std::span<const SheetToWrite> sheets, int& activeSheet) {
    std::vector<Visibility> visibility;
    for (const SheetToWrite& sheet : sheets) visibility.push_back(sheet.visibility);
    const int count = static_cast<int>(sheets.size());
    if (activeSheet < 0 || activeSheet >= count) activeSheet = 0;
    if (visibility[static_cast<std::size_t>(activeSheet)] != Visibility::Visible) {
        const auto visible = std::find(visibility.begin(), visibility.end(), Visibility::Visible);
        if (visible != visibility.end())
            activeSheet = static_cast<int>(visible - visibility.begin());
        else
            visibility[static_cast<std::size_t>(activeSheet)] = Visibility::Visible;
    }
    return visibility;
}

Result<void> writePackage(OutputSink& sink, std::span<const SheetToWrite> sheets, int activeSheet,
                          const StyleRegistry& styles) {
    if (Result<void> checked = checkSheets(sheets, styles.size()); !checked) return checked;
    const std::vector<Visibility> visibility = visibleStates(sheets, activeSheet);
    const int notedSheets =
        static_cast<int>(std::count_if(sheets.begin(), sheets.end(), [](const SheetToWrite& sheet) {
            return !sheet.notes.empty();
        }));
    const std::pair<std::string_view, std::string> parts[] = {
        {"[Content_Types].xml", contentTypesXml(sheets.size(), notedSheets)},
        {"_rels/.rels", packageRelationshipsXml()},
        {"docProps/core.xml", corePropertiesXml()},
        {"docProps/app.xml", appPropertiesXml()},
        {"xl/workbook.xml", workbookXml(sheets, visibility, activeSheet)},
        {"xl/_rels/workbook.xml.rels", workbookRelationshipsXml(sheets.size())},
        {"xl/styles.xml", stylesXml(styles)},
    };
    ZipWriter zip(sink);
    for (const auto& [name, xml] : parts)
        if (Result<void> written = writeEntry(zip, name, xml); !written) return written;
    int notePart = 0;
    int nextShapeBlock = 1;
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        const std::string name = "xl/worksheets/sheet" + std::to_string(i + 1) + ".xml";
        if (Result<void> written =
                writeSheet(zip, name, sheets[i], static_cast<int>(i) == activeSheet, styles);
            !written)
            return written;
        if (sheets[i].notes.empty()) continue;
        if (Result<void> written =
                writeNoteParts(zip, sheets[i], i + 1, ++notePart, nextShapeBlock);
            !written)
            return written;
    }
    return zip.finish();
}

}  // namespace

Result<void> writeXlsx(const std::filesystem::path& target, std::span<const SheetToWrite> sheets,
                       int activeSheet, const StyleRegistry& styles, ExistingFile existing) {
    return writeFileAtomically(target, existing, [&](OutputSink& sink) {
        return writePackage(sink, sheets, activeSheet, styles);
    });
}

Result<std::vector<std::uint8_t>> writeXlsxToMemory(std::span<const SheetToWrite> sheets,
                                                    int activeSheet, const StyleRegistry& styles) {
    MemorySink sink;
    if (Result<void> written = writePackage(sink, sheets, activeSheet, styles); !written)
        return written.error();
    return sink.takeBytes();
}

}  // namespace spreadsheet
