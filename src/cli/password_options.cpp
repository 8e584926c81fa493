#include "cli/password_options.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "cli/texts.h"
#include "spreadsheet/text_encoding.h"

namespace cli {
namespace {

// Password files hold a few lines; anything larger is no password file.
constexpr std::size_t MaxPasswordFileBytes = 1 << 20;

}  // namespace

bool isPasswordOption(std::string_view name) {
    return name == "--password" || name == "--password-file";
}

void PasswordArguments::add(std::string_view name, std::string value) {
    m_entries.push_back({name == "--password-file", std::move(value)});
}

std::optional<std::string> PasswordArguments::resolve(std::vector<std::string>& passwords) const {
    for (const Entry& entry : m_entries) {
        if (!entry.isFile) {
            passwords.push_back(entry.value);
            continue;
        }
        std::error_code ignored;
        if (std::filesystem::is_directory(entry.value, ignored))
            return std::string(texts::PasswordFileUnreadable) + entry.value + "：" +
                   std::strerror(EISDIR);
        std::ifstream in(entry.value, std::ios::binary);
        const int openError = errno;
        if (!in) {
            return std::string(texts::PasswordFileUnreadable) + entry.value + "：" +
                   std::strerror(openError);
        }
        std::string text;
        char chunk[4096];
        while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
            text.append(chunk, static_cast<std::size_t>(in.gcount()));
            if (text.size() > MaxPasswordFileBytes)
                return std::string(texts::PasswordFileTooLarge) + entry.value;
        }
        if (in.bad()) return std::string(texts::PasswordFileUnreadable) + entry.value;
        if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
        if (!spreadsheet::isValidUtf8(text))
            return std::string(texts::PasswordFileNotUtf8) + entry.value;
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) passwords.push_back(std::move(line));
            start = end + 1;
        }
    }
    return std::nullopt;
}

bool takePasswordOption(int argc, char** argv, int& index, PasswordArguments& arguments,
                        bool& missingValue) {
    missingValue = false;
    const std::string_view argument = argv[index];
    const std::size_t equals = argument.find('=');
    const std::string_view name = argument.substr(0, equals);
    if (!isPasswordOption(name)) return false;
    if (equals != std::string_view::npos) {
        arguments.add(name, std::string(argument.substr(equals + 1)));
    } else if (index + 1 < argc) {
        arguments.add(name, argv[++index]);
    } else {
        missingValue = true;
    }
    return true;
}

}  // namespace cli
