#include "app/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace app::Settings {

namespace {

constexpr const char* LastFolderKey = "pickers/lastFolder";
// The remembered options, as the text of a job file without paths.
constexpr const char* LastOptionsKey = "options/lastAccepted";

// Our own file, opened by its path: the toolkit's settings are redirected (see
// keepToolkitSettingsWithOurs), ours stay where our organisation and application name put them.
QSettings openSettings() {
    return QSettings(folder() + QStringLiteral("/sheetmerge.conf"), QSettings::IniFormat);
}

}  // namespace

QString folder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/sheetmerge");
}

QString lastFolder() {
    const QString kept = openSettings().value(QString::fromLatin1(LastFolderKey)).toString();
    if (!kept.isEmpty() && QFileInfo(kept).isDir()) return kept;
    return QDir::homePath();
}

void setLastFolder(const QString& lastFolder) {
    if (lastFolder.isEmpty()) return;
    QSettings settings = openSettings();
    settings.setValue(QString::fromLatin1(LastFolderKey), QDir::cleanPath(lastFolder));
    settings.sync();
}

std::optional<merge::MergeJob> rememberedOptions() {
    const QString kept = openSettings().value(QString::fromLatin1(LastOptionsKey)).toString();
    if (kept.isEmpty()) return std::nullopt;
    const QByteArray text = kept.toUtf8();
    merge::JobReading reading =
        merge::readJob(std::string_view(text.constData(), text.size()), folder().toStdString());
    return std::move(reading.job);
}

void rememberOptions(const merge::MergeJob& job) {
    merge::MergeJob kept;
    kept.settings = job.settings;
    kept.include = job.include;
    kept.exclude = job.exclude;
    QSettings settings = openSettings();
    settings.setValue(QString::fromLatin1(LastOptionsKey),
                      QString::fromStdString(merge::jobText(kept)));
    settings.sync();
}

void keepToolkitSettingsWithOurs() {
    static bool s_done = false;
    if (s_done) return;
    s_done = true;
    // Qt's file dialog keeps its history with QSettings(UserScope, "QtProject") in the default
    // format; on Linux both formats are INI files found through these paths.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder());
}

}  // namespace app::Settings
