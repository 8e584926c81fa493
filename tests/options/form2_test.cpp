// The options dialog's event rules, driven through simulated keys, clicks and pointer moves.
// Mouse events go through the window system layer, so they reach the control under the
// pointer as a user's would.
#define QTEST_QPA_MOUSE_HANDLING
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <map>
#include <memory>
#include <optional>

#include "merge/job_file.h"
#include "options/form2.h"
#include "sources/name_filter.h"
#include "widgets/active_label.h"
#include "widgets/message_service.h"

namespace {

struct Shown {
    QString text;
    merge::MessageStyle style;
    QString title;
};

// Records every message box instead of showing it.
class MessageRecorder {
public:
    MessageRecorder() {
        widgets::MessageService::setHandler(
            [this](const QString& text, merge::MessageStyle style, const QString& title) {
                messages.push_back({text, style, title});
                return merge::MessageAnswer::Ok;
            });
    }
    ~MessageRecorder() { widgets::MessageService::setHandler({}); }
    std::vector<Shown> messages;
};

// The sample's active sheet knows these addresses, and no others.
std::optional<spreadsheet::CellRef> resolveOnSample(const std::string& reference) {
    static const std::map<std::string, spreadsheet::CellRef> known = {
        {"A1", {1, 1}}, {"B2", {2, 2}}, {"G5", {5, 7}}, {"B1", {1, 2}}, {"C3", {3, 3}}};
    const auto found = known.find(reference);
    if (found == known.end()) return std::nullopt;
    return found->second;
}

}  // namespace

class Form2Test : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensWithItsStartState();
    void fillsInformationAndPreselectsActiveSheet();
    void startRowRule_data();
    void startRowRule();
    void typingAndDeletingKeepsHeaderUntilEmpty();
    void movingBetweenRangeBoxesSwitchesHeader();
    void bottomRightFollowsTopLeftText();
    void tickingBottomRightEmptiesAndFocusesIt();
    void labelOptionsFollowCheck3();
    void focusOnSheetNameListSelectsByName();
    void tabKeySelectsOptionsOnTheWay();
    void programmaticChangesRunTheRules();
    void hoverPaintsButtonFaces();
    void okWordingsDependOnPartClicked_data();
    void okWordingsDependOnPartClicked();
    void refusedOkKeepsDialogOpenWithFocus_data();
    void refusedOkKeepsDialogOpenWithFocus();
    void acceptedOkEncodesOptions();
    void byPositionStoresTheChosenItem();
    void cancelLeavesOptionsUnconfirmed_data();
    void cancelLeavesOptionsUnconfirmed();
    void disabledControlsLookDisabled_data();
    void disabledControlsLookDisabled();
    void startRowTakesWhatInputMethodsType_data();
    void startRowTakesWhatInputMethodsType();
    void enterConfirmsAndEscapeCancels_data();
    void enterConfirmsAndEscapeCancels();
    void escapeInOpenListOnlyClosesIt();
    void moreOptionsOpenAndCloseUnderTheControls();
    void boxesOfMoreOptionsFollowTheirChecks_data();
    void boxesOfMoreOptionsFollowTheirChecks();
    void moreOptionsAreCheckedOnOk_data();
    void moreOptionsAreCheckedOnOk();
    void moreOptionsAndFileNameAreHandedOn();
    void sheetChoicesLabelAndLayoutAreHandedOn_data();
    void sheetChoicesLabelAndLayoutAreHandedOn();
    void patternBoxSelectsItsChoiceAndMustNotBeEmpty();
    void fileCountFollowsTheNameFilter_data();
    void fileCountFollowsTheNameFilter();
    void nameFilterIsIdleForChosenFiles();
    void restoredOptionsAreAcceptedAsTheyWere_data();
    void restoredOptionsAreAcceptedAsTheyWere();
    void savedJobHoldsWhatOkAccepts();

private:
    void clickCentre(QWidget* widget) {
        QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
    }
    // A point of OK2's rim that OK1 does not cover.
    void clickFaceRim(widgets::ActiveLabel* face) {
        QTest::mouseClick(face, Qt::LeftButton, {}, QPoint(1, 1));
    }

    // A folder's sources: the folder and the files its walk collected.
    options::SourceChoice folderChoice(std::vector<std::string> files) {
        options::SourceChoice choice;
        choice.paths = {"/data/月报"};
        choice.folder = true;
        choice.recursive = true;
        choice.countTaken = [files = std::move(files)](const std::vector<std::string>& include,
                                                       const std::vector<std::string>& exclude) {
            const sources::NameFilter filter{include, exclude};
            int taken = 0;
            for (const std::string& file : files)
                if (filter.takes(file.substr(file.rfind('/') + 1))) ++taken;
            return taken;
        };
        return choice;
    }
    static merge::SampleInfo sample() {
        merge::SampleInfo info;
        info.folderPath = "/data/月报/";
        info.sourceCount = 12;
        info.samplePath = "/data/月报/一月.xlsx";
        info.worksheetNames = {"汇总", "销售", "库存"};
        info.activeWorksheet = 1;
        return info;
    }

    std::unique_ptr<options::Form2> m_dialog;
    std::unique_ptr<MessageRecorder> m_messages;
};

void Form2Test::init() {
    m_messages = std::make_unique<MessageRecorder>();
    m_dialog = std::make_unique<options::Form2>();
    merge::SampleInfo sample;
    sample.folderPath = "/data/月报/";
    sample.sourceCount = 12;
    sample.samplePath = "/data/月报/一月.xlsx";
    sample.worksheetNames = {"汇总", "销售", "库存"};
    sample.activeWorksheet = 1;
    m_dialog->fill(sample);
    m_dialog->setResolver(resolveOnSample);
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
}

void Form2Test::cleanup() {
    m_dialog.reset();
    m_messages.reset();
    for (QWidget* window : QApplication::topLevelWidgets())
        QVERIFY2(!window->isVisible(),
                 qPrintable(window->objectName() + QStringLiteral(" left open")));
}

void Form2Test::opensWithItsStartState() {
    options::Form2& d = *m_dialog;
    QCOMPARE(d.windowTitle(), QStringLiteral("参数设置"));
    QCOMPARE(d.size(), QSize(449, 412));
    QVERIFY(d.windowFlags().testFlag(Qt::WindowStaysOnTopHint));

    QVERIFY(d.Option1->isChecked());
    QVERIFY(d.Option5->isChecked());
    QVERIFY(d.Option7->isChecked());
    QCOMPARE(QApplication::focusWidget(), d.Txt_Row);

    QVERIFY(!d.Check1->isEnabled());
    QVERIFY(!d.Check1->isChecked());
    QVERIFY(!d.Check2->isEnabled());
    QVERIFY(!d.Check2->isChecked());
    QVERIFY(!d.Check3->isChecked());
    QVERIFY(d.Check3->isEnabled());
    QVERIFY(!d.Option7->isEnabled());
    QVERIFY(!d.Option8->isEnabled());
    QVERIFY(!d.Txt_RB->isEnabled());
    QCOMPARE(d.Txt_RB->text(), QStringLiteral("智能识别"));
    QVERIFY(!d.Txt_Head->isEnabled());
    QCOMPARE(d.Txt_Head->text(), QStringLiteral("如：B2 或 B2,G5"));
    QVERIFY(d.Txt_Row->text().isEmpty());
    QVERIFY(d.Txt_LT->text().isEmpty());

    QCOMPARE(d.Option4->text(), QStringLiteral("含有数据的最大矩形区域"));
    QCOMPARE(d.Check2->text(), QStringLiteral("复制一次起始行上方的内容"));
    QCOMPARE(d.Check3->text(), QStringLiteral("在结果数据左侧标记数据来源工作簿的相关信息"));
    QCOMPARE(d.OK1->text(), QStringLiteral("确定"));
    QCOMPARE(d.NO1->text(), QStringLiteral("放弃"));

    QCOMPARE(d.palette().color(QPalette::Window), QColor(240, 240, 240));
    QCOMPARE(d.OK2->palette().color(QPalette::Window), QColor(192, 255, 192));
    QCOMPARE(d.NO2->palette().color(QPalette::Window), QColor(192, 255, 192));
    QVERIFY(m_messages->messages.empty());
}

