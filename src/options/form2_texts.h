// User-visible texts of the options dialog's controls, exactly as the dialog shows them. The
// messages of its checks are in texts.h.
#pragma once

namespace options::form2_texts {

inline constexpr const char* Caption = "参数设置";
inline constexpr const char* Label2 = "所选文件夹路径：";
inline constexpr const char* Label1 = "所选工作簿个数：";
inline constexpr const char* Label3 = "工作表信息来源：";
inline constexpr const char* Frame1 = "目标工作表";
inline constexpr const char* Option1 = "活动工作表";
inline constexpr const char* Option2 = "按位置";
inline constexpr const char* Option3 = "按名称";
inline constexpr const char* Frame2 = "目标区域";
inline constexpr const char* Option4 = "含有数据的最大矩形区域";
inline constexpr const char* Option5 = "指定起始行";
inline constexpr const char* Option6 = "指定起止单元格";
inline constexpr const char* Label7 = "左上角";
inline constexpr const char* Check1 = "右下角";
// Shown in Txt_RB while no bottom-right cell is given; never handed on.
inline constexpr const char* FindCornerHint = "智能识别";
inline constexpr const char* Check2 = "复制一次起始行上方的内容";
inline constexpr const char* Check3 = "在结果数据左侧标记数据来源工作簿的相关信息";
inline constexpr const char* Option7 = "文件路径";
inline constexpr const char* Option8 = "指定单元格的内容";
// Shown in Txt_Head while it is disabled; never handed on.
inline constexpr const char* CellListHint = "如：B2 或 B2,G5";
// The section "更多选项", closed when the dialog opens; the toggle shows whether it is open.
inline constexpr const char* Option9 = "文件名";
inline constexpr const char* MoreClosed = "更多选项 ▸";
inline constexpr const char* MoreOpen = "更多选项 ▾";
inline constexpr const char* Frame3 = "更多选项";
inline constexpr const char* CheckAlign = "按表头名称对齐列";
inline constexpr const char* CheckBlankRows = "跳过空白行";
inline constexpr const char* CheckHeaderRepeats = "删除重复的表头行";
inline constexpr const char* CheckStopAt = "遇到此文字所在的行即结束：";
// Shown in Txt_StopAt and Txt_SkipLast while they are disabled; never handed on.
inline constexpr const char* StopAtHint = "如：合计";
inline constexpr const char* CheckSkipLast = "末尾略去的行数：";
inline constexpr const char* SkipLastHint = "如：2";
inline constexpr const char* CheckDedupe = "删除重复的数据行";
inline constexpr const char* CheckFillMerged = "拆分合并单元格并填充";
inline constexpr const char* CheckLogSheet = "生成合并明细";
// Several sheets per source, the sheet-name label, one result sheet per source, the folder's
// file-name filter and the saved job, in the same section.
inline constexpr const char* OptionAllSheets = "全部工作表";
inline constexpr const char* CheckSkipHidden = "跳过隐藏的工作表";
inline constexpr const char* OptionPattern = "名称匹配";
inline constexpr const char* PatternHint = "如：*销售*";
inline constexpr const char* LabelMarkSheet = "在结果数据左侧另外标记：";
inline constexpr const char* CheckMarkSheet = "工作表名称";
inline constexpr const char* CheckPerSource = "每个来源一个工作表";
inline constexpr const char* LabelInclude = "文件名包含：";
inline constexpr const char* LabelExclude = "排除：";
inline constexpr const char* IncludeHint = "如：*销售*;*华东*";
inline constexpr const char* ExcludeHint = "如：*备份*";
// Shown as the tip of the two filter boxes while the sources are files, not a folder.
inline constexpr const char* FilterOnlyForFolders = "仅在选择文件夹时按文件名筛选。";
inline constexpr const char* BtnSaveJob = "保存为任务…";
inline constexpr const char* OK1 = "确定";
inline constexpr const char* NO1 = "放弃";

}  // namespace options::form2_texts
