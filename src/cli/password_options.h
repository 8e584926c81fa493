// The password options of merge, inspect and cat: `--password TEXT` (repeatable) and
// `--password-file FILE` (UTF-8, one password per line), kept in the order given.
//   PasswordArguments passwords;  passwords.add("--password", "secret");
//   std::optional<std::string> refusal = passwords.resolve(list);
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// True for "--password" and "--password-file".
bool isPasswordOption(std::string_view name);

class PasswordArguments {
public:
    // Records one option (a name isPasswordOption() accepts) with its value.
    void add(std::string_view name, std::string value);
    bool empty() const { return m_entries.empty(); }

    // The passwords in the order given, files read line by line (a byte-order mark, CR line ends
    // and empty lines dropped). Returns the refusal text, naming the file, when a file is
    // missing, unreadable, too large or not UTF-8 text; `passwords` is then left unspecified.
    std::optional<std::string> resolve(std::vector<std::string>& passwords) const;

private:
    struct Entry {
        bool isFile = false;
        std::string value;
    };
    std::vector<Entry> m_entries;
};

// Takes argv[index] when it is a password option, "--password TEXT" or "--password=TEXT",
// moving `index` past its value. Returns false when it is not one; sets `missingValue` when
// the option ends the command line.
bool takePasswordOption(int argc, char** argv, int& index, PasswordArguments& arguments,
                        bool& missingValue);

}  // namespace cli
