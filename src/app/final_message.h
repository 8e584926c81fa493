// The last message of a saved run: the run's summary, the result's full path, and beside "确定"
// the buttons "打开结果" and "打开所在文件夹". Opening goes through a replaceable function, and
// when it fails the message says why instead of the program writing to stderr.
//   FinalMessage box(summary, "/data/合并 150615 093012.xlsx", FinalMessage::openInDesktop);
//   box.exec();
#pragma once

#include <functional>
#include <optional>

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace app {

class FinalMessage : public QDialog {
    Q_OBJECT
public:
    // Opens a file or a folder with the desktop's program for it; returns why that failed, or
    // nothing when the program was started.
    using Opener = std::function<std::optional<QString>(const QString& path)>;

    FinalMessage(const QString& summary, const QString& resultPath, Opener opener,
                 QWidget* parent = nullptr);

    // The desktop's opener: xdg-open, whose failure within a second and a half (no program
    // for the type, no such file) is reported; a launch still running then counts as started.
    // Without xdg-open, the failure says so.
    static std::optional<QString> openInDesktop(const QString& path);

    QLabel* Lbl_Text;             // the run's summary
    QLineEdit* Txt_Result;        // the result's full path, read-only so it can be copied
    QLabel* Lbl_Failure;          // why opening failed; hidden until it does
    QPushButton* Cmd_OpenResult;  // "打开结果"
    QPushButton* Cmd_OpenFolder;  // "打开所在文件夹"
    QPushButton* Cmd_OK;          // "确定", the default button

private:
    // Opens `path`; closes the message when that worked, else shows `failureHead` + why.
    void openWith(const QString& path, const char* failureHead);

    Opener m_open;
    QString m_resultPath;
};

}  // namespace app
