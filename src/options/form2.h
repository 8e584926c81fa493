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

    // The controls, named as users' support notes and the tests know them. The numbers are
    // those of the original design: they say nothing of order, but every support note uses them.
    QLabel* Label2;         // "所选文件夹路径：", the caption of Txt_Path
    QLineEdit* Txt_Path;    // the sources' folder, read-only
    QLabel* Label1;         // "所选工作簿个数：", the caption of Lbl_Cnt
    QLabel* Lbl_Cnt;        // the number of sources
    QLabel* Label3;         // "工作表信息来源：", the caption of Txt_Xls1
    QLineEdit* Txt_Xls1;    // the sample workbook the sheet lists come from, read-only
    QGroupBox* Frame1;      // "目标工作表": which worksheet of every source
    QRadioButton* Option1;  // "活动工作表": the active sheet of each source
    QRadioButton* Option2;  // "按位置": the sheet at the position chosen in Combo1
    QComboBox* Combo1;      // the positions "第 N 个"; its focus selects Option2
    QRadioButton* Option3;  // "按名称": the sheet named as chosen in Combo2
    QComboBox* Combo2;      // the sample's worksheet names; its focus selects Option3
    QGroupBox* Frame2;      // "目标区域": which range of that sheet
    QRadioButton* Option4;  // "含有数据的最大矩形区域": the largest rectangle holding data
    QRadioButton* Option5;  // "指定起始行": everything from the row in Txt_Row
    QLineEdit* Txt_Row;     // the start row; its focus selects Option5
    QRadioButton* Option6;  // "指定起止单元格": the block from Txt_LT to Txt_RB
    QLabel* Label7;         // "左上角", the caption of Txt_LT
    QLineEdit* Txt_LT;      // the top-left cell; its focus selects Option6
    QCheckBox* Check1;      // "右下角": a bottom-right cell is given in Txt_RB
    QLineEdit* Txt_RB;      // the bottom-right cell; shows "智能识别" while unused
    QCheckBox* Check2;      // "复制一次起始行上方的内容": copy the header rows once
    QCheckBox* Check3;      // "在结果数据左侧标记…": label every block with its source
    QRadioButton* Option7;  // "文件路径": label with the source's path
    QRadioButton* Option8;  // "指定单元格的内容": label with the cells listed in Txt_Head
    QLineEdit* Txt_Head;    // the label's source cells; "如：B2 或 B2,G5" while unused
    widgets::ActiveLabel* OK2;  // the face of the OK button
    widgets::ActiveLabel* OK1;  // "确定", the OK button's caption lying on OK2
    widgets::ActiveLabel* NO2;  // the face of the cancel button
    widgets::ActiveLabel* NO1;  // "放弃", the cancel button's caption lying on NO2

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Building the dialog, in this order; a new group of controls gets a step of its own.
    void createControls();
    void createInformationFields();
    void createSheetFrame();
    void createRangeFrame();
    void createHeaderAndLabelOptions();
    void createButtons();
    void keepPointerMovesInControls();
    void groupOptionButtons();
    void setStartState();
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
