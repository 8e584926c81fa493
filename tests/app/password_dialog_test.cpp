// The password question for encrypted sources: the dialog answered from the keyboard and the
// mouse, and whole desktop runs over real encrypted fixtures in which it is asked, skipped,
// remembered for later files and answered wrongly three times.
#include <QApplication>
#include <QCheckBox>
#include <QDirIterator>
#include <QFile>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/desktop_host.h"
#include "app/final_message.h"
#include "app/password_dialog.h"
#include "merge/engine_application.h"
#include "merge/merge_run.h"
#include "options/form2.h"
#include "widgets/active_label.h"
#include "widgets/message_service.h"

namespace {

const QString Agile = QStringLiteral("密码Agile-1");  // tests/data/crypto/agile_grid.xlsx
const QString Api = QStringLiteral("api-Pass");       // tests/data/crypto/cryptoapi_grid.xls
const QString Skipped = QStringLiteral("文件受密码保护（未提供密码或密码不正确）：未提供密码");

// One answer to the dialog, as a user gives it: "Escape", "Skip" (the button), "Close" (the
// window's close button), or a password typed into the box, then "Enter", with " +later"
// ticking the check box with Tab and Space first.
struct Typed {
    QString how;
    QString password;
};
Typed skip(const char* how = "Escape") {
    return {QString::fromLatin1(how), {}};
}
Typed enter(const QString& password, bool later = false) {
    return {later ? QStringLiteral("Enter +later") : QStringLiteral("Enter"), password};
}

// What the dialog showed when it came up.
struct Shown {
    QString file;       // the file's name, from the path box
    QString wrongLine;  // empty while hidden
    bool laterTicked = false;
    bool focusOnPassword = false;
};

// Types `text` into `widget` as a user does: Latin letters from the keys, Chinese characters
// committed by an input method.
void typeText(QWidget* widget, const QString& text) {
    for (const QChar character : text) {
        if (character.unicode() < 0x80) {
            QTest::keyClick(widget, character.toLatin1());
        } else {
            QInputMethodEvent commit;
            commit.setCommitString(character);
            QApplication::sendEvent(widget, &commit);
        }
    }
}

void answer(app::PasswordDialog& dialog, const Typed& typed) {
    QWidget* focus = QApplication::focusWidget();
    typeText(focus, typed.password);
    if (typed.how.endsWith(QStringLiteral("+later"))) {
        QTest::keyClick(focus, Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    }
    if (typed.how.startsWith(QStringLiteral("Enter")))
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    else if (typed.how == QStringLiteral("Escape"))
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    else if (typed.how == QStringLiteral("Skip"))
        QTest::mouseClick(dialog.Cmd_Skip, Qt::LeftButton);
    else
        dialog.close();
}

// Answers whatever modal window comes up while it lives: the options dialog with OK (start
// row 2), each password dialog with the next of `answers` (recording what it showed), the
// final message with OK. Message boxes are recorded and answered with OK.
class Responder {
public:
    explicit Responder(QList<Typed> answers) : m_answers(std::move(answers)) {
        widgets::MessageService::setHandler(
            [this](const QString& text, merge::MessageStyle, const QString&) {
                messages << text;
                return merge::MessageAnswer::Ok;
            });
        m_poll.setInterval(20);
        QObject::connect(&m_poll, &QTimer::timeout, [this] { respond(); });
        m_poll.start();
    }
    ~Responder() { widgets::MessageService::setHandler({}); }

    QString sample;  // the options dialog's sample path
    QList<Shown> shown;
    QStringList messages;

private:
    void respond() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) return;
        if (auto* options = qobject_cast<options::Form2*>(modal)) {
            sample = options->Txt_Xls1->text();
            options->Txt_Row->setText(QStringLiteral("2"));
            QTest::mouseClick(options->OK1, Qt::LeftButton);
        } else if (auto* dialog = qobject_cast<app::PasswordDialog*>(modal)) {
            if (!dialog->isActiveWindow()) return;
            shown.append({dialog->Txt_File->text().section(u'/', -1),
                          dialog->Lbl_Wrong->isVisible() ? dialog->Lbl_Wrong->text() : QString(),
                          dialog->Chk_Later->isChecked(),
                          QApplication::focusWidget() == dialog->Txt_Password});
            answer(*dialog, m_answers.isEmpty() ? skip() : m_answers.takeFirst());
        } else if (auto* box = qobject_cast<app::FinalMessage*>(modal)) {
            QTest::mouseClick(box->Cmd_OK, Qt::LeftButton);
        }
    }

    QList<Typed> m_answers;
    QTimer m_poll;
};

// Whether `needle` occurs in any file under `folder`.
bool writtenUnder(const QString& folder, const QByteArray& needle) {
    QDirIterator files(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(needle)) return true;
    }
    return false;
}

}  // namespace

