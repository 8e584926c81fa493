// A run the user stops between two sources: what is left of it is removed, and the text that
// says so.
//   if (host.stopRequested()) { abandonResult(*resultBook, resultPath); say(stoppedText(i, n)); }
#pragma once

#include <string>

#include "merge/automation.h"

namespace merge {

// Closes the result workbook without saving it and removes the file the run created for it at
// the start, so that no unfinished result is left behind. Sources are not touched.
void abandonResult(Workbook& resultBook, const std::string& resultPath);

// "已停止合并：已处理【3】个文件（共【40】个），未生成合并结果，源文件均未改动。"
std::string stoppedText(int done, int chosen);

}  // namespace merge
