#include "app/final_message.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QVBoxLayout>

#include "app/texts.h"

namespace app {

namespace {
QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption) {
    auto* button = new QPushButton(text(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}
}  // namespace

FinalMessage::FinalMessage(const QString& summary, const QString& resultPath, Opener opener,
                           QWidget* parent)
    : QDialog(parent), m_open(std::move(opener)), m_resultPath(resultPath) {
    setObjectName(QStringLiteral("FinalMessage"));
    setWindowTitle(text(texts::NoticeTitle));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint);

    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    Lbl_Text = new QLabel(summary, this);
    Lbl_Text->setObjectName(QStringLiteral("Lbl_Text"));
    Lbl_Text->setTextFormat(Qt::PlainText);
    Lbl_Text->setWordWrap(true);
    Lbl_Text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* pathCaption = new QLabel(text(texts::ResultPathLine), this);
    Txt_Result = new QLineEdit(QDir::toNativeSeparators(resultPath), this);
    Txt_Result->setObjectName(QStringLiteral("Txt_Result"));
    Txt_Result->setReadOnly(true);
    Txt_Result->setMinimumWidth(360);
    // A long path shows its end: the result's own name.
    Txt_Result->setCursorPosition(Txt_Result->text().size());
    Lbl_Failure = new QLabel(this);
    Lbl_Failure->setObjectName(QStringLiteral("Lbl_Failure"));
    Lbl_Failure->setTextFormat(Qt::PlainText);
    Lbl_Failure->setWordWrap(true);
    QPalette failurePalette = Lbl_Failure->palette();
    failurePalette.setColor(QPalette::WindowText, QColor(190, 30, 30));
    Lbl_Failure->setPalette(failurePalette);
    Lbl_Failure->hide();

    Cmd_OpenResult = makeButton(this, "Cmd_OpenResult", texts::OpenResultButton);
    Cmd_OpenFolder = makeButton(this, "Cmd_OpenFolder", texts::OpenFolderButton);
    Cmd_OK = makeButton(this, "Cmd_OK", texts::OkButton);
    Cmd_OK->setDefault(true);
    Cmd_OpenResult->setAutoDefault(false);
    Cmd_OpenFolder->setAutoDefault(false);

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(pathCaption);
    pathRow->addWidget(Txt_Result, 1);
    auto* words = new QVBoxLayout;
    words->addWidget(Lbl_Text);
    words->addLayout(pathRow);
    words->addWidget(Lbl_Failure);
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addSpacing(8);
    top->addLayout(words, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Cmd_OpenResult);
    buttons->addWidget(Cmd_OpenFolder);
    buttons->addStretch(1);
    buttons->addWidget(Cmd_OK);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(Cmd_OK, &QPushButton::clicked, this, &QDialog::accept);
    connect(Cmd_OpenResult, &QPushButton::clicked, this,
            [this] { openWith(m_resultPath, texts::CannotOpenResult); });
    connect(Cmd_OpenFolder, &QPushButton::clicked, this,
            [this] { openWith(QFileInfo(m_resultPath).absolutePath(), texts::CannotOpenFolder); });
    Cmd_OK->setFocus(Qt::OtherFocusReason);
}

void FinalMessage::openWith(const QString& path, const char* failureHead) {
    const std::optional<QString> failure = m_open ? m_open(path) : std::optional<QString>();
    if (!failure) {
        // The result or its folder is in front of the user now; nothing is left to say.
        accept();
        return;
    }
    Lbl_Failure->setText(text(failureHead) + *failure);
    Lbl_Failure->show();
}

std::optional<QString> FinalMessage::openInDesktop(const QString& path) {
    if (!QFileInfo::exists(path)) return text(texts::FileGone);
    const QString launcher = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (launcher.isEmpty()) return text(texts::NoLauncher);
    // Not a child of anything: a launch that outlives this message must not be ended with it.
    auto* process = new QProcess;
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->start(launcher, {path});
    if (!process->waitForStarted(3000)) {
        delete process;
        return text(texts::NoLauncher);
    }
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const bool finished = process->waitForFinished(1500);
    QApplication::restoreOverrideCursor();
    // Still running: on a desktop without its own launcher xdg-open waits for the program it
    // started, which is then in front of the user.
    if (!finished) return std::nullopt;
    if (process->exitStatus() != QProcess::NormalExit) return text(texts::NoProgramForType);
    // xdg-open's exit statuses: 2 the file does not exist, 3 no program for the type.
    switch (process->exitCode()) {
        case 0:
            return std::nullopt;
        case 2:
            return text(texts::FileGone);
        case 3:
            return text(texts::NoProgramForType);
        default:
            return text(texts::LauncherFailedHead) + QString::number(process->exitCode()) +
                   text(texts::LauncherFailedTail);
    }
}

}  // namespace app
