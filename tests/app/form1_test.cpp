// The main window: start-up, button highlighting, dragging (also by hand where the window
// system refuses), the about box, close requests, the keyboard, both pickers with their cancel
// paths and checks, dropped files and folders, and whole merges started from the window with
// the dialogs answered by the test: one to the end with its final message, one cancelled from
// the progress window.
#define QTEST_QPA_MOUSE_HANDLING
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <memory>

#include "app/final_message.h"
#include "app/form1.h"
#include "app/form3.h"
#include "merge/job_file.h"
#include "options/form2.h"
#include "spreadsheet/workbook_reader.h"
#include "widgets/active_label.h"
#include "widgets/mdl_move_noborder_wnd.h"
#include "widgets/message_service.h"

namespace {

struct Shown {
    QString text;
    merge::MessageStyle style;
    QString title;
    QStringList visibleWindows;  // top-level windows on screen while the box was up
};

class MessageRecorder {
public:
    MessageRecorder() {
        widgets::MessageService::setHandler(
            [this](const QString& text, merge::MessageStyle style, const QString& title) {
                Shown shown{text, style, title, {}};
                for (QWidget* window : QApplication::topLevelWidgets())
                    if (window->isVisible()) shown.visibleWindows << window->objectName();
                messages.push_back(shown);
                return answer;
            });
    }
    ~MessageRecorder() { widgets::MessageService::setHandler({}); }
    QStringList texts() const {
        QStringList all;
        for (const Shown& shown : messages) all << shown.text;
        return all;
    }
    std::vector<Shown> messages;
    merge::MessageAnswer answer = merge::MessageAnswer::Ok;
};

// Every cell of every sheet of a workbook as "sheet!row,column=text" lines.
QStringList cellsOf(const QString& path) {
    QStringList cells;
    spreadsheet::Result<spreadsheet::WorkbookData> book =
        spreadsheet::openWorkbookFile(path.toStdString());
    if (!book) return {QStringLiteral("unreadable: ") + path};
    for (const spreadsheet::Sheet& sheet : book->sheets)
        for (int row = 1; row <= 50; ++row)
            for (int column = 1; column <= 10; ++column)
                if (const spreadsheet::Cell* cell = sheet.cell(row, column))
                    cells << QStringLiteral("%1!%2,%3=%4")
                                 .arg(QString::fromStdString(sheet.name))
                                 .arg(row)
                                 .arg(column)
                                 .arg(QString::fromStdString(cell->text));
    return cells;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

}  // namespace

class Form1Test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void refusesToStartBesideARunningMerge();
    void startsWithNoButtonLitAndATip();
    void tipsAreThirtyWithTheKnownOnes();
    void tipIndexStaysWithinThirty_data();
    void tipIndexStaysWithinThirty();
    void pointerLightsButtons_data();
    void pointerLightsButtons();
    void leftButtonAloneDrags_data();
    void leftButtonAloneDrags();
    void iconDoubleClickShowsAbout();
    void minimiseHidesItsHighlight();
    void quitEndsTheProgram();
    void cancelledFilePickerBringsWindowBack();
    void singleFileAsksAgain();
    void cancelledFolderPickerShowsWindowAgain();
    void refusedFolderAsksAgain_data();
    void refusedFolderAsksAgain();
    void subfolderQuestionComesOnce();
    void folderLimitsEndTheProgram_data();
    void folderLimitsEndTheProgram();
    void wholeMergeFromPickedFiles();
    void cancelledOptionsWriteNothing();
    void closeRequestsEndTheProgram_data();
    void closeRequestsEndTheProgram();
    void keyboardReachesBothChoices_data();
    void keyboardReachesBothChoices();
    void dropsTakeThePickersPath_data();
    void dropsTakeThePickersPath();
    void cancelMidMergeLeavesNoResult();
    void filteredFolderMergesAsItsSavedJobRunsAgain();
    void acceptedOptionsComeBackAtTheNextOpening();
    void dragFollowsThePointerWhereTheSystemMoveIsRefused();

private:
    // The windows' pictures and labels, as the pointer meets them.
    widgets::ActiveLabel* part(const char* name) {
        return m_form->findChild<widgets::ActiveLabel*>(QString::fromLatin1(name));
    }
    QStringList litButtons();
    // Moves the pointer onto a normal picture, coming from the background, so that its
    // highlight shows; then clicks the highlight.
    void pressButton(const char* normal, const char* highlighted) {
        QTest::mouseMove(m_form.get(), QPoint(200, 100));
        QTest::mouseMove(m_form.get(), part(normal)->geometry().center());
        QTest::mouseClick(m_form.get(), Qt::LeftButton, {}, part(highlighted)->geometry().center());
    }
    // Answers the options dialog once it is up: `answer` runs on it, then OK1 or NO1 is clicked.
    void answerOptionsDialog(std::function<void(options::Form2&)> answer, bool confirm);
    // Runs `answer` on the final message once it is up.
    void answerFinalMessage(std::function<void(app::FinalMessage&)> answer);
    // Sends a drag of `urls` onto the window, and the drop when the drag is accepted; returns
    // whether it was.
    bool drop(const QList<QUrl>& urls);

    std::unique_ptr<app::Form1> m_form;
    std::unique_ptr<MessageRecorder> m_messages;
    QTemporaryDir m_runtime;
    std::unique_ptr<QTemporaryDir> m_config;
    int m_moves = 0;
    QStringList m_opened;
};

