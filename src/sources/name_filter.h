// Which files of a folder walk are taken, by their names alone (never their folders): a name is
// taken when it matches at least one include pattern (or there is none) and no exclude pattern.
// Patterns use "*" and "?" and ignore case, CJK and other non-ASCII names included
// (spreadsheet/name_pattern.h). The command line's --include and --exclude fill it; the options
// dialog's 文件名包含 and 排除 fields can fill the same.
//   NameFilter filter{{"*销售*"}, {"*备份*", "~*"}};
//   if (filter.takes("华东销售.xlsx")) ...
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sources {

struct NameFilter {
    std::vector<std::string> include;  // empty: every name
    std::vector<std::string> exclude;

    // Whether the file named `fileName` (without its folder) is taken.
    bool takes(std::string_view fileName) const;
    // True when no pattern is given: every name is taken.
    bool empty() const { return include.empty() && exclude.empty(); }

    friend bool operator==(const NameFilter&, const NameFilter&) = default;
};

}  // namespace sources
