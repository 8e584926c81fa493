// The choosers behind the main window's two buttons: the multi-select file dialog and the folder
// dialog. The main window calls them through replaceable functions, so tests answer for the user.
//   std::optional<SelectedFiles> chosen = ApiSelectFiles::SelectFiles();
#pragma once

#include <optional>

#include <string>

#include <QString>
#include <QStringList>

class QWidget;

namespace app {

// What the file dialog yields: the directory and the chosen names in the dialog's order.
struct SelectedFiles {
    QString directory;
    QStringList names;
};

// What the folder dialog yields: the folder's path and its display name (the folder's own name).
struct BrowsedFolder {
    QString path;
    QString displayName;
};

namespace ApiSelectFiles {

// The open-file dialog titled "请选择要处理的Excel或CSV文件", several files at once, with the
// filters of fileDialogFilters(), the first in effect at the start. It opens in the folder the
// pickers last worked in and keeps the chosen files' folder for the next time (settings.h).
// nullopt when the user cancels or chooses nothing.
std::optional<SelectedFiles> SelectFiles();

// The folder dialog with `prompt` as its caption, opening in the folder the pickers last
// worked in and keeping the chosen one for the next time. nullopt when the user cancels.
std::optional<BrowsedFolder> BrowseForFolder(const QString& prompt);

// The save dialog of the options dialog's "保存为任务…", in front of `parent`: a ".json" file
// (the extension added when the name has none), opening in the folder the pickers last worked
// in and keeping the chosen file's folder for the next time. nullopt when the user cancels.
std::optional<std::string> SaveJobFile(QWidget* parent);

// The name filters of the file dialog, in their order, as Qt's file dialog takes them: every
// kind of source together, then the Excel workbooks, then the CSV files.
QStringList fileDialogFilters();

// The patterns of one filter text: "Excel文件(*.xls;*.xlsx;*.xlsm)" -> *.xls, *.xlsx, *.xlsm.
QStringList filterPatterns(const QString& filter);

}  // namespace ApiSelectFiles
}  // namespace app
