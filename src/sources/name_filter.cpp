#include "sources/name_filter.h"

#include <algorithm>

#include "spreadsheet/name_pattern.h"

namespace sources {

bool NameFilter::takes(std::string_view fileName) const {
    const auto matches = [fileName](const std::string& pattern) {
        return spreadsheet::matchesNamePattern(pattern, fileName);
    };
    if (!include.empty() && std::none_of(include.begin(), include.end(), matches)) return false;
    return std::none_of(exclude.begin(), exclude.end(), matches);
}

}  // namespace sources