void Form1Test::initTestCase() {
    // The run lock of these tests lives in a folder of their own.
    QVERIFY(m_runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
    widgets::MdlMoveNoborderWnd::setMoveObserver([this](QWidget*) { ++m_moves; });
}

void Form1Test::init() {
    // Each test starts without remembered options, and none reach the user's own settings.
    m_config = std::make_unique<QTemporaryDir>();
    QVERIFY(m_config->isValid());
    qputenv("XDG_CONFIG_HOME", m_config->path().toUtf8());
    m_messages = std::make_unique<MessageRecorder>();
    m_moves = 0;
    m_opened.clear();
    m_form = std::make_unique<app::Form1>();
    m_form->setMergeRunningProbe([] { return false; });
    m_form->setFileChooser([] { return std::nullopt; });
    m_form->setFolderChooser([](const QString&) { return std::nullopt; });
    m_form->setResultOpener([this](const QString& path) -> std::optional<QString> {
        m_opened << path;
        return std::nullopt;
    });
}

void Form1Test::cleanup() {
    m_form.reset();
    m_messages.reset();
    for (QWidget* window : QApplication::topLevelWidgets())
        QVERIFY2(!window->isVisible(),
                 qPrintable(window->objectName() + QStringLiteral(" left open")));
}

QStringList Form1Test::litButtons() {
    QStringList lit;
    for (const char* name : {"ImgFiles1", "ImgFolder1", "ImgMin1", "ImgQuit1"})
        if (part(name)->isVisible()) lit << QString::fromLatin1(name);
    return lit;
}

void Form1Test::refusesToStartBesideARunningMerge() {
    m_form->setMergeRunningProbe([] { return true; });
    QVERIFY(!m_form->Form_Load());
    QVERIFY(!m_form->isVisible());
    QCOMPARE(m_messages->messages.size(), std::size_t(1));
    // On this platform there is no spreadsheet program to close: the message names the merge.
    QCOMPARE(m_messages->messages[0].text,
             QStringLiteral("另一个合并正在进行，请等它完成后再试。"));
    QCOMPARE(m_messages->messages[0].style, merge::MessageStyle::Warning);
    QCOMPARE(m_messages->messages[0].title, QStringLiteral("提示"));
}

void Form1Test::startsWithNoButtonLitAndATip() {
    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    QVERIFY(m_messages->messages.empty());
    QCOMPARE(m_form->windowTitle(), QStringLiteral("文件选取"));
    QCOMPARE(m_form->size(), QSize(400, 260));
    QVERIFY(m_form->windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(litButtons().isEmpty());
    const QString tip = part("LblGreeting")->text();
    QVERIFY(!tip.isEmpty());
    QVERIFY(tip != QStringLiteral("请选取要合并的数据所在的Excel文件或其所在的文件夹："));
    QVERIFY(app::Form1::greetingTips().contains(tip));
    // Centred on the screen.
    const QRect screen = m_form->screen()->geometry();
    QCOMPARE(m_form->pos(), QPoint(screen.width() / 2 - 200, screen.height() / 2 - 130));
}

void Form1Test::tipsAreThirtyWithTheKnownOnes() {
    const QStringList tips = app::Form1::greetingTips();
    QCOMPARE(tips.size(), 30);
    QCOMPARE(QSet<QString>(tips.begin(), tips.end()).size(), 30);
    for (const QString& tip : tips) QVERIFY(!tip.trimmed().isEmpty());
    QVERIFY(tips.contains(QStringLiteral("我觉得，最近你瘦了！")));
    QVERIFY(tips.contains(QStringLiteral("人生如戏，全靠演技。")));
    QVERIFY(tips.contains(QStringLiteral("这个周末，让我们一起去看日出日落，好吗？")));
}

void Form1Test::tipIndexStaysWithinThirty_data() {
    QTest::addColumn<double>("x");
    QTest::addColumn<int>("index");
    QTest::newRow("zero") << 0.0 << 0;
    QTest::newRow("just below 1/30") << 0.0333 << 0;
    QTest::newRow("one half") << 0.5 << 15;
    QTest::newRow("largest double below one") << std::nextafter(1.0, 0.0) << 29;
}

void Form1Test::tipIndexStaysWithinThirty() {
    QFETCH(double, x);
    QFETCH(int, index);
    QCOMPARE(app::Form1::greetingIndex(x), index);
}

void Form1Test::pointerLightsButtons_data() {
    QTest::addColumn<QStringList>("path");  // names of the parts the pointer moves over, in order
    QTest::addColumn<QStringList>("lit");
    QTest::newRow("over files") << QStringList{"ImgFiles2"} << QStringList{"ImgFiles1"};
    QTest::newRow("files then straight onto folder")
        << QStringList{"ImgMin2", "ImgFiles2", "ImgFolder2"}
        << QStringList{"ImgFolder1", "ImgMin1"};
    QTest::newRow("folder then files")
        << QStringList{"ImgFolder2", "ImgFiles2"} << QStringList{"ImgFiles1"};
    QTest::newRow("quit then background") << QStringList{"ImgQuit2", "Form1"} << QStringList{};
    QTest::newRow("minimise then background") << QStringList{"ImgMin2", "Form1"} << QStringList{};
    QTest::newRow("minimise then quit")
        << QStringList{"ImgFiles2", "ImgMin2", "ImgQuit2"} << QStringList{"ImgFiles1", "ImgQuit1"};
    QTest::newRow("files then greeting")
        << QStringList{"ImgFiles2", "LblGreeting"} << QStringList{};
    QTest::newRow("icon changes nothing")
        << QStringList{"ImgQuit2", "LblIcon"} << QStringList{"ImgQuit1"};
}

void Form1Test::pointerLightsButtons() {
    QFETCH(QStringList, path);
    QFETCH(QStringList, lit);
    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    QTest::mouseMove(m_form.get(), QPoint(200, 240));
    QTest::mouseMove(m_form.get(), QPoint(200, 100));
    for (const QString& name : path) {
        if (name == QStringLiteral("Form1")) {
            QTest::mouseMove(m_form.get(), QPoint(200, 100));  // white, between the buttons
        } else {
            auto* target = m_form->findChild<widgets::ActiveLabel*>(name);
            QVERIFY(target);
            // The normal pictures lie under their highlights: point at them through the window.
            QTest::mouseMove(m_form.get(), target->geometry().center());
        }
    }
    QCOMPARE(litButtons(), lit);
    QCOMPARE(m_moves, 0);
}

void Form1Test::leftButtonAloneDrags_data() {
    QTest::addColumn<QString>("over");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("drags");
    QTest::newRow("background, left") << "Form1" << int(Qt::LeftButton) << 1;
    QTest::newRow("background, right") << "Form1" << int(Qt::RightButton) << 0;
    QTest::newRow("background, both") << "Form1" << int(Qt::LeftButton | Qt::RightButton) << 0;
    QTest::newRow("greeting, left") << "LblGreeting" << int(Qt::LeftButton) << 1;
    QTest::newRow("greeting, right") << "LblGreeting" << int(Qt::RightButton) << 0;
    QTest::newRow("icon, left") << "LblIcon" << int(Qt::LeftButton) << 1;
    QTest::newRow("files picture, left") << "ImgFiles2" << int(Qt::LeftButton) << 0;
}

void Form1Test::leftButtonAloneDrags() {
    QFETCH(QString, over);
    QFETCH(int, buttons);
    QFETCH(int, drags);
    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    QWidget* target = over == QStringLiteral("Form1")
                          ? static_cast<QWidget*>(m_form.get())
                          : m_form->findChild<widgets::ActiveLabel*>(over);
    QVERIFY(target);
    const QPoint at = over == QStringLiteral("Form1") ? QPoint(200, 100) : target->rect().center();
    QMouseEvent move(QEvent::MouseMove, QPointF(at), QPointF(target->mapToGlobal(at)), Qt::NoButton,
                     Qt::MouseButtons(buttons), Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    QCOMPARE(m_moves, drags);
}

void Form1Test::iconDoubleClickShowsAbout() {
    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    QTest::mouseDClick(part("LblIcon"), Qt::LeftButton);
    QVERIFY(!m_messages->messages.empty());
    const Shown& about = m_messages->messages.back();
    QCOMPARE(about.title, QStringLiteral("Korvan"));
    QCOMPARE(about.style, merge::MessageStyle::Plain);
    const QStringList lines = about.text.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 9);
    for (int line = 1; line < 9; line += 2) QVERIFY(lines[line].isEmpty());
    for (int line = 0; line < 9; line += 2) QVERIFY(!lines[line].isEmpty());
    QCOMPARE(lines[8], QStringLiteral("日期：2015-06-15"));
    // The first line names the program and its version, as `sheetmerge --version` does.
    QVERIFY2(QRegularExpression(
                 QStringLiteral("^软件：sheetmerge 工作表合并工具，版本 \\d+\\.\\d+\\.\\d+$"))
                 .match(lines[0])
                 .hasMatch(),
             qPrintable(lines[0]));
    QVERIFY(!about.text.endsWith(QStringLiteral("\n")));
}

void Form1Test::minimiseHidesItsHighlight() {
    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    pressButton("ImgMin2", "ImgMin1");
    QVERIFY(m_form->windowState().testFlag(Qt::WindowMinimized));
    QVERIFY(litButtons().isEmpty());
    m_form->hide();
}

void Form1Test::quitEndsTheProgram() {
    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    QSignalSpy ended(m_form.get(), &app::Form1::programEnded);
    // Unlit, the quit button does not react: a click that reaches the normal picture is lost.
    const QPointF centre = QRectF(part("ImgQuit2")->rect()).center();
    QMouseEvent press(QEvent::MouseButtonPress, centre, part("ImgQuit2")->mapToGlobal(centre),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, part("ImgQuit2")->mapToGlobal(centre),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(part("ImgQuit2"), &press);
    QApplication::sendEvent(part("ImgQuit2"), &release);
    QVERIFY(m_form->isVisible());
    QCOMPARE(ended.count(), 0);
    pressButton("ImgQuit2", "ImgQuit1");
    QVERIFY(!m_form->isVisible());
    QCOMPARE(ended.count(), 1);
}

void Form1Test::cancelledFilePickerBringsWindowBack() {
    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    const QPoint centred = m_form->pos();
    QList<QPoint> whileOpen;
    m_form->setFileChooser([&]() -> std::optional<app::SelectedFiles> {
        whileOpen << m_form->pos();
        return std::nullopt;
    });
    QSignalSpy ended(m_form.get(), &app::Form1::programEnded);
    pressButton("ImgFiles2", "ImgFiles1");
    QCOMPARE(whileOpen, QList<QPoint>{QPoint(-406, -266)});
    QCOMPARE(m_form->pos(), centred);
    QVERIFY(m_form->isVisible());
    QVERIFY(litButtons().isEmpty());
    QVERIFY(m_form->SourceList.empty());
    QVERIFY(m_form->FolderPath.empty());
    QVERIFY(m_messages->messages.empty());
    QCOMPARE(ended.count(), 0);
}

void Form1Test::singleFileAsksAgain() {
    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    int calls = 0;
    m_form->setFileChooser([&]() -> std::optional<app::SelectedFiles> {
        if (++calls == 1)
            return app::SelectedFiles{QStringLiteral("/data"), {QStringLiteral("a.xlsx")}};
        return std::nullopt;
    });
    pressButton("ImgFiles2", "ImgFiles1");
    QCOMPARE(calls, 2);
    QCOMPARE(m_messages->texts(), QStringList{"请选择至少两个文件。"});
    QCOMPARE(m_messages->messages[0].style, merge::MessageStyle::Information);
    QCOMPARE(m_messages->messages[0].title, QStringLiteral("提示"));
    QVERIFY(m_form->isVisible());
    QVERIFY(m_form->SourceList.empty());
}

void Form1Test::cancelledFolderPickerShowsWindowAgain() {
    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    QStringList prompts;
    bool visibleWhileOpen = true;
    m_form->setFolderChooser([&](const QString& prompt) -> std::optional<app::BrowsedFolder> {
        prompts << prompt;
        visibleWhileOpen = m_form->isVisible();
        return std::nullopt;
    });
    pressButton("ImgFolder2", "ImgFolder1");
    QCOMPARE(prompts, QStringList{"请选择存放目标文件的文件夹（可包含子文件夹）"});
    QVERIFY(!visibleWhileOpen);
    QVERIFY(m_form->isVisible());
    QVERIFY(litButtons().isEmpty());
    QVERIFY(m_messages->messages.empty());
}

void Form1Test::refusedFolderAsksAgain_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("optical drive's display name") << "dvd"
                                                  << "所选路径无效，请重新选取。";
    QTest::newRow("relative path") << "relative"
                                   << "所选路径无效，请重新选取。";
    QTest::newRow("the root")
        << "root"
        << "选取整个磁盘文件多如牛毛，请选择其下一级文件夹或改用“文件选取”模式。";
    QTest::newRow("no source file") << "none"
                                    << "指定路径不存在扩展名为“.xls”、“.xlsx”、“.xlsm”或“."
                                       "csv”的任何文件，请重新选择目标文件夹。";
    QTest::newRow("one source file") << "one"
                                     << "指定路径下仅存在一个符合条件的Excel/"
                                        "csv文件，无需执行数据合并操作，请重新选择目标文件夹。";
}

void Form1Test::refusedFolderAsksAgain() {
    QFETCH(QString, kind);
    QFETCH(QString, message);
    QTemporaryDir tree;
    QVERIFY(tree.isValid());
    writeFile(tree.filePath(QStringLiteral("notes.txt")), "x");
    writeFile(tree.filePath(QStringLiteral("B.XLSX")), "x");
    if (kind == QStringLiteral("one")) writeFile(tree.filePath(QStringLiteral("a.xlsx")), "x");
    app::BrowsedFolder chosen{tree.path(), QFileInfo(tree.path()).fileName()};
    if (kind == QStringLiteral("dvd")) chosen.displayName = QStringLiteral("DVD 驱动器 (E:)");
    if (kind == QStringLiteral("relative"))
        chosen = {QStringLiteral("data/x"), QStringLiteral("x")};
    if (kind == QStringLiteral("root")) chosen = {QStringLiteral("/"), QString()};

    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    int calls = 0;
    m_form->setFolderChooser([&](const QString&) -> std::optional<app::BrowsedFolder> {
        if (++calls == 1) return chosen;
        return std::nullopt;
    });
    QSignalSpy ended(m_form.get(), &app::Form1::programEnded);
    pressButton("ImgFolder2", "ImgFolder1");
    QCOMPARE(calls, 2);
    QCOMPARE(m_messages->texts(), QStringList{message});
    QCOMPARE(m_messages->messages[0].style, merge::MessageStyle::Information);
    QCOMPARE(m_messages->messages[0].title, QStringLiteral("提示"));
    QVERIFY(m_form->isVisible());
    QVERIFY(m_form->SourceList.empty());
    QVERIFY(m_form->FolderPath.empty());
    QCOMPARE(ended.count(), 0);
}

void Form1Test::subfolderQuestionComesOnce() {
    QTemporaryDir tree;
    QVERIFY(tree.isValid());
    QDir top(tree.path());
    writeFile(top.filePath(QStringLiteral("a.xlsx")), "x");
    for (const QString& sub : {QStringLiteral("s1"), QStringLiteral("s2")}) {
        QVERIFY(top.mkpath(sub + QStringLiteral("/deeper")));
        writeFile(top.filePath(sub + QStringLiteral("/deeper/b.csv")), "x");
    }
    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    int calls = 0;
    m_form->setFolderChooser([&](const QString&) -> std::optional<app::BrowsedFolder> {
        if (++calls == 1) return app::BrowsedFolder{tree.path(), QFileInfo(tree.path()).fileName()};
        return std::nullopt;
    });
    m_messages->answer = merge::MessageAnswer::No;
    pressButton("ImgFolder2", "ImgFolder1");
    // No: the sub-folders are not read, so one file remains and the folder is asked for again.
    QCOMPARE(m_messages->texts(),
             (QStringList{
                 "指定路径下发现【子文件夹】，【子文件夹】下的Excel/csv文件是否参与数据合并呢？",
                 "指定路径下仅存在一个符合条件的Excel/"
                 "csv文件，无需执行数据合并操作，请重新选择目标文件夹。"}));
    QCOMPARE(m_messages->messages[0].style, merge::MessageStyle::YesNoQuestion);
    QCOMPARE(m_messages->messages[0].title, QStringLiteral("选择"));
    QCOMPARE(calls, 2);
    QVERIFY(m_form->isVisible());
}

void Form1Test::folderLimitsEndTheProgram_data() {
    QTest::addColumn<int>("folders");
    QTest::addColumn<int>("files");
    QTest::addColumn<QString>("message");
    QTest::newRow("1001 sub-folders")
        << 1001 << 0 << "指定路径的文件夹个数超过1000了，请先做相应处理再运行本软件。";
    QTest::newRow("10001 files")
        << 0 << 10001 << "指定路径的Excel/csv文件个数超过10000了，请先做相应处理再运行本软件。";
}

void Form1Test::folderLimitsEndTheProgram() {
    QFETCH(int, folders);
    QFETCH(int, files);
    QFETCH(QString, message);
    QTemporaryDir tree;
    QVERIFY(tree.isValid());
    QDir top(tree.path());
    for (int folder = 0; folder < folders; ++folder)
        QVERIFY(top.mkdir(QStringLiteral("d%1").arg(folder)));
    for (int file = 0; file < files; ++file)
        writeFile(top.filePath(QStringLiteral("f%1.csv").arg(file)), "");
    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    int calls = 0;
    m_form->setFolderChooser([&](const QString&) -> std::optional<app::BrowsedFolder> {
        ++calls;
        return app::BrowsedFolder{tree.path(), QFileInfo(tree.path()).fileName()};
    });
    m_messages->answer = merge::MessageAnswer::Yes;
    QSignalSpy ended(m_form.get(), &app::Form1::programEnded);
    pressButton("ImgFolder2", "ImgFolder1");
    QCOMPARE(calls, 1);
    QCOMPARE(m_messages->texts().constLast(), message);
    QCOMPARE(ended.count(), 1);
    QVERIFY(!m_form->isVisible());
    QVERIFY(m_form->SourceList.empty());
    QVERIFY(m_form->FolderPath.empty());
}

void Form1Test::answerOptionsDialog(std::function<void(options::Form2&)> answer, bool confirm) {
    auto* poll = new QTimer(m_form.get());
    poll->setInterval(20);
    connect(poll, &QTimer::timeout, poll, [poll, answer, confirm] {
        auto* dialog = qobject_cast<options::Form2*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        answer(*dialog);
        QWidget* button =
            confirm ? static_cast<QWidget*>(dialog->OK1) : static_cast<QWidget*>(dialog->NO1);
        QTest::mouseClick(button, Qt::LeftButton);
    });
    poll->start();
}

void Form1Test::wholeMergeFromPickedFiles() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    writeFile(folder.filePath(QStringLiteral("一月.csv")), "名称,数量\n甲,1\n乙,2\n");
    writeFile(folder.filePath(QStringLiteral("二月.csv")), "名称,数量\n丙,3\n");
    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    m_form->setFileChooser([&]() -> std::optional<app::SelectedFiles> {
        return app::SelectedFiles{folder.path(),
                                  {QStringLiteral("一月.csv"), QStringLiteral("二月.csv")}};
    });
    QStringList sheetItems;
    answerOptionsDialog(
        [&](options::Form2& dialog) {
            QCOMPARE(dialog.Lbl_Cnt->text(), QStringLiteral("2"));
            QCOMPARE(dialog.Txt_Path->text(), folder.path() + QStringLiteral("/"));
            dialog.Txt_Row->setText(QStringLiteral("2"));  // the header row above is copied once
        },
        true);
    QString summary;
    QString shownPath;
    QStringList windowsBehind;
    answerFinalMessage([&](app::FinalMessage& box) {
        summary = box.Lbl_Text->text();
        shownPath = box.Txt_Result->text();
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->isVisible() && window != &box) windowsBehind << window->objectName();
        QTest::mouseClick(box.Cmd_OpenResult, Qt::LeftButton);
    });
    QSignalSpy ended(m_form.get(), &app::Form1::programEnded);
    pressButton("ImgFiles2", "ImgFiles1");

    QCOMPARE(ended.count(), 1);
    QVERIFY(!m_form->isVisible());
    QVERIFY(m_form->lastRun().has_value());
    const merge::RunOutcome& run = *m_form->lastRun();
    QCOMPARE(run.status, merge::RunStatus::Saved);
    QCOMPARE(run.merged, 2);
    QCOMPARE(run.failed, 0);
    QVERIFY(run.options.CopyHeaderOnce);
    QCOMPARE(run.options.RangeSpec, std::string("22"));
    // The summary comes once the progress window is gone, with the result's full path; the
    // result opens from its button, not by itself.
    QVERIFY(m_messages->texts().isEmpty());
    QCOMPARE(summary, QStringLiteral("共选取【2】个文件，成功合并【2】个，【0】个合并失败。"));
    QCOMPARE(shownPath, QString::fromStdString(run.resultPath));
    QVERIFY(shownPath.startsWith(folder.path() + QLatin1Char('/')));
    QVERIFY2(windowsBehind.isEmpty(), qPrintable(windowsBehind.join(u',')));
    QCOMPARE(m_opened, QStringList{shownPath});
    QVERIFY(m_form->SourceList.empty());
    QVERIFY(m_form->FolderPath.empty());

    spreadsheet::Result<spreadsheet::WorkbookData> result =
        spreadsheet::openWorkbookFile(m_opened[0].toStdString());
    QVERIFY(result);
    const spreadsheet::Sheet& sheet = result->sheets.at(0);
    auto text = [&sheet](int row, int column) {
        const spreadsheet::Cell* cell = sheet.cell(row, column);
        return cell ? QString::fromStdString(cell->text) : QString();
    };
    QCOMPARE(text(1, 1), QStringLiteral("名称"));
    QCOMPARE(text(2, 1), QStringLiteral("甲"));
    QCOMPARE(text(3, 1), QStringLiteral("乙"));
    QCOMPARE(text(4, 1), QStringLiteral("丙"));
    QVERIFY(text(5, 1).isEmpty());
}

