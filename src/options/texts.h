// User-visible texts of the options checks, exactly as the dialog shows them.
#pragma once

namespace options::texts {

inline constexpr const char* MessageTitle = "提示";

// Start-row box: text that does not read as a whole number of 1 or more.
inline constexpr const char* StartRowNotPositive = "“起始行”必须是大于0的整数。";

inline constexpr const char* StartRowEmpty = "起始行数不能为空，请输入大于0的整数。";
inline constexpr const char* TopLeftEmpty = "左上角单元格地址不能为空，请补填。";
inline constexpr const char* TopLeftInvalid = "左上角单元格地址有误，请修正。";
inline constexpr const char* BottomRightEmpty =
    "右下角单元格地址不能为空，否则请勿勾选“右下角”，由程序自动判断即可。";
inline constexpr const char* BottomRightInvalid = "右下角单元格地址有误，请修正。";
inline constexpr const char* CornersIllogical =
    "当前左上角单元格位于右下角单元格的右方/下方，不合逻辑，请修正。";

// 名称匹配 chosen with an empty pattern box.
inline constexpr const char* SheetPatternEmpty =
    "请输入工作表名称的匹配模式，可用 * 代表任意多个字符、? 代表一个字符。";

// Source-cell list, clicked on the caption "确定" (OK1) or on the button face (OK2).
inline constexpr const char* CellListEmptyCaption = "请输入单元格地址。";
inline constexpr const char* CellListEmptyFace = "请输入指定单元格的地址。";
inline constexpr const char* CellListInvalidCaption = "指定的单元格地址输入有误，请修正。";
inline constexpr const char* CellListInvalidFace = "指定单元格的地址输入有误，请修正。";

// The section "更多选项".
inline constexpr const char* AlignNeedsHeaderRow =
    "按表头名称对齐列时，表头是起始行上方的一行，起始行须大于1。";
inline constexpr const char* StopAtEmpty = "请输入结束标记的文字，如：合计。";
inline constexpr const char* SkipLastNotWhole = "“末尾略去的行数”必须是大于0的整数。";
// The file-name filter leaves fewer than two of the folder's files; the count follows.
inline constexpr const char* FilterLeavesTooFewHead = "按“文件名包含”和“排除”筛选后，文件夹中只剩 ";
inline constexpr const char* FilterLeavesTooFewTail =
    " 个文件，至少需要 2 个才能合并，请修改筛选条件。";

// "保存为任务…": the job file was written, or why not (the reason follows).
inline constexpr const char* JobSaved = "任务已保存到：";
inline constexpr const char* JobSavedTail = "\n可用 sheetmerge merge --job 该文件 再次运行。";
inline constexpr const char* JobNotSaved = "任务文件未能保存：";

}  // namespace options::texts
