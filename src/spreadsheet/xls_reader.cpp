#include "spreadsheet/xls_reader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <unordered_map>

#include "spreadsheet/biff_crypto.h"
#include "spreadsheet/biff_records.h"
#include "spreadsheet/cfb.h"
#include "spreadsheet/model_budget.h"

namespace spreadsheet {
namespace {

// A sheet of an .xls book cannot hold more cells than its grid; more cell records than that
// means a hostile or broken file.
constexpr std::size_t MaxCellsPerSheet = static_cast<std::size_t>(XlsMaxRows) * XlsMaxColumns;
constexpr std::size_t MaxMergesPerSheet = 100'000;
constexpr double Date1904Offset = 1462.0;

// The default colours of palette indexes 8-63 (index 0-7 repeat the first eight).
constexpr std::array<std::uint32_t, 56> DefaultPalette = {
    0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF,
    0x800000, 0x008000, 0x000080, 0x808000, 0x800080, 0x008080, 0xC0C0C0, 0x808080,
    0x9999FF, 0x993366, 0xFFFFCC, 0xCCFFFF, 0x660066, 0xFF8080, 0x0066CC, 0xCCCCFF,
    0x000080, 0xFF00FF, 0xFFFF00, 0x00FFFF, 0x800080, 0x800000, 0x008080, 0x0000FF,
    0x00CCFF, 0xCCFFFF, 0xCCFFCC, 0xFFFF99, 0x99CCFF, 0xFF99CC, 0xCC99FF, 0xFFCC99,
    0x3366FF, 0x33CCCC, 0x99CC00, 0xFFCC00, 0xFF9900, 0xFF6600, 0x666699, 0x969696,
    0x003366, 0x339966, 0x003300, 0x333300, 0x993300, 0x993366, 0x333399, 0x333333};

constexpr const char* HorizontalNames[8] = {"",     "left",    "center",           "right",
                                            "fill", "justify", "centerContinuous", "distributed"};
constexpr const char* VerticalNames[5] = {"top", "center", "", "justify", "distributed"};
constexpr const char* BorderNames[14] = {"",
                                         "thin",
                                         "medium",
                                         "dashed",
                                         "dotted",
                                         "thick",
                                         "double",
                                         "hair",
                                         "mediumDashed",
                                         "dashDot",
                                         "mediumDashDot",
                                         "dashDotDot",
                                         "mediumDashDotDot",
                                         "slantDashDot"};
constexpr const char* PatternNames[19] = {
    "none",           "solid",           "mediumGray",    "darkGray",  "lightGray",
    "darkHorizontal", "darkVertical",    "darkDown",      "darkUp",    "darkGrid",
    "darkTrellis",    "lightHorizontal", "lightVertical", "lightDown", "lightUp",
    "lightGrid",      "lightTrellis",    "gray125",       "gray0625"};

std::string hexId(std::uint16_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", id);
    return text;
}

Error recordError(const BiffRecord& record, const std::string& what) {
    return Error(ErrorCode::RecordCorrupt, what + " (record " + hexId(record.id) + " at offset " +
                                               std::to_string(record.offset) + ")");
}

struct PendingCell {
    int row = 0;  // 1-based
    Cell cell;
};

struct AutoFilterName {
    int sheetIndex = 0;  // 0-based into the BOUNDSHEET list
    RangeRef range;
};

// What the workbook globals (or, for BIFF2-4, the single sheet stream) define for all sheets.
struct Globals {
    BiffVersion version = BiffVersion::Biff8;
    CodePageDecoder decoder;
    bool date1904 = false;
    int activeTab = 0;
    std::vector<BoundSheetRecord> boundSheets;
    std::vector<std::string> sharedStrings;
    std::vector<FontRecord> fonts;
    std::unordered_map<int, std::string> formats;
    int implicitFormatCount = 0;  // BIFF2-4 number their formats in order
    std::vector<XfRecord> xfs;
    std::array<std::uint32_t, 56> palette = DefaultPalette;
    std::vector<AutoFilterName> autoFilters;
    ModelBudget budget;      // the cells of all sheets
    bool decrypted = false;  // the stream was decrypted before reading: its FILEPASS is done with
};

// The record and the CONTINUE records right after it.
std::vector<std::span<const std::uint8_t>> withContinues(const BiffRecord& first,
                                                         BiffCursor& cursor, Result<void>& status) {
    std::vector<std::span<const std::uint8_t>> segments{first.data};
    while (cursor.peekId() == biff::Continue) {
        BiffRecord next;
        Result<bool> more = cursor.next(next);
        if (!more) {
            status = more.error();
            break;
        }
        segments.push_back(next.data);
    }
    return segments;
}

Result<void> readSharedStrings(const BiffRecord& record, BiffCursor& cursor, Globals& globals) {
    Result<void> status;
    std::vector<std::span<const std::uint8_t>> segments = withContinues(record, cursor, status);
    if (!status) return status;
    if (record.data.size() < 8)
        return recordError(record, "SST record shorter than its 8-byte header");
    std::size_t unique = readU32(record.data, 4);
    std::size_t total = 0;
    for (auto segment : segments) total += segment.size();
    // Each string takes at least three bytes, whatever the header claims.
    globals.sharedStrings.reserve(std::min(unique, total / 3));
    ContinuedReader reader(std::move(segments));
    if (Result<void> skipped = reader.skip(8); !skipped) return skipped;
    while (globals.sharedStrings.size() < unique && !reader.atEnd()) {
        std::string text;
        if (Result<void> read = reader.readUnicodeString(text, true); !read) {
            return recordError(record, "shared string " +
                                           std::to_string(globals.sharedStrings.size()) + ": " +
                                           read.error().detail);
        }
        globals.sharedStrings.push_back(std::move(text));
    }
    return {};
}

// The _FilterDatabase built-in name gives the range of a sheet's autofilter.
void readFilterName(const BiffRecord& record, Globals& globals) {
    const auto& data = record.data;
    if (globals.version != BiffVersion::Biff8 || data.size() < 16) return;
    std::uint16_t flags = readU16(data, 0);
    std::size_t nameLength = data[3];
    std::size_t formulaLength = readU16(data, 4);
    int sheetTab = readU16(data, 8);
    if (!(flags & 0x0020) || nameLength != 1 || sheetTab == 0) return;
    bool wide = data[14] & 0x01;
    std::size_t offset = 15;
    if (data.size() < offset + (wide ? 2 : 1)) return;
    std::uint16_t builtin = wide ? readU16(data, offset) : data[offset];
    offset += wide ? 2 : 1;
    if (builtin != 0x0D || formulaLength < 9 || data.size() - offset < formulaLength) return;
    std::uint8_t token = data[offset];
    std::size_t area = 0;
    if (token == 0x3B || token == 0x5B || token == 0x7B) {
        if (formulaLength < 11) return;
        area = offset + 3;
    } else if (token == 0x25 || token == 0x45 || token == 0x65) {
        area = offset + 1;
    } else {
        return;
    }
    int firstRow = readU16(data, area) + 1;
    int lastRow = readU16(data, area + 2) + 1;
    int firstColumn = (readU16(data, area + 4) & 0x3FFF) + 1;
    int lastColumn = (readU16(data, area + 6) & 0x3FFF) + 1;
    if (firstRow > lastRow || firstColumn > lastColumn || lastColumn > XlsMaxColumns) return;
    globals.autoFilters.push_back(
        {sheetTab - 1, RangeRef{{firstRow, firstColumn}, {lastRow, lastColumn}}});
}

// Records that define formats; in BIFF5/8 they sit in the globals, in BIFF2-4 in the sheet.
Result<bool> readFormattingRecord(const BiffRecord& record, Globals& globals) {
    switch (record.id) {
        case biff::FilePass:
            if (globals.decrypted) return true;
            return Error(ErrorCode::EncryptedWorkbook,
                         "FILEPASS record at offset " + std::to_string(record.offset));
        case biff::CodePage:
            if (record.data.size() < 2)
                return recordError(record, "CODEPAGE record shorter than 2 bytes");
            // BIFF8 strings carry their own encoding; the code page matters for byte strings only.
            if (globals.version != BiffVersion::Biff8) {
                if (Result<void> set = globals.decoder.setCodePage(readU16(record.data, 0)); !set)
                    return set.error();
            }
            return true;
        case biff::DateMode:
            if (record.data.size() >= 2) globals.date1904 = readU16(record.data, 0) == 1;
            return true;
        case biff::Font:
        case biff::Font34: {
            Result<FontRecord> font = parseFont(record, globals.version, globals.decoder);
            if (!font) return font.error();
            // Font index 4 is never written; indexes above it are one higher than the record's
            // place.
            if (globals.fonts.size() == 4) globals.fonts.push_back(globals.fonts.front());
            globals.fonts.push_back(std::move(*font));
            return true;
        }
        case biff::Format:
        case biff::Format2: {
            Result<FormatRecord> format = parseFormat(record, globals.version, globals.decoder);
            if (!format) return format.error();
            int index = format->index ? *format->index : globals.implicitFormatCount++;
            globals.formats[index] = std::move(format->code);
            return true;
        }
        case biff::Xf:
        case biff::Xf4: {
            if ((record.id == biff::Xf4) != (globals.version == BiffVersion::Biff4)) return true;
            Result<XfRecord> xf = parseXf(record, globals.version);
            if (!xf) return xf.error();
            globals.xfs.push_back(*xf);
            return true;
        }
        case biff::Palette: {
            Result<std::vector<std::uint32_t>> colors = parsePalette(record);
            if (!colors) return colors.error();
            for (std::size_t i = 0; i < colors->size() && i < globals.palette.size(); ++i)
                globals.palette[i] = (*colors)[i];
            return true;
        }
        default:
            return false;
    }
}

Color paletteColor(std::uint16_t index, const Globals& globals) {
    if (index < 8) return 0xFF000000u | DefaultPalette[index];
    if (index < 64) return 0xFF000000u | (globals.palette[index - 8] & 0xFFFFFF);
    return std::nullopt;  // 64/65 system colours and 0x7FFF: automatic
}

CellStyle resolveStyle(const XfRecord& xf, const Globals& globals) {
    CellStyle style;
    std::size_t fontIndex = xf.fontIndex;
    if (fontIndex < globals.fonts.size()) {
        const FontRecord& record = globals.fonts[fontIndex];
        Font& font = style.font;
        font.name = record.name;
        font.size = record.heightPoints;
        font.bold = record.weight >= 700;
        font.italic = record.italic;
        font.strike = record.strike;
        switch (record.underline) {
            case 1:
                font.underline = "single";
                break;
            case 2:
                font.underline = "double";
                break;
            case 0x21:
                font.underline = "singleAccounting";
                break;
            case 0x22:
                font.underline = "doubleAccounting";
                break;
            default:
                break;
        }
        if (record.script == 1) font.verticalAlign = "superscript";
        if (record.script == 2) font.verticalAlign = "subscript";
        font.color = paletteColor(record.colorIndex, globals);
        font.family = record.family;
        if (record.charset != 0) font.charset = record.charset;
    }
    if (auto format = globals.formats.find(xf.formatIndex); format != globals.formats.end()) {
        style.numberFormat = format->second;
    } else if (globals.version == BiffVersion::Biff8 || globals.version == BiffVersion::Biff5) {
        std::string builtin = builtinNumberFormat(xf.formatIndex);
        if (!builtin.empty()) style.numberFormat = std::move(builtin);
    }
    if (style.numberFormat.empty()) style.numberFormat = "General";

    Alignment& alignment = style.alignment;
    alignment.horizontal = HorizontalNames[xf.horizontal & 0x07];
    alignment.vertical = xf.vertical < 5 ? VerticalNames[xf.vertical] : "";
    alignment.wrapText = xf.wrap;
    alignment.indent = xf.indent;
    alignment.textRotation = (xf.rotation <= 180 || xf.rotation == 255) ? xf.rotation : 0;
    alignment.shrinkToFit = xf.shrinkToFit;

    auto edge = [&](std::uint8_t lineStyle, std::uint8_t color) {
        BorderEdge result;
        if (lineStyle == 0 || lineStyle >= 14) return result;
        result.style = BorderNames[lineStyle];
        result.color = paletteColor(color, globals);
        return result;
    };
    style.border.left = edge(xf.leftStyle, xf.leftColor);
    style.border.right = edge(xf.rightStyle, xf.rightColor);
    style.border.top = edge(xf.topStyle, xf.topColor);
    style.border.bottom = edge(xf.bottomStyle, xf.bottomColor);
    if (xf.diagonalDown || xf.diagonalUp) {
        style.border.diagonal = edge(xf.diagonalStyle, xf.diagonalColor);
        style.border.diagonalDown = xf.diagonalDown;
        style.border.diagonalUp = xf.diagonalUp;
    }
    if (xf.pattern > 0 && xf.pattern < 19) {
        style.fill.pattern = PatternNames[xf.pattern];
        style.fill.foreground = paletteColor(xf.patternColor, globals);
        style.fill.background = paletteColor(xf.backgroundColor, globals);
    }
    style.protection.locked = xf.locked;
    style.protection.hidden = xf.hidden;
    return style;
}

const char* errorText(std::uint8_t code) {
    switch (code) {
        case 0x00:
            return "#NULL!";
        case 0x07:
            return "#DIV/0!";
        case 0x0F:
            return "#VALUE!";
        case 0x17:
            return "#REF!";
        case 0x1D:
            return "#NAME?";
        case 0x24:
            return "#NUM!";
        case 0x2A:
            return "#N/A";
        case 0x2B:
            return "#GETTING_DATA";
        default:
            return "#N/A";
    }
}

// Reads one sheet substream (BOF .. EOF, nested chart substreams skipped) into `sheet`.
class SheetReader {
public:
    SheetReader(Globals& globals, Sheet& sheet) : m_globals(globals), m_sheet(sheet) {}

