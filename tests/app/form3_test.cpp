// The progress window and the desktop host that shows it: captions, bar widths, stacking, the
// file being merged, "取消" and refused close requests, the final message, the release of the
// run lock; and the two pickers: their Chinese texts, filters and remembered folder.
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QTimer>
#include <QtTest>

#include "app/api_select_files.h"
#include "app/desktop_host.h"
#include "app/desktop_start.h"
#include "app/final_message.h"
#include "app/form3.h"
#include "options/form2.h"
#include "widgets/active_label.h"
#include "widgets/message_service.h"

namespace {

// Answers the message boxes with `answer` and records their texts.
class MessageRecorder {
public:
    MessageRecorder() {
        widgets::MessageService::setHandler(
            [this](const QString& text, merge::MessageStyle style, const QString& title) {
                texts << text;
                styles.push_back(style);
                titles << title;
                return answer;
            });
    }
    ~MessageRecorder() { widgets::MessageService::setHandler({}); }
    QStringList texts;
    std::vector<merge::MessageStyle> styles;
    QStringList titles;
    merge::MessageAnswer answer = merge::MessageAnswer::Ok;
};

// Runs `answer` on the modal window of type T once it is up.
template <typename T>
void whenModal(std::function<void(T&)> answer) {
    auto* poll = new QTimer(qApp);
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
        auto* window = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!window || !window->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        answer(*window);
    });
    poll->start();
}

}  // namespace

class Form3Test : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void barWidthsForThreeSources_data();
    void barWidthsForThreeSources();
    void windowIsFramelessTopmostAndCentred();
    void hostShowsOneWindowAndClosesIt();
    void handOverReleasesTheLockThenOpens();
    void cancelledOptionsComeBackUnconfirmed();
    void fileDialogKeepsTitleAndFilters();
    void folderDialogCancelYieldsNothing();
    void closeRequestsAreRefused();
    void cancelAsksOnceThenStops_data();
    void cancelAsksOnceThenStops();
    void hostNamesEachFileFromTheStart();
    void hostShowsTheFinalMessage_data();
    void hostShowsTheFinalMessage();
    void pickersSpeakChinese();
    void pickersStartWhereTheUserLastWas();

private:
    QTemporaryDir m_runtime;
    QTemporaryDir m_home;
};

