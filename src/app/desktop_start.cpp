#include "app/desktop_start.h"

#include <cstdlib>

#include <QApplication>

#include "app/artwork.h"
#include "app/form1.h"
#include "widgets/fonts.h"

namespace app {

namespace {
bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}
}  // namespace

bool hasDisplay() {
    return isSet("QT_QPA_PLATFORM") || isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
}

int runDesktop(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("sheetmerge"));
    QApplication::setWindowIcon(artwork::windowIcon());
    QApplication::setFont(widgets::dialogFont(12));
    // The program ends when its work is over, not when its last window closes: the main window
    // closes before the merge run opens its dialogs.
    QApplication::setQuitOnLastWindowClosed(false);

    Form1 form;
    QObject::connect(&form, &Form1::programEnded, &application, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    if (!form.Form_Load()) return 0;
    return application.exec();
}

}  // namespace app
