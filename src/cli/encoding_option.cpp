#include "cli/encoding_option.h"

#include "cli/texts.h"
#include "spreadsheet/text_encoding.h"

namespace cli {

bool isEncodingOption(std::string_view name) {
    return name == "--encoding";
}

std::optional<std::string> resolveEncoding(std::string_view name, std::string& encoding) {
    const std::optional<std::string> known = spreadsheet::knownEncodingName(name);
    if (!known)
        return std::string(texts::UnknownEncoding) + std::string(name) + texts::EncodingExamples;
    encoding = *known;
    return std::nullopt;
}

}  // namespace cli
