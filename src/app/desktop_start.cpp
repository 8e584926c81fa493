#include "app/desktop_start.h"

#include <cstdlib>

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "app/artwork.h"
#include "app/form1.h"
#include "app/settings.h"
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

bool installToolkitTranslations(QCoreApplication& application) {
    // The interface is Chinese throughout, so the toolkit's texts are too, and so are the
    // number and date formats of its dialogs.
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    QLocale::setDefault(chinese);
    auto* translator = new QTranslator(&application);
    if (!translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

int runDesktop(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("sheetmerge"));
    QApplication::setApplicationName(QStringLiteral("sheetmerge"));
    // The name of the installed menu entry, which window systems match the windows against.
    QGuiApplication::setDesktopFileName(QStringLiteral("sheetmerge"));
    QApplication::setWindowIcon(artwork::windowIcon());
    QApplication::setFont(widgets::dialogFont(12));
    installToolkitTranslations(application);
    Settings::keepToolkitSettingsWithOurs();
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