void Form1Test::cancelledOptionsWriteNothing() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    writeFile(folder.filePath(QStringLiteral("a.csv")), "x,1\n");
    writeFile(folder.filePath(QStringLiteral("b.csv")), "y,2\n");
    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    m_form->setFileChooser([&]() -> std::optional<app::SelectedFiles> {
        return app::SelectedFiles{folder.path(),
                                  {QStringLiteral("a.csv"), QStringLiteral("b.csv")}};
    });
    answerOptionsDialog([](options::Form2&) {}, false);
    QSignalSpy ended(m_form.get(), &app::Form1::programEnded);
    pressButton("ImgFiles2", "ImgFiles1");
    QCOMPARE(ended.count(), 1);
    QVERIFY(m_form->lastRun().has_value());
    QCOMPARE(m_form->lastRun()->status, merge::RunStatus::Cancelled);
    QVERIFY(m_messages->messages.empty());
    QVERIFY(m_opened.empty());
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files).size(), 2);
}

void Form1Test::answerFinalMessage(std::function<void(app::FinalMessage&)> answer) {
    auto* poll = new QTimer(m_form.get());
    poll->setInterval(20);
    connect(poll, &QTimer::timeout, poll, [poll, answer] {
        auto* box = qobject_cast<app::FinalMessage*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        answer(*box);
        if (box->isVisible()) box->accept();
    });
    poll->start();
}

