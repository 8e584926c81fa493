#include "app/password_dialog.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/texts.h"
#include "widgets/fonts.h"

namespace app {

namespace {
QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}
}  // namespace

PasswordDialog::PasswordDialog(const QString& path, int attempt, bool useForLaterFiles,
                               QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("PasswordDialog"));
    setWindowTitle(text(texts::PasswordTitle));
    // Above the progress window, which stays on top of all others.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint);
    setFont(widgets::dialogFont(12));

    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));
    Lbl_Prompt = new QLabel(text(texts::PasswordPrompt), this);
    Lbl_Prompt->setObjectName(QStringLiteral("Lbl_Prompt"));
    auto* fileCaption = new QLabel(text(texts::PasswordFileLine), this);
    Txt_File = new QLineEdit(QDir::toNativeSeparators(path), this);
    Txt_File->setObjectName(QStringLiteral("Txt_File"));
    Txt_File->setReadOnly(true);
    Txt_File->setMinimumWidth(360);
    // Tab goes from the password to the buttons; the path is there to read.
    Txt_File->setFocusPolicy(Qt::ClickFocus);
    // A long path shows its end: the file's own name.
    Txt_File->setCursorPosition(Txt_File->text().size());
    auto* passwordCaption = new QLabel(text(texts::PasswordLine), this);
    Txt_Password = new QLineEdit(this);
    Txt_Password->setObjectName(QStringLiteral("Txt_Password"));
    Txt_Password->setEchoMode(QLineEdit::Password);
    passwordCaption->setBuddy(Txt_Password);

    Lbl_Wrong = new QLabel(this);
    Lbl_Wrong->setObjectName(QStringLiteral("Lbl_Wrong"));
    Lbl_Wrong->setTextFormat(Qt::PlainText);
    QPalette wrongPalette = Lbl_Wrong->palette();
    wrongPalette.setColor(QPalette::WindowText, QColor(190, 30, 30));
    Lbl_Wrong->setPalette(wrongPalette);
    if (attempt > 1) {
        const int left = merge::MaxPasswordAttempts - attempt + 1;
        Lbl_Wrong->setText(text(texts::PasswordWrongHead) + QString::number(left) +
                           text(texts::PasswordWrongTail));
    } else {
        Lbl_Wrong->hide();
    }
    Chk_Later = new QCheckBox(text(texts::PasswordForLaterFiles), this);
    Chk_Later->setObjectName(QStringLiteral("Chk_Later"));
    Chk_Later->setChecked(useForLaterFiles);

    Cmd_Skip = new QPushButton(text(texts::SkipButton), this);
    Cmd_Skip->setObjectName(QStringLiteral("Cmd_Skip"));
    Cmd_OK = new QPushButton(text(texts::OkButton), this);
    Cmd_OK->setObjectName(QStringLiteral("Cmd_OK"));
    Cmd_OK->setDefault(true);

    auto* fields = new QGridLayout;
    fields->addWidget(Lbl_Prompt, 0, 0, 1, 2);
    fields->addWidget(fileCaption, 1, 0);
    fields->addWidget(Txt_File, 1, 1);
    fields->addWidget(passwordCaption, 2, 0);
    fields->addWidget(Txt_Password, 2, 1);
    fields->addWidget(Lbl_Wrong, 3, 1);
    fields->addWidget(Chk_Later, 4, 1);
    fields->setColumnStretch(1, 1);
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addSpacing(8);
    top->addLayout(fields, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Cmd_Skip);
    buttons->addWidget(Cmd_OK);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(Cmd_OK, &QPushButton::clicked, this, &QDialog::accept);
    connect(Cmd_Skip, &QPushButton::clicked, this, &QDialog::reject);
    setTabOrder(Txt_Password, Chk_Later);
    setTabOrder(Chk_Later, Cmd_Skip);
    setTabOrder(Cmd_Skip, Cmd_OK);
    Txt_Password->setFocus(Qt::OtherFocusReason);
}

merge::PasswordAnswer PasswordDialog::ask() {
    merge::PasswordAnswer answer;
    if (exec() == QDialog::Accepted) {
        answer.password = Txt_Password->text().toStdString();
        answer.useForLaterFiles = Chk_Later->isChecked();
    }
    // The run holds the password from here; the dialog keeps no copy of it.
    Txt_Password->clear();
    return answer;
}

}  // namespace app