void Form2Test::fillsInformationAndPreselectsActiveSheet() {
    options::Form2& d = *m_dialog;
    QCOMPARE(d.Txt_Path->text(), QStringLiteral("/data/月报/"));
    QCOMPARE(d.Lbl_Cnt->text(), QStringLiteral("12"));
    QCOMPARE(d.Txt_Xls1->text(), QStringLiteral("/data/月报/一月.xlsx"));
    QCOMPARE(d.Combo1->count(), 3);
    QCOMPARE(d.Combo1->itemText(0), QStringLiteral("第 1 个"));
    QCOMPARE(d.Combo1->itemText(2), QStringLiteral("第 3 个"));
    QCOMPARE(d.Combo2->itemText(2), QStringLiteral("库存"));
    QCOMPARE(d.Combo1->currentText(), QStringLiteral("第 2 个"));
    QCOMPARE(d.Combo2->currentText(), QStringLiteral("销售"));

    // An active sheet that is no worksheet preselects the first entries.
    options::Form2 other;
    merge::SampleInfo sample;
    sample.worksheetNames = {"甲", "乙"};
    sample.activeWorksheet = 5;
    other.fill(sample);
    QCOMPARE(other.Combo1->currentIndex(), 0);
    QCOMPARE(other.Combo2->currentText(), QStringLiteral("甲"));
}

void Form2Test::startRowRule_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<bool>("headerTicked");

    QTest::newRow("one changes nothing") << "1" << false << false;
    QTest::newRow("twelve ticks the header") << "12" << false << true;
    QTest::newRow("zero is refused") << "0" << true << false;
    QTest::newRow("minus sign is refused") << "-" << true << false;
    QTest::newRow("letter is refused") << "x" << true << false;
    QTest::newRow("1.5 reads as 2") << "1.5" << false << true;
    QTest::newRow("2.5 reads as 2") << "2.5" << false << true;
    QTest::newRow("1.4 reads as 1") << "1.4" << false << false;
    QTest::newRow("0.5 reads as 0, halves to even") << "0.5" << true << false;
    QTest::newRow("beyond 32 bits is refused") << "99999999999" << true << false;
}

void Form2Test::startRowRule() {
    QFETCH(QString, typed);
    QFETCH(bool, refused);
    QFETCH(bool, headerTicked);
    options::Form2& d = *m_dialog;

    // The whole text at once, as pasted; typing key by key is tested below.
    d.Txt_Row->insert(typed);

    if (refused) {
        QVERIFY(!m_messages->messages.empty());
        const Shown& shown = m_messages->messages.front();
        QCOMPARE(shown.text, QStringLiteral("“起始行”必须是大于0的整数。"));
        QCOMPARE(shown.style, merge::MessageStyle::Information);
        QCOMPARE(shown.title, QStringLiteral("提示"));
        QVERIFY(d.Txt_Row->text().isEmpty() || d.Txt_Row->text() != typed);
        QCOMPARE(QApplication::focusWidget(), d.Txt_Row);
    } else {
        QVERIFY(m_messages->messages.empty());
        QCOMPARE(d.Txt_Row->text(), typed);
    }
    QCOMPARE(d.Check2->isChecked(), headerTicked);
    QCOMPARE(d.Check2->isEnabled(), headerTicked);
    QVERIFY(d.Option5->isChecked());
}

void Form2Test::typingAndDeletingKeepsHeaderUntilEmpty() {
    options::Form2& d = *m_dialog;
    QTest::keyClick(d.Txt_Row, Qt::Key_1);
    QVERIFY(!d.Check2->isChecked());
    QTest::keyClick(d.Txt_Row, Qt::Key_2);
    QVERIFY(d.Check2->isChecked());
    QVERIFY(d.Check2->isEnabled());
    QTest::keyClick(d.Txt_Row, Qt::Key_Backspace);
    QCOMPARE(d.Txt_Row->text(), QStringLiteral("1"));
    QVERIFY(d.Check2->isChecked());
    QVERIFY(d.Check2->isEnabled());
    QTest::keyClick(d.Txt_Row, Qt::Key_Backspace);
    QVERIFY(!d.Check2->isChecked());
    QVERIFY(!d.Check2->isEnabled());
    QVERIFY(m_messages->messages.empty());
}

void Form2Test::movingBetweenRangeBoxesSwitchesHeader() {
    options::Form2& d = *m_dialog;
    QTest::keyClicks(d.Txt_Row, QStringLiteral("5"));
    QVERIFY(d.Check2->isChecked());

    clickCentre(d.Txt_LT);
    QVERIFY(d.Option6->isChecked());
    QVERIFY(!d.Option5->isChecked());
    QVERIFY(!d.Check2->isChecked());
    QVERIFY(!d.Check2->isEnabled());
    QCOMPARE(QApplication::focusWidget(), d.Txt_LT);

    clickCentre(d.Txt_Row);
    QVERIFY(d.Option5->isChecked());
    QVERIFY(d.Check2->isChecked());
    QVERIFY(d.Check2->isEnabled());
    QCOMPARE(QApplication::focusWidget(), d.Txt_Row);

    // The largest rectangle needs no header.
    clickCentre(d.Option4);
    QVERIFY(d.Option4->isChecked());
    QVERIFY(!d.Check2->isChecked());
    QVERIFY(!d.Check2->isEnabled());
}

void Form2Test::bottomRightFollowsTopLeftText() {
    options::Form2& d = *m_dialog;
    clickCentre(d.Txt_LT);
    QTest::keyClicks(d.Txt_LT, QStringLiteral("B"));
    QVERIFY(!d.Check1->isEnabled());
    QTest::keyClicks(d.Txt_LT, QStringLiteral("2"));
    QVERIFY(d.Check1->isEnabled());
    QVERIFY(!d.Check1->isChecked());

    clickCentre(d.Check1);
    QVERIFY(d.Check1->isChecked());
    QTest::keyClicks(d.Txt_RB, QStringLiteral("G5"));

    clickCentre(d.Txt_LT);
    d.Txt_LT->end(false);
    QTest::keyClick(d.Txt_LT, Qt::Key_Backspace);
    QCOMPARE(d.Txt_LT->text(), QStringLiteral("B"));
    QVERIFY(!d.Check1->isChecked());
    QVERIFY(!d.Check1->isEnabled());
    QCOMPARE(d.Txt_RB->text(), QStringLiteral("智能识别"));
    QVERIFY(!d.Txt_RB->isEnabled());

    // A typed address enables "右下角" whichever option is selected; the largest rectangle
    // resets it, and choosing the cells option with an address in the box enables it again.
    clickCentre(d.Option4);
    QVERIFY(!d.Check1->isEnabled());
    d.Txt_LT->setText(QStringLiteral("xC3y"));
    QVERIFY(d.Check1->isEnabled());
    QVERIFY(d.Option4->isChecked());
    clickCentre(d.Option5);
    QVERIFY(!d.Check1->isEnabled());
    clickCentre(d.Option6);
    QVERIFY(d.Check1->isEnabled());
    QCOMPARE(QApplication::focusWidget(), d.Txt_LT);
}