void Form1Test::closeRequestsEndTheProgram_data() {
    QTest::addColumn<QString>("when");
    QTest::addColumn<bool>("ends");
    QTest::newRow("window system close while idle") << "idle" << true;
    QTest::newRow("while the file picker is open") << "files" << false;
    QTest::newRow("while the folder picker is open") << "folder" << false;
}

void Form1Test::closeRequestsEndTheProgram() {
    QFETCH(QString, when);
    QFETCH(bool, ends);
    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    QSignalSpy ended(m_form.get(), &app::Form1::programEnded);
    // As the window manager's close button, Alt+F4 or the task bar ask.
    auto requestClose = [this] { m_form->windowHandle()->close(); };
    bool visibleAfterRequest = false;
    if (when == QStringLiteral("idle")) {
        requestClose();
    } else if (when == QStringLiteral("files")) {
        m_form->setFileChooser([&]() -> std::optional<app::SelectedFiles> {
            requestClose();
            visibleAfterRequest = m_form->isVisible();
            return std::nullopt;
        });
        pressButton("ImgFiles2", "ImgFiles1");
        QVERIFY(visibleAfterRequest);
    } else {
        m_form->setFolderChooser([&](const QString&) -> std::optional<app::BrowsedFolder> {
            requestClose();
            return std::nullopt;
        });
        pressButton("ImgFolder2", "ImgFolder1");
    }
    QCOMPARE(ended.count(), ends ? 1 : 0);
    QCOMPARE(m_form->isVisible(), !ends);
    QVERIFY(m_messages->messages.empty());
    m_form->hide();
}

