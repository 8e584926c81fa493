#include "cli/inspect_command.h"

#include <cstdio>
#include <string_view>

#include "cli/detail/messages.h"
#include "cli/encoding_option.h"
#include "cli/password_options.h"
#include "cli/texts.h"
#include "spreadsheet/sheet_extent.h"
#include "spreadsheet/workbook_reader.h"

namespace cli {
namespace {

using spreadsheet::SheetKind;
using spreadsheet::Visibility;

const char* kindWord(SheetKind kind) {
    switch (kind) {
        case SheetKind::Worksheet:
            return "worksheet";
        case SheetKind::Chart:
            return "chart";
        case SheetKind::Other:
            return "other";
    }
    return "other";
}

const char* visibilityWord(Visibility visibility) {
    switch (visibility) {
        case Visibility::Visible:
            return "visible";
        case Visibility::Hidden:
            return "hidden";
        case Visibility::VeryHidden:
            return "veryHidden";
    }
    return "visible";
}

// A sheet name with control characters (possible in a crafted file) must not break the
// one-line-per-sheet layout; they show as \t, \n, \r or \xHH.
void appendName(std::string& out, std::string_view name) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    for (const char character : name) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte == '\t')
            out += "\\t";
        else if (byte == '\n')
            out += "\\n";
        else if (byte == '\r')
            out += "\\r";
        else if (byte == '\\')
            out += "\\\\";
        else if (byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            out += Digits[byte >> 4];
            out += Digits[byte & 0x0F];
        } else {
            out += character;
        }
    }
}

}  // namespace

std::string inspectListing(const spreadsheet::WorkbookData& book) {
    std::string out =
        "position\tname\tkind\tvisibility\tactive\tlast_row\tlast_column\tuncalculated\t"
        "encoding\n";
    for (std::size_t index = 0; index < book.sheets.size(); ++index) {
        const spreadsheet::Sheet& sheet = book.sheets[index];
        out += std::to_string(index + 1);
        out += '\t';
        appendName(out, sheet.name);
        out += '\t';
        out += kindWord(sheet.kind);
        out += '\t';
        out += visibilityWord(sheet.visibility);
        out += '\t';
        if (static_cast<int>(index) == book.activeSheet) out += '*';
        out += '\t';
        if (sheet.kind == SheetKind::Chart) {
            out += "-\t-\t";
        } else {
            out += std::to_string(spreadsheet::lastUsedRow(sheet));
            out += '\t';
            out += std::to_string(spreadsheet::lastUsedColumn(sheet));
            out += '\t';
        }
        if (sheet.uncalculatedFormulas > 0) out += std::to_string(sheet.uncalculatedFormulas);
        out += '\t';
        out += book.textEncoding;
        out += '\n';
    }
    return out;
}

int runInspectCommand(int argc, char** argv) {
    std::string file;
    PasswordArguments passwordArguments;
    std::optional<std::string> encoding;
    for (int index = 2; index < argc; ++index) {
        bool missingValue = false;
        if (takePasswordOption(argc, argv, index, passwordArguments, missingValue)) {
            if (missingValue)
                return detail::printUsageError(std::string(texts::MissingOptionValue) +
                                               argv[index]);
            continue;
        }
        const std::string_view argument = argv[index];
        const std::string_view name = argument.substr(0, argument.find('='));
        if (isEncodingOption(name)) {
            if (name.size() < argument.size()) {
                encoding = argument.substr(name.size() + 1);
            } else if (index + 1 < argc) {
                encoding = argv[++index];
            } else {
                return detail::printUsageError(std::string(texts::MissingOptionValue) +
                                               argv[index]);
            }
            continue;
        }
        if (!file.empty())
            return detail::printUsageError(std::string(texts::UnknownOption) + argv[index]);
        file = argv[index];
    }
    if (file.empty()) return detail::printUsageError(texts::MissingFile);
    spreadsheet::OpenOptions options;
    if (encoding) {
        if (const std::optional<std::string> refusal =
                resolveEncoding(*encoding, options.csvEncoding))
            return detail::printUsageError(*refusal);
    }
    if (const std::optional<std::string> refusal = passwordArguments.resolve(options.passwords)) {
        std::fprintf(stderr, "sheetmerge: %s\n", refusal->c_str());
        return 2;
    }
    spreadsheet::Result<spreadsheet::WorkbookData> book =
        spreadsheet::openWorkbookFile(file, options);
    if (!book) {
        detail::printFileMessage(file, spreadsheet::errorText(book.error()));
        return 1;
    }
    const std::string listing = inspectListing(*book);
    if (std::fwrite(listing.data(), 1, listing.size(), stdout) != listing.size() ||
        std::fflush(stdout) != 0) {
        detail::printFileMessage(file, texts::WriteFailed);
        return 1;
    }
    return 0;
}

}  // namespace cli