void Form3Test::initTestCase() {
    QVERIFY(m_runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
    // The pickers' settings go to a home of the test's own, never the user's.
    QVERIFY(m_home.isValid());
    qputenv("HOME", m_home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toUtf8());
}

void Form3Test::cleanup() {
    for (QWidget* window : QApplication::topLevelWidgets())
        QVERIFY2(!window->isVisible(),
                 qPrintable(window->objectName() + QStringLiteral(" left open")));
}

void Form3Test::barWidthsForThreeSources_data() {
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("twips");
    QTest::addColumn<int>("pixels");
    QTest::newRow("1 of 3") << 1 << 3 << "1 / 3" << 1666 << 111;
    QTest::newRow("2 of 3") << 2 << 3 << "2 / 3" << 3333 << 222;
    QTest::newRow("3 of 3") << 3 << 3 << "3 / 3" << 5000 << 333;
    QTest::newRow("37 of 40") << 37 << 40 << "37 / 40" << 4625 << 308;
    QTest::newRow("10000 of 10000") << 10000 << 10000 << "10000 / 10000" << 5000 << 333;
}

void Form3Test::barWidthsForThreeSources() {
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(QString, caption);
    QFETCH(int, twips);
    QFETCH(int, pixels);
    QCOMPARE(app::Form3::barWidthTwips(done, total), twips);
    app::Form3 window;
    window.showProgress(done, total);
    QCOMPARE(window.Lbl_Tip->text(), caption);
    QCOMPARE(window.Lbl_Prog->width(), pixels);
    QCOMPARE(window.Lbl_Prog->height(), 40);
    QCOMPARE(window.Lbl_bg->width(), 333);
}

void Form3Test::windowIsFramelessTopmostAndCentred() {
    app::Form3 window;
    QCOMPARE(window.windowTitle(), QStringLiteral("合并进度"));
    // The bar of 333 × 40 pixels, and below it the strip with the file and "取消".
    QCOMPARE(window.size(), QSize(333, 72));
    QCOMPARE(window.Cmd_Cancel->text(), QStringLiteral("取消"));
    QVERIFY(window.Lbl_File->geometry().bottom() < 72);
    QVERIFY(window.Cmd_Cancel->geometry().right() < 333);
    QVERIFY(!window.Lbl_File->geometry().intersects(window.Cmd_Cancel->geometry()));
    QVERIFY(window.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(window.Lbl_bg->palette().color(QPalette::Window), QColor(0xC0, 0xFF, 0xC0));
    QCOMPARE(window.Lbl_Prog->palette().color(QPalette::Window), QColor(0x00, 0xC0, 0x00));
    QCOMPARE(window.Lbl_Tip->geometry(), QRect(102, 11, 129, 17));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(window.pos(), QPoint(screen.width() / 2 - 166, screen.height() / 2 - 36));
}

void Form3Test::hostShowsOneWindowAndClosesIt() {
    merge::RunLock lock;
    app::DesktopHost host({}, lock);
    auto visibleProgress = [] {
        QList<app::Form3*> shown;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* progress = qobject_cast<app::Form3*>(window);
                progress && progress->isVisible())
                shown << progress;
        return shown;
    };
    QVERIFY(visibleProgress().isEmpty());
    host.showProgress(1, 3);
    QCOMPARE(visibleProgress().size(), 1);
    app::Form3* first = visibleProgress().constFirst();
    QCOMPARE(first->Lbl_Tip->text(), QStringLiteral("1 / 3"));
    host.showProgress(2, 3);
    QCOMPARE(visibleProgress(), QList<app::Form3*>{first});
    QCOMPARE(first->Lbl_Tip->text(), QStringLiteral("2 / 3"));
    QCOMPARE(first->Lbl_Prog->width(), 222);
    host.closeProgress();
    QVERIFY(visibleProgress().isEmpty());
    host.closeProgress();  // a second close is harmless
}

void Form3Test::handOverReleasesTheLockThenOpens() {
    // The lock goes once the run has nothing more to write: when the final message comes up,
    // so that a second start is not refused while the user reads it. Nothing opens by itself.
    const std::filesystem::path lockPath =
        std::filesystem::path(m_runtime.path().toStdString()) / "test.lock";
    merge::RunLock lock = merge::RunLock::acquire(lockPath);
    QVERIFY(lock.held());
    QVERIFY(merge::isMergeRunning(lockPath));
    QStringList opened;
    app::DesktopHost host(
        [&](const QString& path) -> std::optional<QString> {
            opened << path;
            return std::nullopt;
        },
        lock);
    bool runningWhileShown = true;
    whenModal<app::FinalMessage>([&](app::FinalMessage& box) {
        runningWhileShown = merge::isMergeRunning(lockPath);
        box.accept();
    });
    host.showSummary("共选取【2】个文件，成功合并【2】个，【0】个合并失败。", "提示",
                     "/data/合并 150615 093012.xlsx");
    QVERIFY(!runningWhileShown);
    host.handOver("/data/合并 150615 093012.xlsx");
    QVERIFY(opened.isEmpty());
    QVERIFY(!lock.held());
}

void Form3Test::cancelledOptionsComeBackUnconfirmed() {
    merge::RunLock lock;
    app::DesktopHost host({}, lock);
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<options::Form2*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        QCOMPARE(dialog->Combo2->currentText(), QStringLiteral("乙"));
        QTest::mouseClick(dialog->NO2, Qt::LeftButton, {}, QPoint(1, 1));
    });
    merge::SampleInfo sample{"/data/", 2, "/data/a.xlsx", {"甲", "乙"}, 1};
    const merge::MergeOptions chosen = host.askOptions(sample, {});
    QVERIFY(!chosen.Confirmed);
    QVERIFY(chosen.SheetSpec.empty());
}