void Form1Test::keyboardReachesBothChoices_data() {
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<QStringList>("lit");
    QTest::addColumn<QString>("chooser");  // the picker that opened, if any
    QTest::newRow("nothing before Tab") << QList<int>{} << QStringList{} << "";
    QTest::newRow("Enter before Tab does nothing")
        << QList<int>{Qt::Key_Return} << QStringList{} << "";
    QTest::newRow("Tab lights the files button")
        << QList<int>{Qt::Key_Tab} << QStringList{"ImgFiles1"} << "";
    QTest::newRow("second Tab moves to the folder button")
        << QList<int>{Qt::Key_Tab, Qt::Key_Tab} << QStringList{"ImgFolder1"} << "";
    QTest::newRow("third Tab comes back")
        << QList<int>{Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Tab} << QStringList{"ImgFiles1"} << "";
    QTest::newRow("Shift+Tab goes back")
        << QList<int>{Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Backtab} << QStringList{"ImgFiles1"} << "";
    QTest::newRow("Enter picks files")
        << QList<int>{Qt::Key_Tab, Qt::Key_Return} << QStringList{} << "files";
    QTest::newRow("Space picks files")
        << QList<int>{Qt::Key_Tab, Qt::Key_Space} << QStringList{} << "files";
    QTest::newRow("keypad Enter picks a folder")
        << QList<int>{Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Enter} << QStringList{} << "folder";
}

