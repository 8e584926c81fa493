// The main window: a frameless 400 × 260 window with a pick-files and a pick-folder button, a
// minimise and a quit button and a greeting tip. Choosing sources (with the pickers, the
// keyboard, or by dropping files or a folder onto the window) fills SourceList and FolderPath,
// unloads the window and runs the merge inside the handler.
//   Form1 form; if (form.Form_Load()) app.exec();
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QWidget>

#include "app/api_select_files.h"
#include "app/desktop_host.h"
#include "app/final_message.h"
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
    using ResultOpener = FinalMessage::Opener;

    explicit Form1(QWidget* parent = nullptr);

    // Start-up: refuses to run while another merge is running (the message, then false: the
    // program ends without showing the window); otherwise hides the highlighted pictures,
    // draws a greeting tip, shows the window and returns true. No button is lit and none has
    // the keyboard focus until Tab gives it.
    bool Form_Load();

    // The thirty greeting tips, numbered 0 to 29.
    static QStringList greetingTips();
    // The tip number for a random x in [0, 1): the integer part of 30 × x, never above 29.
    static int greetingIndex(double x);

    // Replacements for tests: the two choosers, the probe for a running merge, and how the final
    // message opens the result or its folder (by default with the desktop's programs).
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

    // Each button is a pair of pictures at the same place: the one numbered 1 is the highlighted
    // look, shown over the other while the pointer (or the keyboard focus) is on the button, and
    // the one that takes clicks; the one numbered 2 is the normal look, always shown beneath.
    widgets::ActiveLabel* ImgFiles1;    // pick files, highlighted: the click target
    widgets::ActiveLabel* ImgFiles2;    // pick files, normal; takes the Tab focus, Enter, Space
    widgets::ActiveLabel* ImgFolder1;   // pick a folder, highlighted: the click target
    widgets::ActiveLabel* ImgFolder2;   // pick a folder, normal; takes the Tab focus, Enter, Space
    widgets::ActiveLabel* ImgMin1;      // minimise, highlighted: the click target
    widgets::ActiveLabel* ImgQuit1;     // quit, highlighted: the click target
    widgets::ActiveLabel* LblGreeting;  // the greeting tip on the green band; drags the window
    widgets::ActiveLabel* LblIcon;      // invisible spot over the drawn icon: drag, about box
    widgets::ActiveLabel* ImgQuit2;     // quit, normal
    widgets::ActiveLabel* ImgMin2;      // minimise, normal

signals:
    // The program's work is over (quit, a merge run returned, or a folder limit): the event
    // loop may end.
    void programEnded();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    // A close request from the window system (its close button, Alt+F4, the task bar) ends
    // the program as the quit button does.
    void closeEvent(QCloseEvent* event) override;
    // Tab and Shift+Tab move between the two ways of choosing, and only between them.
    bool focusNextPrevChild(bool next) override;
    // Files or a folder dragged from a file manager: two or more files, or one folder.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    enum class FolderOutcome { Refused, Merged, ProgramEnded };

    void createControls();
    void connectControls();
    void moveToScreenCentre();
    void hideHighlights();
    // Closes the window for a merge or the end of the program (our own closes, not a request).
    void unload();
    // With the sources chosen: unloads the window, runs the merge, ends the program.
    // `earlierResultsLeftOut` is what the folder walk left out as results of earlier merges;
    // `folder` is the folder the sources were collected from, when they were.
    void mergeFiles(const std::string& folderPath, std::vector<std::string> sources,
                    int earlierResultsLeftOut = 0, std::optional<ChosenSources> folder = {});
    // The folder checks and the walk; on success the merge runs. A refusal shows its message.
    FolderOutcome mergeFolder(const BrowsedFolder& chosen);
    void dropped(const QStringList& paths);
    // Runs the merge of SourceList; `earlierResultsLeftOut` is what the folder walk left out.
    void Zelk(int earlierResultsLeftOut = 0);

    void Form_MouseMove(Qt::MouseButtons buttons, QPoint pointer);
    void LblGreeting_MouseMove(Qt::MouseButtons buttons, QPoint pointer);
    void LblIcon_MouseMove(Qt::MouseButtons buttons, QPoint pointer);
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
    ChosenSources m_chosen;  // the sources as chosen, for the run's host
    bool m_unloading = false;
    bool m_choosing = false;  // a picker or a merge is under way
};

}  // namespace app
