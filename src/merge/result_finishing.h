// Finishing a run: naming the data sheets and freezing their header rows, adding the
// failure-list sheet, saving, and the summary text.
#pragma once

#include <string>
#include <vector>

#include "merge/detail/run_state.h"
#include "merge/source_report.h"

namespace merge {

// "成功合并(12)" for a single data sheet, "成功合并(300)-2" for the second of several.
std::string dataSheetName(const std::string& baseName, int mergedCount, int position,
                          int sheetCount);
// "失败列表(3)".
std::string failureSheetName(int failCount);
// "共选取【40】个文件，成功合并【37】个，【3】个合并失败。"
std::string summaryText(int chosen, int merged, int failed);
// "另有【2】个此前生成的合并结果未参与合并。", or "" when `count` is 0: the summary's tail when
// the folder walk left out results of earlier merges.
std::string earlierResultsText(int count);
// The message shown at the end of a saved run: the summary, then a line saying where the
// failed sources are listed when any failed, and a line on formula cells merged as empty when
// any merged source held some.
std::string finalMessage(const std::string& summary, const std::vector<SourceReport>& reports);
// The note on a failed source's cell of the failure list: "其它：文件不是有效的 zip 包…", the
// reason and the cause as the command line prints them; the reason alone without a cause.
std::string failureNote(const SourceFailure& failure);
// The text shown instead of the summary when the final save failed.
std::string saveFailedText(int chosen, int merged, int failed, const std::string& path,
                           const std::string& reason);

// Steps up to the save; returns false and the reason when the save failed.
bool finishResult(detail::RunState& run, std::string& saveError);

}  // namespace merge
