// The progress window of a merge: "i / n" over a green bar that fills from left to right. It
// has no frame, stays above all other windows and takes no input.
//   Form3 progress; progress.show(); progress.showProgress(3, 40);
#pragma once

#include <QWidget>

class QLabel;

namespace app {

class Form3 : public QWidget {
    Q_OBJECT
public:
    explicit Form3(QWidget* parent = nullptr);

    // Shows "done / total" and a bar of (done × 5000) \ total twips, then lets pending window
    // events run so that the window repaints.
    void showProgress(int done, int total);

    // The bar's width in twips after `done` of `total` sources: the integer division of
    // 32-bit values, 5000 at done = total. 0 for a total below 1.
    static int barWidthTwips(int done, int total);

    QLabel* Lbl_Tip;
    QLabel* Lbl_Prog;
    QLabel* Lbl_bg;

private:
    void Form_Load();
};

}  // namespace app