void Form2Test::tickingBottomRightEmptiesAndFocusesIt() {
    options::Form2& d = *m_dialog;
    clickCentre(d.Txt_LT);
    QTest::keyClicks(d.Txt_LT, QStringLiteral("B2"));
    clickCentre(d.Check1);
    QVERIFY(d.Txt_RB->isEnabled());
    QVERIFY(d.Txt_RB->text().isEmpty());
    QCOMPARE(QApplication::focusWidget(), d.Txt_RB);
    QTest::keyClicks(d.Txt_RB, QStringLiteral("G5"));
    clickCentre(d.Check1);
    QVERIFY(!d.Check1->isChecked());
    QCOMPARE(d.Txt_RB->text(), QStringLiteral("智能识别"));
    QVERIFY(!d.Txt_RB->isEnabled());
}

void Form2Test::labelOptionsFollowCheck3() {
    options::Form2& d = *m_dialog;
    clickCentre(d.Check3);
    QVERIFY(d.Option7->isEnabled());
    QVERIFY(d.Option8->isEnabled());
    QVERIFY(!d.Txt_Head->isEnabled());
    QCOMPARE(d.Txt_Head->text(), QStringLiteral("如：B2 或 B2,G5"));

    clickCentre(d.Option8);
    QVERIFY(d.Txt_Head->isEnabled());
    QVERIFY(d.Txt_Head->text().isEmpty());
    QCOMPARE(QApplication::focusWidget(), d.Txt_Head);
    QTest::keyClicks(d.Txt_Head, QStringLiteral("B2"));
    // Each group keeps its own selection.
    QVERIFY(!d.Option7->isChecked());
    QVERIFY(d.Option1->isChecked());
    QVERIFY(d.Option5->isChecked());

    clickCentre(d.Check3);
    QVERIFY(!d.Option7->isEnabled());
    QVERIFY(!d.Option8->isEnabled());
    QVERIFY(d.Option8->isChecked());
    QVERIFY(!d.Txt_Head->isEnabled());
    QCOMPARE(d.Txt_Head->text(), QStringLiteral("如：B2 或 B2,G5"));

    // Ticked again with "指定单元格的内容" still selected: the box opens empty with the focus.
    clickCentre(d.Check3);
    QVERIFY(d.Txt_Head->isEnabled());
    QVERIFY(d.Txt_Head->text().isEmpty());
    QCOMPARE(QApplication::focusWidget(), d.Txt_Head);

    clickCentre(d.Option7);
    QVERIFY(d.Option7->isChecked());
    QVERIFY(!d.Option8->isChecked());
    QVERIFY(!d.Txt_Head->isEnabled());
    QCOMPARE(d.Txt_Head->text(), QStringLiteral("如：B2 或 B2,G5"));
}

void Form2Test::focusOnSheetNameListSelectsByName() {
    options::Form2& d = *m_dialog;
    d.Combo2->setFocus(Qt::OtherFocusReason);
    QVERIFY(d.Option3->isChecked());
    QCOMPARE(d.Combo2->currentText(), QStringLiteral("销售"));
    d.Combo1->setFocus(Qt::OtherFocusReason);
    QVERIFY(d.Option2->isChecked());
    QCOMPARE(d.Combo1->currentText(), QStringLiteral("第 2 个"));
    clickCentre(d.Option1);
    QVERIFY(d.Option1->isChecked());
    QCOMPARE(QApplication::focusWidget(), d.Option1);
    clickCentre(d.Option3);
    QCOMPARE(QApplication::focusWidget(), d.Combo2);
}

void Form2Test::tabKeySelectsOptionsOnTheWay() {
    options::Form2& d = *m_dialog;
    QTest::keyClicks(d.Txt_Row, QStringLiteral("5"));
    QVERIFY(d.Check2->isChecked());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), d.Option5);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), d.Txt_LT);
    QVERIFY(d.Option6->isChecked());
    QVERIFY(!d.Check2->isChecked());

    auto tabUntil = [](QWidget* target) {
        for (int press = 0; press < 25 && QApplication::focusWidget() != target; ++press)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        return QApplication::focusWidget() == target;
    };
    QVERIFY(d.Option1->isChecked());
    QVERIFY(tabUntil(d.Combo1));
    QVERIFY(d.Option2->isChecked());
    QVERIFY(tabUntil(d.Combo2));
    QVERIFY(d.Option3->isChecked());
    QVERIFY(d.Option6->isChecked());
    QVERIFY(tabUntil(d.Check3));
    // Back round to the start row: "指定起始行" again, and the header box follows its text.
    QVERIFY(tabUntil(d.Txt_Row));
    QVERIFY(d.Option5->isChecked());
    QVERIFY(d.Check2->isChecked());
}

void Form2Test::programmaticChangesRunTheRules() {
    options::Form2& d = *m_dialog;
    d.Txt_Row->setText(QStringLiteral("7"));
    QVERIFY(d.Check2->isChecked());
    d.Option4->setChecked(true);
    QVERIFY(!d.Check2->isChecked());
    QVERIFY(!d.Check2->isEnabled());
    d.Option5->setChecked(true);
    QVERIFY(d.Check2->isChecked());  // read again from the box's 7
    d.Check3->setChecked(true);
    QVERIFY(d.Option8->isEnabled());
    d.Option8->setChecked(true);
    QVERIFY(d.Txt_Head->isEnabled());
    d.Txt_Row->setText(QStringLiteral("abc"));
    QCOMPARE(m_messages->messages.size(), std::size_t(1));
    QVERIFY(d.Txt_Row->text().isEmpty());
    QVERIFY(!d.Check2->isChecked());
}

void Form2Test::hoverPaintsButtonFaces() {
    options::Form2& d = *m_dialog;
    const QColor face(192, 255, 192);
    const QColor hover(128, 255, 128);
    QTest::mouseMove(d.OK1, d.OK1->rect().center());
    QCOMPARE(d.OK2->palette().color(QPalette::Window), hover);
    QCOMPARE(d.NO2->palette().color(QPalette::Window), face);
    // Over a check box or an option button the face keeps its colour.
    QTest::mouseMove(d.Check3, d.Check3->rect().center());
    QCOMPARE(d.OK2->palette().color(QPalette::Window), hover);
    QTest::mouseMove(d.Option8, QPoint(5, 5));
    QCOMPARE(d.OK2->palette().color(QPalette::Window), hover);
    QTest::mouseMove(d.NO2, QPoint(1, 1));
    QCOMPARE(d.NO2->palette().color(QPalette::Window), hover);
    // Over the bare dialog both faces return.
    QTest::mouseMove(&d, QPoint(d.width() - 8, d.height() - 8));
    QCOMPARE(d.OK2->palette().color(QPalette::Window), face);
    QCOMPARE(d.NO2->palette().color(QPalette::Window), face);
}

void Form2Test::okWordingsDependOnPartClicked_data() {
    QTest::addColumn<QString>("cells");
    QTest::addColumn<bool>("onCaption");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty list, caption") << "" << true << "请输入单元格地址。";
    QTest::newRow("empty list, face") << "" << false << "请输入指定单元格的地址。";
    QTest::newRow("trailing comma, caption")
        << "B2," << true << "指定的单元格地址输入有误，请修正。";
    QTest::newRow("trailing comma, face") << "B2," << false << "指定单元格的地址输入有误，请修正。";
    QTest::newRow("unknown address, face")
        << "B2，ZZ" << false << "指定单元格的地址输入有误，请修正。";
}

