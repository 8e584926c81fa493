// The options dialog's values that give typed settings: the way back from MergeSettings to what
// the dialog's boxes hold, so that saved settings (a job file, remembered options) go through
// the same OK checks against the sample as typed ones.
//   OkOutcome outcome = runOkAction(dialogValuesOf(job.settings), resolve);
#pragma once

#include "merge/merge_options.h"
#include "options/options_check.h"

namespace options {

// The dialog values whose OK action, when accepted, hands on exactly `settings` (encoded). A
// position that names no sheet (nullopt) becomes the item "第 32768 个", which names none either.
DialogValues dialogValuesOf(const merge::MergeSettings& settings);

}  // namespace options
