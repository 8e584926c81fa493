// The options of one merge in two forms. MergeOptions is the record the options dialog's OK
// action hands over; its field names are the ones users' notes and the dialog code share, and
// its choices are encoded texts:
//   SheetSpec: "" active sheet; "2" + position item ("2第 3 个"); "3" + sheet name ("3销售");
//              "4" every worksheet; "5" + name pattern ("5*销售*").
//   RangeSpec: "" largest data rectangle; "2" + start row ("225"); "3|B2|G5" or "3|B2|".
//   MarkCells: "" label by file path; else cell addresses separated by ",".
// MergeSettings holds the same options as typed values; the merge run reads only these.
// decodeOptions and encodeOptions are the one place where the two forms meet.
//   MergeSettings settings = decodeOptions(host.askOptions(sample, resolve));
// A new option is a plain field (bool, int, string, list of strings) of MergeSettings, the
// same field of MergeOptions, one line in each of decodeOptions and encodeOptions, and a row of
// the round-trip test; every field is a value that a job file can write and read back: one line
// at the end of the table in items() of merge/job_file.cpp (its name in the field list just
// above it) and one in options::dialogValuesOf (both stop compiling until the new field is
// listed).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace merge {

struct MergeOptions {
    std::string SheetSpec;
    std::string RangeSpec;
    bool CopyHeaderOnce = false;
    bool MarkSource = false;
    bool Confirmed = false;
    std::string MarkCells;    // "" = label by file path; else addresses separated by ","
    bool SkipHidden = false;  // with several sheets per source: hidden sheets left out
    bool MarkSheet = false;   // a label column with the block's sheet name
    bool PerSource = false;   // one result sheet per block instead of stacking
    // Columns, rows and the log (all off by default; see MergeSettings).
    bool MarkName = false;  // with MarkSource and no MarkCells: label by file name
    bool AlignColumns = false;
    bool SkipBlankRows = false;
    bool DropHeaderRepeats = false;
    std::string StopAt;  // "" = off
    int SkipLast = 0;
    bool Dedupe = false;
    bool FillMerged = false;
    bool LogSheet = false;
};

// Which worksheets of each source are merged: one (the active one, one at a position, one with
// a name) or several (every worksheet, every worksheet whose name matches a pattern), each of
// which then gives a block of its own.
enum class SheetMode { Active, ByPosition, ByName, All, ByPattern };

struct SheetChoice {
    SheetMode mode = SheetMode::Active;
    // ByPosition: the 1-based position among the worksheets; nullopt when the position item
    // names no number from 0 to 32767, which no source can satisfy.
    std::optional<int> position;
    std::string name;  // ByName: compared with the sheets' names ignoring case
    // ByPattern: "*" any run of characters, "?" one character, compared ignoring case as
    // sheet names are.
    std::string pattern;
    // All and ByPattern: hidden and very hidden sheets are left out.
    bool skipHidden = false;

    // Whether a source can give several blocks, one per chosen sheet.
    bool takesSeveral() const { return mode == SheetMode::All || mode == SheetMode::ByPattern; }

    friend bool operator==(const SheetChoice&, const SheetChoice&) = default;
};

// Which cells of the chosen sheet form a source's block.
enum class RangeMode {
    UsedRectangle,  // A1 to the last row and column holding data
    FromRow,        // column A of `startRow` to the last row and column holding data
    Cells,          // `topLeft` to `bottomRight`, or to the last row and column holding data
};

struct RangeChoice {
    RangeMode mode = RangeMode::UsedRectangle;
    // FromRow: 1 or more; 0 when the record's row is not 1 to 7 digits, which no source can
    // satisfy.
    int startRow = 0;
    std::string topLeft;                     // Cells: A1 text as typed ("B2", "b2", "B2:G5")
    std::optional<std::string> bottomRight;  // Cells: A1 text; nullopt = found by the run

    friend bool operator==(const RangeChoice&, const RangeChoice&) = default;
};

// How each block is labelled with its source, in columns left of the data.
enum class LabelMode { None, FilePath, CellList, FileName };

struct LabelChoice {
    LabelMode mode = LabelMode::None;
    // FileName: the file name without folder and extension ("一月" for ".../一月.xlsx").
    // CellList: addresses as typed, one label column each, holding the value of the address's
    // top-left cell in the source. Never empty for CellList (an empty list encodes as the
    // file-path label).
    std::vector<std::string> cells;
    // A further label column, right of the others, with the name of the block's sheet; it
    // combines with every mode.
    bool sheetName = false;

    friend bool operator==(const LabelChoice&, const LabelChoice&) = default;
};

// Which rows of each block are left out, and how merged cells in the data are treated. Within
// a block they apply in this order: merged cells filled, the block ended at the stop row, the
// last rows left out, then each remaining row judged on its own (blank, header repeat,
// duplicate of an earlier data row of the result).
struct RowCleaning {
    bool skipBlankRows = false;      // rows with no value in the block's columns
    bool dropHeaderRepeats = false;  // rows equal to the header row after normalisation
    std::string stopAt;              // "" = off; the block ends above the first row whose first
                                     // non-empty cell reads this text after trimming
    int skipLast = 0;                // the last N rows of each block (after the stop row)
    bool dedupe = false;             // rows equal, as displayed, to an earlier data row
    bool fillMerged = false;         // merged ranges in the data split, each cell filled

    bool anyRowRule() const {
        return skipBlankRows || dropHeaderRepeats || !stopAt.empty() || skipLast > 0 || dedupe;
    }
    friend bool operator==(const RowCleaning&, const RowCleaning&) = default;
};

// Every option of a merge as a typed value.
struct MergeSettings {
    SheetChoice sheet;
    RangeChoice range;
    // The rows above the start row are copied once, from the first block; only meaningful
    // with RangeMode::FromRow.
    bool copyHeaderOnce = false;
    LabelChoice label;
    // Each block goes on a result sheet of its own, named after its file (and sheet), instead
    // of below the block before it.
    bool perSource = false;
    // Columns matched by their header names instead of by position.
    bool alignColumns = false;
    RowCleaning cleaning;
    // A last sheet "合并明细" with one row per source.
    bool logSheet = false;

    // Whether blocks go through the planned copy (rows chosen, columns mapped) instead of
    // being copied whole.
    bool plannedCopy() const {
        return alignColumns || cleaning.anyRowRule() || cleaning.fillMerged;
    }
    friend bool operator==(const MergeSettings&, const MergeSettings&) = default;
};

// The typed values of `options`. Never fails: a text the OK action would never write is read
// as closely as the merge always read it (see the fields' comments for what cannot match).
MergeSettings decodeOptions(const MergeOptions& options);

// The record that decodes to `settings`; Confirmed stays false (it is the dialog's answer, not
// an option).
MergeOptions encodeOptions(const MergeSettings& settings);

// The item of the dialog's position list: 3 -> "第 3 个".
std::string positionItem(int position);
// The position a list item names: "第 3 个" -> 3. The first character (第) is skipped, every
// 个 removed and blanks trimmed; the rest must be 1 to 5 digits worth at most 32767.
std::optional<int> positionOfItem(const std::string& item);

}  // namespace merge