void Form2Test::okWordingsDependOnPartClicked() {
    QFETCH(QString, cells);
    QFETCH(bool, onCaption);
    QFETCH(QString, message);
    options::Form2& d = *m_dialog;
    clickCentre(d.Option4);
    clickCentre(d.Check3);
    clickCentre(d.Option8);
    // Full-width characters arrive as input-method text, not as key presses.
    d.Txt_Head->insert(cells);
    if (onCaption)
        clickCentre(d.OK1);
    else
        clickFaceRim(d.OK2);
    QCOMPARE(m_messages->messages.size(), std::size_t(1));
    QCOMPARE(m_messages->messages.front().text, message);
    QCOMPARE(m_messages->messages.front().title, QStringLiteral("提示"));
    QCOMPARE(m_messages->messages.front().style, merge::MessageStyle::Information);
    QCOMPARE(QApplication::focusWidget(), d.Txt_Head);
    QVERIFY(d.isVisible());
    QVERIFY(!d.mergeOptions().Confirmed);
}

void Form2Test::refusedOkKeepsDialogOpenWithFocus_data() {
    QTest::addColumn<QString>("topLeft");
    QTest::addColumn<QString>("bottomRight");  // empty: "右下角" stays unticked
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus");
    QTest::newRow("empty start row") << ""
                                     << ""
                                     << "起始行数不能为空，请输入大于0的整数。"
                                     << "Txt_Row";
    QTest::newRow("unknown top-left") << "Q0"
                                      << ""
                                      << "左上角单元格地址有误，请修正。"
                                      << "Txt_LT";
    QTest::newRow("corner above the top-left")
        << "B2"
        << "B1"
        << "当前左上角单元格位于右下角单元格的右方/下方，不合逻辑，请修正。"
        << "Txt_LT";
    QTest::newRow("unknown bottom-right") << "B2"
                                          << "H9"
                                          << "右下角单元格地址有误，请修正。"
                                          << "Txt_RB";
}

void Form2Test::refusedOkKeepsDialogOpenWithFocus() {
    QFETCH(QString, topLeft);
    QFETCH(QString, bottomRight);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    options::Form2& d = *m_dialog;
    if (!topLeft.isEmpty()) {
        clickCentre(d.Txt_LT);
        QTest::keyClicks(d.Txt_LT, topLeft);
        if (!bottomRight.isEmpty()) {
            clickCentre(d.Check1);
            QTest::keyClicks(d.Txt_RB, bottomRight);
        }
    }
    clickCentre(d.Check2);  // a click on a disabled box changes nothing
    clickCentre(d.OK1);
    QCOMPARE(m_messages->messages.size(), std::size_t(1));
    QCOMPARE(m_messages->messages.front().text, message);
    QCOMPARE(QApplication::focusWidget()->objectName(), focus);
    QVERIFY(d.isVisible());
    QCOMPARE(d.Txt_LT->text(), topLeft);
}

void Form2Test::acceptedOkEncodesOptions() {
    options::Form2& d = *m_dialog;
    clickCentre(d.Txt_LT);
    QTest::keyClicks(d.Txt_LT, QStringLiteral("B2"));
    clickCentre(d.Check1);
    QTest::keyClicks(d.Txt_RB, QStringLiteral("G5"));
    clickCentre(d.Check3);
    clickCentre(d.Option8);
    QTest::keyClicks(d.Txt_Head, QStringLiteral("B2"));
    d.Txt_Head->insert(QStringLiteral("，G5"));
    d.Combo2->setFocus(Qt::OtherFocusReason);
    d.Combo2->setCurrentIndex(2);
    QSignalSpy accepted(&d, &QDialog::accepted);
    clickFaceRim(d.OK2);
    QVERIFY(m_messages->messages.empty());
    QCOMPARE(accepted.count(), 1);
    QVERIFY(!d.isVisible());
    const merge::MergeOptions& chosen = d.mergeOptions();
    QVERIFY(chosen.Confirmed);
    QCOMPARE(chosen.SheetSpec, std::string("3库存"));
    QCOMPARE(chosen.RangeSpec, std::string("3|B2|G5"));
    QVERIFY(!chosen.CopyHeaderOnce);
    QVERIFY(chosen.MarkSource);
    QCOMPARE(chosen.MarkCells, std::string("B2,G5"));
}

void Form2Test::byPositionStoresTheChosenItem() {
    options::Form2& d = *m_dialog;
    QTest::keyClicks(d.Txt_Row, QStringLiteral("3"));
    clickCentre(d.Option2);
    QCOMPARE(QApplication::focusWidget(), d.Combo1);
    d.Combo1->setCurrentIndex(2);
    clickCentre(d.OK1);
    const merge::MergeOptions& chosen = d.mergeOptions();
    QVERIFY(chosen.Confirmed);
    QCOMPARE(chosen.SheetSpec, std::string("2第 3 个"));
    QCOMPARE(chosen.RangeSpec, std::string("23"));
    QVERIFY(chosen.CopyHeaderOnce);
    QVERIFY(!chosen.MarkSource);
    QVERIFY(chosen.MarkCells.empty());
}

void Form2Test::cancelLeavesOptionsUnconfirmed_data() {
    QTest::addColumn<QString>("clicked");
    QTest::newRow("caption 放弃") << "NO1";
    QTest::newRow("face under it") << "NO2";
}

void Form2Test::cancelLeavesOptionsUnconfirmed() {
    QFETCH(QString, clicked);
    options::Form2& d = *m_dialog;
    QTest::keyClicks(d.Txt_Row, QStringLiteral("4"));
    QSignalSpy rejected(&d, &QDialog::rejected);
    auto* target = d.findChild<widgets::ActiveLabel*>(clicked);
    QVERIFY(target);
    if (clicked == QStringLiteral("NO2"))
        clickFaceRim(target);
    else
        clickCentre(target);
    QCOMPARE(rejected.count(), 1);
    QVERIFY(!d.isVisible());
    QVERIFY(!d.mergeOptions().Confirmed);
    QVERIFY(d.mergeOptions().RangeSpec.empty());
    QVERIFY(m_messages->messages.empty());
}

void Form2Test::disabledControlsLookDisabled_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<bool>("enabled");
    // At the start these are disabled; Check3 and Option1 are the usable controls beside them.
    QTest::newRow("右下角 in its frame") << "Check1" << false;
    QTest::newRow("智能识别 box in its frame") << "Txt_RB" << false;
    QTest::newRow("header copy") << "Check2" << false;
    QTest::newRow("文件路径") << "Option7" << false;
    QTest::newRow("指定单元格的内容") << "Option8" << false;
    QTest::newRow("cell list box") << "Txt_Head" << false;
    QTest::newRow("usable check box") << "Check3" << true;
    QTest::newRow("usable option in a frame") << "Option1" << true;
}

void Form2Test::disabledControlsLookDisabled() {
    QFETCH(QString, control);
    QFETCH(bool, enabled);
    auto* widget = m_dialog->findChild<QWidget*>(control);
    QVERIFY(widget);
    QCOMPARE(widget->isEnabled(), enabled);
    // The text is drawn in the colour of its state: near-black pixels only where it is usable.
    const QImage picture = widget->grab().toImage();
    int dark = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QColor pixel = picture.pixelColor(x, y);
            if (pixel.red() < 80 && pixel.green() < 80 && pixel.blue() < 80) ++dark;
        }
    if (enabled)
        QVERIFY2(dark > 10, qPrintable(QStringLiteral("%1 dark pixels").arg(dark)));
    else
        QVERIFY2(dark == 0, qPrintable(QStringLiteral("%1 dark pixels").arg(dark)));
    // The hint texts stay while disabled.
    if (control == QStringLiteral("Txt_RB"))
        QCOMPARE(m_dialog->Txt_RB->text(), QStringLiteral("智能识别"));
}