void Form1Test::keyboardReachesBothChoices() {
    QFETCH(QList<int>, keys);
    QFETCH(QStringList, lit);
    QFETCH(QString, chooser);
    QString opened;
    m_form->setFileChooser([&]() -> std::optional<app::SelectedFiles> {
        opened = QStringLiteral("files");
        return std::nullopt;
    });
    m_form->setFolderChooser([&](const QString&) -> std::optional<app::BrowsedFolder> {
        opened = QStringLiteral("folder");
        return std::nullopt;
    });
    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    for (int key : keys) {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : m_form.get();
        QTest::keyClick(target, Qt::Key(key));
    }
    QCOMPARE(opened, chooser);
    if (chooser.isEmpty()) QCOMPARE(litButtons(), lit);
    // Every path comes back to the window, centred and usable.
    QVERIFY(m_form->isVisible());
    QVERIFY(m_messages->messages.empty());
}

bool Form1Test::drop(const QList<QUrl>& urls) {
    auto* data = new QMimeData;
    data->setUrls(urls);
    const QPointF at(200, 170);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::LinkAction, data, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(m_form.get(), &enter);
    if (!enter.isAccepted()) {
        delete data;
        return false;
    }
    QDropEvent dropped(at, Qt::CopyAction | Qt::LinkAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_form.get(), &dropped);
    delete data;
    return dropped.isAccepted();
}

void Form1Test::dropsTakeThePickersPath_data() {
    QTest::addColumn<QStringList>("dropped");  // paths in the test's tree, or addresses
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("message");  // the refusal shown, if any
    QTest::addColumn<int>("count");        // the sources the options dialog shows, if it opens
    QTest::addColumn<QString>("folder");   // and their folder
    QTest::newRow("two files") << QStringList{"two/一月.csv", "two/二月.csv"} << true << "" << 2
                               << "two/";
    QTest::newRow("files of two folders")
        << QStringList{"apart/x/甲.csv", "apart/y/乙.csv", "two/一月.csv"} << true << "" << 3 << "";
    QTest::newRow("a folder of two") << QStringList{"two"} << true << "" << 2 << "two/";
    QTest::newRow("one file") << QStringList{"two/一月.csv"} << true << "请选择至少两个文件。" << 0
                              << "";
    QTest::newRow("a folder of one") << QStringList{"single"} << true
                                     << "指定路径下仅存在一个符合条件的Excel/"
                                        "csv文件，无需执行数据合并操作，请重新选择目标文件夹。"
                                     << 0 << "";
    QTest::newRow("a file and a folder") << QStringList{"two/一月.csv", "single"} << true
                                         << "请拖入两个或更多文件，或一个文件夹。" << 0 << "";
    QTest::newRow("two folders") << QStringList{"two", "single"} << true
                                 << "请拖入两个或更多文件，或一个文件夹。" << 0 << "";
    QTest::newRow("web addresses")
        << QStringList{"https://example.com/a.xlsx", "https://example.com/b.xlsx"} << false << ""
        << 0 << "";
}

