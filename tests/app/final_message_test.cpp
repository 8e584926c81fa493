// The final message of a saved run: the summary as the run composed it, the result's full
// path, the two opening buttons beside OK with a fake opener that fails or succeeds, and the
// desktop's own opener with a stand-in xdg-open that ends as xdg-open ends.
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "app/final_message.h"

class FinalMessageTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup();

    void showsSummaryPathAndButtons();
    void buttonsOpenOrSayWhyNot_data();
    void buttonsOpenOrSayWhyNot();
    void desktopOpenerReportsTheLaunchersEnd_data();
    void desktopOpenerReportsTheLaunchersEnd();
};

namespace {
const QString Summary = QStringLiteral("共选取【3】个文件，成功合并【2】个，【1】个合并失败。");
const QString Result = QStringLiteral("/data/月报/合并 150615 093012.xlsx");
}  // namespace

void FinalMessageTest::cleanup() {
    for (QWidget* window : QApplication::topLevelWidgets())
        QVERIFY2(!window->isVisible(),
                 qPrintable(window->objectName() + QStringLiteral(" left open")));
}

void FinalMessageTest::showsSummaryPathAndButtons() {
    app::FinalMessage box(Summary, Result, {});
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(box.windowTitle(), QStringLiteral("提示"));
    QCOMPARE(box.Lbl_Text->text(), Summary);
    QCOMPARE(box.Txt_Result->text(), Result);
    QVERIFY(box.Txt_Result->isReadOnly());
    QVERIFY(!box.Lbl_Failure->isVisible());
    QCOMPARE(box.Cmd_OpenResult->text(), QStringLiteral("打开结果"));
    QCOMPARE(box.Cmd_OpenFolder->text(), QStringLiteral("打开所在文件夹"));
    QCOMPARE(box.Cmd_OK->text(), QStringLiteral("确定"));
    // Enter closes it as OK does; the focus starts there.
    QCOMPARE(QApplication::focusWidget(), box.Cmd_OK);
    QSignalSpy accepted(&box, &QDialog::accepted);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(accepted.count(), 1);
    QVERIFY(!box.isVisible());
}

void FinalMessageTest::buttonsOpenOrSayWhyNot_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("failure");  // what the opener answers; empty: it worked
    QTest::addColumn<QString>("opened");
    QTest::addColumn<QString>("shown");  // the failure line afterwards; empty: closed
    QTest::newRow("result opens") << "Cmd_OpenResult"
                                  << "" << Result << "";
    QTest::newRow("folder opens") << "Cmd_OpenFolder"
                                  << ""
                                  << "/data/月报"
                                  << "";
    QTest::newRow("no program for the result")
        << "Cmd_OpenResult"
        << "没有登记可以打开这类文件的程序。" << Result
        << "无法打开合并结果：没有登记可以打开这类文件的程序。";
    QTest::newRow("no launcher for the folder")
        << "Cmd_OpenFolder"
        << "系统中没有用来打开文件的程序（未找到 xdg-open）。"
        << "/data/月报"
        << "无法打开所在文件夹：系统中没有用来打开文件的程序（未找到 xdg-open）。";
}

void FinalMessageTest::buttonsOpenOrSayWhyNot() {
    QFETCH(QString, button);
    QFETCH(QString, failure);
    QFETCH(QString, opened);
    QFETCH(QString, shown);
    QStringList asked;
    app::FinalMessage box(Summary, Result, [&](const QString& path) -> std::optional<QString> {
        asked << path;
        if (failure.isEmpty()) return std::nullopt;
        return failure;
    });
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    auto* pressed = box.findChild<QPushButton*>(button);
    QVERIFY(pressed);
    QTest::mouseClick(pressed, Qt::LeftButton);
    QCOMPARE(asked, QStringList{opened});
    if (shown.isEmpty()) {
        QVERIFY(!box.isVisible());
        QCOMPARE(box.result(), int(QDialog::Accepted));
        return;
    }
    // The failure is said in the message, which stays open; the summary and path stay too.
    QVERIFY(box.isVisible());
    QVERIFY(box.Lbl_Failure->isVisible());
    QCOMPARE(box.Lbl_Failure->text(), shown);
    QCOMPARE(box.Lbl_Text->text(), Summary);
    QCOMPARE(box.Txt_Result->text(), Result);
    QTest::mouseClick(box.Cmd_OK, Qt::LeftButton);
    QVERIFY(!box.isVisible());
}

void FinalMessageTest::desktopOpenerReportsTheLaunchersEnd_data() {
    QTest::addColumn<QString>("script");  // the stand-in xdg-open; empty: none on the PATH
    QTest::addColumn<QString>("path");    // "result" or "gone"
    QTest::addColumn<QString>("failure");
    QTest::newRow("launcher starts the program") << "exit 0"
                                                 << "result"
                                                 << "";
    QTest::newRow("no program for the type") << "exit 3"
                                             << "result"
                                             << "没有登记可以打开这类文件的程序。";
    QTest::newRow("launcher reports the file missing") << "exit 2"
                                                       << "result"
                                                       << "文件已不存在。";
    QTest::newRow("launcher fails otherwise") << "exit 4"
                                              << "result"
                                              << "打开程序报告失败（退出状态 4）。";
    QTest::newRow("no launcher at all") << ""
                                        << "result"
                                        << "系统中没有用来打开文件的程序（未找到 xdg-open）。";
    QTest::newRow("result removed meanwhile") << "exit 0"
                                              << "gone"
                                              << "文件已不存在。";
}

void FinalMessageTest::desktopOpenerReportsTheLaunchersEnd() {
    QFETCH(QString, script);
    QFETCH(QString, path);
    QFETCH(QString, failure);
    QTemporaryDir bin;
    QTemporaryDir folder;
    QVERIFY(bin.isValid() && folder.isValid());
    const QString log = folder.filePath(QStringLiteral("opened.txt"));
    if (!script.isEmpty()) {
        QFile launcher(bin.filePath(QStringLiteral("xdg-open")));
        QVERIFY(launcher.open(QIODevice::WriteOnly));
        launcher.write(
            QStringLiteral("#!/bin/sh\nprintf '%s' \"$1\" > '%1'\n%2\n").arg(log, script).toUtf8());
        launcher.close();
        QVERIFY(launcher.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ExeOwner));
    }
    const QString result = folder.filePath(QStringLiteral("合并 150615 093012.xlsx"));
    if (path == QStringLiteral("result")) {
        QFile file(result);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", bin.path().toUtf8());
    const std::optional<QString> answer = app::FinalMessage::openInDesktop(result);
    qputenv("PATH", savedPath);
    QCOMPARE(answer.value_or(QString()), failure);
    if (!script.isEmpty() && path == QStringLiteral("result")) {
        QFile opened(log);
        QVERIFY(opened.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(opened.readAll()), result);
    }
}

QTEST_MAIN(FinalMessageTest)
#include "final_message_test.moc"