    // Returns the offset after the sheet's EOF.
    Result<std::size_t> read(std::span<const std::uint8_t> stream, std::size_t offset,
                             bool formattingInSheet);
    Result<void> finish();
    bool isDialog() const { return m_dialog; }

private:
    Result<void> handle(const BiffRecord& record, BiffCursor& cursor);
    Result<void> addCell(const BiffRecord& record, int zeroBasedRow, int zeroBasedColumn,
                         std::uint16_t xf, CellType type, double number, std::string text,
                         bool formula = false);

    // Where the text of a string formula's STRING record goes: the last cell added.
    enum class StringTarget { None, LastInRows, LastOutOfOrder };

    Globals& m_globals;
    Sheet& m_sheet;
    // Cells in row and column order go straight into m_sheet.rows; the rare others wait here
    // and are merged in by finish().
    std::vector<PendingCell> m_outOfOrder;
    std::size_t m_cellCount = 0;
    std::size_t m_previousRowWidth = 0;
    std::vector<RowRecord> m_rows;
    StringTarget m_stringTarget = StringTarget::None;
    bool m_frozen = false;
    std::optional<PaneRecord> m_pane;
    bool m_hasAutoFilter = false;
    bool m_dialog = false;
};

Result<void> SheetReader::addCell(const BiffRecord& record, int zeroBasedRow, int zeroBasedColumn,
                                  std::uint16_t xf, CellType type, double number, std::string text,
                                  bool formula) {
    if (zeroBasedColumn >= XlsMaxColumns || zeroBasedRow >= XlsMaxRows) {
        // Formatting alone outside the grid loses nothing; a value there is a broken file.
        if (type == CellType::Empty && !formula) return {};
        return recordError(record, "cell " + std::to_string(zeroBasedRow + 1) + "," +
                                       std::to_string(zeroBasedColumn + 1) +
                                       " outside the 65536 x 256 grid");
    }
    if (++m_cellCount > MaxCellsPerSheet) {
        return Error(ErrorCode::SheetLimit, "sheet " + m_sheet.name + " has more than " +
                                                std::to_string(MaxCellsPerSheet) + " cell records");
    }
    Cell cell;
    cell.column = zeroBasedColumn + 1;
    cell.type = type;
    cell.style = xf;
    cell.number = number;
    cell.text = std::move(text);
    cell.hasFormula = formula;
    // A cell record of a few bytes may point at a shared string of 32767 characters: count
    // the memory the model really takes.
    if (!m_globals.budget.addCell(cell)) return m_globals.budget.error();
    const int rowNumber = zeroBasedRow + 1;
    std::vector<Row>& rows = m_sheet.rows;
    if (rows.empty() || rowNumber > rows.back().number) {
        if (!rows.empty()) m_previousRowWidth = rows.back().cells.size();
        rows.emplace_back();
        rows.back().number = rowNumber;
        // Rows of a sheet tend to be alike; this saves most regrowth of the cell vectors.
        rows.back().cells.reserve(m_previousRowWidth);
    }
    Row& last = rows.back();
    if (last.number == rowNumber &&
        (last.cells.empty() || cell.column > last.cells.back().column)) {
        last.cells.push_back(std::move(cell));
        m_stringTarget = StringTarget::LastInRows;
    } else {
        m_outOfOrder.push_back(PendingCell{rowNumber, std::move(cell)});
        m_stringTarget = StringTarget::LastOutOfOrder;
    }
    return {};
}

Result<std::size_t> SheetReader::read(std::span<const std::uint8_t> stream, std::size_t offset,
                                      bool formattingInSheet) {
    BiffCursor cursor(stream, offset);
    BiffRecord record;
    Result<bool> first = cursor.next(record);
    if (!first) return first.error();
    if (!*first || (record.id != biff::Bof && record.id != biff::Bof4 && record.id != biff::Bof3 &&
                    record.id != biff::Bof2)) {
        return Error(ErrorCode::RecordCorrupt, "sheet " + m_sheet.name +
                                                   " does not start with a BOF record at offset " +
                                                   std::to_string(offset));
    }
    int depth = 1;
    while (true) {
        Result<bool> more = cursor.next(record);
        if (!more) return more.error();
        if (!*more) {
            return Error(ErrorCode::RecordCorrupt,
                         "sheet " + m_sheet.name + " ends without its EOF record");
        }
        if (record.id == biff::Bof || record.id == biff::Bof4 || record.id == biff::Bof3 ||
            record.id == biff::Bof2) {
            ++depth;  // an embedded chart: its records are not cells of this sheet
            continue;
        }
        if (record.id == biff::Eof) {
            if (--depth == 0) break;
            continue;
        }
        if (depth != 1) continue;
        if (formattingInSheet) {
            Result<bool> taken = readFormattingRecord(record, m_globals);
            if (!taken) return taken.error();
            if (*taken) continue;
        }
        if (Result<void> handled = handle(record, cursor); !handled) return handled.error();
    }
    return cursor.offset();
}

Result<void> SheetReader::handle(const BiffRecord& record, BiffCursor& cursor) {
    const auto& data = record.data;
    const BiffVersion version = m_globals.version;
    switch (record.id) {
        case biff::Number: {
            if (data.size() < 14) return recordError(record, "NUMBER record shorter than 14 bytes");
            Result<CellHeader> cell = parseCellHeader(record);
            if (!cell) return cell.error();
            return addCell(record, cell->zeroBasedRow, cell->zeroBasedColumn, cell->xf,
                           CellType::Number, readF64(data, 6), {});
        }
        case biff::Rk: {
            if (data.size() < 10) return recordError(record, "RK record shorter than 10 bytes");
            Result<CellHeader> cell = parseCellHeader(record);
            if (!cell) return cell.error();
            return addCell(record, cell->zeroBasedRow, cell->zeroBasedColumn, cell->xf,
                           CellType::Number, decodeRk(readU32(data, 6)), {});
        }
        case biff::MulRk: {
            if (data.size() < 12 || (data.size() - 6) % 6 != 0) {
                return recordError(record,
                                   "MULRK record of " + std::to_string(data.size()) + " bytes");
            }
            int row = readU16(data, 0);
            int column = readU16(data, 2);
            std::size_t count = (data.size() - 6) / 6;
            for (std::size_t i = 0; i < count; ++i) {
                std::size_t at = 4 + 6 * i;
                if (Result<void> added =
                        addCell(record, row, column + static_cast<int>(i), readU16(data, at),
                                CellType::Number, decodeRk(readU32(data, at + 2)), {});
                    !added) {
                    return added;
                }
            }
            return {};
        }
        case biff::Blank: {
            Result<CellHeader> cell = parseCellHeader(record);
            if (!cell) return cell.error();
            return addCell(record, cell->zeroBasedRow, cell->zeroBasedColumn, cell->xf,
                           CellType::Empty, 0, {});
        }
        case biff::MulBlank: {
            if (data.size() < 8 || data.size() % 2 != 0) {
                return recordError(record,
                                   "MULBLANK record of " + std::to_string(data.size()) + " bytes");
            }
            int row = readU16(data, 0);
            int column = readU16(data, 2);
            std::size_t count = (data.size() - 6) / 2;
            for (std::size_t i = 0; i < count; ++i) {
                if (Result<void> added = addCell(record, row, column + static_cast<int>(i),
                                                 readU16(data, 4 + 2 * i), CellType::Empty, 0, {});
                    !added) {
                    return added;
                }
            }
            return {};
        }
        case biff::LabelSst: {
            if (data.size() < 10)
                return recordError(record, "LABELSST record shorter than 10 bytes");
            Result<CellHeader> cell = parseCellHeader(record);
            if (!cell) return cell.error();
            std::size_t index = readU32(data, 6);
            if (index >= m_globals.sharedStrings.size()) {
                return recordError(
                    record, "shared string index " + std::to_string(index) + " beyond the " +
                                std::to_string(m_globals.sharedStrings.size()) + " shared strings");
            }
            return addCell(record, cell->zeroBasedRow, cell->zeroBasedColumn, cell->xf,
                           CellType::Text, 0, m_globals.sharedStrings[index]);
        }
        case biff::Label:
        case biff::RString: {
            Result<CellHeader> cell = parseCellHeader(record);
            if (!cell) return cell.error();
            std::string text;
            std::size_t offset = 6;
            if (Result<void> read =
                    readRecordString(data, offset, 2, version, m_globals.decoder, text);
                !read) {
                return recordError(record, read.error().detail);
            }
            return addCell(record, cell->zeroBasedRow, cell->zeroBasedColumn, cell->xf,
                           CellType::Text, 0, std::move(text));
        }
        case biff::BoolErr: {
            if (data.size() < 8) return recordError(record, "BOOLERR record shorter than 8 bytes");
            Result<CellHeader> cell = parseCellHeader(record);
            if (!cell) return cell.error();
            if (data[7] != 0) {
                return addCell(record, cell->zeroBasedRow, cell->zeroBasedColumn, cell->xf,
                               CellType::Error, 0, errorText(data[6]));
            }
            return addCell(record, cell->zeroBasedRow, cell->zeroBasedColumn, cell->xf,
                           CellType::Boolean, data[6] != 0 ? 1.0 : 0.0, {});
        }
        case biff::Formula:
        case biff::Formula3:
        case biff::Formula4: {
            if (data.size() < 16)
                return recordError(record, "FORMULA record shorter than 16 bytes");
            Result<CellHeader> cell = parseCellHeader(record);
            if (!cell) return cell.error();
            m_stringTarget = StringTarget::None;
            int row = cell->zeroBasedRow;
            int column = cell->zeroBasedColumn;
            if (readU16(data, 12) != 0xFFFF) {
                return addCell(record, row, column, cell->xf, CellType::Number, readF64(data, 6),
                               {}, true);
            }
            switch (data[6]) {
                case 0: {
                    // The text follows in a STRING record.
                    return addCell(record, row, column, cell->xf, CellType::Text, 0, {}, true);
                }
                case 1:
                    return addCell(record, row, column, cell->xf, CellType::Boolean,
                                   data[8] != 0 ? 1.0 : 0.0, {}, true);
                case 2:
                    return addCell(record, row, column, cell->xf, CellType::Error, 0,
                                   errorText(data[8]), true);
                default:
                    return addCell(record, row, column, cell->xf, CellType::Empty, 0, {}, true);
            }
        }
        case biff::String: {
            Result<void> status;
            std::vector<std::span<const std::uint8_t>> segments =
                withContinues(record, cursor, status);
            if (!status) return status;
            std::string text;
            if (version == BiffVersion::Biff8) {
                ContinuedReader reader(std::move(segments));
                if (Result<void> read = reader.readUnicodeString(text, false); !read) {
                    return recordError(record, read.error().detail);
                }
            } else {
                std::size_t offset = 0;
                if (Result<void> read =
                        readRecordString(data, offset, 2, version, m_globals.decoder, text);
                    !read) {
                    return recordError(record, read.error().detail);
                }
            }
            if (m_stringTarget == StringTarget::LastInRows) {
                m_sheet.rows.back().cells.back().text = std::move(text);
            } else if (m_stringTarget == StringTarget::LastOutOfOrder) {
                m_outOfOrder.back().cell.text = std::move(text);
            }
            m_stringTarget = StringTarget::None;
            return {};
        }
        case biff::Row: {
            Result<RowRecord> row = parseRow(record, version);
            if (!row) return row.error();
            m_rows.push_back(*row);
            return {};
        }
        case biff::ColInfo: {
            Result<ColInfoRecord> info = parseColInfo(record);
            if (!info) return info.error();
            if (info->zeroBasedFirst >= XlsMaxColumns || info->zeroBasedFirst > info->zeroBasedLast)
                return {};
            if (m_sheet.columns.size() >= XlsMaxColumns)
                return recordError(record, "more COLINFO records than columns");
            ColumnInfo column;
            column.first = info->zeroBasedFirst + 1;
            column.last = std::min(info->zeroBasedLast, XlsMaxColumns - 1) + 1;
            column.width = info->width / 256.0;
            column.customWidth = true;
            column.hidden = info->hidden;
            if (info->xf != 15) column.style = info->xf;
            m_sheet.columns.push_back(column);
            return {};
        }
        case biff::DefColWidth:
            // The base width in characters; the default column adds the cell padding (5 pixels of
            // 7).
            if (data.size() >= 2 && m_sheet.defaultColumnWidth == 0.0) {
                m_sheet.defaultColumnWidth = readU16(data, 0) + 5.0 / 7.0;
            }
            return {};
        case biff::StandardWidth:
            if (data.size() >= 2) m_sheet.defaultColumnWidth = readU16(data, 0) / 256.0;
            return {};
        case biff::DefaultRowHeight:
            if (data.size() >= 4 && version != BiffVersion::Biff2) {
                m_sheet.defaultRowHeight = (readU16(data, 2) & 0x7FFF) / 20.0;
            }
            return {};
        case biff::MergedCells: {
            Result<std::vector<RangeRef>> ranges = parseMergedCells(record);
            if (!ranges) return ranges.error();
            if (m_sheet.merges.size() + ranges->size() > MaxMergesPerSheet) {
                return Error(ErrorCode::SheetLimit, "sheet " + m_sheet.name + " has more than " +
                                                        std::to_string(MaxMergesPerSheet) +
                                                        " merged ranges");
            }
            m_sheet.merges.insert(m_sheet.merges.end(), ranges->begin(), ranges->end());
            return {};
        }
        case biff::Window2: {
            Result<Window2Record> window = parseWindow2(record);
            if (!window) return window.error();
            m_frozen = window->frozen;
            return {};
        }
        case biff::Pane: {
            Result<PaneRecord> pane = parsePane(record);
            if (!pane) return pane.error();
            m_pane = *pane;
            return {};
        }
        case biff::AutoFilterInfo:
            m_hasAutoFilter = true;
            return {};
        case biff::WsBool:
            if (!data.empty() && (data[0] & 0x10)) m_dialog = true;
            return {};
        default:
            return {};
    }
}

Result<void> SheetReader::finish() {
    std::vector<Row>& rows = m_sheet.rows;
    if (!m_outOfOrder.empty()) {
        // Cell records out of order or repeated: merge them in; a later record wins.
        std::stable_sort(m_outOfOrder.begin(), m_outOfOrder.end(),
                         [](const PendingCell& a, const PendingCell& b) {
                             return a.row != b.row ? a.row < b.row : a.cell.column < b.cell.column;
                         });
        std::vector<Row> merged;
        merged.reserve(rows.size());
        std::size_t next = 0;
        auto takeGroup = [&](Row& row) {
            std::vector<Cell> cells;
            cells.reserve(row.cells.size());
            std::size_t existing = 0;
            auto put = [&](Cell&& cell) {
                if (!cells.empty() && cells.back().column == cell.column) {
                    cells.back() = std::move(cell);
                } else {
                    cells.push_back(std::move(cell));
                }
            };
            for (; next < m_outOfOrder.size() && m_outOfOrder[next].row == row.number; ++next) {
                Cell& cell = m_outOfOrder[next].cell;
                for (; existing < row.cells.size() && row.cells[existing].column <= cell.column;
                     ++existing) {
                    put(std::move(row.cells[existing]));
                }
                put(std::move(cell));
            }
            for (; existing < row.cells.size(); ++existing) put(std::move(row.cells[existing]));
            row.cells = std::move(cells);
        };
        for (Row& row : rows) {
            while (next < m_outOfOrder.size() && m_outOfOrder[next].row < row.number) {
                Row added;
                added.number = m_outOfOrder[next].row;
                takeGroup(added);
                merged.push_back(std::move(added));
            }
            takeGroup(row);
            merged.push_back(std::move(row));
        }
        while (next < m_outOfOrder.size()) {
            Row added;
            added.number = m_outOfOrder[next].row;
            takeGroup(added);
            merged.push_back(std::move(added));
        }
        rows = std::move(merged);
        m_outOfOrder.clear();
    }

    if (!m_rows.empty()) {
        // ROW records give heights, hidden flags and row formats; a row without cells is kept
        // only when it carries one of those. The last record of a row wins.
        std::stable_sort(m_rows.begin(), m_rows.end(), [](const RowRecord& a, const RowRecord& b) {
            return a.zeroBasedRow < b.zeroBasedRow;
        });
        auto apply = [](Row& row, const RowRecord& record) {
            row.height = record.heightTwips / 20.0;
            row.customHeight = record.customHeight;
            row.hidden = record.hidden;
            row.style = record.xf;
        };
        std::vector<Row> merged;
        merged.reserve(rows.size());
        std::size_t index = 0;
        for (std::size_t k = 0; k < m_rows.size(); ++k) {
            const RowRecord& record = m_rows[k];
            if (k + 1 < m_rows.size() && m_rows[k + 1].zeroBasedRow == record.zeroBasedRow)
                continue;
            const int number = record.zeroBasedRow + 1;
            for (; index < rows.size() && rows[index].number < number; ++index)
                merged.push_back(std::move(rows[index]));
            if (index < rows.size() && rows[index].number == number) {
                apply(rows[index], record);
                merged.push_back(std::move(rows[index++]));
            } else if (record.customHeight || record.hidden || record.xf) {
                Row row;
                row.number = number;
                apply(row, record);
                merged.push_back(std::move(row));
            }
        }
        for (; index < rows.size(); ++index) merged.push_back(std::move(rows[index]));
        rows = std::move(merged);
        m_rows.clear();
    }

    // Columns ascending and not overlapping.
    auto& columns = m_sheet.columns;
    std::stable_sort(columns.begin(), columns.end(),
                     [](const ColumnInfo& a, const ColumnInfo& b) { return a.first < b.first; });
    std::vector<ColumnInfo> clipped;
    for (ColumnInfo column : columns) {
        if (!clipped.empty() && column.first <= clipped.back().last)
            column.first = clipped.back().last + 1;
        if (column.first > column.last) continue;
        clipped.push_back(column);
    }
    columns = std::move(clipped);

    if (m_frozen && m_pane && (m_pane->rows > 0 || m_pane->columns > 0)) {
        m_sheet.frozenPane = FrozenPane{std::min<int>(m_pane->rows, XlsMaxRows - 1),
                                        std::min<int>(m_pane->columns, XlsMaxColumns - 1)};
    }
    return {};
}

void finishStyles(Globals& globals, WorkbookData& book) {
    book.styles.clear();
    for (const XfRecord& xf : globals.xfs) book.styles.push_back(resolveStyle(xf, globals));
    if (book.styles.empty()) book.styles.push_back(CellStyle{});
    std::vector<bool> isDate(book.styles.size());
    for (std::size_t i = 0; i < book.styles.size(); ++i)
        isDate[i] = isDateFormat(book.styles[i].numberFormat);
    auto clamp = [&](std::uint32_t style) { return style < book.styles.size() ? style : 0u; };
    for (Sheet& sheet : book.sheets) {
        for (Row& row : sheet.rows) {
            if (row.style) row.style = clamp(*row.style);
            for (Cell& cell : row.cells) {
                cell.style = clamp(cell.style);
                // A 1904 book's dates are shifted so that a copy shows the same date.
                if (globals.date1904 && cell.type == CellType::Number && isDate[cell.style]) {
                    cell.number += Date1904Offset;
                }
            }
        }
        for (ColumnInfo& column : sheet.columns) {
            if (column.style) column.style = clamp(*column.style);
        }
    }
}

// BIFF2-4 files hold a single worksheet as a raw record stream.
Result<WorkbookData> readSingleSheetStream(std::span<const std::uint8_t> stream,
                                           const BofRecord& bof, const std::string& sheetName) {
    if (bof.version == BiffVersion::Biff2 || bof.version == BiffVersion::Biff3) {
        return Error(ErrorCode::UnsupportedVersion,
                     std::string(bof.version == BiffVersion::Biff2 ? "BIFF2 (Excel 2.x)"
                                                                   : "BIFF3 (Excel 3.0)") +
                         " worksheet files are not read; save it again in a newer Excel format");
    }
    if (bof.type != 0x10) {
        return Error(ErrorCode::UnsupportedVersion,
                     "BIFF4 workbook files (Excel 4.0 bound sheets) are not read; only single "
                     "BIFF4 worksheets");
    }
    Globals globals;
    globals.version = bof.version;
    WorkbookData book;
    book.format = FileFormat::Xls;
    book.grid = XlsGrid;
    book.sheets.emplace_back();
    book.sheets.back().name = sheetName.empty() ? "Sheet1" : sheetName;
    SheetReader reader(globals, book.sheets.back());
    Result<std::size_t> end = reader.read(stream, 0, true);
    if (!end) return end.error();
    if (Result<void> finished = reader.finish(); !finished) return finished.error();
    book.date1904 = globals.date1904;
    finishStyles(globals, book);
    return book;
}

Result<WorkbookData> readWorkbookStream(std::span<const std::uint8_t> stream, bool streamNamedBook,
                                        const std::string& singleSheetName,
                                        bool decrypted = false) {
    BiffCursor cursor(stream);
    BiffRecord record;
    Result<bool> first = cursor.next(record);
    if (!first) return first.error();
    if (!*first) return Error(ErrorCode::RecordCorrupt, "the workbook stream is empty");
    if (record.id != biff::Bof && record.id != biff::Bof4 && record.id != biff::Bof3 &&
        record.id != biff::Bof2) {
        return Error(ErrorCode::RecordCorrupt,
                     "the workbook stream starts with record " + hexId(record.id) + ", not BOF");
    }
    Result<BofRecord> bof = parseBof(record);
    if (!bof) return bof.error();
    if (bof->version != BiffVersion::Biff5 && bof->version != BiffVersion::Biff8) {
        return readSingleSheetStream(stream, *bof, singleSheetName);
    }
    Globals globals;
    globals.version = bof->version;
    globals.decrypted = decrypted;
    // Some writers leave the BOF version at zero; the stream name tells BIFF5 ("Book") apart.
    if (record.data.size() >= 2 && readU16(record.data, 0) < 0x0500) {
        globals.version = streamNamedBook ? BiffVersion::Biff5 : BiffVersion::Biff8;
    }
    if (bof->type != 0x05) {
        return Error(ErrorCode::UnsupportedVersion,
                     "the workbook stream starts with a sheet (BOF type " +
                         std::to_string(bof->type) + "), not workbook globals");
    }
    bool sawEof = false;
    while (!sawEof) {
        Result<bool> more = cursor.next(record);
        if (!more) return more.error();
        if (!*more)
            return Error(ErrorCode::RecordCorrupt, "workbook globals end without their EOF record");
        Result<bool> taken = readFormattingRecord(record, globals);
        if (!taken) return taken.error();
        if (*taken) continue;
        switch (record.id) {
            case biff::Eof:
                sawEof = true;
                break;
            case biff::Window1:
                if (record.data.size() >= 12) globals.activeTab = readU16(record.data, 10);
                break;
            case biff::BoundSheet: {
                Result<BoundSheetRecord> sheet =
                    parseBoundSheet(record, globals.version, globals.decoder);
                if (!sheet) return sheet.error();
                globals.boundSheets.push_back(std::move(*sheet));
                break;
            }
            case biff::Sst:
                if (globals.version == BiffVersion::Biff8) {
                    if (Result<void> read = readSharedStrings(record, cursor, globals); !read)
                        return read.error();
                }
                break;
            case biff::Name:
                readFilterName(record, globals);
                break;
            default:
                break;
        }
    }
    if (globals.boundSheets.empty())
        return Error(ErrorCode::RecordCorrupt, "the workbook lists no sheets");

    WorkbookData book;
    book.format = FileFormat::Xls;
    book.grid = XlsGrid;
    book.date1904 = globals.date1904;
    book.sheets.resize(globals.boundSheets.size());
    // Substreams are read in stream order and must not overlap, so a hostile directory of
    // sheets cannot make the reader walk the same records again and again.
    std::vector<std::size_t> order(globals.boundSheets.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return globals.boundSheets[a].streamOffset < globals.boundSheets[b].streamOffset;
    });
    std::size_t readUpTo = cursor.offset();
    for (std::size_t index : order) {
        const BoundSheetRecord& bound = globals.boundSheets[index];
        Sheet& sheet = book.sheets[index];
        sheet.name = bound.name;
        sheet.visibility = bound.state == 1   ? Visibility::Hidden
                           : bound.state == 2 ? Visibility::VeryHidden
                                              : Visibility::Visible;
        if (bound.type == 2) {
            sheet.kind = SheetKind::Chart;
            continue;
        }
        if (bound.type != 0) {
            sheet.kind = SheetKind::Other;  // macro sheets and VB modules
            if (bound.type == 6) continue;
        }
        if (bound.streamOffset < readUpTo || bound.streamOffset >= stream.size()) {
            return Error(ErrorCode::RecordCorrupt,
                         "sheet " + bound.name + " starts at offset " +
                             std::to_string(bound.streamOffset) +
                             ", outside the stream or inside another sheet");
        }
        SheetReader reader(globals, sheet);
        Result<std::size_t> end = reader.read(stream, bound.streamOffset, false);
        if (!end) return end.error();
        readUpTo = *end;
        if (Result<void> finished = reader.finish(); !finished) return finished.error();
        if (reader.isDialog()) sheet.kind = SheetKind::Other;
    }
    for (const AutoFilterName& filter : globals.autoFilters) {
        if (filter.sheetIndex >= 0 &&
            static_cast<std::size_t>(filter.sheetIndex) < book.sheets.size()) {
            book.sheets[static_cast<std::size_t>(filter.sheetIndex)].autoFilter = filter.range;
        }
    }
    book.activeSheet =
        globals.activeTab >= 0 && static_cast<std::size_t>(globals.activeTab) < book.sheets.size()
            ? globals.activeTab
            : 0;
    finishStyles(globals, book);
    return book;
}

bool startsWithBof(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 4) return false;
    std::uint16_t id = readU16(bytes, 0);
    return id == biff::Bof || id == biff::Bof4 || id == biff::Bof3 || id == biff::Bof2;
}

}  // namespace

