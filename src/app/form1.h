// The main window: a frameless 400 × 260 window with a pick-files and a pick-folder button, a
// minimise and a quit button and a greeting tip. Choosing sources fills SourceList and
// FolderPath, unloads the window and runs the merge inside the click handler.
//   Form1 form; if (form.Form_Load()) app.exec();
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QWidget>

#include "app/api_select_files.h"
#include "merge/merge_run.h"

namespace widgets {
class ActiveLabel;
}

namespace app {

class Form1 : public QWidget {
    Q_OBJECT
public:
    using FileChooser = std::function<std::optional<SelectedFiles>()>;
    using FolderChooser = std::function<std::optional<BrowsedFolder>(const QString& prompt)>;
    using ResultOpener = std::function<void(const std::filesystem::path&)>;

    explicit Form1(QWidget* parent = nullptr);

    // Start-up: refuses to run while another merge is running (the message, then false: the
    // program ends without showing the window); otherwise hides the highlighted pictures,
    // draws a greeting tip, shows the window and returns true.
    bool Form_Load();

    // The thirty greeting tips, numbered 0 to 29.
    static QStringList greetingTips();
    // The tip number for a random x in [0, 1): the integer part of 30 × x, never above 29.
    static int greetingIndex(double x);

    // Replacements for tests: the two choosers, the probe for a running merge, and what is done
    // with the saved result (by default it opens in the desktop's spreadsheet program).
    void setFileChooser(FileChooser chooser) { m_chooseFiles = std::move(chooser); }
    void setFolderChooser(FolderChooser chooser) { m_chooseFolder = std::move(chooser); }
    void setMergeRunningProbe(std::function<bool()> probe) { m_isMergeRunning = std::move(probe); }
    void setResultOpener(ResultOpener opener) { m_openResult = std::move(opener); }

    // The sources of the merge and their folder (ending in exactly one "/"); they stay valid
    // after the window has been unloaded.
    std::vector<std::string> SourceList;
    std::string FolderPath;

    // What the last merge run reported; empty before a run.
    const std::optional<merge::RunOutcome>& lastRun() const { return m_lastRun; }

    widgets::ActiveLabel* ImgFiles1;
    widgets::ActiveLabel* ImgFiles2;
    widgets::ActiveLabel* ImgFolder1;
    widgets::ActiveLabel* ImgFolder2;
    widgets::ActiveLabel* ImgMin1;
    widgets::ActiveLabel* ImgQuit1;
    widgets::ActiveLabel* LblGreeting;
    widgets::ActiveLabel* LblIcon;
    widgets::ActiveLabel* ImgQuit2;
    widgets::ActiveLabel* ImgMin2;

signals:
    // The program's work is over (quit, a merge run returned, or a folder limit): the event
    // loop may end.
    void programEnded();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void createControls();
    void moveToScreenCentre();
    void hideHighlights();
    // Runs the merge of SourceList; `earlierResultsLeftOut` is what the folder walk left out.
    void Zelk(int earlierResultsLeftOut = 0);

    void Form_MouseMove(Qt::MouseButtons buttons);
    void LblGreeting_MouseMove(Qt::MouseButtons buttons);
    void LblIcon_MouseMove(Qt::MouseButtons buttons);
    void LblIcon_DblClick();
    void ImgFiles2_MouseMove();
    void ImgFolder2_MouseMove();
    void ImgMin2_MouseMove();
    void ImgQuit2_MouseMove();
    void ImgFiles1_Click();
    void ImgFolder1_Click();
    void ImgMin1_Click();
    void ImgQuit1_Click();

    FileChooser m_chooseFiles;
    FolderChooser m_chooseFolder;
    std::function<bool()> m_isMergeRunning;
    ResultOpener m_openResult;
    QPixmap m_background;
    std::optional<merge::RunOutcome> m_lastRun;
};

}  // namespace app
