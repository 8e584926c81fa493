// The options dialog: which worksheet of every source, which range of it, the header copy and
// the source labels. Its event rules keep the controls consistent while it is open; OK runs the
// checks of options_check.h and keeps the accepted options.
//   Form2 dialog; dialog.fill(sample); dialog.setResolver(resolve);
//   if (dialog.exec() == QDialog::Accepted) use(dialog.mergeOptions());
#pragma once

#include <QDialog>

#include "merge/merge_options.h"
#include "merge/run_host.h"
#include "options/options_check.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace widgets {
class ActiveLabel;
}

namespace options {

class Form2 : public QDialog {
    Q_OBJECT
public:
    explicit Form2(QWidget* parent = nullptr);

    // Fills the information fields and both sheet lists from the sample; the lists preselect
    // the sample's active worksheet (the first entry when it is out of range).
    void fill(const merge::SampleInfo& sample);

    // Judges typed addresses on the sample's active sheet while the dialog is open.
    void setResolver(merge::ReferenceResolver resolve);

    // The options the OK action accepted (Confirmed set); default options while the dialog has
    // not been confirmed.
    const merge::MergeOptions& mergeOptions() const { return m_mergeOptions; }

    // Colours of the dialog.
    static QColor backgroundColour();    // RGB(240, 240, 240)
    static QColor frameCaptionColour();  // RGB(10, 185, 16)
    static QColor faceColour();          // RGB(192, 255, 192)
    static QColor faceHoverColour();     // RGB(128, 255, 128)

    // The controls, named as users' support notes and the tests know them.
    QLabel* Label2;
    QLineEdit* Txt_Path;
    QLabel* Label1;
    QLabel* Lbl_Cnt;
    QLabel* Label3;
    QLineEdit* Txt_Xls1;
    QGroupBox* Frame1;
    QRadioButton* Option1;
    QRadioButton* Option2;
    QComboBox* Combo1;
    QRadioButton* Option3;
    QComboBox* Combo2;
    QGroupBox* Frame2;
    QRadioButton* Option4;
    QRadioButton* Option5;
    QLineEdit* Txt_Row;
    QRadioButton* Option6;
    QLabel* Label7;
    QLineEdit* Txt_LT;
    QCheckBox* Check1;
    QLineEdit* Txt_RB;
    QCheckBox* Check2;
    QCheckBox* Check3;
    QRadioButton* Option7;
    QRadioButton* Option8;
    QLineEdit* Txt_Head;
    widgets::ActiveLabel* OK2;
    widgets::ActiveLabel* OK1;
    widgets::ActiveLabel* NO2;
    widgets::ActiveLabel* NO1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void createControls();
    void setTabOrder();
    void connectRules();
    void Form_Load();

    void Option1_Click();
    void Option2_Click();
    void Option3_Click();
    void Option4_Click();
    void Option5_Click();
    void Option6_Click();
    void Option7_Click();
    void Option8_Click();
    void Combo1_GotFocus();
    void Combo2_GotFocus();
    void Txt_Row_GotFocus();
    void Txt_LT_GotFocus();
    void Txt_Row_Change();
    void Txt_LT_Change();
    void Check1_Click();
    void Check3_Click();
    void OK1_Click();
    void OK2_Click();
    void NO1_Click();
    void NO2_Click();
    void OK_MouseMove();
    void NO_MouseMove();
    void Form_MouseMove();

    void resetBottomRight();
    void resetHeaderBox();
    void runOk(OkPart clicked);
    DialogValues snapshot(OkPart clicked) const;

    merge::ReferenceResolver m_resolve;
    merge::MergeOptions m_mergeOptions;
    bool m_focusPlaced = false;
};

}  // namespace options
