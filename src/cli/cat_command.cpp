#include "cli/cat_command.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

#include "cli/detail/messages.h"
#include "cli/encoding_option.h"
#include "cli/password_options.h"
#include "cli/texts.h"
#include "spreadsheet/csv_writer.h"
#include "spreadsheet/sheet_name.h"
#include "spreadsheet/workbook_reader.h"
#include "spreadsheet/zip_writer.h"

namespace cli {
namespace {

using spreadsheet::Error;
using spreadsheet::ErrorCode;
using spreadsheet::SheetKind;

template <typename... Arguments>
std::string formatText(const char* format, Arguments... arguments) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format, arguments...);
    return buffer;
}

// Appends to stdout; the CSV writer only ever appends.
class StandardOutputSink final : public spreadsheet::OutputSink {
public:
    spreadsheet::Result<void> write(std::span<const std::uint8_t> bytes) override {
        if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size())
            return Error(ErrorCode::WriteFailed, "stdout");
        m_position += bytes.size();
        return {};
    }
    spreadsheet::Result<void> writeAt(std::uint64_t, std::span<const std::uint8_t>) override {
        return Error(ErrorCode::WriteFailed, "stdout");
    }
    std::uint64_t position() const override { return m_position; }
    spreadsheet::Result<void> flush() override {
        if (std::fflush(stdout) != 0) return Error(ErrorCode::WriteFailed, "stdout");
        return {};
    }

private:
    std::uint64_t m_position = 0;
};

// Writes the sheet from A1 to its last used row and column, as a CSV result holds it (without
// the byte-order mark: the text goes on to other programs, not to a spreadsheet program).
bool writeSheetCsv(const spreadsheet::WorkbookData& book, const spreadsheet::Sheet& sheet) {
    const spreadsheet::DateStyleTest isDateStyle = [&book](std::uint32_t style) {
        // A style index past the table is a reader's fault; read it as General.
        return style < book.styles.size() &&
               spreadsheet::isDateFormat(book.styles[style].numberFormat);
    };
    StandardOutputSink sink;
    return static_cast<bool>(spreadsheet::writeCsvSheet(sink, nullptr, &sheet.rows, isDateStyle,
                                                        spreadsheet::ByteOrderMark::No));
}

}  // namespace

spreadsheet::Result<int> chooseWorksheet(const spreadsheet::WorkbookData& book, SheetChoice choice,
                                         int position, const std::string& name) {
    const int sheetCount = static_cast<int>(book.sheets.size());
    switch (choice) {
        case SheetChoice::Active: {
            if (book.activeSheet < 0 || book.activeSheet >= sheetCount)
                return Error(ErrorCode::NoSuchSheet, texts::NoWorksheet);
            const spreadsheet::Sheet& sheet = book.sheets[book.activeSheet];
            if (sheet.kind != SheetKind::Worksheet)
                return Error(ErrorCode::NoSuchSheet,
                             formatText(texts::ActiveSheetIsNotWorksheet, sheet.name.c_str()));
            return book.activeSheet;
        }
        case SheetChoice::ByPosition: {
            int worksheets = 0;
            int found = -1;
            for (int index = 0; index < sheetCount; ++index) {
                if (book.sheets[index].kind != SheetKind::Worksheet) continue;
                ++worksheets;
                if (worksheets == position) found = index;
            }
            if (found < 0)
                return Error(ErrorCode::NoSuchSheet,
                             formatText(texts::NoSuchSheetIndex, position, worksheets));
            return found;
        }
        case SheetChoice::ByName: {
            int found = -1;
            for (int index = 0; index < sheetCount && found < 0; ++index)
                if (book.sheets[index].name == name) found = index;
            for (int index = 0; index < sheetCount && found < 0; ++index)
                if (spreadsheet::sameSheetName(book.sheets[index].name, name)) found = index;
            if (found < 0)
                return Error(ErrorCode::NoSuchSheet,
                             formatText(texts::NoSuchSheetName, name.c_str()));
            if (book.sheets[found].kind != SheetKind::Worksheet)
                return Error(ErrorCode::NoSuchSheet,
                             formatText(texts::SheetIsNotWorksheet, name.c_str()));
            return found;
        }
    }
    return Error(ErrorCode::NoSuchSheet);
}

int runCatCommand(int argc, char** argv) {
    std::string file;
    SheetChoice choice = SheetChoice::Active;
    int position = 0;
    std::string name;
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
        std::string_view option = argument;
        std::string_view value;
        bool hasValue = false;
        if (argument.starts_with("--")) {
            if (const std::size_t equals = argument.find('='); equals != std::string_view::npos) {
                option = argument.substr(0, equals);
                value = argument.substr(equals + 1);
                hasValue = true;
            }
        }
        if (isEncodingOption(option)) {
            if (!hasValue) {
                if (index + 1 >= argc)
                    return detail::printUsageError(std::string(texts::MissingOptionValue) +
                                                   std::string(option));
                value = argv[++index];
            }
            encoding = std::string(value);
            continue;
        }
        if (option == "--sheet-index" || option == "--sheet-name") {
            if (choice != SheetChoice::Active)
                return detail::printUsageError(texts::BothSheetOptions);
            if (!hasValue) {
                if (index + 1 >= argc)
                    return detail::printUsageError(std::string(texts::MissingOptionValue) +
                                                   std::string(option));
                value = argv[++index];
            }
            if (option == "--sheet-name") {
                choice = SheetChoice::ByName;
                name = value;
                continue;
            }
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), position);
            if (error != std::errc() || end != value.data() + value.size() || position < 1)
                return detail::printUsageError(std::string(texts::BadSheetIndex) +
                                               std::string(value));
            choice = SheetChoice::ByPosition;
            continue;
        }
        if (argument.starts_with("-") && argument != "-")
            return detail::printUsageError(std::string(texts::UnknownOption) +
                                           std::string(argument));
        if (!file.empty())
            return detail::printUsageError(std::string(texts::UnknownOption) +
                                           std::string(argument));
        file = argument;
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
    spreadsheet::Result<int> chosen = chooseWorksheet(*book, choice, position, name);
    if (!chosen) {
        detail::printFileMessage(file, chosen.error().detail);
        return 1;
    }
    if (!writeSheetCsv(*book, book->sheets[*chosen])) {
        detail::printFileMessage(file, texts::WriteFailed);
        return 1;
    }
    return 0;
}

}  // namespace cli
