// The automation interface over the in-process engine: sources are read whole into memory
// (never written), the result workbook keeps the rows still being changed in memory and
// spools finished rows to a temporary file, and saving writes .xlsx (never .xls).
//   std::unique_ptr<Application> application = makeEngineApplication();
#pragma once

#include <memory>

#include "merge/automation.h"

namespace merge {

// A fresh application: no workbook open, alerts shown, one sheet per new workbook.
std::unique_ptr<Application> makeEngineApplication();

}  // namespace merge