Q_DECLARE_METATYPE(QList<Typed>)
Q_DECLARE_METATYPE(Typed)

class PasswordDialogTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void answersFromKeyboardAndMouse_data();
    void answersFromKeyboardAndMouse();
    void runAsksForEncryptedSources_data();
    void runAsksForEncryptedSources();

private:
    QTemporaryDir m_home;
};

void PasswordDialogTest::initTestCase() {
    // The run lock and any settings go to folders of the test's own.
    QVERIFY(m_home.isValid());
    qputenv("HOME", m_home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", m_home.path().toUtf8());
}

void PasswordDialogTest::cleanup() {
    for (QWidget* window : QApplication::topLevelWidgets())
        QVERIFY2(!window->isVisible(),
                 qPrintable(window->objectName() + QStringLiteral(" left open")));
}

void PasswordDialogTest::answersFromKeyboardAndMouse_data() {
    QTest::addColumn<int>("attempt");
    QTest::addColumn<bool>("laterAtStart");
    QTest::addColumn<Typed>("typed");
    QTest::addColumn<bool>("given");
    QTest::addColumn<bool>("later");
    QTest::addColumn<QString>("wrongLine");  // empty: hidden
    QTest::newRow("typed then Enter") << 1 << false << enter(Agile) << true << false << "";
    QTest::newRow("ticked with Tab and Space")
        << 1 << false << enter(QStringLiteral("x"), true) << true << true << "";
    QTest::newRow("empty box and Enter") << 1 << false << enter({}) << true << false << "";
    QTest::newRow("Escape skips") << 1 << true << skip() << false << false << "";
    QTest::newRow("skip button") << 1 << false << skip("Skip") << false << false << "";
    QTest::newRow("closing the window skips")
        << 1 << false << skip("Close") << false << false << "";
    QTest::newRow("second try: two left")
        << 2 << false << enter(Api) << true << false << "密码不正确，请重新输入（还可输入 2 次）。";
    QTest::newRow("third try: one left, tick kept")
        << 3 << true << enter(Api) << true << true << "密码不正确，请重新输入（还可输入 1 次）。";
}

void PasswordDialogTest::answersFromKeyboardAndMouse() {
    QFETCH(int, attempt);
    QFETCH(bool, laterAtStart);
    QFETCH(Typed, typed);
    QFETCH(bool, given);
    QFETCH(bool, later);
    QFETCH(QString, wrongLine);
    const QString path = QStringLiteral("/data/月报/工资 六月.xlsx");
    app::PasswordDialog dialog(path, attempt, laterAtStart);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("输入密码"));
    QCOMPARE(dialog.Lbl_Prompt->text(), QStringLiteral("以下文件设有打开密码，请输入密码："));
    QCOMPARE(dialog.Txt_File->text(), path);
    QVERIFY(dialog.Txt_File->isReadOnly());
    QCOMPARE(dialog.Chk_Later->text(), QStringLiteral("对后面的文件也使用该密码"));
    QCOMPARE(dialog.Cmd_Skip->text(), QStringLiteral("跳过"));
    QCOMPARE(dialog.Cmd_OK->text(), QStringLiteral("确定"));
    QVERIFY(dialog.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QString typedShown;
    Shown shown;
    QTimer::singleShot(0, &dialog, [&] {
        (void)QTest::qWaitForWindowActive(&dialog);
        shown = {{},
                 dialog.Lbl_Wrong->isVisible() ? dialog.Lbl_Wrong->text() : QString(),
                 dialog.Chk_Later->isChecked(),
                 QApplication::focusWidget() == dialog.Txt_Password};
        // Typed where the focus is; then the rest of the answer.
        typeText(QApplication::focusWidget(), typed.password);
        typedShown = dialog.Txt_Password->displayText();
        answer(dialog, {typed.how, {}});
    });
    const merge::PasswordAnswer result = dialog.ask();
    QVERIFY(shown.focusOnPassword);
    QCOMPARE(shown.wrongLine, wrongLine);
    QCOMPARE(shown.laterTicked, laterAtStart);
    // Masked: not one typed character is shown.
    for (const QChar character : typed.password) QVERIFY(!typedShown.contains(character));
    QCOMPARE(result.password.has_value(), given);
    if (given) QCOMPARE(QString::fromStdString(*result.password), typed.password);
    QCOMPARE(result.useForLaterFiles, later);
    QVERIFY(dialog.Txt_Password->text().isEmpty());
}

void PasswordDialogTest::runAsksForEncryptedSources_data() {
    QTest::addColumn<QList<Typed>>("answers");
    // Each dialog: the file, " ☑" when the check box started ticked, "|" + the wrong-try line.
    QTest::addColumn<QStringList>("asked");
    QTest::addColumn<QStringList>("causes");  // per source in merge order; empty: merged
    const QString two = QStringLiteral("|密码不正确，请重新输入（还可输入 2 次）。");
    const QString one = QStringLiteral("|密码不正确，请重新输入（还可输入 1 次）。");
    // The encrypted .xlsx files come first in the list, yet the sample is 3 汇总.xlsx, which
    // the run merges first; then 2 奖金.xlsx, 1 工资.xlsx (both agile_grid.xlsx) and
    // 4 旧表.xls (cryptoapi_grid.xls).
    QTest::newRow("asked for each")
        << QList<Typed>{enter(Agile), enter(Agile), enter(Api)}
        << QStringList{"2 奖金.xlsx", "1 工资.xlsx", "4 旧表.xls"} << QStringList{"", "", "", ""};
    QTest::newRow("remembered for later files")
        << QList<Typed>{enter(Agile, true), enter(Api)}
        << QStringList{"2 奖金.xlsx", "4 旧表.xls ☑"} << QStringList{"", "", "", ""};
    QTest::newRow("skipped") << QList<Typed>{skip(), skip("Skip"), skip("Close")}
                             << QStringList{"2 奖金.xlsx", "1 工资.xlsx", "4 旧表.xls"}
                             << QStringList{"", Skipped, Skipped, Skipped};
    QTest::newRow("three wrong tries")
        << QList<Typed>{enter(Api),   enter(QStringLiteral("密码")), enter(Agile.toLower()),
                        enter(Agile), enter(Agile.left(4)),          enter(Api)}
        << QStringList{"2 奖金.xlsx", "2 奖金.xlsx" + two, "2 奖金.xlsx" + one,
                       "1 工资.xlsx", "4 旧表.xls",        "4 旧表.xls" + two}
        << QStringList{"", QStringLiteral("密码不正确"), "", ""};
}

void PasswordDialogTest::runAsksForEncryptedSources() {
    QFETCH(QList<Typed>, answers);
    QFETCH(QStringList, asked);
    QFETCH(QStringList, causes);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString data = QStringLiteral(SHEETMERGE_TEST_DATA);
    const std::pair<const char*, const char*> files[] = {
        {"crypto/agile_grid.xlsx", "1 工资.xlsx"},
        {"crypto/agile_grid.xlsx", "2 奖金.xlsx"},
        {"xls/grid.xlsx", "3 汇总.xlsx"},
        {"crypto/cryptoapi_grid.xls", "4 旧表.xls"},
    };
    merge::RunInput input;
    input.FolderPath = (folder.path() + QLatin1Char('/')).toStdString();
    for (const auto& [from, to] : files) {
        const QString target = folder.filePath(QString::fromUtf8(to));
        QVERIFY(QFile::copy(data + QLatin1Char('/') + QLatin1String(from), target));
        input.SourceList.push_back(target.toStdString());
    }

    Responder responder(answers);
    merge::RunLock lock;
    app::DesktopHost host({}, lock);
    std::unique_ptr<merge::Application> application = merge::makeEngineApplication();
    const merge::RunOutcome outcome = merge::Zelk(input, *application, host);

    QVERIFY2(responder.messages.isEmpty(), qPrintable(responder.messages.join(u'\n')));
    QCOMPARE(outcome.status, merge::RunStatus::Saved);
    // The desktop passes over the encrypted first .xlsx files for the sample.
    QCOMPARE(responder.sample, folder.filePath(QStringLiteral("3 汇总.xlsx")));
    QStringList seen;
    for (const Shown& dialog : responder.shown) {
        QVERIFY(dialog.focusOnPassword);
        seen << dialog.file + (dialog.laterTicked ? QStringLiteral(" ☑") : QString()) +
                    (dialog.wrongLine.isEmpty() ? QString() : u'|' + dialog.wrongLine);
    }
    QCOMPARE(seen, asked);
    QCOMPARE(int(outcome.sources.size()), causes.size());
    for (int k = 0; k < causes.size(); ++k) {
        const merge::SourceReport& report = outcome.sources[std::size_t(k)];
        const QString cause =
            report.failure ? QString::fromStdString(report.failure->cause()) : QString();
        QVERIFY2(causes[k].isEmpty() ? !report.failure : cause == causes[k],
                 qPrintable(QString::fromStdString(report.path) + QStringLiteral(": ") + cause));
    }
    QCOMPARE(outcome.merged, int(causes.count(QString())));
    // No answer is written anywhere: not among the settings, not beside the sources.
    for (const Typed& typed : answers) {
        if (typed.password.isEmpty()) continue;
        QVERIFY(!writtenUnder(m_home.path(), typed.password.toUtf8()));
        QVERIFY(!writtenUnder(folder.path(), typed.password.toUtf8()));
    }
}

QTEST_MAIN(PasswordDialogTest)
#include "password_dialog_test.moc"
