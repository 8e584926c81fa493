// Opening a source that is protected by a password: the passwords the run knows first, then
// the user's answers through the run's host, up to three wrong ones.
//   std::shared_ptr<Workbook> book = openSource(run, path);  // nullptr + error state on failure
#pragma once

#include <memory>
#include <string>

#include "merge/automation.h"
#include "merge/detail/run_state.h"

namespace merge {

// Opens `path` as the application does. When it fails because it is encrypted and none of the
// run's passwords opens it, asks the host for a password and opens it again with the answer,
// up to MaxPasswordAttempts times. An answer marked for later files joins the run's passwords
// once it opened the file. Returns nullptr with the error state set when the source still does
// not open: the last failure when the user skipped it, WrongPassword after the last wrong try.
std::shared_ptr<Workbook> openSource(detail::RunState& run, const std::string& path);

}  // namespace merge