void Form2Test::startRowTakesWhatInputMethodsType_data() {
    QTest::addColumn<QStringList>("typed");  // pieces arriving one after the other
    QTest::addColumn<bool>("refused");
    QTest::addColumn<bool>("headerTicked");
    QTest::addColumn<QString>("rangeSpec");  // what OK hands on, when not refused
    QTest::newRow("space, then 7") << QStringList{" ", "7"} << false << true << "27";
    QTest::newRow("ideographic space, then 7") << QStringList{"　", "7"} << false << true << "27";
    QTest::newRow("full-width seven") << QStringList{"７"} << false << true << "27";
    QTest::newRow("full-width one") << QStringList{"１"} << false << false << "21";
    QTest::newRow("full-width twelve, key by key")
        << QStringList{"１", "２"} << false << true << "212";
    QTest::newRow("7, then a space") << QStringList{"7", " "} << false << true << "27";
    QTest::newRow("the last row") << QStringList{"1048576"} << false << true << "21048576";
    QTest::newRow("past the last row") << QStringList{"1048577"} << true << false << "";
    QTest::newRow("past the last row, key by key")
        << QStringList{"1", "0", "4", "8", "5", "7", "7"} << true << false << "";
    QTest::newRow("full-width past the last row")
        << QStringList{"１０４８５７７"} << true << false << "";
    QTest::newRow("full-width letter") << QStringList{"ａ"} << true << false << "";
}

void Form2Test::startRowTakesWhatInputMethodsType() {
    QFETCH(QStringList, typed);
    QFETCH(bool, refused);
    QFETCH(bool, headerTicked);
    QFETCH(QString, rangeSpec);
    options::Form2& d = *m_dialog;
    for (const QString& piece : typed) d.Txt_Row->insert(piece);
    if (refused) {
        QCOMPARE(m_messages->messages.size(), std::size_t(1));
        QCOMPARE(m_messages->messages[0].text, QStringLiteral("“起始行”必须是大于0的整数。"));
        QVERIFY(d.Txt_Row->text().isEmpty());
    } else {
        QVERIFY(m_messages->messages.empty());
        QCOMPARE(d.Txt_Row->text(), typed.join(QString()));
    }
    QCOMPARE(d.Check2->isChecked(), headerTicked);
    if (refused) return;
    // OK takes the number the box shows.
    QTest::keyClick(d.Txt_Row, Qt::Key_Return);
    QVERIFY(d.mergeOptions().Confirmed);
    QCOMPARE(QString::fromStdString(d.mergeOptions().RangeSpec), rangeSpec);
}

void Form2Test::enterConfirmsAndEscapeCancels_data() {
    QTest::addColumn<QString>("startRow");
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("outcome");  // "accepted", "refused" or "rejected"
    QTest::newRow("Enter in the start row") << "3"
                                            << "Txt_Row" << int(Qt::Key_Return) << 0 << "accepted";
    QTest::newRow("keypad Enter in the start row")
        << "3"
        << "Txt_Row" << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << "accepted";
    QTest::newRow("Enter on a check box") << "3"
                                          << "Check3" << int(Qt::Key_Return) << 0 << "accepted";
    QTest::newRow("Enter on a closed list") << "3"
                                            << "Combo2" << int(Qt::Key_Return) << 0 << "accepted";
    QTest::newRow("Enter with no start row") << ""
                                             << "Txt_Row" << int(Qt::Key_Return) << 0 << "refused";
    QTest::newRow("Escape in the start row") << "3"
                                             << "Txt_Row" << int(Qt::Key_Escape) << 0 << "rejected";
    QTest::newRow("Escape on a closed list") << "3"
                                             << "Combo1" << int(Qt::Key_Escape) << 0 << "rejected";
    QTest::newRow("Ctrl+Enter does nothing")
        << "3"
        << "Txt_Row" << int(Qt::Key_Return) << int(Qt::ControlModifier) << "open";
}

void Form2Test::enterConfirmsAndEscapeCancels() {
    QFETCH(QString, startRow);
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, outcome);
    options::Form2& d = *m_dialog;
    QTest::keyClicks(d.Txt_Row, startRow);
    auto* target = d.findChild<QWidget*>(focus);
    QVERIFY(target);
    target->setFocus(Qt::TabFocusReason);
    QSignalSpy accepted(&d, &QDialog::accepted);
    QSignalSpy rejected(&d, &QDialog::rejected);
    QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(accepted.count(), outcome == QStringLiteral("accepted") ? 1 : 0);
    QCOMPARE(rejected.count(), outcome == QStringLiteral("rejected") ? 1 : 0);
    QCOMPARE(d.isVisible(),
             outcome == QStringLiteral("refused") || outcome == QStringLiteral("open"));
    QCOMPARE(d.mergeOptions().Confirmed, outcome == QStringLiteral("accepted"));
    if (outcome == QStringLiteral("accepted"))
        QCOMPARE(d.mergeOptions().RangeSpec, std::string("23"));
    if (outcome == QStringLiteral("refused")) {
        QCOMPARE(m_messages->messages.size(), std::size_t(1));
        QCOMPARE(m_messages->messages[0].text,
                 QStringLiteral("起始行数不能为空，请输入大于0的整数。"));
        QCOMPARE(QApplication::focusWidget(), d.Txt_Row);
    } else {
        QVERIFY(m_messages->messages.empty());
    }
}

void Form2Test::escapeInOpenListOnlyClosesIt() {
    options::Form2& d = *m_dialog;
    QSignalSpy rejected(&d, &QDialog::rejected);
    QSignalSpy accepted(&d, &QDialog::accepted);
    d.Combo2->setFocus(Qt::TabFocusReason);
    QVERIFY(d.Option3->isChecked());
    d.Combo2->showPopup();
    QTRY_VERIFY(QApplication::activePopupWidget());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTRY_VERIFY(!QApplication::activePopupWidget());
    QVERIFY(d.isVisible());
    QCOMPARE(rejected.count(), 0);
    QCOMPARE(d.Combo2->currentText(), QStringLiteral("销售"));
    // Enter in the open list picks the entry under the cursor and closes the list only.
    d.Combo2->showPopup();
    QTRY_VERIFY(QApplication::activePopupWidget());
    // Keys go where a user's keys go: to the list inside the popup, which has the focus.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTRY_VERIFY(!QApplication::activePopupWidget());
    QCOMPARE(d.Combo2->currentText(), QStringLiteral("库存"));
    QVERIFY(d.isVisible());
    QCOMPARE(accepted.count(), 0);
    // With the list closed, Escape cancels the dialog.
    QTest::keyClick(d.Combo2, Qt::Key_Escape);
    QCOMPARE(rejected.count(), 1);
    QVERIFY(!d.isVisible());
    QVERIFY(!d.mergeOptions().Confirmed);
}

