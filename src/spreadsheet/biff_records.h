// BIFF record stream of .xls workbooks: record iteration, CONTINUE-aware string reading, code
// page decoding, and one small size-checked struct per record the reader uses.
//   BiffCursor cursor(stream);
//   BiffRecord record;
//   while (true) { Result<bool> more = cursor.next(record); ... }
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/cell_ref.h"
#include "spreadsheet/error.h"

namespace spreadsheet {

namespace biff {
// Record ids (BIFF8 numbers; BIFF2-4 variants where they differ).
// Excel 2.x cell records: a 3-byte attribute block in place of the XF index.
constexpr std::uint16_t Blank2 = 0x0001;
constexpr std::uint16_t Integer2 = 0x0002;
constexpr std::uint16_t Number2 = 0x0003;
constexpr std::uint16_t Label2 = 0x0004;
constexpr std::uint16_t BoolErr2 = 0x0005;
constexpr std::uint16_t String2 = 0x0007;
constexpr std::uint16_t Row2 = 0x0008;
constexpr std::uint16_t ColumnDefault2 = 0x0020;
constexpr std::uint16_t ColWidth2 = 0x0024;
constexpr std::uint16_t DefaultRowHeight2 = 0x0025;
constexpr std::uint16_t Window2Biff2 = 0x003E;
constexpr std::uint16_t Xf2 = 0x0043;
constexpr std::uint16_t Ixfe2 = 0x0044;
constexpr std::uint16_t FontColor2 = 0x0045;
// Excel 4.0 workbooks: the header in front of each sheet substream.
constexpr std::uint16_t SheetHeader4 = 0x008F;
constexpr std::uint16_t Xf3 = 0x0243;
constexpr std::uint16_t Formula = 0x0006;
constexpr std::uint16_t Eof = 0x000A;
constexpr std::uint16_t Format2 = 0x001E;
constexpr std::uint16_t DateMode = 0x0022;
constexpr std::uint16_t FilePass = 0x002F;
constexpr std::uint16_t Font = 0x0031;
constexpr std::uint16_t Continue = 0x003C;
constexpr std::uint16_t Window1 = 0x003D;
constexpr std::uint16_t Pane = 0x0041;
constexpr std::uint16_t CodePage = 0x0042;
constexpr std::uint16_t DefColWidth = 0x0055;
constexpr std::uint16_t ColInfo = 0x007D;
constexpr std::uint16_t WsBool = 0x0081;
constexpr std::uint16_t BoundSheet = 0x0085;
constexpr std::uint16_t Palette = 0x0092;
constexpr std::uint16_t StandardWidth = 0x0099;
constexpr std::uint16_t AutoFilterInfo = 0x009D;
constexpr std::uint16_t MulRk = 0x00BD;
constexpr std::uint16_t MulBlank = 0x00BE;
constexpr std::uint16_t RString = 0x00D6;
constexpr std::uint16_t Xf = 0x00E0;
constexpr std::uint16_t MergedCells = 0x00E5;
constexpr std::uint16_t Sst = 0x00FC;
constexpr std::uint16_t LabelSst = 0x00FD;
constexpr std::uint16_t Name = 0x0018;
constexpr std::uint16_t Dimensions = 0x0200;
constexpr std::uint16_t Blank = 0x0201;
constexpr std::uint16_t Number = 0x0203;
constexpr std::uint16_t Label = 0x0204;
constexpr std::uint16_t BoolErr = 0x0205;
constexpr std::uint16_t Formula3 = 0x0206;
constexpr std::uint16_t String = 0x0207;
constexpr std::uint16_t Row = 0x0208;
constexpr std::uint16_t Bof2 = 0x0009;
constexpr std::uint16_t Bof3 = 0x0209;
constexpr std::uint16_t Bof4 = 0x0409;
constexpr std::uint16_t Bof = 0x0809;
constexpr std::uint16_t DefaultRowHeight = 0x0225;
constexpr std::uint16_t Font34 = 0x0231;
constexpr std::uint16_t Window2 = 0x023E;
constexpr std::uint16_t Rk = 0x027E;
constexpr std::uint16_t Formula4 = 0x0406;
constexpr std::uint16_t Format = 0x041E;
constexpr std::uint16_t Xf4 = 0x0443;
}  // namespace biff

enum class BiffVersion { Biff2, Biff3, Biff4, Biff5, Biff8 };

struct BiffRecord {
    std::uint16_t id = 0;
    std::span<const std::uint8_t> data;
    std::size_t offset = 0;  // of the record header in the stream, for evidence
};

// Walks the records of a stream. A stream whose end cuts its last record short is read as
// spreadsheet programs read it: the last record brings the bytes there are (each record's own
// size checks then decide whether they still hold its fields), and a header cut short ends the
// stream; cutShort() tells that it happened.
class BiffCursor {
public:
    explicit BiffCursor(std::span<const std::uint8_t> stream, std::size_t offset = 0)
        : m_stream(stream), m_offset(offset) {}
    // Sets `record` and returns true, or returns false at the end of the stream.
    Result<bool> next(BiffRecord& record);
    // The id of the next record without consuming it; nullopt at the end.
    std::optional<std::uint16_t> peekId() const;
    std::size_t offset() const { return m_offset; }
    // Whether the stream ended inside a record.
    bool cutShort() const { return m_cutShort; }

private:
    std::span<const std::uint8_t> m_stream;
    std::size_t m_offset = 0;
    bool m_cutShort = false;
};

// Little-endian field access; callers check sizes first.
inline std::uint16_t readU16(std::span<const std::uint8_t> data, std::size_t offset) {
    return static_cast<std::uint16_t>(data[offset] | (data[offset + 1] << 8));
}
inline std::uint32_t readU32(std::span<const std::uint8_t> data, std::size_t offset) {
    return static_cast<std::uint32_t>(data[offset]) |
           (static_cast<std::uint32_t>(data[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(data[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(data[offset + 3]) << 24);
}
double readF64(std::span<const std::uint8_t> data, std::size_t offset);
// An RK number: bit 0 divides by 100, bit 1 marks a 30-bit integer, else the top 30 bits of a
// double.
double decodeRk(std::uint32_t rk);

// Decodes byte strings of BIFF2-5 files in the workbook's code page (CODEPAGE record) to
// UTF-8. Bytes that do not decode become U+FFFD. 1252 is assumed until a CODEPAGE is read.
class CodePageDecoder {
public:
    CodePageDecoder();
    ~CodePageDecoder();
    CodePageDecoder(const CodePageDecoder&) = delete;
    CodePageDecoder& operator=(const CodePageDecoder&) = delete;
    // Fails with TextEncoding for a code page the engine cannot decode.
    Result<void> setCodePage(std::uint16_t codePage);
    std::uint16_t codePage() const { return m_codePage; }
    // Whether a code page was set, as opposed to the assumed 1252.
    bool isSet() const { return m_set; }
    void decode(std::span<const std::uint8_t> bytes, std::string& out) const;

private:
    std::uint16_t m_codePage = 1252;
    bool m_set = false;
    void* m_converter = nullptr;  // iconv_t
};

// A formatting run of a string: from UTF-16 unit `character` of its decoded text on, the text
// shows in the font of FONT index `font` (counted as cell formats count fonts: index 4 skipped).
struct FormatRun {
    std::uint16_t character = 0;
    std::uint16_t font = 0;
};

// The UTF-8 byte offset of UTF-16 unit `unit` of `text`: the text's size past its end, and the
// end of the pair for a unit inside a surrogate pair.
std::size_t utf8OffsetOfUnit(std::string_view text, std::size_t unit);

// Reads BIFF8 unicode strings from a record and the CONTINUE records that follow it. When a
// character array crosses into a CONTINUE, that record starts with a fresh flags byte (the
// encoding may switch); rich-run and phonetic blocks continue raw.
class ContinuedReader {
public:
    explicit ContinuedReader(std::vector<std::span<const std::uint8_t>> segments)
        : m_segments(std::move(segments)) {}
    bool atEnd();
    // Raw bytes across segment edges; fails at the end of the data.
    Result<void> readBytes(std::size_t count, std::uint8_t* out);
    Result<void> skip(std::size_t count);
    // XLUnicodeRichExtendedString (SST entries) or XLUnicodeString (cch 2, flags 1). The
    // formatting runs of a rich string go to `runs` when given, else they are skipped.
    Result<void> readUnicodeString(std::string& out, bool richExtended,
                                   std::vector<FormatRun>* runs = nullptr);

private:
    std::vector<std::span<const std::uint8_t>> m_segments;
    std::size_t m_segment = 0;
    std::size_t m_position = 0;
    std::u16string m_units;
};

// Strings inside one record. BIFF8: `lengthBytes` (1 or 2) count, then a flags byte; BIFF2-5:
// a count and bytes in the code page. Advance `offset`. A string whose count runs past the end
// of the record is cut there, as spreadsheet programs read it; fails with RecordCorrupt only when
// the count itself is missing.
Result<void> readRecordString(std::span<const std::uint8_t> data, std::size_t& offset,
                              int lengthBytes, BiffVersion version, const CodePageDecoder& decoder,
                              std::string& out);

struct BofRecord {
    BiffVersion version = BiffVersion::Biff8;
    std::uint16_t type =
        0;  // 0x05 globals, 0x10 worksheet, 0x20 chart, 0x40 macro sheet, 0x100 BIFF4 workbook
};
// `id` is the record id that opened the substream (0x0009/0x0209/0x0409/0x0809).
Result<BofRecord> parseBof(const BiffRecord& record);

struct BoundSheetRecord {
    std::uint32_t streamOffset = 0;
    std::uint8_t state = 0;  // 0 visible, 1 hidden, 2 very hidden
    std::uint8_t type = 0;   // 0 worksheet or dialog, 1 macro, 2 chart, 6 VB module
    std::string name;
};
Result<BoundSheetRecord> parseBoundSheet(const BiffRecord& record, BiffVersion version,
                                         const CodePageDecoder& decoder);

struct FontRecord {
    double heightPoints = 10.0;
    bool italic = false;
    bool strike = false;
    std::uint16_t colorIndex = 0x7FFF;
    std::uint16_t weight = 400;
    std::uint16_t script = 0;  // 0 none, 1 superscript, 2 subscript
    std::uint8_t underline =
        0;  // 0 none, 1 single, 2 double, 0x21 single accounting, 0x22 double accounting
    std::uint8_t family = 0;
    std::uint8_t charset = 0;
    std::string name;
};
Result<FontRecord> parseFont(const BiffRecord& record, BiffVersion version,
                             const CodePageDecoder& decoder);

struct FormatRecord {
    std::optional<std::uint16_t> index;  // absent in BIFF2-4, where formats are numbered in order
    std::string code;
};
Result<FormatRecord> parseFormat(const BiffRecord& record, BiffVersion version,
                                 const CodePageDecoder& decoder);

struct XfRecord {
    std::uint16_t fontIndex = 0;
    std::uint16_t formatIndex = 0;
    bool locked = true;
    bool hidden = false;
    std::uint8_t horizontal = 0;  // 0 general .. 7 distributed
    std::uint8_t vertical = 2;    // 0 top, 1 center, 2 bottom, 3 justify, 4 distributed
    bool wrap = false;
    std::uint8_t rotation = 0;  // 0-180 or 255, as OOXML
    std::uint8_t indent = 0;
    bool shrinkToFit = false;
    std::uint8_t leftStyle = 0, rightStyle = 0, topStyle = 0, bottomStyle = 0, diagonalStyle = 0;
    std::uint8_t leftColor = 0, rightColor = 0, topColor = 0, bottomColor = 0, diagonalColor = 0;
    bool diagonalDown = false;
    bool diagonalUp = false;
    std::uint8_t pattern = 0;  // 0 none, 1 solid, 2.. 18 as OOXML's pattern list
    std::uint8_t patternColor = 64;
    std::uint8_t backgroundColor = 65;
};
Result<XfRecord> parseXf(const BiffRecord& record, BiffVersion version);

// The colour index BIFF2-4 give the window text colour, the automatic colour of fonts and
// borders (25 is the window background). BIFF5 and later move these to 64 and 65.
constexpr std::uint8_t WindowTextColor234 = 24;

// An Excel 2.x cell format: from an XF record (font, format and protection, flags) or from a
// cell's attribute block, which gives the same three fields.
XfRecord biff2Xf(std::uint8_t font, std::uint8_t formatAndProtection, std::uint8_t flags);

// PALETTE: colours for indexes 8.. as 0xFFRRGGBB.
Result<std::vector<std::uint32_t>> parsePalette(const BiffRecord& record);

struct CellHeader {
    int zeroBasedRow = 0;
    int zeroBasedColumn = 0;
    std::uint16_t xf = 0;
};
// Row, column and XF of a cell record of BIFF3 and later.
Result<CellHeader> parseCellHeader(const BiffRecord& record);

// Row, column and the 3-byte attribute block of an Excel 2.x cell record: XF index (63: the
// last IXFE record's) and protection, number format and font, alignment, borders and shading.
struct Biff2CellHeader {
    int zeroBasedRow = 0;
    int zeroBasedColumn = 0;
    std::array<std::uint8_t, 3> attributes{};
};
Result<Biff2CellHeader> parseBiff2CellHeader(const BiffRecord& record);

// COLWIDTH (Excel 2.x): columns first..last (0-based, one byte each) and their width.
struct ColWidthRecord {
    int zeroBasedFirst = 0;
    int zeroBasedLast = 0;
    std::uint16_t width = 0;  // 1/256 of a character
};
Result<ColWidthRecord> parseColWidth(const BiffRecord& record);

// COLUMNDEFAULT (Excel 2.x): the cell attribute blocks of columns first.. (0-based), one per
// column; columns past the grid are dropped.
struct ColumnDefaultRecord {
    int zeroBasedFirst = 0;
    std::vector<std::array<std::uint8_t, 3>> attributes;
};
Result<ColumnDefaultRecord> parseColumnDefault(const BiffRecord& record);

// RSTRING (BIFF5 and BIFF8): a cell's own string with its formatting runs. BIFF5 counts its
// runs in one byte and gives each a byte of character and a byte of font; its characters are
// those of the decoded text, however many bytes of the code page they take.
struct RStringRecord {
    CellHeader cell;
    std::string text;
    std::vector<FormatRun> runs;
};
Result<RStringRecord> parseRString(const BiffRecord& record, BiffVersion version,
                                   const CodePageDecoder& decoder);

struct ColInfoRecord {
    int zeroBasedFirst = 0;
    int zeroBasedLast = 0;
    std::uint16_t width = 0;  // 1/256 of a character
    std::uint16_t xf = 0;
    bool hidden = false;
};
Result<ColInfoRecord> parseColInfo(const BiffRecord& record);

struct RowRecord {
    int zeroBasedRow = 0;
    std::uint16_t heightTwips = 0;
    bool hidden = false;
    bool customHeight = false;
    std::optional<std::uint16_t> xf;
    // Excel 2.x rows give their format as a cell attribute block when they give no XF index.
    std::optional<std::array<std::uint8_t, 3>> attributes;
};
Result<RowRecord> parseRow(const BiffRecord& record, BiffVersion version);

struct Window2Record {
    bool frozen = false;
    bool selected = false;
};
// WINDOW2 of BIFF3 and later, and Excel 2.x's, which gives each flag a byte.
Result<Window2Record> parseWindow2(const BiffRecord& record);

struct PaneRecord {
    std::uint16_t columns = 0;  // frozen columns (split x)
    std::uint16_t rows = 0;     // frozen rows (split y)
};
Result<PaneRecord> parsePane(const BiffRecord& record);

// MERGEDCELLS: rectangles, 1-based; rectangles outside the .xls grid are dropped.
Result<std::vector<RangeRef>> parseMergedCells(const BiffRecord& record);

}  // namespace spreadsheet
