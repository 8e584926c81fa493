// The sheetmerge executable: with arguments it is the command line.
#include <cstdio>

#include "cli/command_line.h"

int main(int argc, char** argv) {
    if (argc >= 2) return cli::runCommandLine(argc, argv);
    std::fputs("用法：sheetmerge inspect 文件 | sheetmerge cat 文件 [--sheet-index N | --sheet-name 名称]\n", stderr);
    return 2;
}