void Form2Test::moreOptionsOpenAndCloseUnderTheControls() {
    options::Form2& d = *m_dialog;
    const QSize closed = d.size();
    QVERIFY(!d.Frame3->isVisible());
    QCOMPARE(d.Btn_More->text(), QStringLiteral("更多选项 ▸"));
    // Everything above the section keeps its place; the section opens below all of it.
    int lowest = 0;
    for (QWidget* control : d.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (control != d.Frame3) lowest = std::max(lowest, control->geometry().bottom());
    clickCentre(d.Btn_More);
    QVERIFY(d.Frame3->isVisible());
    QCOMPARE(d.Btn_More->text(), QStringLiteral("更多选项 ▾"));
    QCOMPARE(d.width(), closed.width());
    QVERIFY(d.Frame3->geometry().top() > lowest);
    QVERIFY(d.height() >= d.Frame3->geometry().bottom());
    for (QWidget* control : d.Frame3->findChildren<QWidget*>())
        QVERIFY2(d.Frame3->rect().contains(control->geometry()),
                 qPrintable(control->objectName() + " lies outside the section"));
    clickCentre(d.Btn_More);
    QVERIFY(!d.Frame3->isVisible());
    QCOMPARE(d.size(), closed);
}

void Form2Test::boxesOfMoreOptionsFollowTheirChecks_data() {
    QTest::addColumn<QString>("check");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("hint");
    QTest::newRow("stop text") << "Check_StopAt"
                               << "Txt_StopAt"
                               << "如：合计";
    QTest::newRow("rows left out at the end") << "Check_SkipLast"
                                              << "Txt_SkipLast"
                                              << "如：2";
}

void Form2Test::boxesOfMoreOptionsFollowTheirChecks() {
    QFETCH(QString, check);
    QFETCH(QString, box);
    QFETCH(QString, hint);
    options::Form2& d = *m_dialog;
    auto* tick = d.findChild<QCheckBox*>(check);
    auto* edit = d.findChild<QLineEdit*>(box);
    QVERIFY(tick && edit);
    clickCentre(d.Btn_More);
    QVERIFY(!edit->isEnabled());
    QCOMPARE(edit->text(), hint);
    clickCentre(tick);
    QVERIFY(edit->isEnabled());
    QVERIFY(edit->text().isEmpty());
    QCOMPARE(QApplication::focusWidget(), edit);
    QTest::keyClicks(edit, QStringLiteral("3"));
    clickCentre(tick);
    QVERIFY(!edit->isEnabled());
    QCOMPARE(edit->text(), hint);
}

void Form2Test::moreOptionsAreCheckedOnOk_data() {
    QTest::addColumn<QString>("startRow");
    QTest::addColumn<QStringList>("ticks");
    QTest::addColumn<QString>("stopText");
    QTest::addColumn<QString>("skipText");
    QTest::addColumn<bool>("closeFirst");  // the section closed again before OK
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("focus");
    QTest::newRow("alignment with start row 1")
        << "1" << QStringList{"Check_Align"} << ""
        << "" << false << "按表头名称对齐列时，表头是起始行上方的一行，起始行须大于1。"
        << "Txt_Row";
    QTest::newRow("empty stop text") << "2" << QStringList{"Check_StopAt"} << ""
                                     << "" << false << "请输入结束标记的文字，如：合计。"
                                     << "Txt_StopAt";
    QTest::newRow("empty stop text in the closed section")
        << "2" << QStringList{"Check_StopAt"} << ""
        << "" << true << "请输入结束标记的文字，如：合计。"
        << "Txt_StopAt";
    QTest::newRow("rows left out not whole")
        << "2" << QStringList{"Check_StopAt", "Check_SkipLast"} << "合计"
        << "1.5" << false << "“末尾略去的行数”必须是大于0的整数。"
        << "Txt_SkipLast";
    QTest::newRow("start row checked first")
        << "" << QStringList{"Check_Align", "Check_StopAt"} << ""
        << "" << false << "起始行数不能为空，请输入大于0的整数。"
        << "Txt_Row";
}

void Form2Test::moreOptionsAreCheckedOnOk() {
    QFETCH(QString, startRow);
    QFETCH(QStringList, ticks);
    QFETCH(QString, stopText);
    QFETCH(QString, skipText);
    QFETCH(bool, closeFirst);
    QFETCH(QString, message);
    QFETCH(QString, focus);
    options::Form2& d = *m_dialog;
    QTest::keyClicks(d.Txt_Row, startRow);
    clickCentre(d.Btn_More);
    for (const QString& name : ticks) clickCentre(d.findChild<QCheckBox*>(name));
    // QTest types ASCII only; an input method hands over the Chinese text at once.
    if (!stopText.isEmpty()) d.Txt_StopAt->insert(stopText);
    if (!skipText.isEmpty()) QTest::keyClicks(d.Txt_SkipLast, skipText);
    if (closeFirst) clickCentre(d.Btn_More);
    clickCentre(d.OK1);
    QCOMPARE(m_messages->messages.size(), std::size_t(1));
    QCOMPARE(m_messages->messages.front().text, message);
    QCOMPARE(QApplication::focusWidget()->objectName(), focus);
    QVERIFY(QApplication::focusWidget()->isVisible());
    QVERIFY(d.isVisible());
    QVERIFY(!d.mergeOptions().Confirmed);
}

void Form2Test::moreOptionsAndFileNameAreHandedOn() {
    options::Form2& d = *m_dialog;
    QTest::keyClicks(d.Txt_Row, QStringLiteral("3"));
    QVERIFY(!d.Option9->isEnabled());
    clickCentre(d.Check3);
    QVERIFY(d.Option9->isEnabled());
    clickCentre(d.Option8);
    clickCentre(d.Option9);  // the file name: the cell box goes back to its hint
    QVERIFY(!d.Txt_Head->isEnabled());
    QCOMPARE(d.Txt_Head->text(), QStringLiteral("如：B2 或 B2,G5"));
    clickCentre(d.Btn_More);
    for (QCheckBox* check :
         {d.Check_Align, d.Check_BlankRows, d.Check_HeaderRepeats, d.Check_StopAt, d.Check_SkipLast,
          d.Check_Dedupe, d.Check_FillMerged, d.Check_LogSheet})
        clickCentre(check);
    d.Txt_StopAt->insert(QStringLiteral("合计"));
    QTest::keyClicks(d.Txt_SkipLast, QStringLiteral("2"));
    clickCentre(d.OK1);
    QVERIFY(m_messages->messages.empty());
    const merge::MergeOptions& chosen = d.mergeOptions();
    QVERIFY(chosen.Confirmed);
    QCOMPARE(chosen.RangeSpec, std::string("23"));
    QVERIFY(chosen.CopyHeaderOnce && chosen.MarkSource && chosen.MarkName);
    QCOMPARE(chosen.MarkCells, std::string());
    QVERIFY(chosen.AlignColumns && chosen.SkipBlankRows && chosen.DropHeaderRepeats &&
            chosen.Dedupe && chosen.FillMerged && chosen.LogSheet);
    QCOMPARE(chosen.StopAt, std::string("合计"));
    QCOMPARE(chosen.SkipLast, 2);
}

Q_DECLARE_METATYPE(merge::MergeSettings)

void Form2Test::sheetChoicesLabelAndLayoutAreHandedOn_data() {
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("sheetSpec");
    QTest::addColumn<bool>("skipHidden");
    QTest::addColumn<bool>("markSheet");
    QTest::addColumn<bool>("perSource");
    QTest::addColumn<bool>("markName");
    QTest::newRow("every sheet") << QStringList{"Option_AllSheets"} << ""
                                 << "4" << false << false << false << false;
    QTest::newRow("every visible sheet")
        << QStringList{"Option_AllSheets", "Check_SkipHidden"} << ""
        << "4" << true << false << false << false;
    QTest::newRow("sheets by pattern") << QStringList{"Option_Pattern"} << "*销售?"
                                       << "5*销售?" << false << false << false << false;
    QTest::newRow("visible sheets by pattern")
        << QStringList{"Option_Pattern", "Check_SkipHidden"} << "*销售*"
        << "5*销售*" << true << false << false << false;
    QTest::newRow("hidden box greyed again by a one-sheet choice")
        << QStringList{"Option_AllSheets", "Check_SkipHidden", "Option1"} << ""
        << "" << false << false << false << false;
    QTest::newRow("sheet-name label alone") << QStringList{"Check_MarkSheet"} << ""
                                            << "" << false << true << false << false;
    QTest::newRow("sheet-name label beside the file name")
        << QStringList{"Check3", "Option9", "Check_MarkSheet"} << ""
        << "" << false << true << false << true;
    QTest::newRow("one result sheet per source") << QStringList{"Check_PerSource"} << ""
                                                 << "" << false << false << true << false;
}

void Form2Test::sheetChoicesLabelAndLayoutAreHandedOn() {
    QFETCH(QStringList, clicks);
    QFETCH(QString, pattern);
    QFETCH(QString, sheetSpec);
    QFETCH(bool, skipHidden);
    QFETCH(bool, markSheet);
    QFETCH(bool, perSource);
    QFETCH(bool, markName);
    options::Form2& d = *m_dialog;
    QTest::keyClicks(d.Txt_Row, QStringLiteral("2"));
    clickCentre(d.Btn_More);
    QVERIFY(!d.Check_SkipHidden->isEnabled());
    for (const QString& name : clicks) {
        auto* control = d.findChild<QWidget*>(name);
        QVERIFY2(control && control->isEnabled(), qPrintable(name));
        clickCentre(control);
    }
    // An input method hands over the Chinese text at once.
    if (!pattern.isEmpty()) d.Txt_Pattern->insert(pattern);
    QCOMPARE(d.Check_SkipHidden->isEnabled(),
             d.Option_AllSheets->isChecked() || d.Option_Pattern->isChecked());
    // The several-sheet choices share the group of the frame "目标工作表".
    const int chosen = int(d.Option1->isChecked()) + int(d.Option2->isChecked()) +
                       int(d.Option3->isChecked()) + int(d.Option_AllSheets->isChecked()) +
                       int(d.Option_Pattern->isChecked());
    QCOMPARE(chosen, 1);
    clickCentre(d.OK1);
    QVERIFY(m_messages->messages.empty());
    const merge::MergeOptions& options = d.mergeOptions();
    QVERIFY(options.Confirmed);
    QCOMPARE(QString::fromStdString(options.SheetSpec), sheetSpec);
    QCOMPARE(options.SkipHidden, skipHidden);
    QCOMPARE(options.MarkSheet, markSheet);
    QCOMPARE(options.PerSource, perSource);
    QCOMPARE(options.MarkName, markName);
    QCOMPARE(options.MarkSource, markName);
    QCOMPARE(options.RangeSpec, std::string("22"));
}

void Form2Test::patternBoxSelectsItsChoiceAndMustNotBeEmpty() {
    options::Form2& d = *m_dialog;
    QTest::keyClicks(d.Txt_Row, QStringLiteral("2"));
    clickCentre(d.Btn_More);
    QVERIFY(d.Option1->isChecked());
    clickCentre(d.Txt_Pattern);
    QVERIFY(d.Option_Pattern->isChecked());
    QVERIFY(!d.Option1->isChecked());
    clickCentre(d.Option3);
    QCOMPARE(QApplication::focusWidget(), d.Combo2);
    clickCentre(d.Option_Pattern);
    QCOMPARE(QApplication::focusWidget(), d.Txt_Pattern);
    // Refused with the section closed: it opens and the empty box has the focus.
    clickCentre(d.Btn_More);
    QVERIFY(!d.Txt_Pattern->isVisible());
    clickCentre(d.OK1);
    QCOMPARE(m_messages->messages.size(), std::size_t(1));
    QCOMPARE(
        m_messages->messages.front().text,
        QStringLiteral("请输入工作表名称的匹配模式，可用 * 代表任意多个字符、? 代表一个字符。"));
    QCOMPARE(m_messages->messages.front().title, QStringLiteral("提示"));
    QCOMPARE(QApplication::focusWidget(), d.Txt_Pattern);
    QVERIFY(d.Txt_Pattern->isVisible());
    QVERIFY(!d.mergeOptions().Confirmed);
    QTest::keyClicks(d.Txt_Pattern, QStringLiteral("Q?"));
    clickCentre(d.OK1);
    QCOMPARE(d.mergeOptions().SheetSpec, std::string("5Q?"));
}

void Form2Test::fileCountFollowsTheNameFilter_data() {
    QTest::addColumn<QString>("include");
    QTest::addColumn<QString>("exclude");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("includePatterns");
    QTest::addColumn<QStringList>("excludePatterns");
    QTest::newRow("no filter") << ""
                               << "" << 5 << QStringList{} << QStringList{};
    QTest::newRow("months only") << "*月*"
                                 << "" << 4 << QStringList{"*月*"} << QStringList{};
    QTest::newRow("copies left out") << ""
                                     << "*备份*" << 4 << QStringList{} << QStringList{"*备份*"};
    QTest::newRow("both, full-width separators, case ignored")
        << "*月*；sales*"
        << "*备份*, " << 4 << QStringList{"*月*", "sales*"} << QStringList{"*备份*"};
    QTest::newRow("names as a list")
        << "SALES.xlsx;一月.xlsx"
        << "" << 2 << QStringList{"SALES.xlsx", "一月.xlsx"} << QStringList{};
    QTest::newRow("one file left: refused") << "二月*"
                                            << "" << 1 << QStringList{} << QStringList{};
    QTest::newRow("every file left out: refused") << ""
                                                  << "*" << 0 << QStringList{} << QStringList{};
}

void Form2Test::fileCountFollowsTheNameFilter() {
    QFETCH(QString, include);
    QFETCH(QString, exclude);
    QFETCH(int, count);
    QFETCH(QStringList, includePatterns);
    QFETCH(QStringList, excludePatterns);
    options::Form2& d = *m_dialog;
    // The walk's files are in sub-folders too; only their names are judged.
    d.setSources(
        folderChoice({"/data/月报/一月.xlsx", "/data/月报/二月.xlsx", "/data/月报/一月备份.xlsx",
                      "/data/月报/子/三月.csv", "/data/月报/Sales.XLSX"}));
    QCOMPARE(d.Lbl_Cnt->text(), QStringLiteral("5"));
    QTest::keyClicks(d.Txt_Row, QStringLiteral("2"));
    clickCentre(d.Btn_More);
    QVERIFY(d.Txt_Include->isEnabled() && d.Txt_Exclude->isEnabled());
    d.Txt_Include->insert(include);
    d.Txt_Exclude->insert(exclude);
    QCOMPARE(d.Lbl_Cnt->text(), QString::number(count));
    clickCentre(d.OK1);
    if (count < 2) {
        QCOMPARE(m_messages->messages.size(), std::size_t(1));
        QCOMPARE(m_messages->messages.front().text,
                 QStringLiteral("按“文件名包含”和“排除”筛选后，文件夹中只剩 %1 个文件，至少需要 "
                                "2 个才能合并，请修改筛选条件。")
                     .arg(count));
        QCOMPARE(QApplication::focusWidget(), d.Txt_Include);
        QVERIFY(!d.mergeOptions().Confirmed);
        return;
    }
    QVERIFY(m_messages->messages.empty());
    QVERIFY(d.mergeOptions().Confirmed);
    QStringList takenIn;
    QStringList takenOut;
    for (const std::string& pattern : d.includePatterns())
        takenIn << QString::fromStdString(pattern);
    for (const std::string& pattern : d.excludePatterns())
        takenOut << QString::fromStdString(pattern);
    QCOMPARE(takenIn, includePatterns);
    QCOMPARE(takenOut, excludePatterns);
}

void Form2Test::nameFilterIsIdleForChosenFiles() {
    options::Form2& d = *m_dialog;
    options::SourceChoice files;
    files.paths = {"/data/一月.xlsx", "/data/二月.xlsx"};
    d.setSources(files);
    // Remembered patterns stay in sight but greyed, and neither count nor run follows them.
    d.restore({}, {"*一月*"}, {"*"});
    QVERIFY(!d.Txt_Include->isEnabled());
    QVERIFY(!d.Txt_Exclude->isEnabled());
    QCOMPARE(d.Txt_Exclude->text(), QStringLiteral("*"));
    QVERIFY(!d.Frame3->isVisible());
    QCOMPARE(d.Lbl_Cnt->text(), QStringLiteral("12"));
    QTest::keyClicks(d.Txt_Row, QStringLiteral("2"));
    clickCentre(d.OK1);
    QVERIFY(m_messages->messages.empty());
    QVERIFY(d.mergeOptions().Confirmed);
    QVERIFY(d.includePatterns().empty());
    QVERIFY(d.excludePatterns().empty());
}

void Form2Test::restoredOptionsAreAcceptedAsTheyWere_data() {
    QTest::addColumn<merge::MergeSettings>("remembered");
    QTest::addColumn<merge::MergeSettings>("accepted");
    QTest::addColumn<bool>("sectionOpen");
    QTest::addColumn<QString>("focus");
    merge::MergeSettings fromRow;
    fromRow.range.mode = merge::RangeMode::FromRow;
    fromRow.range.startRow = 3;
    fromRow.copyHeaderOnce = true;
    QTest::newRow("start row and header") << fromRow << fromRow << false << "Txt_Row";

    merge::MergeSettings unticked = fromRow;
    unticked.copyHeaderOnce = false;
    unticked.label.mode = merge::LabelMode::FilePath;
    QTest::newRow("header unticked, path label") << unticked << unticked << false << "Txt_Row";

    merge::MergeSettings byName = fromRow;
    byName.sheet.mode = merge::SheetMode::ByName;
    byName.sheet.name = "库存";
    QTest::newRow("a name of the sample") << byName << byName << false << "Txt_Row";

    merge::MergeSettings missingName = byName;
    missingName.sheet.name = "往年";
    QTest::newRow("a name the sample lacks: the active sheet")
        << missingName << fromRow << false << "Txt_Row";

    merge::MergeSettings byPosition = fromRow;
    byPosition.sheet.mode = merge::SheetMode::ByPosition;
    byPosition.sheet.position = 3;
    QTest::newRow("the sample's last position") << byPosition << byPosition << false << "Txt_Row";

    merge::MergeSettings beyond = byPosition;
    beyond.sheet.position = 4;
    QTest::newRow("a position beyond the sample: the active sheet")
        << beyond << fromRow << false << "Txt_Row";

    merge::MergeSettings pattern;
    pattern.sheet.mode = merge::SheetMode::ByPattern;
    pattern.sheet.pattern = "*销售*";
    pattern.sheet.skipHidden = true;
    pattern.label.sheetName = true;
    pattern.perSource = true;
    QTest::newRow("visible sheets by pattern, sheet label, a sheet per source")
        << pattern << pattern << true << "Option4";

    merge::MergeSettings cells;
    cells.sheet.mode = merge::SheetMode::All;
    cells.range.mode = merge::RangeMode::Cells;
    cells.range.topLeft = "B2";
    cells.range.bottomRight = "G5";
    cells.label.mode = merge::LabelMode::CellList;
    cells.label.cells = {"A1", "B1"};
    QTest::newRow("every sheet, both corners, cell labels") << cells << cells << true << "Txt_LT";

    merge::MergeSettings cleaning;
    cleaning.label.mode = merge::LabelMode::FileName;
    cleaning.alignColumns = true;
    cleaning.cleaning.skipBlankRows = true;
    cleaning.cleaning.dropHeaderRepeats = true;
    cleaning.cleaning.stopAt = "合计";
    cleaning.cleaning.skipLast = 2;
    cleaning.cleaning.dedupe = true;
    cleaning.cleaning.fillMerged = true;
    cleaning.logSheet = true;
    QTest::newRow("data rectangle, file-name label, every row rule, the log")
        << cleaning << cleaning << true << "Option4";
}

void Form2Test::restoredOptionsAreAcceptedAsTheyWere() {
    QFETCH(merge::MergeSettings, remembered);
    QFETCH(merge::MergeSettings, accepted);
    QFETCH(bool, sectionOpen);
    QFETCH(QString, focus);
    options::Form2 d;
    d.fill(sample());
    d.setResolver(resolveOnSample);
    d.restore(remembered, {}, {});
    d.show();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    QCOMPARE(d.Frame3->isVisible(), sectionOpen);
    // The first focus goes to the remembered range's box without changing the choice.
    QCOMPARE(QApplication::focusWidget()->objectName(), focus);
    // A remembered text in that box is selected: typing replaces it.
    if (auto* box = qobject_cast<QLineEdit*>(QApplication::focusWidget()))
        QCOMPARE(box->selectedText(), box->text());
    clickCentre(d.OK1);
    QVERIFY2(m_messages->messages.empty(),
             qPrintable(m_messages->messages.empty() ? QString() : m_messages->messages[0].text));
    QVERIFY(d.mergeOptions().Confirmed);
    QVERIFY(merge::decodeOptions(d.mergeOptions()) == accepted);
}

void Form2Test::savedJobHoldsWhatOkAccepts() {
    options::Form2& d = *m_dialog;
    QVERIFY(!d.Btn_SaveJob->isEnabled());
    d.setSources(
        folderChoice({"/data/月报/一月.xlsx", "/data/月报/二月.xlsx", "/data/月报/一月备份.xlsx"}));
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::string file = folder.filePath(QStringLiteral("任务.json")).toStdString();
    int asked = 0;
    d.setJobFileChooser([&](QWidget* parent) -> std::optional<std::string> {
        ++asked;
        if (parent != &d) return std::nullopt;
        return file;
    });
    QVERIFY(d.Btn_SaveJob->isEnabled());
    clickCentre(d.Btn_More);
    // What OK refuses is never saved: the same message and focus, and no file asked for.
    clickCentre(d.Btn_SaveJob);
    QCOMPARE(asked, 0);
    QCOMPARE(m_messages->messages.size(), std::size_t(1));
    QCOMPARE(m_messages->messages.front().text,
             QStringLiteral("起始行数不能为空，请输入大于0的整数。"));
    QCOMPARE(QApplication::focusWidget(), d.Txt_Row);
    QVERIFY(d.isVisible());

    QTest::keyClicks(d.Txt_Row, QStringLiteral("2"));
    clickCentre(d.Option_AllSheets);
    clickCentre(d.Check_SkipHidden);
    clickCentre(d.Check_LogSheet);
    d.Txt_Exclude->insert(QStringLiteral("*备份*"));
    clickCentre(d.Btn_SaveJob);
    QCOMPARE(asked, 1);
    QCOMPARE(m_messages->messages.size(), std::size_t(2));
    QVERIFY(m_messages->messages.back().text.startsWith(QStringLiteral("任务已保存到：")));
    QVERIFY(d.isVisible());
    const merge::JobReading reading = merge::loadJobFile(file);
    QVERIFY2(reading.job.has_value(), reading.error.c_str());
    const merge::MergeJob& job = *reading.job;
    QCOMPARE(job.paths, std::vector<std::string>{"/data/月报"});
    QVERIFY(job.recursive);
    QVERIFY(job.include.empty());
    QCOMPARE(job.exclude, std::vector<std::string>{"*备份*"});
    // OK then accepts exactly the settings the job holds.
    clickCentre(d.OK1);
    QVERIFY(d.mergeOptions().Confirmed);
    QVERIFY(merge::decodeOptions(d.mergeOptions()) == job.settings);
    QCOMPARE(job.settings.sheet.mode, merge::SheetMode::All);
    QVERIFY(job.settings.sheet.skipHidden && job.settings.logSheet);
}

QTEST_MAIN(Form2Test)
#include "form2_test.moc"
