// The options dialog: which worksheets of every source, which range of them, the header copy
// and the source labels, and in the section 更多选项 the row rules, the result's layout, a
// folder's file-name filter and 保存为任务…. Its event rules keep the controls consistent while
// it is open; OK runs the checks of options_check.h and keeps the accepted options.
//   Form2 dialog; dialog.fill(sample); dialog.setResolver(resolve);
//   if (dialog.exec() == QDialog::Accepted) use(dialog.mergeOptions());
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QDialog>

#include "merge/merge_options.h"
#include "merge/run_host.h"
#include "options/options_check.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace widgets {
class ActiveLabel;
}

namespace options {

// What the user chose as the sources on the main window, as a saved job names them.
struct SourceChoice {
    // Two or more files in merge order, or one folder; absolute paths.
    std::vector<std::string> paths;
    bool folder = false;     // `paths` is one folder whose files were collected by a walk
    bool recursive = false;  // the walk went into the folder's sub-folders
    // For a folder: how many of its collected files a file-name filter with these patterns
    // takes (both empty: every file).
    std::function<int(const std::vector<std::string>& include,
                      const std::vector<std::string>& exclude)>
        countTaken;
};

class Form2 : public QDialog {
    Q_OBJECT
public:
    explicit Form2(QWidget* parent = nullptr);

    // Fills the information fields and both sheet lists from the sample; the lists preselect
    // the sample's active worksheet (the first entry when it is out of range).
    void fill(const merge::SampleInfo& sample);

    // Judges typed addresses on the sample's active sheet while the dialog is open.
    void setResolver(merge::ReferenceResolver resolve);

    // The sources the dialog is about. With a folder, the boxes "文件名包含" and "排除" are in
    // use and the file count shows how many files they take; otherwise they are disabled. Call
    // after fill().
    void setSources(SourceChoice sources);

    // Asks where "保存为任务…" writes the job file, in front of `parent`: a full path, or nullopt
    // when the user cancels. Without a chooser, or without sources, the button is disabled.
    using JobFileChooser = std::function<std::optional<std::string>(QWidget* parent)>;
    void setJobFileChooser(JobFileChooser choose);

    // Sets the controls to remembered options and file-name filter, through the same rules as a
    // user's clicks. What the sample cannot show (a sheet name it lacks, a position beyond its
    // sheet count) keeps the state fill() gave; the section "更多选项" opens when an option in
    // it is set, so that nothing in effect is out of sight. Call after fill() and setSources().
    void restore(const merge::MergeSettings& settings, const std::vector<std::string>& include,
                 const std::vector<std::string>& exclude);

    // The file-name filter the OK action accepted with the options: the patterns of the two
    // boxes, empty when no folder is merged.
    const std::vector<std::string>& includePatterns() const { return m_include; }
    const std::vector<std::string>& excludePatterns() const { return m_exclude; }

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
    QRadioButton* Option9;  // "文件名": label with the source's file name
    // The section "更多选项" under the controls above, closed when the dialog opens; Btn_More
    // opens and closes it. A new control goes in with addMoreOptionsRow().
    QToolButton* Btn_More;
    QGroupBox* Frame3;               // "更多选项"
    QRadioButton* Option_AllSheets;  // "全部工作表": every worksheet, grouped with Option1-3
    QCheckBox* Check_SkipHidden;     // "跳过隐藏的工作表": only with several sheets
    QRadioButton* Option_Pattern;  // "名称匹配": every worksheet whose name matches Txt_Pattern
    QLineEdit* Txt_Pattern;        // the pattern; its focus selects Option_Pattern
    QLabel* Label_MarkSheet;  // "在结果数据左侧另外标记：", the caption of Check_MarkSheet
    QCheckBox* Check_MarkSheet;      // "工作表名称": a label column with the sheet's name
    QCheckBox* Check_Align;          // "按表头名称对齐列"
    QCheckBox* Check_BlankRows;      // "跳过空白行"
    QCheckBox* Check_HeaderRepeats;  // "删除重复的表头行"
    QCheckBox* Check_StopAt;         // "遇到此文字所在的行即结束：" with Txt_StopAt
    QLineEdit* Txt_StopAt;           // "如：合计" while unused
    QCheckBox* Check_SkipLast;       // "末尾略去的行数：" with Txt_SkipLast
    QLineEdit* Txt_SkipLast;         // "如：2" while unused
    QCheckBox* Check_Dedupe;         // "删除重复的数据行"
    QCheckBox* Check_FillMerged;     // "拆分合并单元格并填充"
    QCheckBox* Check_LogSheet;       // "生成合并明细"
    QCheckBox* Check_PerSource;      // "每个来源一个工作表"
    QLabel* Label_Include;           // "文件名包含：", the caption of Txt_Include
    QLineEdit* Txt_Include;          // file-name patterns a folder's files must match
    QLabel* Label_Exclude;           // "排除：", the caption of Txt_Exclude
    QLineEdit* Txt_Exclude;          // file-name patterns that leave a folder's files out
    QPushButton* Btn_SaveJob;        // "保存为任务…": writes the options as a job file
    widgets::ActiveLabel* OK2;       // the face of the OK button
    widgets::ActiveLabel* OK1;       // "确定", the OK button's caption lying on OK2
    widgets::ActiveLabel* NO2;       // the face of the cancel button
    widgets::ActiveLabel* NO1;       // "放弃", the cancel button's caption lying on NO2

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
    void createMoreOptions();
    // Adds one row of controls to the section "更多选项", left to right.
    void addMoreOptionsRow(std::initializer_list<QWidget*> controls);
    void setMoreOptionsOpen(bool open);
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
    void Option9_Click();
    void Check_StopAt_Click();
    void Check_SkipLast_Click();
    void Option_AllSheets_Click();
    void Option_Pattern_Click();
    void Txt_Pattern_GotFocus();
    void sheetChoiceChanged();
    void filterChanged();
    void Btn_SaveJob_Click();
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
    // Shows a refused OK's message and moves the focus to the box at fault.
    void showRefusal(const OkOutcome& outcome);
    DialogValues snapshot(OkPart clicked) const;
    // The patterns of the two filter boxes; empty when no folder's files are merged.
    std::vector<std::string> includeInEffect() const;
    std::vector<std::string> excludeInEffect() const;
    bool filterApplies() const;

    merge::ReferenceResolver m_resolve;
    merge::MergeOptions m_mergeOptions;
    SourceChoice m_sources;
    JobFileChooser m_chooseJobFile;
    std::vector<std::string> m_include;
    std::vector<std::string> m_exclude;
    int m_sourceCount = 0;
    bool m_focusPlaced = false;
};

}  // namespace options
