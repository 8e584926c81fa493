#include "merge/run_stop.h"

#include <filesystem>
#include <system_error>

#include "merge/texts.h"

namespace merge {

void abandonResult(Workbook& resultBook, const std::string& resultPath) {
    // Closing lets the rows spooled so far go; they were never written under the result's name.
    resultBook.close();
    if (resultPath.empty()) return;
    std::error_code ignored;
    std::filesystem::remove(std::filesystem::path(resultPath), ignored);
}

std::string stoppedText(int done, int chosen) {
    return std::string(texts::StoppedDone) + std::to_string(done) + texts::StoppedOf +
           std::to_string(chosen) + texts::StoppedTail;
}

}  // namespace merge
