// The progress window of a merge: "i / n" over a green bar that fills from left to right, the
// name of the file being merged, and a "取消" button that stops the run after that file. It
// has no frame, stays above all other windows, and only the merge run closes it.
//   Form3 progress; progress.show(); progress.showFile(path); progress.showProgress(3, 40);
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace app {

class Form3 : public QWidget {
    Q_OBJECT
public:
    explicit Form3(QWidget* parent = nullptr);

    // Shows "done / total" and a bar of (done × 5000) \ total twips, then lets pending window
    // events run so that the window repaints and a click on "取消" is seen.
    void showProgress(int done, int total);

    // Names the file being merged (its name only, shortened in the middle when long) and
    // repaints at once, without processing any other event.
    void showFile(const QString& path);

    // True once the user confirmed "取消": the run is to stop after the file in progress.
    bool stopRequested() const { return m_stopRequested; }

    // Closes the window for the merge run; close requests from elsewhere (the window manager,
    // Alt+F4) are refused while a run is under way.
    void unload();

    // The bar's width in twips after `done` of `total` sources: the integer division of
    // 32-bit values, 5000 at done = total. 0 for a total below 1.
    static int barWidthTwips(int done, int total);

    QLabel* Lbl_Tip;          // "i / n", centred on the bar
    QLabel* Lbl_Prog;         // the filled part of the bar
    QLabel* Lbl_bg;           // the empty bar, full width
    QLabel* Lbl_File;         // "正在合并：" and the file's name, or that the run is stopping
    QPushButton* Cmd_Cancel;  // "取消": asks once, then stops the run after the current file

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void Form_Load();
    void Cmd_Cancel_Click();

    bool m_stopRequested = false;
    bool m_unloading = false;
};

}  // namespace app
