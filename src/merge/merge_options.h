// The options of one merge, as the options dialog's OK action fixes them and the merge run
// reads them. Field names are the ones users' support notes and the dialog code share.
//   SheetSpec: "" active sheet; "2" + position item ("2第 3 个"); "3" + sheet name ("3销售").
//   RangeSpec: "" largest data rectangle; "2" + start row ("225"); "3|B2|G5" or "3|B2|".
#pragma once

#include <string>

namespace merge {

struct MergeOptions {
    std::string SheetSpec;
    std::string RangeSpec;
    bool CopyHeaderOnce = false;
    bool MarkSource = false;
    bool Confirmed = false;
    std::string MarkCells;  // "" = label by file path; else addresses separated by ","
};

}  // namespace merge
