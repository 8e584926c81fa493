#include "app/api_select_files.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QRegularExpression>

#include "app/settings.h"
#include "app/texts.h"

namespace app::ApiSelectFiles {

QStringList fileDialogFilters() {
    return {QString::fromUtf8(texts::AllSourcesFilter), QString::fromUtf8(texts::ExcelFilesFilter),
            QString::fromUtf8(texts::CsvFilesFilter)};
}

QStringList filterPatterns(const QString& filter) {
    const qsizetype open = filter.lastIndexOf(QLatin1Char('('));
    const qsizetype close = filter.lastIndexOf(QLatin1Char(')'));
    if (open < 0 || close < open) return {};
    static const QRegularExpression separators(QStringLiteral("[; ]"));
    return filter.mid(open + 1, close - open - 1).split(separators, Qt::SkipEmptyParts);
}

std::optional<SelectedFiles> SelectFiles() {
    Settings::keepToolkitSettingsWithOurs();
    QFileDialog dialog(nullptr, QString::fromUtf8(texts::SelectFilesTitle), Settings::lastFolder());
    // Qt's own dialog on every desktop: the filter texts separate their patterns with ";",
    // which Qt reads as one pattern, so the dialog's file model gets the patterns split here.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(fileDialogFilters());
    auto applyPatterns = [&dialog](const QString& filter) {
        if (auto* model = dialog.findChild<QFileSystemModel*>()) {
            model->setNameFilterDisables(false);
            model->setNameFilters(filterPatterns(filter));
        }
    };
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, applyPatterns);
    dialog.selectNameFilter(fileDialogFilters().constFirst());
    applyPatterns(fileDialogFilters().constFirst());
    dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    SelectedFiles chosen;
    chosen.directory = QFileInfo(files.constFirst()).absolutePath();
    for (const QString& file : files) chosen.names.append(QFileInfo(file).fileName());
    // Also a single file: the dialog that asks again for two opens where the user just was.
    Settings::setLastFolder(chosen.directory);
    return chosen;
}

std::optional<BrowsedFolder> BrowseForFolder(const QString& prompt) {
    Settings::keepToolkitSettingsWithOurs();
    const QString path = QFileDialog::getExistingDirectory(nullptr, prompt, Settings::lastFolder(),
                                                           QFileDialog::ShowDirsOnly);
    if (path.isEmpty()) return std::nullopt;
    Settings::setLastFolder(path);
    return BrowsedFolder{path, QFileInfo(path).fileName()};
}

std::optional<std::string> SaveJobFile(QWidget* parent) {
    Settings::keepToolkitSettingsWithOurs();
    QFileDialog dialog(parent, QString::fromUtf8(texts::SaveJobTitle), Settings::lastFolder());
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QString::fromUtf8(texts::JobFilesFilter));
    dialog.setDefaultSuffix(QStringLiteral("json"));
    dialog.selectFile(QString::fromUtf8(texts::JobFileName));
    dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    Settings::setLastFolder(QFileInfo(files.constFirst()).absolutePath());
    return files.constFirst().toStdString();
}

}  // namespace app::ApiSelectFiles
