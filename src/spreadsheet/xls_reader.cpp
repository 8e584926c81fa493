#include "spreadsheet/xls_reader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <unordered_map>

#include "spreadsheet/biff_crypto.h"
#include "spreadsheet/biff_records.h"
#include "spreadsheet/cfb.h"
#include "spreadsheet/reader_limits.h"
#include "spreadsheet/sheet_builder.h"

namespace spreadsheet {
namespace {

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

bool isBof(std::uint16_t id) {
    return id == biff::Bof || id == biff::Bof4 || id == biff::Bof3 || id == biff::Bof2;
}

// What the workbook globals (or, for BIFF2-4, the single sheet stream) define for all sheets.
struct Globals {
    BiffVersion version = BiffVersion::Biff8;
    CodePageDecoder decoder;
    bool date1904 = false;
    int activeTab = 0;
    std::vector<BoundSheetRecord> boundSheets;
    std::vector<std::string> sharedStrings;
    // The formatting runs of the rich shared strings, by string index, ascending; their fonts
    // are FONT indexes as the file gives them.
    std::vector<std::pair<std::uint32_t, TextRuns>> sharedStringRuns;
    std::vector<FontRecord> fonts;
    std::unordered_map<int, std::string> formats;
    int implicitFormatCount = 0;  // BIFF2-4 number their formats in order
    std::vector<XfRecord> xfs;
    // Cell formats of the sheets read before (Excel 4.0 workbooks give each sheet its own):
    // counted with `xfs` against the style table limit.
    std::size_t stylesBefore = 0;
    // Excel 2.x files without XF records format each cell by its attribute block; those
    // blocks become XF entries here, one per distinct block. Decided at the first cell.
    bool biff2StylesDecided = false;
    bool biff2AttributeStyles = false;
    std::unordered_map<std::uint32_t, std::uint32_t> biff2AttributeXfs;
    std::array<std::uint32_t, 56> palette = DefaultPalette;
    std::size_t paletteEntries = 0;       // colours a PALETTE record gave
    std::map<int, RangeRef> autoFilters;  // of worksheets, by 0-based index into BOUNDSHEETs
    bool decrypted = false;  // the stream was decrypted before reading: its FILEPASS is done with
};

// Fonts, number formats and cell formats are tables a cell indexes; no book needs more
// entries than MaxStyleTableEntries, and a hostile one would spend gigabytes on them.
Result<void> checkStyleTable(const BiffRecord& record, std::size_t entries, const char* table) {
    if (entries < MaxStyleTableEntries) return {};
    return Error(ErrorCode::SheetLimit, "more than " + std::to_string(MaxStyleTableEntries) + " " +
                                            table + " (style table limit; record " +
                                            hexId(record.id) + " at offset " +
                                            std::to_string(record.offset) + ")");
}

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

// The shared string table, each string counted against the book's memory budget: a table of
// tiny strings takes far more memory than file.
Result<void> readSharedStrings(const BiffRecord& record, BiffCursor& cursor, Globals& globals,
                               ModelBudget& budget) {
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
    std::vector<FormatRun> formatRuns;
    while (globals.sharedStrings.size() < unique && !reader.atEnd()) {
        std::string text;
        formatRuns.clear();
        if (Result<void> read = reader.readUnicodeString(text, true, &formatRuns); !read) {
            return recordError(record, "shared string " +
                                           std::to_string(globals.sharedStrings.size()) + ": " +
                                           read.error().detail);
        }
        if (!budget.addText(text)) return budget.error();
        if (!formatRuns.empty()) {
            // Characters before the first run show in the cell's font.
            TextRuns runs;
            runs.reserve(formatRuns.size());
            for (const FormatRun& run : formatRuns)
                runs.push_back(
                    {static_cast<std::uint32_t>(utf8OffsetOfUnit(text, run.character)), run.font});
            normaliseRuns(runs, text);
            if (!runs.empty()) {
                if (!budget.addRuns(runs)) return budget.error();
                globals.sharedStringRuns.emplace_back(
                    static_cast<std::uint32_t>(globals.sharedStrings.size()), std::move(runs));
            }
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
    // A later name for the same sheet wins.
    globals.autoFilters[sheetTab - 1] = RangeRef{{firstRow, firstColumn}, {lastRow, lastColumn}};
}

// ---------------------------------------------------------------------------------------------
// Formatting records: in BIFF5/8 they sit in the globals, in BIFF2-4 in the sheet.

Result<void> readCodePage(const BiffRecord& record, Globals& globals) {
    if (record.data.size() < 2) return recordError(record, "CODEPAGE record shorter than 2 bytes");
    // BIFF8 strings carry their own encoding; the code page matters for byte strings only.
    if (globals.version == BiffVersion::Biff8) return {};
    // A code page no program writes (0, a damaged value) counts as a missing CODEPAGE record:
    // spreadsheet programs then read the bytes in the system's code page, here Windows-1252.
    Result<void> set = globals.decoder.setCodePage(readU16(record.data, 0));
    static_cast<void>(set);
    return {};
}

// The Windows code page of a FONT record's character set, 0 for ANSI or one without its own.
std::uint16_t codePageOfCharset(std::uint8_t charset) {
    switch (charset) {
        case 128:
            return 932;  // Shift_JIS
        case 129:
            return 949;  // Hangul
        case 130:
            return 1361;  // Johab
        case 134:
            return 936;  // GB2312
        case 136:
            return 950;  // Big5
        case 161:
            return 1253;
        case 162:
            return 1254;
        case 163:
            return 1258;
        case 177:
            return 1255;
        case 178:
            return 1256;
        case 186:
            return 1257;
        case 204:
            return 1251;
        case 222:
            return 874;
        case 238:
            return 1250;
        default:
            return 0;
    }
}

Result<void> readFont(const BiffRecord& record, Globals& globals) {
    if (Result<void> room = checkStyleTable(record, globals.fonts.size(), "fonts"); !room)
        return room;
    // A BIFF5 book without a CODEPAGE record: its default font's character set tells the code
    // page the writer's system used (a Chinese system's fonts say GB2312), as LibreOffice reads
    // such books.
    if (globals.version == BiffVersion::Biff5 && globals.fonts.empty() &&
        !globals.decoder.isSet() && record.data.size() > 12) {
        if (std::uint16_t codePage = codePageOfCharset(record.data[12]); codePage != 0) {
            Result<void> set = globals.decoder.setCodePage(codePage);
            static_cast<void>(set);
        }
    }
    Result<FontRecord> font = parseFont(record, globals.version, globals.decoder);
    if (!font) return font.error();
    // Font index 4 is never written; indexes above it are one higher than the record's place.
    if (globals.fonts.size() == 4) globals.fonts.push_back(globals.fonts.front());
    globals.fonts.push_back(std::move(*font));
    return {};
}

Result<void> readFormat(const BiffRecord& record, Globals& globals) {
    if (Result<void> room = checkStyleTable(record, globals.formats.size(), "number formats");
        !room)
        return room;
    Result<FormatRecord> format = parseFormat(record, globals.version, globals.decoder);
    if (!format) return format.error();
    int index = format->index ? *format->index : globals.implicitFormatCount++;
    globals.formats[index] = std::move(format->code);
    return {};
}

// The XF record id of each version; XF records of another version are not this file's.
std::uint16_t xfRecordId(BiffVersion version) {
    switch (version) {
        case BiffVersion::Biff2:
            return biff::Xf2;
        case BiffVersion::Biff3:
            return biff::Xf3;
        case BiffVersion::Biff4:
            return biff::Xf4;
        default:
            return biff::Xf;
    }
}

Result<void> readXf(const BiffRecord& record, Globals& globals) {
    if (record.id != xfRecordId(globals.version) || globals.biff2AttributeStyles) return {};
    if (Result<void> room =
            checkStyleTable(record, globals.stylesBefore + globals.xfs.size(), "cell formats");
        !room)
        return room;
    Result<XfRecord> xf = parseXf(record, globals.version);
    if (!xf) return xf.error();
    globals.xfs.push_back(*xf);
    return {};
}

Result<void> readPalette(const BiffRecord& record, Globals& globals) {
    Result<std::vector<std::uint32_t>> colors = parsePalette(record);
    if (!colors) return colors.error();
    for (std::size_t i = 0; i < colors->size() && i < globals.palette.size(); ++i)
        globals.palette[i] = (*colors)[i];
    globals.paletteEntries = std::min(colors->size(), globals.palette.size());
    return {};
}

// Reads the record when it defines formats; false for any other record.
Result<bool> readFormattingRecord(const BiffRecord& record, Globals& globals) {
    Result<void> read;
    switch (record.id) {
        case biff::FilePass:
            if (globals.decrypted) return true;
            return Error(ErrorCode::EncryptedWorkbook,
                         "FILEPASS record at offset " + std::to_string(record.offset));
        case biff::CodePage:
            read = readCodePage(record, globals);
            break;
        case biff::DateMode:
            if (record.data.size() >= 2) globals.date1904 = readU16(record.data, 0) == 1;
            break;
        case biff::Font:
        case biff::Font34:
            read = readFont(record, globals);
            break;
        case biff::FontColor2:
            // Excel 2.x gives a font's colour in a record of its own after the FONT.
            if (globals.version == BiffVersion::Biff2 && record.data.size() >= 2 &&
                !globals.fonts.empty())
                globals.fonts.back().colorIndex = readU16(record.data, 0);
            break;
        case biff::Format:
        case biff::Format2:
            read = readFormat(record, globals);
            break;
        case biff::Xf:
        case biff::Xf2:
        case biff::Xf3:
        case biff::Xf4:
            read = readXf(record, globals);
            break;
        case biff::Palette:
            read = readPalette(record, globals);
            break;
        default:
            return false;
    }
    if (!read) return read.error();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Styles

// Indexes 0-7 are fixed colours, then come the palette's: 56 in BIFF5 and later, 16 in BIFF3
// and BIFF4, none in Excel 2.x, unless a PALETTE record gives more. Past them sit the system
// colours (BIFF2-4: 24 window text, 25 window background; BIFF5 and later: 64 and 65) and
// 0x7FFF, all of them the automatic colour.
Color paletteColor(std::uint16_t index, const Globals& globals) {
    if (index < 8) return 0xFF000000u | DefaultPalette[index];
    std::size_t versionEntries = globals.version == BiffVersion::Biff2   ? 0
                                 : globals.version == BiffVersion::Biff3 ? 16
                                 : globals.version == BiffVersion::Biff4 ? 16
                                                                         : 56;
    std::size_t entry = index - 8u;
    if (entry < std::max(versionEntries, globals.paletteEntries) && entry < globals.palette.size())
        return 0xFF000000u | (globals.palette[entry] & 0xFFFFFF);
    return std::nullopt;
}

Font resolveFont(const FontRecord& record, const Globals& globals) {
    Font font;
    {
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
    return font;
}

CellStyle resolveStyle(const XfRecord& xf, const Globals& globals) {
    CellStyle style;
    if (xf.fontIndex < globals.fonts.size())
        style.font = resolveFont(globals.fonts[xf.fontIndex], globals);
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

// ---------------------------------------------------------------------------------------------
// Sheets

// Reads one sheet substream (BOF .. EOF, nested chart substreams skipped) into its builder:
// one function per record kind.
class SheetReader {
public:
    SheetReader(Globals& globals, SheetBuilder& sheet, std::string sheetName)
        : m_globals(globals), m_sheet(sheet), m_sheetName(std::move(sheetName)) {}

    // Returns the offset after the sheet's EOF.
    Result<std::size_t> read(std::span<const std::uint8_t> stream, std::size_t offset,
                             bool formattingInSheet);
    // Hands over what waits for the end of the sheet: the last cell, pane and default width.
    Result<void> finish();
    bool isDialog() const { return m_dialog; }

private:
    Result<void> handle(const BiffRecord& record, BiffCursor& cursor);
    // Records of Excel 2.x and of BIFF2-4 alone; false for any other record.
    Result<bool> handleBiff2(const BiffRecord& record);
    Result<void> readBiff2Cell(const BiffRecord& record);
    Result<void> readBiff2Columns(const BiffRecord& record);
    // The style of an Excel 2.x attribute block: its XF index, or an XF made from the block.
    Result<std::uint32_t> biff2Style(const BiffRecord& record,
                                     const std::array<std::uint8_t, 3>& attributes);
    Result<void> readNumber(const BiffRecord& record);
    Result<void> readRk(const BiffRecord& record);
    Result<void> readMulRk(const BiffRecord& record);
    Result<void> readBlank(const BiffRecord& record);
    Result<void> readMulBlank(const BiffRecord& record);
    Result<void> readLabelSst(const BiffRecord& record);
    Result<void> readLabel(const BiffRecord& record);
    Result<void> readRString(const BiffRecord& record);
    Result<void> readBoolErr(const BiffRecord& record);
    Result<void> readFormula(const BiffRecord& record);
    // A formula cell with the 8-byte cached result of its record.
    Result<void> addFormulaCell(const BiffRecord& record, int zeroBasedRow, int zeroBasedColumn,
                                std::uint32_t xf, std::span<const std::uint8_t> result);
    Result<void> readString(const BiffRecord& record, BiffCursor& cursor);
    Result<void> readRow(const BiffRecord& record);
    Result<void> readColInfo(const BiffRecord& record);
    Result<void> readDefaultRowHeight(const BiffRecord& record);
    Result<void> readMergedCells(const BiffRecord& record);
    Result<void> readWindow2(const BiffRecord& record);
    Result<void> readPane(const BiffRecord& record);

    Result<void> addCell(const BiffRecord& record, int zeroBasedRow, int zeroBasedColumn,
                         std::uint32_t xf, CellType type, double number, std::string text,
                         bool formula = false);
    Result<void> handOverHeldCell();
    void finishBiff2Columns();
    // A cell of rich text: handed over at once with its runs (no STRING record follows it).
    Result<void> addRichTextCell(const BiffRecord& record, const CellHeader& cell, std::string text,
                                 TextRuns runs);

    Globals& m_globals;
    SheetBuilder& m_sheet;
    std::string m_sheetName;
    // The last cell read waits here until the next one, since the text of a string formula
    // comes after it in a STRING record.
    bool m_holding = false;
    int m_heldRow = 0;
    Cell m_held;
    bool m_heldTakesString = false;
    std::size_t m_columnRecords = 0;
    double m_defaultColumnWidth = 0.0;
    bool m_frozen = false;
    std::optional<PaneRecord> m_pane;
    bool m_dialog = false;
    // Excel 2.x: the XF index of cells whose attribute block says 63, and the widths and
    // formats of single columns (COLWIDTH and COLUMNDEFAULT), joined into runs at the end.
    std::uint32_t m_ixfe = 0;
    struct Biff2Column {
        std::optional<std::uint16_t> width;
        std::optional<std::uint32_t> style;
        bool operator==(const Biff2Column&) const = default;
    };
    std::vector<Biff2Column> m_biff2Columns;
};

Result<void> SheetReader::addCell(const BiffRecord& record, int zeroBasedRow, int zeroBasedColumn,
                                  std::uint32_t xf, CellType type, double number, std::string text,
                                  bool formula) {
    if (zeroBasedColumn >= XlsMaxColumns || zeroBasedRow >= XlsMaxRows) {
        // Formatting alone outside the grid loses nothing; a value there is a broken file.
        if (type == CellType::Empty && !formula) return {};
        return recordError(record, "cell " + std::to_string(zeroBasedRow + 1) + "," +
                                       std::to_string(zeroBasedColumn + 1) +
                                       " outside the 65536 x 256 grid");
    }
    if (Result<void> handed = handOverHeldCell(); !handed) return handed;
    m_held = Cell{};
    m_held.column = zeroBasedColumn + 1;
    m_held.type = type;
    m_held.style = xf;
    m_held.number = number;
    m_held.text = std::move(text);
    m_held.hasFormula = formula;
    m_heldRow = zeroBasedRow + 1;
    m_holding = true;
    m_heldTakesString = true;
    return {};
}

Result<void> SheetReader::handOverHeldCell() {
    if (!m_holding) return {};
    m_holding = false;
    return m_sheet.addCell(m_heldRow, std::move(m_held));
}

Result<std::size_t> SheetReader::read(std::span<const std::uint8_t> stream, std::size_t offset,
                                      bool formattingInSheet) {
    BiffCursor cursor(stream, offset);
    BiffRecord record;
    Result<bool> first = cursor.next(record);
    if (!first) return first.error();
    if (!*first || !isBof(record.id)) {
        return Error(ErrorCode::RecordCorrupt, "sheet " + m_sheetName +
                                                   " does not start with a BOF record at offset " +
                                                   std::to_string(offset));
    }
    int depth = 1;
    while (true) {
        Result<bool> more = cursor.next(record);
        if (!more) return more.error();
        if (!*more) {
            // A stream cut inside its last record loses the sheet's EOF with it; what came
            // before is whole, and spreadsheet programs show it.
            if (cursor.cutShort()) break;
            return Error(ErrorCode::RecordCorrupt,
                         "sheet " + m_sheetName + " ends without its EOF record");
        }
        if (isBof(record.id)) {
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
    if (m_globals.version <= BiffVersion::Biff4) {
        Result<bool> taken = handleBiff2(record);
        if (!taken) return taken.error();
        if (*taken) return {};
    }
    switch (record.id) {
        case biff::Number:
            return readNumber(record);
        case biff::Rk:
            return readRk(record);
        case biff::MulRk:
            return readMulRk(record);
        case biff::Blank:
            return readBlank(record);
        case biff::MulBlank:
            return readMulBlank(record);
        case biff::LabelSst:
            return readLabelSst(record);
        case biff::Label:
            return readLabel(record);
        case biff::RString:
            return readRString(record);
        case biff::BoolErr:
            return readBoolErr(record);
        case biff::Formula:
        case biff::Formula3:
        case biff::Formula4:
            return readFormula(record);
        case biff::String:
        case biff::String2:
            return readString(record, cursor);
        case biff::Row:
            return readRow(record);
        case biff::ColInfo:
            return readColInfo(record);
        case biff::DefColWidth:
            // The base width in characters; the default column adds the cell padding (5 pixels
            // of 7). STANDARDWIDTH, when there is one, says it exactly and wins.
            if (data.size() >= 2 && m_defaultColumnWidth == 0.0)
                m_defaultColumnWidth = readU16(data, 0) + 5.0 / 7.0;
            return {};
        case biff::StandardWidth:
            if (data.size() >= 2) m_defaultColumnWidth = readU16(data, 0) / 256.0;
            return {};
        case biff::DefaultRowHeight:
            return readDefaultRowHeight(record);
        case biff::MergedCells:
            return readMergedCells(record);
        case biff::Window2:
            return readWindow2(record);
        case biff::Pane:
            return readPane(record);
        case biff::WsBool:
            if (!data.empty() && (data[0] & 0x10)) m_dialog = true;
            return {};
        default:
            return {};
    }
}

Result<bool> SheetReader::handleBiff2(const BiffRecord& record) {
    const auto& data = record.data;
    const bool biff2 = m_globals.version == BiffVersion::Biff2;
    switch (record.id) {
        // Excel 2.x cell records; BIFF3 and BIFF4 files may still hold them.
        case biff::Blank2:
        case biff::Integer2:
        case biff::Number2:
        case biff::Label2:
        case biff::BoolErr2:
            if (Result<void> read = readBiff2Cell(record); !read) return read.error();
            return true;
        case biff::Formula: {
            if (!biff2) return false;
            if (data.size() < 16)
                return recordError(record, "FORMULA record shorter than 16 bytes");
            Result<Biff2CellHeader> cell = parseBiff2CellHeader(record);
            if (!cell) return cell.error();
            Result<std::uint32_t> style = biff2Style(record, cell->attributes);
            if (!style) return style.error();
            if (Result<void> added = addFormulaCell(
                    record, cell->zeroBasedRow, cell->zeroBasedColumn, *style, data.subspan(7, 8));
                !added)
                return added.error();
            return true;
        }
        case biff::Row2:
            if (!biff2) return false;
            if (Result<void> read = readRow(record); !read) return read.error();
            return true;
        case biff::ColWidth2:
        case biff::ColumnDefault2:
            if (!biff2) return false;
            if (Result<void> read = readBiff2Columns(record); !read) return read.error();
            return true;
        case biff::DefaultRowHeight2:
            if (!biff2) return false;
            if (data.size() >= 2) m_sheet.setDefaultRowHeight((readU16(data, 0) & 0x7FFF) / 20.0);
            return true;
        case biff::Window2Biff2:
            if (!biff2) return false;
            if (Result<void> read = readWindow2(record); !read) return read.error();
            return true;
        case biff::Ixfe2:
            // Applies to every cell record after it whose attribute block says 63.
            if (data.size() >= 2) m_ixfe = readU16(data, 0);
            return true;
        default:
            return false;
    }
}

Result<void> SheetReader::readBiff2Cell(const BiffRecord& record) {
    const auto& data = record.data;
    Result<Biff2CellHeader> cell = parseBiff2CellHeader(record);
    if (!cell) return cell.error();
    Result<std::uint32_t> style = biff2Style(record, cell->attributes);
    if (!style) return style.error();
    const int row = cell->zeroBasedRow;
    const int column = cell->zeroBasedColumn;
    switch (record.id) {
        case biff::Integer2:
            if (data.size() < 9) return recordError(record, "INTEGER record shorter than 9 bytes");
            return addCell(record, row, column, *style, CellType::Number, readU16(data, 7), {});
        case biff::Number2:
            if (data.size() < 15) return recordError(record, "NUMBER record shorter than 15 bytes");
            return addCell(record, row, column, *style, CellType::Number, readF64(data, 7), {});
        case biff::Label2: {
            std::string text;
            std::size_t offset = 7;
            if (Result<void> read =
                    readRecordString(data, offset, 1, m_globals.version, m_globals.decoder, text);
                !read)
                return recordError(record, read.error().detail);
            return addCell(record, row, column, *style, CellType::Text, 0, std::move(text));
        }
        case biff::BoolErr2:
            if (data.size() < 9) return recordError(record, "BOOLERR record shorter than 9 bytes");
            if (data[8] != 0)
                return addCell(record, row, column, *style, CellType::Error, 0, errorText(data[7]));
            return addCell(record, row, column, *style, CellType::Boolean, data[7] != 0 ? 1.0 : 0.0,
                           {});
        default:
            return addCell(record, row, column, *style, CellType::Empty, 0, {});
    }
}

// COLWIDTH and COLUMNDEFAULT name single columns; finish() joins equal neighbours into runs.
Result<void> SheetReader::readBiff2Columns(const BiffRecord& record) {
    m_biff2Columns.resize(XlsMaxColumns);
    if (record.id == biff::ColWidth2) {
        Result<ColWidthRecord> widths = parseColWidth(record);
        if (!widths) return widths.error();
        for (int column = widths->zeroBasedFirst; column <= widths->zeroBasedLast; ++column)
            m_biff2Columns[static_cast<std::size_t>(column)].width = widths->width;
        return {};
    }
    Result<ColumnDefaultRecord> defaults = parseColumnDefault(record);
    if (!defaults) return defaults.error();
    for (std::size_t i = 0; i < defaults->attributes.size(); ++i) {
        Result<std::uint32_t> style = biff2Style(record, defaults->attributes[i]);
        if (!style) return style.error();
        m_biff2Columns[static_cast<std::size_t>(defaults->zeroBasedFirst) + i].style = *style;
    }
    return {};
}

void SheetReader::finishBiff2Columns() {
    for (std::size_t first = 0; first < m_biff2Columns.size();) {
        std::size_t last = first;
        while (last + 1 < m_biff2Columns.size() &&
               m_biff2Columns[last + 1] == m_biff2Columns[first])
            ++last;
        const Biff2Column& run = m_biff2Columns[first];
        if (run.width || run.style) {
            ColumnInfo columns;
            columns.first = static_cast<int>(first) + 1;
            columns.last = static_cast<int>(last) + 1;
            if (run.width) {
                columns.width = *run.width / 256.0;
                columns.customWidth = true;
            }
            columns.style = run.style;
            m_sheet.addColumns(columns);
        }
        first = last + 1;
    }
}

Result<std::uint32_t> SheetReader::biff2Style(const BiffRecord& record,
                                              const std::array<std::uint8_t, 3>& attributes) {
    // Excel 2.1 writes XF records and gives each cell an XF index; Excel 2.0 and other
    // writers give none, and the attribute block itself is the cell's format.
    if (!m_globals.biff2StylesDecided) {
        m_globals.biff2StylesDecided = true;
        m_globals.biff2AttributeStyles =
            m_globals.version == BiffVersion::Biff2 && m_globals.xfs.empty();
    }
    if (!m_globals.biff2AttributeStyles) {
        std::uint32_t index = attributes[0] & 0x3F;
        return index == 63 ? m_ixfe : index;
    }
    // The XF index bits are unused here; protection, format, font and flags make the format.
    const std::uint32_t key = (attributes[0] & 0xC0u) | (std::uint32_t{attributes[1]} << 8) |
                              (std::uint32_t{attributes[2]} << 16);
    if (auto known = m_globals.biff2AttributeXfs.find(key);
        known != m_globals.biff2AttributeXfs.end())
        return known->second;
    // 18 bits make a block's format, so these entries stay within the style table limit.
    if (Result<void> room = checkStyleTable(record, m_globals.xfs.size(), "cell formats"); !room)
        return room.error();
    const std::uint32_t index = static_cast<std::uint32_t>(m_globals.xfs.size());
    m_globals.xfs.push_back(biff2Xf(
        attributes[1] >> 6,
        static_cast<std::uint8_t>((attributes[1] & 0x3F) | (attributes[0] & 0xC0)), attributes[2]));
    m_globals.biff2AttributeXfs.emplace(key, index);
    return index;
}

Result<void> SheetReader::readNumber(const BiffRecord& record) {
    if (record.data.size() < 14) return recordError(record, "NUMBER record shorter than 14 bytes");
    Result<CellHeader> cell = parseCellHeader(record);
    if (!cell) return cell.error();
    return addCell(record, cell->zeroBasedRow, cell->zeroBasedColumn, cell->xf, CellType::Number,
                   readF64(record.data, 6), {});
}

Result<void> SheetReader::readRk(const BiffRecord& record) {
    if (record.data.size() < 10) return recordError(record, "RK record shorter than 10 bytes");
    Result<CellHeader> cell = parseCellHeader(record);
    if (!cell) return cell.error();
    return addCell(record, cell->zeroBasedRow, cell->zeroBasedColumn, cell->xf, CellType::Number,
                   decodeRk(readU32(record.data, 6)), {});
}

Result<void> SheetReader::readMulRk(const BiffRecord& record) {
    const auto& data = record.data;
    if (data.size() < 12 || (data.size() - 6) % 6 != 0)
        return recordError(record, "MULRK record of " + std::to_string(data.size()) + " bytes");
    int row = readU16(data, 0);
    int column = readU16(data, 2);
    std::size_t count = (data.size() - 6) / 6;
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t at = 4 + 6 * i;
        if (Result<void> added =
                addCell(record, row, column + static_cast<int>(i), readU16(data, at),
                        CellType::Number, decodeRk(readU32(data, at + 2)), {});
            !added)
            return added;
    }
    return {};
}

Result<void> SheetReader::readBlank(const BiffRecord& record) {
    Result<CellHeader> cell = parseCellHeader(record);
    if (!cell) return cell.error();
    return addCell(record, cell->zeroBasedRow, cell->zeroBasedColumn, cell->xf, CellType::Empty, 0,
                   {});
}

Result<void> SheetReader::readMulBlank(const BiffRecord& record) {
    const auto& data = record.data;
    if (data.size() < 8 || data.size() % 2 != 0)
        return recordError(record, "MULBLANK record of " + std::to_string(data.size()) + " bytes");
    int row = readU16(data, 0);
    int column = readU16(data, 2);
    std::size_t count = (data.size() - 6) / 2;
    for (std::size_t i = 0; i < count; ++i) {
        if (Result<void> added = addCell(record, row, column + static_cast<int>(i),
                                         readU16(data, 4 + 2 * i), CellType::Empty, 0, {});
            !added)
            return added;
    }
    return {};
}

Result<void> SheetReader::readLabelSst(const BiffRecord& record) {
    if (record.data.size() < 10)
        return recordError(record, "LABELSST record shorter than 10 bytes");
    Result<CellHeader> cell = parseCellHeader(record);
    if (!cell) return cell.error();
    std::size_t index = readU32(record.data, 6);
    if (index >= m_globals.sharedStrings.size()) {
        return recordError(record, "shared string index " + std::to_string(index) + " beyond the " +
                                       std::to_string(m_globals.sharedStrings.size()) +
                                       " shared strings");
    }
    const auto& rich = m_globals.sharedStringRuns;
    auto runs = std::lower_bound(rich.begin(), rich.end(), index,
                                 [](const std::pair<std::uint32_t, TextRuns>& entry,
                                    std::size_t wanted) { return entry.first < wanted; });
    if (runs != rich.end() && runs->first == index)
        return addRichTextCell(record, *cell, m_globals.sharedStrings[index], runs->second);
    return addCell(record, cell->zeroBasedRow, cell->zeroBasedColumn, cell->xf, CellType::Text, 0,
                   m_globals.sharedStrings[index]);
}

// RSTRING: a cell with its own string and the string's formatting runs.
Result<void> SheetReader::readRString(const BiffRecord& record) {
    Result<RStringRecord> parsed = parseRString(record, m_globals.version, m_globals.decoder);
    if (!parsed) return recordError(record, parsed.error().detail);
    TextRuns runs;
    for (const FormatRun& run : parsed->runs)
        runs.push_back(
            {static_cast<std::uint32_t>(utf8OffsetOfUnit(parsed->text, run.character)), run.font});
    return addRichTextCell(record, parsed->cell, std::move(parsed->text), std::move(runs));
}

Result<void> SheetReader::addRichTextCell(const BiffRecord& record, const CellHeader& cell,
                                          std::string text, TextRuns runs) {
    if (cell.zeroBasedColumn >= XlsMaxColumns || cell.zeroBasedRow >= XlsMaxRows)
        return addCell(record, cell.zeroBasedRow, cell.zeroBasedColumn, cell.xf, CellType::Text, 0,
                       std::move(text));  // refused there, as every value outside the grid
    if (Result<void> handed = handOverHeldCell(); !handed) return handed;
    // A run naming a font the book does not have shows in the cell's font.
    for (TextRun& run : runs)
        if (run.font != CellFont && run.font >= m_globals.fonts.size()) run.font = CellFont;
    Cell out;
    out.column = cell.zeroBasedColumn + 1;
    out.type = CellType::Text;
    out.style = cell.xf;
    out.text = std::move(text);
    return m_sheet.addCell(cell.zeroBasedRow + 1, std::move(out), std::move(runs));
}

// LABEL: a cell with its own string.
Result<void> SheetReader::readLabel(const BiffRecord& record) {
    Result<CellHeader> cell = parseCellHeader(record);
    if (!cell) return cell.error();
    std::string text;
    std::size_t offset = 6;
    if (Result<void> read =
            readRecordString(record.data, offset, 2, m_globals.version, m_globals.decoder, text);
        !read)
        return recordError(record, read.error().detail);
    return addCell(record, cell->zeroBasedRow, cell->zeroBasedColumn, cell->xf, CellType::Text, 0,
                   std::move(text));
}

Result<void> SheetReader::readBoolErr(const BiffRecord& record) {
    const auto& data = record.data;
    if (data.size() < 8) return recordError(record, "BOOLERR record shorter than 8 bytes");
    Result<CellHeader> cell = parseCellHeader(record);
    if (!cell) return cell.error();
    if (data[7] != 0)
        return addCell(record, cell->zeroBasedRow, cell->zeroBasedColumn, cell->xf, CellType::Error,
                       0, errorText(data[6]));
    return addCell(record, cell->zeroBasedRow, cell->zeroBasedColumn, cell->xf, CellType::Boolean,
                   data[6] != 0 ? 1.0 : 0.0, {});
}

// A formula's cached value: a number, or in bytes 6-8 a string (in the STRING record that
// follows), a boolean, an error or nothing.
Result<void> SheetReader::readFormula(const BiffRecord& record) {
    const auto& data = record.data;
    if (data.size() < 16) return recordError(record, "FORMULA record shorter than 16 bytes");
    Result<CellHeader> cell = parseCellHeader(record);
    if (!cell) return cell.error();
    return addFormulaCell(record, cell->zeroBasedRow, cell->zeroBasedColumn, cell->xf,
                          data.subspan(6, 8));
}

Result<void> SheetReader::addFormulaCell(const BiffRecord& record, int row, int column,
                                         std::uint32_t xf, std::span<const std::uint8_t> result) {
    if (readU16(result, 6) != 0xFFFF)
        return addCell(record, row, column, xf, CellType::Number, readF64(result, 0), {}, true);
    switch (result[0]) {
        case 0:
            return addCell(record, row, column, xf, CellType::Text, 0, {}, true);
        case 1:
            return addCell(record, row, column, xf, CellType::Boolean, result[2] != 0 ? 1.0 : 0.0,
                           {}, true);
        case 2:
            return addCell(record, row, column, xf, CellType::Error, 0, errorText(result[2]), true);
        default:
            return addCell(record, row, column, xf, CellType::Empty, 0, {}, true);
    }
}

// The text of the string formula read last.
Result<void> SheetReader::readString(const BiffRecord& record, BiffCursor& cursor) {
    Result<void> status;
    std::vector<std::span<const std::uint8_t>> segments = withContinues(record, cursor, status);
    if (!status) return status;
    std::string text;
    if (m_globals.version == BiffVersion::Biff8) {
        ContinuedReader reader(std::move(segments));
        if (Result<void> read = reader.readUnicodeString(text, false); !read)
            return recordError(record, read.error().detail);
    } else {
        std::size_t offset = 0;
        const int lengthBytes = record.id == biff::String2 ? 1 : 2;
        if (Result<void> read = readRecordString(record.data, offset, lengthBytes,
                                                 m_globals.version, m_globals.decoder, text);
            !read)
            return recordError(record, read.error().detail);
    }
    if (m_holding && m_heldTakesString) m_held.text = std::move(text);
    m_heldTakesString = false;
    return {};
}

// ROW: the height, hidden flag and format of a row; a row without cells is kept only when it
// carries one of those. The last record of a row wins.
Result<void> SheetReader::readRow(const BiffRecord& record) {
    Result<RowRecord> row = parseRow(record, m_globals.version);
    if (!row) return row.error();
    RowFormat format;
    format.height = row->heightTwips / 20.0;
    format.customHeight = row->customHeight;
    format.hidden = row->hidden;
    format.style = row->xf;
    if (row->attributes) {
        Result<std::uint32_t> style = biff2Style(record, *row->attributes);
        if (!style) return style.error();
        format.style = *style;
    }
    return m_sheet.setRowFormat(row->zeroBasedRow + 1, format);
}

Result<void> SheetReader::readColInfo(const BiffRecord& record) {
    Result<ColInfoRecord> info = parseColInfo(record);
    if (!info) return info.error();
    if (info->zeroBasedFirst >= XlsMaxColumns || info->zeroBasedFirst > info->zeroBasedLast)
        return {};
    if (++m_columnRecords > XlsMaxColumns)
        return recordError(record, "more COLINFO records than columns");
    ColumnInfo column;
    column.first = info->zeroBasedFirst + 1;
    column.last = std::min(info->zeroBasedLast, XlsMaxColumns - 1) + 1;
    column.width = info->width / 256.0;
    column.customWidth = true;
    column.hidden = info->hidden;
    if (info->xf != 15) column.style = info->xf;
    m_sheet.addColumns(column);
    return {};
}

Result<void> SheetReader::readDefaultRowHeight(const BiffRecord& record) {
    if (record.data.size() >= 4 && m_globals.version != BiffVersion::Biff2)
        m_sheet.setDefaultRowHeight((readU16(record.data, 2) & 0x7FFF) / 20.0);
    return {};
}

Result<void> SheetReader::readMergedCells(const BiffRecord& record) {
    Result<std::vector<RangeRef>> ranges = parseMergedCells(record);
    if (!ranges) return ranges.error();
    for (const RangeRef& range : *ranges) {
        if (Result<void> added = m_sheet.addMerge(range); !added) return added;
    }
    return {};
}

Result<void> SheetReader::readWindow2(const BiffRecord& record) {
    Result<Window2Record> window = parseWindow2(record);
    if (!window) return window.error();
    m_frozen = window->frozen;
    return {};
}

Result<void> SheetReader::readPane(const BiffRecord& record) {
    Result<PaneRecord> pane = parsePane(record);
    if (!pane) return pane.error();
    m_pane = *pane;
    return {};
}

Result<void> SheetReader::finish() {
    if (Result<void> handed = handOverHeldCell(); !handed) return handed;
    finishBiff2Columns();
    m_sheet.setDefaultColumnWidth(m_defaultColumnWidth);
    if (m_frozen && m_pane) m_sheet.setFrozenPane(FrozenPane{m_pane->rows, m_pane->columns});
    return {};
}

// Resolves the XF records to the book's styles, and an XF index past them to the default
// style: the records are counted only once the whole stream is read.
void finishStyles(const Globals& globals, WorkbookData& book) {
    book.styles.clear();
    for (const XfRecord& xf : globals.xfs) book.styles.push_back(resolveStyle(xf, globals));
    // Runs name their fonts by FONT index: the run fonts are the FONT records, in order.
    book.runFonts.clear();
    for (const FontRecord& font : globals.fonts)
        book.runFonts.push_back(resolveFont(font, globals));
    if (book.styles.empty()) book.styles.push_back(CellStyle{});
    auto clamp = [&](std::uint32_t style) { return style < book.styles.size() ? style : 0u; };
    for (Sheet& sheet : book.sheets) {
        for (Row& row : sheet.rows) {
            if (row.style) row.style = clamp(*row.style);
            for (Cell& cell : row.cells) cell.style = clamp(cell.style);
        }
        for (ColumnInfo& column : sheet.columns) {
            if (column.style) column.style = clamp(*column.style);
        }
    }
}

// Reads one sheet substream at `offset` into `sheet`, the one at `sheetIndex` in the
// BOUNDSHEET list; returns the offset after its EOF.
Result<std::size_t> readSheet(std::span<const std::uint8_t> stream, std::size_t offset,
                              bool formattingInSheet, Globals& globals, BookBuilder& builder,
                              int sheetIndex, Sheet& sheet) {
    SheetBuilder sheetBuilder(builder, sheet, "sheet " + sheet.name);
    if (auto filter = globals.autoFilters.find(sheetIndex); filter != globals.autoFilters.end())
        sheetBuilder.setAutoFilter(filter->second);
    SheetReader reader(globals, sheetBuilder, sheet.name);
    Result<std::size_t> end = reader.read(stream, offset, formattingInSheet);
    if (!end) return end.error();
    if (Result<void> finished = reader.finish(); !finished) return finished.error();
    sheetBuilder.finish();
    if (reader.isDialog()) sheet.kind = SheetKind::Other;
    return end;
}

// ---------------------------------------------------------------------------------------------
// Streams

// Resolves the cell formats of a sheet that brings its own (an Excel 4.0 workbook's sheets)
// into book styles after those already there, and points the sheet's cells at them; an XF
// index past the sheet's formats becomes the default style.
void appendSheetStyles(const Globals& globals, WorkbookData& book, Sheet& sheet) {
    const std::uint32_t base = static_cast<std::uint32_t>(book.styles.size());
    for (const XfRecord& xf : globals.xfs) book.styles.push_back(resolveStyle(xf, globals));
    const std::size_t count = globals.xfs.size();
    auto place = [&](std::uint32_t style) { return style < count ? base + style : 0u; };
    for (Row& row : sheet.rows) {
        if (row.style) row.style = place(*row.style);
        for (Cell& cell : row.cells) cell.style = place(cell.style);
    }
    for (ColumnInfo& column : sheet.columns) {
        if (column.style) column.style = place(*column.style);
    }
}

// The offset after the EOF of the substream whose BOF is at `offset`, nested ones included.
Result<std::size_t> skipSubstream(std::span<const std::uint8_t> stream, std::size_t offset) {
    BiffCursor cursor(stream, offset);
    BiffRecord record;
    int depth = 0;
    while (true) {
        Result<bool> more = cursor.next(record);
        if (!more) return more.error();
        if (!*more) {
            if (cursor.cutShort()) return cursor.offset();
            return Error(ErrorCode::RecordCorrupt, "substream at offset " + std::to_string(offset) +
                                                       " ends without its EOF record");
        }
        if (isBof(record.id)) ++depth;
        if (record.id == biff::Eof && --depth == 0) return cursor.offset();
    }
}

// An Excel 4.0 workbook: one stream, the book's BOF and records (code page, date system, the
// sheet names), then each sheet as a header (SHEETHDR: its size and name) and a substream
// that carries its own fonts, number formats and cell formats, then the book's EOF.
Result<WorkbookData> readBiff4Workbook(std::span<const std::uint8_t> stream) {
    Globals globals;
    globals.version = BiffVersion::Biff4;
    WorkbookData book;
    book.format = FileFormat::Xls;
    book.grid = XlsGrid;
    BookBuilder builder(book);
    std::vector<std::string> boundNames;
    std::string headerName;
    BiffCursor cursor(stream);
    BiffRecord record;
    Result<bool> first = cursor.next(record);  // the book's BOF, checked by the caller
    if (!first) return first.error();
    while (true) {
        Result<bool> more = cursor.next(record);
        if (!more) return more.error();
        if (!*more) {
            if (cursor.cutShort()) break;
            return Error(ErrorCode::RecordCorrupt, "the workbook ends without its EOF record");
        }
        if (record.id == biff::Eof) break;
        if (record.id == biff::BoundSheet || record.id == biff::SheetHeader4) {
            // BOUNDSHEET holds the name alone; SHEETHDR the substream's size, then the name.
            std::size_t offset = record.id == biff::SheetHeader4 ? 4 : 0;
            std::string name;
            if (record.data.size() > offset) {
                if (Result<void> read = readRecordString(record.data, offset, 1, globals.version,
                                                         globals.decoder, name);
                    !read)
                    return recordError(record, read.error().detail);
            }
            if (record.id == biff::BoundSheet) {
                if (Result<void> counted =
                        builder.checkSheetCount(boundNames.size() + 1, "the workbook globals");
                    !counted)
                    return counted.error();
                boundNames.push_back(std::move(name));
            } else {
                headerName = std::move(name);
            }
            continue;
        }
        if (isBof(record.id)) {
            Result<BofRecord> bof = parseBof(record);
            if (!bof) return bof.error();
            const std::size_t index = book.sheets.size();
            if (Result<void> counted = builder.checkSheetCount(index + 1, "the workbook"); !counted)
                return counted.error();
            Sheet& sheet = book.sheets.emplace_back();
            sheet.name = !headerName.empty()         ? headerName
                         : index < boundNames.size() ? boundNames[index]
                                                     : "Sheet" + std::to_string(index + 1);
            headerName.clear();
            Result<std::size_t> end = std::size_t{0};
            if (bof->type == 0x20) {
                sheet.kind = SheetKind::Chart;
                end = skipSubstream(stream, record.offset);
            } else {
                // Each sheet starts from empty format tables, with the book's code page.
                Globals sheetGlobals;
                sheetGlobals.version = BiffVersion::Biff4;
                sheetGlobals.date1904 = globals.date1904;
                sheetGlobals.stylesBefore = book.styles.size();
                if (globals.decoder.isSet()) {
                    Result<void> set = sheetGlobals.decoder.setCodePage(globals.decoder.codePage());
                    static_cast<void>(set);
                }
                end = readSheet(stream, record.offset, true, sheetGlobals, builder,
                                static_cast<int>(index), sheet);
                if (end) {
                    if (bof->type == 0x40) sheet.kind = SheetKind::Other;  // a macro sheet
                    appendSheetStyles(sheetGlobals, book, sheet);
                    globals.date1904 = globals.date1904 || sheetGlobals.date1904;
                }
            }
            if (!end) return end.error();
            if (*end >= stream.size()) break;  // the stream ends with this sheet, cut or not
            cursor = BiffCursor(stream, *end);
            continue;
        }
        Result<bool> taken = readFormattingRecord(record, globals);
        if (!taken) return taken.error();
    }
    if (book.sheets.empty()) return Error(ErrorCode::RecordCorrupt, "the workbook holds no sheets");
    book.date1904 = globals.date1904;
    builder.finish();
    return book;
}

// BIFF2-4 files hold a single sheet as a raw record stream, or (BIFF4, BOF type 0x100) a
// workbook of sheets.
Result<WorkbookData> readSingleSheetStream(std::span<const std::uint8_t> stream,
                                           const BofRecord& bof, const std::string& sheetName) {
    if (bof.version == BiffVersion::Biff4 && bof.type == 0x100) return readBiff4Workbook(stream);
    Globals globals;
    globals.version = bof.version;
    WorkbookData book;
    book.format = FileFormat::Xls;
    book.grid = XlsGrid;
    BookBuilder builder(book);
    Sheet& sheet = book.sheets.emplace_back();
    sheet.name = sheetName.empty() ? "Sheet1" : sheetName;
    if (bof.type == 0x20) {
        sheet.kind = SheetKind::Chart;  // a chart saved on its own: no cells
    } else {
        Result<std::size_t> end = readSheet(stream, 0, true, globals, builder, 0, sheet);
        if (!end) return end.error();
        if (bof.type == 0x40) sheet.kind = SheetKind::Other;  // a macro sheet
    }
    book.date1904 = globals.date1904;
    finishStyles(globals, book);
    builder.finish();
    return book;
}

// The workbook globals, from the record after their BOF to their EOF.
Result<void> readGlobals(BiffCursor& cursor, Globals& globals, BookBuilder& builder) {
    BiffRecord record;
    while (true) {
        Result<bool> more = cursor.next(record);
        if (!more) return more.error();
        if (!*more)
            return Error(ErrorCode::RecordCorrupt, "workbook globals end without their EOF record");
        Result<bool> taken = readFormattingRecord(record, globals);
        if (!taken) return taken.error();
        if (*taken) continue;
        switch (record.id) {
            case biff::Eof:
                return {};
            case biff::Window1:
                if (record.data.size() >= 12) globals.activeTab = readU16(record.data, 10);
                break;
            case biff::BoundSheet: {
                if (Result<void> counted = builder.checkSheetCount(globals.boundSheets.size() + 1,
                                                                   "the workbook globals");
                    !counted)
                    return counted;
                Result<BoundSheetRecord> sheet =
                    parseBoundSheet(record, globals.version, globals.decoder);
                if (!sheet) return sheet.error();
                globals.boundSheets.push_back(std::move(*sheet));
                break;
            }
            case biff::Sst:
                if (globals.version == BiffVersion::Biff8) {
                    if (Result<void> read =
                            readSharedStrings(record, cursor, globals, builder.budget());
                        !read)
                        return read;
                }
                break;
            case biff::Name:
                readFilterName(record, globals);
                break;
            default:
                break;
        }
    }
}

// The sheets the globals list, read in stream order. Substreams must not overlap, so a hostile
// directory of sheets cannot make the reader walk the same records again and again.
Result<void> readSheets(std::span<const std::uint8_t> stream, std::size_t globalsEnd,
                        Globals& globals, BookBuilder& builder) {
    WorkbookData& book = builder.book();
    book.sheets.resize(globals.boundSheets.size());
    std::vector<std::size_t> order(globals.boundSheets.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return globals.boundSheets[a].streamOffset < globals.boundSheets[b].streamOffset;
    });
    std::size_t readUpTo = globalsEnd;
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
        Result<std::size_t> end = readSheet(stream, bound.streamOffset, false, globals, builder,
                                            static_cast<int>(index), sheet);
        if (!end) return end.error();
        readUpTo = *end;
    }
    return {};
}

Result<WorkbookData> readWorkbookStream(std::span<const std::uint8_t> stream, bool streamNamedBook,
                                        const std::string& singleSheetName,
                                        bool decrypted = false) {
    BiffCursor cursor(stream);
    BiffRecord record;
    Result<bool> first = cursor.next(record);
    if (!first) return first.error();
    if (!*first) return Error(ErrorCode::RecordCorrupt, "the workbook stream is empty");
    if (!isBof(record.id)) {
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
    WorkbookData book;
    book.format = FileFormat::Xls;
    book.grid = XlsGrid;
    BookBuilder builder(book);
    if (Result<void> read = readGlobals(cursor, globals, builder); !read) return read.error();
    if (globals.boundSheets.empty())
        return Error(ErrorCode::RecordCorrupt, "the workbook lists no sheets");
    book.date1904 = globals.date1904;
    if (Result<void> read = readSheets(stream, cursor.offset(), globals, builder); !read)
        return read.error();
    book.activeSheet =
        globals.activeTab >= 0 && static_cast<std::size_t>(globals.activeTab) < book.sheets.size()
            ? globals.activeTab
            : 0;
    finishStyles(globals, book);
    builder.finish();
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
