// Finishing a run: naming the data sheets and freezing their header rows, adding the
// failure-list sheet, saving, and the summary text.
#pragma once

#include <string>

#include "merge/detail/run_state.h"

namespace merge {

// "成功合并(12)" for a single data sheet, "成功合并(300)-2" for the second of several.
std::string dataSheetName(const std::string& baseName, int mergedCount, int position,
                          int sheetCount);
// "失败列表(3)".
std::string failureSheetName(int failCount);
// "共选取【40】个文件，成功合并【37】个，【3】个合并失败。"
std::string summaryText(int chosen, int merged, int failed);
// The text shown instead of the summary when the final save failed.
std::string saveFailedText(int chosen, int merged, int failed, const std::string& path,
                           const std::string& reason);

// Steps up to the save; returns false and the reason when the save failed.
bool finishResult(detail::RunState& run, std::string& saveError);

}  // namespace merge
