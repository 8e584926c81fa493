#include "cli/command_line.h"

#include <cstdio>
#include <string_view>

#include "cli/cat_command.h"
#include "cli/detail/messages.h"
#include "cli/inspect_command.h"
#include "cli/texts.h"
#include "version.h"

#if __has_include("cli/merge_command.h")
#include "cli/merge_command.h"
#define SHEETMERGE_HAS_MERGE_COMMAND 1
#endif

namespace cli {
namespace {

#ifndef SHEETMERGE_HAS_MERGE_COMMAND
int runMergeCommand(int, char**) {
    std::fprintf(stderr, "sheetmerge: %s\n", texts::MergeNotAvailable);
    return 2;
}
#endif

// Every subcommand gets the whole command line; argv[1] is its own name.
struct Subcommand {
    std::string_view name;
    int (*run)(int argc, char** argv);
};

constexpr Subcommand Subcommands[] = {
    {"inspect", runInspectCommand},
    {"cat", runCatCommand},
    {"merge", runMergeCommand},
};

// Whether a command's arguments ask for help: inspect and cat have none of their own beyond
// the usage lines, which name all they take.
bool asksForHelp(int argc, char** argv) {
    for (int index = 2; index < argc; ++index) {
        const std::string_view argument = argv[index];
        if (argument == "--") return false;
        if (argument == "--help" || argument == "-h") return true;
    }
    return false;
}

}  // namespace

int runCommandLine(int argc, char** argv) {
    const std::string_view command = argc >= 2 ? argv[1] : "";
    if (command == "--version") {
        std::printf("sheetmerge %s\n", sheetmerge::Version);
        return 0;
    }
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(texts::Usage, stdout);
        std::fputs(texts::Help, stdout);
        return 0;
    }
    if ((command == "inspect" || command == "cat") && asksForHelp(argc, argv)) {
        std::fputs(texts::Usage, stdout);
        return 0;
    }
    for (const Subcommand& subcommand : Subcommands)
        if (subcommand.name == command) return subcommand.run(argc, argv);
    return detail::printUsageError(std::string(texts::UnknownCommand) + std::string(command));
}

}  // namespace cli