void Form3Test::fileDialogKeepsTitleAndFilters() {
    QCOMPARE(app::ApiSelectFiles::filterPatterns(QStringLiteral("Excel文件(*.xls;*.xlsx;*.xlsm)")),
             (QStringList{"*.xls", "*.xlsx", "*.xlsm"}));
    QCOMPARE(app::ApiSelectFiles::filterPatterns(QStringLiteral("文本文件(*.csv)")),
             QStringList{"*.csv"});

    bool inspected = false;
    QTimer::singleShot(50, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        const auto closeAnyway = qScopeGuard([dialog] { dialog->reject(); });
        QCOMPARE(dialog->windowTitle(), QStringLiteral("请选择要处理的Excel或CSV文件"));
        // Every kind of source together first, so that .xlsx and .csv are picked at once.
        QCOMPARE(dialog->nameFilters(),
                 (QStringList{"Excel或CSV文件(*.xls;*.xlsx;*.xlsm;*.csv)",
                              "Excel文件(*.xls;*.xlsx;*.xlsm)", "文本文件(*.csv)"}));
        QCOMPARE(dialog->selectedNameFilter(),
                 QStringLiteral("Excel或CSV文件(*.xls;*.xlsx;*.xlsm;*.csv)"));
        QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFiles);
        auto* model = dialog->findChild<QFileSystemModel*>();
        QVERIFY(model);
        QCOMPARE(model->nameFilters(), (QStringList{"*.xls", "*.xlsx", "*.xlsm", "*.csv"}));
        // The user's choice in the list of file types.
        auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        QVERIFY(types);
        QTest::keyClick(types, Qt::Key_Down);
        QCOMPARE(types->currentIndex(), 1);
        QCOMPARE(model->nameFilters(), (QStringList{"*.xls", "*.xlsx", "*.xlsm"}));
        QTest::keyClick(types, Qt::Key_Down);
        QCOMPARE(model->nameFilters(), QStringList{"*.csv"});
        inspected = true;
    });
    QVERIFY(!app::ApiSelectFiles::SelectFiles().has_value());
    QVERIFY(inspected);
}

void Form3Test::folderDialogCancelYieldsNothing() {
    QString caption;
    QTimer::singleShot(50, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        caption = dialog->windowTitle();
        dialog->reject();
    });
    QVERIFY(!app::ApiSelectFiles::BrowseForFolder(
                 QStringLiteral("请选择存放目标文件的文件夹（可包含子文件夹）"))
                 .has_value());
    QCOMPARE(caption, QStringLiteral("请选择存放目标文件的文件夹（可包含子文件夹）"));
}

void Form3Test::closeRequestsAreRefused() {
    app::Form3 window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // As the window manager's close button or Alt+F4 asks.
    window.windowHandle()->close();
    QVERIFY(window.isVisible());
    window.close();
    QVERIFY(window.isVisible());
    window.unload();
    QVERIFY(!window.isVisible());
}

void Form3Test::cancelAsksOnceThenStops_data() {
    QTest::addColumn<bool>("byEscape");
    QTest::addColumn<bool>("confirmed");
    QTest::newRow("取消, then No") << false << false;
    QTest::newRow("取消, then Yes") << false << true;
    QTest::newRow("Escape, then Yes") << true << true;
}

void Form3Test::cancelAsksOnceThenStops() {
    QFETCH(bool, byEscape);
    QFETCH(bool, confirmed);
    MessageRecorder messages;
    messages.answer = confirmed ? merge::MessageAnswer::Yes : merge::MessageAnswer::No;
    app::Form3 window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.showFile(QStringLiteral("/data/月报/一月.xlsx"));
    QCOMPARE(window.Lbl_File->text(), QStringLiteral("正在合并：一月.xlsx"));
    if (byEscape)
        QTest::keyClick(&window, Qt::Key_Escape);
    else
        QTest::mouseClick(window.Cmd_Cancel, Qt::LeftButton);
    QCOMPARE(messages.texts,
             QStringList{"确定要取消合并吗？\r\n当前文件处理完后即停止，已合并的内容不会保存，"
                         "源文件不受影响。"});
    QCOMPARE(messages.styles, std::vector<merge::MessageStyle>{merge::MessageStyle::YesNoQuestion});
    QCOMPARE(messages.titles, QStringList{"选择"});
    QCOMPARE(window.stopRequested(), confirmed);
    QCOMPARE(window.Cmd_Cancel->isEnabled(), !confirmed);
    if (confirmed) {
        QCOMPARE(window.Lbl_File->text(), QStringLiteral("正在停止：当前文件处理完后停止……"));
        // Once stopping, the next file is not named and no second question is asked.
        window.showFile(QStringLiteral("/data/月报/二月.xlsx"));
        QCOMPARE(window.Lbl_File->text(), QStringLiteral("正在停止：当前文件处理完后停止……"));
        QTest::keyClick(&window, Qt::Key_Escape);
        QCOMPARE(messages.texts.size(), 1);
    }
    window.unload();
}

