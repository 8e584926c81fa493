// The Chinese texts of the merge run, exactly as users see them.
#pragma once

namespace merge::texts {

// Failure-list headings and reasons, columns A to E of its first two rows.
inline constexpr const char* FailureReasonHeading = "失败原因";
inline constexpr const char* SheetMissing = "不存在目标工作表";
inline constexpr const char* SheetEmpty = "目标工作表内容为空";
inline constexpr const char* RangeIllogical = "指定行以下无数据或起止单元格不合逻辑";
inline constexpr const char* OtherReason = "其它";
inline constexpr const char* FileCountHeading = "文件个数";

// Result names.
inline constexpr const char* MergedSuffix = "合并 ";        // before the time stamp
inline constexpr const char* MergedSheetBase = "成功合并";  // data sheets unless chosen by name
inline constexpr const char* FailureSheetBase = "失败列表";
inline constexpr const char* FeatureInformation = "特征信息";
inline constexpr const char* FailureSheetFont = "微软雅黑";

// The position items of the options dialog's sheet list, as the options record stores them:
// PositionPrefix + N + PositionSuffix.
inline constexpr const char* PositionPrefix = "第 ";
inline constexpr const char* PositionSuffix = " 个";

// Messages.
inline constexpr const char* NoticeTitle = "提示";
inline constexpr const char* ErrorTitle = "sheetmerge";
// "“" + name + NoWorksheetTail
inline constexpr const char* NoWorksheetTail =
    "”文件不存在普通工作表（Worksheet），请不要选取该文件。";
// "无法打开文件“" + path + "”：" + reason
inline constexpr const char* CannotOpenHead = "无法打开文件“";
// "无法创建合并结果文件“" + path + "”：" + reason + "。未合并任何文件。"
inline constexpr const char* CannotCreateHead = "无法创建合并结果文件“";
inline constexpr const char* NothingMergedTail = "。未合并任何文件。";
inline constexpr const char* QuoteColon = "”：";
// Summary: "共选取【" n "】个文件，成功合并【" m "】个，【" f "】个合并失败。"
inline constexpr const char* SummaryChosen = "共选取【";
inline constexpr const char* SummaryMerged = "】个文件，成功合并【";
inline constexpr const char* SummaryFailed = "】个，【";
inline constexpr const char* SummaryTail = "】个合并失败。";
// After the summary's counts when the final save failed:
// "…个合并失败，但合并结果无法保存到“" + path + "”：" + reason + "。"
inline constexpr const char* SaveFailedCounts = "】个合并失败，但合并结果无法保存到“";
inline constexpr const char* FullStop = "。";
// After the summary's counts when the folder walk left out results of earlier merges:
// "另有【" n "】个此前生成的合并结果未参与合并。"
inline constexpr const char* EarlierResultsHead = "另有【";
inline constexpr const char* EarlierResultsTail = "】个此前生成的合并结果未参与合并。";
// A line of the final message when sources failed.
inline constexpr const char* FailuresListed =
    "合并失败的文件及其原因列在合并结果的“失败列表”工作表中，将鼠标移到文件名上可查看原因。";
// Between the reason and the cause in a failed source's note on the failure list.
inline constexpr const char* NoteSeparator = "：";
// A line of the final message when merged sources held formulas without cached values:
// "【" files "】个文件中共有【" cells "】个公式单元格没有计算结果，已按空单元格合并。"
inline constexpr const char* UncalculatedFilesHead = "【";
inline constexpr const char* UncalculatedCellsHead = "】个文件中共有【";
inline constexpr const char* UncalculatedTail = "】个公式单元格没有计算结果，已按空单元格合并。";

// Why a source failed when the application reported no error.
inline constexpr const char* NotOpened = "无法打开该文件";
inline constexpr const char* NoWorksheet = "工作簿中没有普通工作表（Worksheet）";
inline constexpr const char* SheetHasNoData = "目标工作表中没有任何数据";
// "第 " row " 行及以下没有数据"
inline constexpr const char* NoDataFromRowHead = "第 ";
inline constexpr const char* NoDataFromRowTail = " 行及以下没有数据";
// "数据的右下角位于左上角单元格“" cell "”的左方或上方"
inline constexpr const char* CornerBeforeHead = "数据的右下角位于左上角单元格“";
inline constexpr const char* CornerBeforeTail = "”的左方或上方";
inline constexpr const char* NotPlaced = "数据未能复制到合并结果中";

// A run stopped by the user: "已停止合并：已处理【" done "】个文件（共【" n
// "】个），未生成合并结果，源文件均未改动。"
inline constexpr const char* StoppedDone = "已停止合并：已处理【";
inline constexpr const char* StoppedOf = "】个文件（共【";
inline constexpr const char* StoppedTail = "】个），未生成合并结果，源文件均未改动。";

}  // namespace merge::texts