Result<WorkbookData> readXls(std::span<const std::uint8_t> bytes,
                             const std::string& singleSheetName,
                             std::span<const std::string> passwords) {
    if (!isCompoundFile(bytes)) {
        if (startsWithBof(bytes)) return readWorkbookStream(bytes, false, singleSheetName);
        return Error(ErrorCode::UnknownFormat, "neither a compound file nor a BIFF record stream");
    }
    Result<CompoundFile> file = CompoundFile::open(bytes);
    if (!file) return file.error();
    if (file->findStream("EncryptionInfo") != nullptr ||
        file->findStream("EncryptedPackage") != nullptr) {
        return Error(ErrorCode::EncryptedWorkbook,
                     "password-protected OOXML package (EncryptedPackage stream)");
    }
    const CfbEntry* stream = file->findStream("Workbook");
    bool namedBook = false;
    if (stream == nullptr) {
        stream = file->findStream("Book");
        namedBook = stream != nullptr;
    }
    if (stream == nullptr) {
        if (file->findStream("WordDocument") != nullptr ||
            file->findStream("PowerPoint Document") != nullptr) {
            return Error(ErrorCode::UnknownFormat,
                         "a compound file of another program (Word or PowerPoint)");
        }
        return Error(ErrorCode::PartMissing, "the compound file has no Workbook or Book stream");
    }
    Result<std::vector<std::uint8_t>> data = file->readStream(*stream);
    if (!data) return data.error();
    Result<bool> decrypted = decryptWorkbookStream(*data, passwords);
    if (!decrypted) return decrypted.error();
    return readWorkbookStream(*data, namedBook, singleSheetName, *decrypted);
}

Result<WorkbookData> readXls(std::span<const std::uint8_t> bytes) {
    return readXls(bytes, std::string());
}

}  // namespace spreadsheet
