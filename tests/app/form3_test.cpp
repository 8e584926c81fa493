// The progress window and the desktop host that shows it: captions, bar widths, stacking,
// and the hand-over of the result.
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QTimer>
#include <QtTest>

#include "app/api_select_files.h"
#include "app/desktop_host.h"
#include "app/form3.h"
#include "options/form2.h"
#include "widgets/active_label.h"

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

private:
    QTemporaryDir m_runtime;
};

void Form3Test::initTestCase() {
    QVERIFY(m_runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
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
    QCOMPARE(window.size(), QSize(333, 40));
    QVERIFY(window.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(window.Lbl_bg->palette().color(QPalette::Window), QColor(0xC0, 0xFF, 0xC0));
    QCOMPARE(window.Lbl_Prog->palette().color(QPalette::Window), QColor(0x00, 0xC0, 0x00));
    QCOMPARE(window.Lbl_Tip->geometry(), QRect(102, 11, 129, 17));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(window.pos(), QPoint(screen.width() / 2 - 166, screen.height() / 2 - 20));
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
    const std::filesystem::path lockPath =
        std::filesystem::path(m_runtime.path().toStdString()) / "test.lock";
    merge::RunLock lock = merge::RunLock::acquire(lockPath);
    QVERIFY(lock.held());
    QVERIFY(merge::isMergeRunning(lockPath));
    std::vector<std::filesystem::path> opened;
    bool runningWhenOpened = true;
    app::DesktopHost host(
        [&](const std::filesystem::path& result) {
            opened.push_back(result);
            runningWhenOpened = merge::isMergeRunning(lockPath);
        },
        lock);
    host.handOver("/data/合并 150615 093012.xlsx");
    QCOMPARE(opened.size(), std::size_t(1));
    QCOMPARE(opened[0].string(), std::string("/data/合并 150615 093012.xlsx"));
    QVERIFY(!runningWhenOpened);
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
        QCOMPARE(dialog->windowTitle(), QStringLiteral("请选择要处理的Excel或CSV文件"));
        QCOMPARE(dialog->nameFilters(),
                 (QStringList{"Excel文件(*.xls;*.xlsx;*.xlsm)", "文本文件(*.csv)"}));
        QCOMPARE(dialog->selectedNameFilter(), QStringLiteral("Excel文件(*.xls;*.xlsx;*.xlsm)"));
        QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFiles);
        auto* model = dialog->findChild<QFileSystemModel*>();
        QVERIFY(model);
        QCOMPARE(model->nameFilters(), (QStringList{"*.xls", "*.xlsx", "*.xlsm"}));
        dialog->selectNameFilter(QStringLiteral("文本文件(*.csv)"));
        QCOMPARE(model->nameFilters(), QStringList{"*.csv"});
        inspected = true;
        dialog->reject();
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

QTEST_MAIN(Form3Test)
#include "form3_test.moc"