void Form3Test::hostNamesEachFileFromTheStart() {
    MessageRecorder messages;
    messages.answer = merge::MessageAnswer::Yes;
    merge::RunLock lock;
    app::DesktopHost host({}, lock);
    QVERIFY(!host.stopRequested());
    host.beginSource(1, 3, "/data/甲.xlsx");
    app::Form3* window = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* progress = qobject_cast<app::Form3*>(top); progress && progress->isVisible())
            window = progress;
    QVERIFY(window);
    // Shown before the first source is read: nothing done yet, the first file named.
    QCOMPARE(window->Lbl_Tip->text(), QStringLiteral("0 / 3"));
    QCOMPARE(window->Lbl_Prog->width(), 0);
    QCOMPARE(window->Lbl_File->text(), QStringLiteral("正在合并：甲.xlsx"));
    host.showProgress(1, 3);
    host.beginSource(2, 3, "/data/乙.csv");
    QCOMPARE(window->Lbl_File->text(), QStringLiteral("正在合并：乙.csv"));
    QVERIFY(!host.stopRequested());
    QTest::mouseClick(window->Cmd_Cancel, Qt::LeftButton);
    QVERIFY(host.stopRequested());
    host.closeProgress();
    QVERIFY(!host.stopRequested());
}

void Form3Test::hostShowsTheFinalMessage_data() {
    QTest::addColumn<QString>("result");  // empty: the save failed
    QTest::newRow("saved") << "/data/月报/合并 150615 093012.xlsx";
    QTest::newRow("save failed") << "";
}

void Form3Test::hostShowsTheFinalMessage() {
    QFETCH(QString, result);
    MessageRecorder messages;
    merge::RunLock lock;
    QStringList opened;
    app::DesktopHost host(
        [&](const QString& path) -> std::optional<QString> {
            opened << path;
            return QStringLiteral("没有登记可以打开这类文件的程序。");
        },
        lock);
    const std::string summary = "共选取【2】个文件，成功合并【2】个，【0】个合并失败。";
    QString shownText;
    QString shownPath;
    QString failure;
    if (!result.isEmpty()) {
        whenModal<app::FinalMessage>([&](app::FinalMessage& box) {
            shownText = box.Lbl_Text->text();
            shownPath = box.Txt_Result->text();
            QTest::mouseClick(box.Cmd_OpenResult, Qt::LeftButton);
            failure = box.Lbl_Failure->text();
            QTest::mouseClick(box.Cmd_OK, Qt::LeftButton);
        });
    }
    host.showSummary(summary, "提示", result.toStdString());
    if (result.isEmpty()) {
        // No result to name or open: the plain message box.
        QCOMPARE(messages.texts, QStringList{QString::fromStdString(summary)});
        QCOMPARE(messages.titles, QStringList{"提示"});
        QVERIFY(opened.isEmpty());
        return;
    }
    QVERIFY(messages.texts.isEmpty());
    QCOMPARE(shownText, QString::fromStdString(summary));
    QCOMPARE(shownPath, result);
    QCOMPARE(opened, QStringList{result});
    QCOMPARE(failure, QStringLiteral("无法打开合并结果：没有登记可以打开这类文件的程序。"));
}

