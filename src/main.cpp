// The sheetmerge executable: with arguments it is the command line; without, the desktop
// program when a display is available, else a hint on how to use the command line.
#include <cstdio>

#include "cli/command_line.h"
#ifdef SHEETMERGE_DESKTOP
#include "app/desktop_start.h"
#endif
#include "app/texts.h"

int main(int argc, char** argv) {
    if (argc >= 2) return cli::runCommandLine(argc, argv);
#ifdef SHEETMERGE_DESKTOP
    if (app::hasDisplay()) return app::runDesktop(argc, argv);
#endif
    std::fputs(app::texts::NoDisplay, stderr);
    return 2;
}
