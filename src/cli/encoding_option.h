// The `--encoding NAME` option of merge, inspect and cat: the encoding every CSV source is read
// in instead of the one detected per file.
//   std::optional<std::string> refusal = resolveEncoding(argument, options.csvEncoding);
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cli {

// True for "--encoding".
bool isEncodingOption(std::string_view name);

// Checks `name` and stores the name the engine decodes with in `encoding`. Returns the refusal
// text (naming the option and the name) for a name the system's converter does not know.
std::optional<std::string> resolveEncoding(std::string_view name, std::string& encoding);

}  // namespace cli
