#include "widgets/message_service.h"

#include <QAbstractButton>
#include <QMessageBox>

#include "widgets/texts.h"

namespace widgets {

namespace {
MessageService::Handler& handler() {
    static MessageService::Handler s_handler;
    return s_handler;
}
}  // namespace

merge::MessageAnswer MessageService::show(const QString& text, merge::MessageStyle style,
                                          const QString& title, QWidget* parent) {
    if (handler()) return handler()(text, style, title);

    QMessageBox box(parent);
    box.setWindowTitle(title);
    // The texts keep the carriage returns of their line ends; a box shows plain line feeds.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    box.setText(shown);
    box.setTextFormat(Qt::PlainText);
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    switch (style) {
        case merge::MessageStyle::Plain:
            box.setIcon(QMessageBox::NoIcon);
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case merge::MessageStyle::Warning:
            box.setIcon(QMessageBox::Warning);
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case merge::MessageStyle::Information:
            box.setIcon(QMessageBox::Information);
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case merge::MessageStyle::YesNoQuestion:
            box.setIcon(QMessageBox::Information);
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setEscapeButton(QMessageBox::No);
            break;
    }
    // Chinese button captions whatever translations the system carries.
    if (QAbstractButton* ok = box.button(QMessageBox::Ok))
        ok->setText(QString::fromUtf8(texts::OkButton));
    if (QAbstractButton* yes = box.button(QMessageBox::Yes))
        yes->setText(QString::fromUtf8(texts::YesButton));
    if (QAbstractButton* no = box.button(QMessageBox::No))
        no->setText(QString::fromUtf8(texts::NoButton));
    const int pressed = box.exec();
    if (style != merge::MessageStyle::YesNoQuestion) return merge::MessageAnswer::Ok;
    return pressed == QMessageBox::Yes ? merge::MessageAnswer::Yes : merge::MessageAnswer::No;
}

void MessageService::setHandler(Handler handler_) {
    handler() = std::move(handler_);
}

}  // namespace widgets
