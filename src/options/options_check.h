// The checks behind the options dialog's OK button, as plain functions over a snapshot of the
// dialog's values, plus the start-row reading and the address look of the dialog's boxes.
//   OkOutcome outcome = runOkAction(values, resolve);
//   if (!outcome.accepted) { showMessage(outcome.message); focus(outcome.focus); }
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "merge/merge_options.h"
#include "merge/run_host.h"

namespace options {

// Which button of each option group is selected.
enum class SheetOption {
    Active /* Option1 */,
    ByPosition /* Option2 */,
    ByName /* Option3 */,
    All /* 全部工作表 */,
    ByPattern /* 名称匹配 */
};
enum class RangeOption {
    LargestRectangle /* Option4 */,
    StartRow /* Option5 */,
    Cells /* Option6 */
};
enum class LabelOption {
    FilePath /* Option7 */,
    CellContents /* Option8 */,
    FileName /* Option9 */
};

// Which part of the OK button was clicked: the caption OK1 ("确定") or the face OK2 under it.
// The two differ only in the wording of the source-cell messages.
enum class OkPart { Caption, Face };

// The text box that gets the focus after a refused OK.
enum class FocusTarget {
    None,
    TxtRow,
    TxtLT,
    TxtRB,
    TxtHead,
    SheetPattern,
    TxtStopAt,
    TxtSkipLast,
    TxtInclude
};

// The dialog's values at the moment OK is clicked. Texts are exactly what the boxes show.
struct DialogValues {
    SheetOption sheet = SheetOption::Active;
    RangeOption range = RangeOption::StartRow;
    LabelOption label = LabelOption::FilePath;
    std::string txtRow;   // Txt_Row
    std::string txtLT;    // Txt_LT
    std::string txtRB;    // Txt_RB
    std::string txtHead;  // Txt_Head
    bool check1 = false;  // "右下角": a bottom-right cell is given
    bool check2 = false;  // "复制一次起始行上方的内容"
    bool check3 = false;  // "在结果数据左侧标记数据来源工作簿的相关信息"
    bool txtHeadEnabled = false;
    std::string combo1;        // the chosen position item, e.g. "第 3 个"
    std::string combo2;        // the chosen worksheet name
    std::string sheetPattern;  // the 名称匹配 box
    bool skipHidden = false;   // hidden sheets left out when several are taken
    bool markSheet = false;    // "工作表名称": a label column with the sheet's name
    bool perSource = false;    // "每个来源一个工作表"
    OkPart clicked = OkPart::Caption;

    // The section "更多选项": columns by header name, cleaning rules and the merge log.
    bool alignColumns = false;       // "按表头名称对齐列"
    bool skipBlankRows = false;      // "跳过空白行"
    bool dropHeaderRepeats = false;  // "删除重复的表头行"
    bool stopAt = false;             // "遇到此文字所在行即结束：" with its text box
    std::string txtStopAt;
    bool skipLast = false;  // "略去每块末尾的行数：" with its text box
    std::string txtSkipLast;
    bool dedupe = false;      // "删除重复行"
    bool fillMerged = false;  // "拆分合并单元格并填充"
    bool logSheet = false;    // "生成合并明细"

    // The file-name filter of a folder's files, "文件名包含" and "排除": patterns separated by
    // commas or semicolons (see splitNamePatterns). Judged only when `filterApplies` (the sources
    // are a folder's files); `filteredCount` is then how many of them the filter takes.
    bool filterApplies = false;
    std::string txtInclude;
    std::string txtExclude;
    int filteredCount = 0;
};

// What the OK action decided. Accepted: `options` is the record to hand on (Confirmed set;
// fields that OK does not write keep their start values). Refused: `message` is the text for
// the information box titled "提示" and `focus` the box at fault; nothing else changes.
struct OkOutcome {
    bool accepted = false;
    merge::MergeOptions options;
    std::string message;
    FocusTarget focus = FocusTarget::None;
};

// Runs the OK action's checks in their fixed order and encodes the accepted values.
// `resolve` judges addresses on the sample's active sheet; an empty function, a nullopt
// answer or an exception thrown by it all count as an invalid address. A start row of blanks
// only counts as empty; one that does not read as a row from 1 to LastGridRow (see
// readStartRow) is refused with the start-row box's own message; an accepted one is stored as
// the number read ("1.5" gives RangeSpec "22", "１２" gives "212"), all other texts exactly as
// typed.
OkOutcome runOkAction(const DialogValues& values, const merge::ReferenceResolver& resolve);

// The patterns of a "文件名包含" or "排除" box: the pieces between commas and semicolons
// (full-width "，" and "；" too), blanks around each removed, empty pieces left out.
// "*销售*; *华东*," gives "*销售*" and "*华东*".
std::vector<std::string> splitNamePatterns(std::string_view text);

// The last row of a worksheet: a start row below it leaves nothing to merge.
inline constexpr int LastGridRow = 1'048'576;

// Reads the start-row box: optional blanks, an optional sign, decimal digits with an optional
// "." and fraction (at least one digit in all). The full-width forms that a Chinese input
// method types (digits "０"–"９", "．", "＋", "－" and the ideographic space) count as their
// ASCII counterparts. The number is rounded to the nearest whole number, halves to the even
// neighbour. nullopt when the text is no such number or the rounded value lies outside the
// 32-bit signed range. Zero, negative values and rows past LastGridRow are returned; the
// caller refuses them (see isUsableStartRow).
std::optional<int> readStartRow(std::string_view text);

// Reads the box of rows left out at the end of each block: optional blanks, an optional "+",
// decimal digits (full-width ones too), nothing else. nullopt for any other text and for values
// outside 1 to LastGridRow.
std::optional<int> readRowCount(std::string_view text);

// True for a row from 1 to LastGridRow.
bool isUsableStartRow(int row);

// True when the text holds nothing but blanks (ASCII or ideographic spaces, tabs), or nothing.
bool isBlankText(std::string_view text);

// True when the text holds an ASCII letter immediately followed by an ASCII digit somewhere
// (the pattern "*[A-Za-z][0-9]*"): the box looks like an address, so "右下角" may be ticked.
bool looksLikeAddress(std::string_view text);

// The position item of the dialog's first sheet list: 3 -> "第 3 个".
std::string positionItem(int position);

}  // namespace options