void Form1Test::dropsTakeThePickersPath() {
    QFETCH(QStringList, dropped);
    QFETCH(bool, accepted);
    QFETCH(QString, message);
    QFETCH(int, count);
    QFETCH(QString, folder);
    QTemporaryDir tree;
    QVERIFY(tree.isValid());
    QDir top(tree.path());
    for (const char* sub : {"two", "apart/x", "apart/y", "single"}) QVERIFY(top.mkpath(sub));
    for (const char* file :
         {"two/一月.csv", "two/二月.csv", "apart/x/甲.csv", "apart/y/乙.csv", "single/只有.csv"})
        writeFile(top.filePath(QString::fromUtf8(file)), "名称,数量\n甲,1\n");
    QList<QUrl> urls;
    for (const QString& path : dropped)
        urls << (path.startsWith(QStringLiteral("https:"))
                     ? QUrl(path)
                     : QUrl::fromLocalFile(top.filePath(path)));

    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    int shownCount = 0;
    QString shownFolder;
    if (count > 0)
        answerOptionsDialog(
            [&](options::Form2& dialog) {
                shownCount = dialog.Lbl_Cnt->text().toInt();
                shownFolder = dialog.Txt_Path->text();
            },
            false);
    QSignalSpy ended(m_form.get(), &app::Form1::programEnded);
    QCOMPARE(drop(urls), accepted);
    // The merge starts once the drop has returned to the file manager.
    if (count > 0) QTRY_COMPARE(ended.count(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(shownCount, count);
    if (count > 0) {
        QCOMPARE(shownFolder, top.path() + QLatin1Char('/') + folder);
        QCOMPARE(m_form->lastRun()->status, merge::RunStatus::Cancelled);
        QVERIFY(m_messages->messages.empty());
        return;
    }
    QCOMPARE(ended.count(), 0);
    QVERIFY(m_form->isVisible());
    QCOMPARE(m_messages->texts(), message.isEmpty() ? QStringList{} : QStringList{message});
}

void Form1Test::cancelMidMergeLeavesNoResult() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QStringList names;
    for (int number = 1; number <= 30; ++number) {
        names << QStringLiteral("分店%1.csv").arg(number, 2, 10, QLatin1Char('0'));
        writeFile(folder.filePath(names.constLast()), "名称,数量\n甲,1\n乙,2\n");
    }
    const QStringList before = QDir(folder.path()).entryList(QDir::Files, QDir::Name);
    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    m_form->setFileChooser([&]() -> std::optional<app::SelectedFiles> {
        return app::SelectedFiles{folder.path(), names};
    });
    answerOptionsDialog(
        [](options::Form2& dialog) { dialog.Txt_Row->setText(QStringLiteral("2")); }, true);
    // "取消" on the progress window, as soon as it is up; the question is answered Yes.
    m_messages->answer = merge::MessageAnswer::Yes;
    QString fileShown;
    auto* poll = new QTimer(m_form.get());
    poll->setInterval(0);
    connect(poll, &QTimer::timeout, poll, [poll, &fileShown] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* progress = qobject_cast<app::Form3*>(window);
            if (!progress || !progress->isVisible()) continue;
            poll->stop();
            fileShown = progress->Lbl_File->text();
            QTest::mouseClick(progress->Cmd_Cancel, Qt::LeftButton);
        }
    });
    poll->start();
    QSignalSpy ended(m_form.get(), &app::Form1::programEnded);
    pressButton("ImgFiles2", "ImgFiles1");

    QCOMPARE(ended.count(), 1);
    QVERIFY(fileShown.startsWith(QStringLiteral("正在合并：分店")));
    const merge::RunOutcome& run = *m_form->lastRun();
    QCOMPARE(run.status, merge::RunStatus::Stopped);
    QVERIFY(run.resultPath.empty());
    // Asked once, then told that nothing was kept; the sources alone are left in the folder.
    const QStringList texts = m_messages->texts();
    QCOMPARE(texts.size(), 2);
    QVERIFY(texts[0].startsWith(QStringLiteral("确定要取消合并吗？")));
    QVERIFY2(QRegularExpression(QStringLiteral("^已停止合并：已处理【\\d+】个文件（共【30】个），"
                                               "未生成合并结果，源文件均未改动。$"))
                 .match(texts[1])
                 .hasMatch(),
             qPrintable(texts[1]));
    QVERIFY(!m_messages->messages[1].visibleWindows.contains(QStringLiteral("Form3")));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files, QDir::Name), before);
    QVERIFY(m_opened.isEmpty());
}

void Form1Test::dragFollowsThePointerWhereTheSystemMoveIsRefused() {
    // The offscreen platform, like X11 without a window manager, refuses the system move.
    widgets::MdlMoveNoborderWnd::setMoveObserver({});
    const auto restore = qScopeGuard(
        [this] { widgets::MdlMoveNoborderWnd::setMoveObserver([this](QWidget*) { ++m_moves; }); });
    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    const QPoint start = m_form->pos();
    QTest::mousePress(m_form.get(), Qt::LeftButton, {}, QPoint(200, 100));
    QTest::mouseMove(m_form.get(), QPoint(205, 104));
    QTest::mouseMove(m_form.get(), QPoint(230, 120));
    QTRY_COMPARE(m_form->pos(), start + QPoint(25, 16));
    QTest::mouseRelease(m_form.get(), Qt::LeftButton, {}, m_form->mapFromGlobal(QCursor::pos()));
    const QPoint released = m_form->pos();
    QTest::mouseMove(m_form.get(), QPoint(100, 60));
    QCoreApplication::processEvents();
    QCOMPARE(m_form->pos(), released);
}

