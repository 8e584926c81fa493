// Messages the inspect and cat commands print on stderr: one line each, naming the file.
#pragma once

#include <cstdio>
#include <string>

#include "cli/texts.h"

namespace cli::detail {

// "sheetmerge: FILE: REASON" on one line; line breaks inside the reason become spaces.
inline void printFileMessage(const std::string& file, std::string reason) {
    for (char& character : reason)
        if (character == '\n' || character == '\r') character = ' ';
    std::fprintf(stderr, "sheetmerge: %s: %s\n", file.c_str(), reason.c_str());
}

// The reason, then the usage, for wrong arguments (exit status 2).
inline int printUsageError(const std::string& reason) {
    std::fprintf(stderr, "sheetmerge: %s\n%s", reason.c_str(), texts::Usage);
    return 2;
}

}  // namespace cli::detail