void Form3Test::pickersSpeakChinese() {
    QVERIFY(app::installToolkitTranslations(*QCoreApplication::instance()));
    QStringList buttons;
    QStringList labels;
    QTimer::singleShot(50, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        const auto closeAnyway = qScopeGuard([dialog] { dialog->reject(); });
        for (QPushButton* button : dialog->findChildren<QPushButton*>())
            if (button->isVisible()) buttons << button->text();
        for (const char* name : {"lookInLabel", "fileNameLabel", "fileTypeLabel"})
            if (auto* label = dialog->findChild<QLabel*>(QString::fromLatin1(name)))
                labels << label->text();
    });
    QVERIFY(!app::ApiSelectFiles::SelectFiles().has_value());
    QVERIFY2(buttons.contains(QStringLiteral("打开(&O)")), qPrintable(buttons.join(u',')));
    QVERIFY2(buttons.contains(QStringLiteral("取消")), qPrintable(buttons.join(u',')));
    QCOMPARE(labels, (QStringList{"查找范围：", "文件名称(&N)：", "文件类型："}));
}

void Form3Test::pickersStartWhereTheUserLastWas() {
    QTemporaryDir data;
    QVERIFY(data.isValid());
    QVERIFY(QDir(data.path()).mkpath(QStringLiteral("月报")));
    const QString folder = data.filePath(QStringLiteral("月报"));
    for (const char* name : {"a.xlsx", "b.csv"}) {
        QFile file(folder + QLatin1Char('/') + QString::fromUtf8(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    // The first picker starts at home; the user goes to the folder and picks one file only.
    QString startedIn;
    QTimer::singleShot(50, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        const auto closeAnyway = qScopeGuard([dialog] {
            if (dialog->isVisible()) dialog->reject();
        });
        startedIn = dialog->directory().absolutePath();
        auto* names = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(names);
        // Chinese text arrives from the input method, not as key presses.
        names->setText(folder + QStringLiteral("/a.xlsx"));
        QTest::keyClick(names, Qt::Key_Return);
    });
    std::optional<app::SelectedFiles> chosen = app::ApiSelectFiles::SelectFiles();
    QVERIFY(chosen);
    QCOMPARE(startedIn, QDir::homePath());
    QCOMPARE(chosen->names, QStringList{"a.xlsx"});
    // Asked again for two files, it opens where the user just was, and both kinds show.
    QTimer::singleShot(50, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        const auto closeAnyway = qScopeGuard([dialog] {
            if (dialog->isVisible()) dialog->reject();
        });
        startedIn = dialog->directory().absolutePath();
        // Typed as a keyboard user types several names, then Enter.
        auto* names = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(names);
        names->clear();
        QTest::keyClicks(names, QStringLiteral("\"a.xlsx\" \"b.csv\""));
        QTest::keyClick(names, Qt::Key_Return);
    });
    chosen = app::ApiSelectFiles::SelectFiles();
    QVERIFY(chosen);
    QCOMPARE(startedIn, folder);
    QCOMPARE(chosen->directory, folder);
    QCOMPARE(chosen->names, (QStringList{"a.xlsx", "b.csv"}));
    // The folder picker starts there too.
    QTimer::singleShot(50, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        startedIn = dialog->directory().absolutePath();
        dialog->reject();
    });
    QVERIFY(!app::ApiSelectFiles::BrowseForFolder(QStringLiteral("x")).has_value());
    QCOMPARE(startedIn, folder);
    // Kept in our own settings under our name; nothing in ~/.config/QtProject.conf.
    QSettings ours(config + QStringLiteral("/sheetmerge/sheetmerge.conf"), QSettings::IniFormat);
    QCOMPARE(ours.value(QStringLiteral("pickers/lastFolder")).toString(), folder);
    QVERIFY(!QFileInfo::exists(config + QStringLiteral("/QtProject.conf")));
    QVERIFY(!QFileInfo::exists(QDir::homePath() + QStringLiteral("/.config/QtProject.conf")));
    const QStringList written = QDir(config).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    QCOMPARE(written, QStringList{"sheetmerge"});
}

QTEST_MAIN(Form3Test)
#include "form3_test.moc"