void Form1Test::filteredFolderMergesAsItsSavedJobRunsAgain() {
    QTemporaryDir folder;
    QTemporaryDir jobs;
    QVERIFY(folder.isValid() && jobs.isValid());
    writeFile(folder.filePath(QStringLiteral("一月.csv")), "名称,数量\n甲,1\n乙,2\n");
    writeFile(folder.filePath(QStringLiteral("二月.csv")), "名称,数量\n丙,3\n");
    writeFile(folder.filePath(QStringLiteral("二月备份.csv")), "名称,数量\n丙,3\n丁,4\n");
    const QString jobFile = jobs.filePath(QStringLiteral("每月.json"));
    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    m_form->setFolderChooser(
        [&, calls = 0](const QString&) mutable -> std::optional<app::BrowsedFolder> {
            if (++calls == 1)
                return app::BrowsedFolder{folder.path(), QFileInfo(folder.path()).fileName()};
            return std::nullopt;
        });
    QStringList counts;
    answerOptionsDialog(
        [&](options::Form2& dialog) {
            counts << dialog.Lbl_Cnt->text();
            dialog.Txt_Row->setText(QStringLiteral("2"));
            dialog.Check3->setChecked(true);
            dialog.Option9->setChecked(true);  // the file name shows which files were merged
            dialog.Btn_More->setChecked(true);
            dialog.Txt_Exclude->insert(QStringLiteral("*备份*"));
            counts << dialog.Lbl_Cnt->text();
            dialog.setJobFileChooser([&](QWidget*) { return jobFile.toStdString(); });
            QTest::mouseClick(dialog.Btn_SaveJob, Qt::LeftButton);
        },
        true);
    answerFinalMessage(
        [](app::FinalMessage& box) { QTest::mouseClick(box.Cmd_OK, Qt::LeftButton); });
    QSignalSpy ended(m_form.get(), &app::Form1::programEnded);
    pressButton("ImgFolder2", "ImgFolder1");
    QCOMPARE(ended.count(), 1);

    // The count follows the filter, and the run merges what the count says.
    QCOMPARE(counts, (QStringList{"3", "2"}));
    QVERIFY(m_form->lastRun().has_value());
    const merge::RunOutcome& run = *m_form->lastRun();
    QCOMPARE(run.status, merge::RunStatus::Saved);
    QCOMPARE(run.chosen, 2);
    QCOMPARE(run.merged, 2);
    const QStringList desktop = cellsOf(QString::fromStdString(run.resultPath));
    QVERIFY(!desktop.join(u'\n').contains(QStringLiteral("丁")));
    QVERIFY(desktop.join(u'\n').contains(QStringLiteral("二月")));

    // The saved job names the folder, its filter and the settings the run used.
    const merge::JobReading reading = merge::loadJobFile(jobFile.toStdString());
    QVERIFY2(reading.job.has_value(), reading.error.c_str());
    QCOMPARE(reading.job->paths, std::vector<std::string>{folder.path().toStdString()});
    QCOMPARE(reading.job->exclude, std::vector<std::string>{"*备份*"});
    QVERIFY(!reading.job->recursive);
    QVERIFY(reading.job->settings == merge::decodeOptions(run.options));

    // The command line runs the job to the same cells.
    QProcess program;
    program.start(
        QStringLiteral(SHEETMERGE_PROGRAM),
        {QStringLiteral("merge"), QStringLiteral("--job"), jobFile, QStringLiteral("-q")});
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitCode(), 0);
    QStringList results;
    for (const QString& name :
         QDir(folder.path()).entryList({QStringLiteral("*合并*.xlsx")}, QDir::Files))
        if (folder.filePath(name) != QString::fromStdString(run.resultPath))
            results << folder.filePath(name);
    QCOMPARE(results.size(), 1);
    QCOMPARE(cellsOf(results.front()), desktop);
}

void Form1Test::acceptedOptionsComeBackAtTheNextOpening() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    writeFile(folder.filePath(QStringLiteral("a.csv")), "名称,数量\n甲,1\n");
    writeFile(folder.filePath(QStringLiteral("b.csv")), "名称,数量\n乙,2\n");
    const auto chooseBoth = [&]() -> std::optional<app::SelectedFiles> {
        return app::SelectedFiles{folder.path(),
                                  {QStringLiteral("a.csv"), QStringLiteral("b.csv")}};
    };
    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    m_form->setFileChooser(chooseBoth);
    answerOptionsDialog(
        [](options::Form2& dialog) {
            dialog.Txt_Row->setText(QStringLiteral("2"));
            dialog.Check2->setChecked(false);
            dialog.Check3->setChecked(true);
            dialog.Option9->setChecked(true);
            dialog.Btn_More->setChecked(true);
            dialog.Option_AllSheets->setChecked(true);
            dialog.Check_LogSheet->setChecked(true);
        },
        true);
    answerFinalMessage(
        [](app::FinalMessage& box) { QTest::mouseClick(box.Cmd_OK, Qt::LeftButton); });
    pressButton("ImgFiles2", "ImgFiles1");
    QVERIFY(m_form->lastRun().has_value());
    QCOMPARE(m_form->lastRun()->status, merge::RunStatus::Saved);
    const merge::MergeOptions first = m_form->lastRun()->options;
    // Kept in the program's own settings file, not elsewhere.
    QVERIFY(QFileInfo::exists(m_config->filePath(QStringLiteral("sheetmerge/sheetmerge.conf"))));

    // The next opening shows them, with the section open since options in it are set; taken
    // unchanged, they give the same options.
    m_form = std::make_unique<app::Form1>();
    m_form->setMergeRunningProbe([] { return false; });
    m_form->setResultOpener([](const QString&) -> std::optional<QString> { return std::nullopt; });
    m_form->setFileChooser(chooseBoth);
    QVERIFY(m_form->Form_Load());
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    QStringList shown;
    answerOptionsDialog(
        [&](options::Form2& dialog) {
            shown << dialog.Txt_Row->text() << QString::number(dialog.Check2->isChecked())
                  << QString::number(dialog.Option9->isChecked())
                  << QString::number(dialog.Frame3->isVisible())
                  << QString::number(dialog.Option_AllSheets->isChecked())
                  << QString::number(dialog.Check_LogSheet->isChecked());
        },
        true);
    answerFinalMessage(
        [](app::FinalMessage& box) { QTest::mouseClick(box.Cmd_OK, Qt::LeftButton); });
    pressButton("ImgFiles2", "ImgFiles1");
    QCOMPARE(shown, (QStringList{"2", "0", "1", "1", "1", "1"}));
    QVERIFY(m_form->lastRun().has_value());
    QVERIFY(merge::decodeOptions(m_form->lastRun()->options) == merge::decodeOptions(first));
}

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
