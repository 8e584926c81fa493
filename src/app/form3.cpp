#include "app/form3.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include "app/artwork.h"
#include "app/texts.h"
#include "widgets/fonts.h"
#include "widgets/mdl_set_window_pos.h"
#include "widgets/message_service.h"
#include "widgets/twips.h"

namespace app {

namespace {
QLabel* makeLabel(QWidget* parent, const char* name, QRect where) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(where);
    return label;
}

void paintBackground(QWidget* widget, const QColor& colour) {
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
}

const QColor StripColour(250, 250, 250);
const QColor EdgeColour(0xE0, 0xE0, 0xE0);
}  // namespace

Form3::Form3(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QString::fromUtf8(texts::ProgressCaption));
    setWindowIcon(artwork::windowIcon());
    // The bar of 4995 × 600 twips, and below it a strip for the file's name and "取消".
    setFixedSize(widgets::twipsToPixels(4995), widgets::twipsToPixels(1080));
    paintBackground(this, StripColour);

    // Created from the bottom of the stacking order up.
    Lbl_bg = makeLabel(this, "Lbl_bg", widgets::twipsRect(0, 0, 5000, 600));
    paintBackground(Lbl_bg, QColor(0xC0, 0xFF, 0xC0));  // &H00C0FFC0
    Lbl_Prog = makeLabel(this, "Lbl_Prog", widgets::twipsRect(0, 0, 0, 600));
    paintBackground(Lbl_Prog, QColor(0x00, 0xC0, 0x00));  // &H0000C000
    Lbl_Tip = makeLabel(this, "Lbl_Tip", widgets::twipsRect(1530, 173, 1935, 255));
    Lbl_Tip->setAlignment(Qt::AlignCenter);
    Lbl_Tip->setFont(widgets::verdanaFont(16, true));
    QPalette tipPalette = Lbl_Tip->palette();
    tipPalette.setColor(QPalette::WindowText, Qt::black);
    Lbl_Tip->setPalette(tipPalette);

    Lbl_File = makeLabel(this, "Lbl_File", widgets::twipsRect(120, 660, 3780, 360));
    Lbl_File->setFont(widgets::dialogFont(12));
    Lbl_File->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Cmd_Cancel = new QPushButton(QString::fromUtf8(texts::CancelButton), this);
    Cmd_Cancel->setObjectName(QStringLiteral("Cmd_Cancel"));
    Cmd_Cancel->setGeometry(widgets::twipsRect(3990, 660, 900, 360));
    Cmd_Cancel->setFont(widgets::dialogFont(12));
    Cmd_Cancel->setCursor(Qt::PointingHandCursor);
    connect(Cmd_Cancel, &QPushButton::clicked, this, &Form3::Cmd_Cancel_Click);

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.left() + area.width() / 2 - width() / 2,
             area.top() + area.height() / 2 - height() / 2);
    }
    Form_Load();
}

void Form3::Form_Load() {
    widgets::MdlSetWindowPos::SetWindowTopmost(this, true);
}

int Form3::barWidthTwips(int done, int total) {
    if (total < 1) return 0;
    return static_cast<int>(static_cast<long long>(done) * 5000 / total);
}

void Form3::showProgress(int done, int total) {
    Lbl_Tip->setText(QStringLiteral("%1 / %2").arg(done).arg(total));
    Lbl_Prog->resize(widgets::twipsToPixels(barWidthTwips(done, total)), Lbl_Prog->height());
    QApplication::processEvents();
}

void Form3::showFile(const QString& path) {
    if (m_stopRequested) return;
    const QString prefix = QString::fromUtf8(texts::ProgressFile);
    const QFontMetrics metrics(Lbl_File->font());
    const int room = Lbl_File->width() - metrics.horizontalAdvance(prefix) - 4;
    Lbl_File->setText(prefix +
                      metrics.elidedText(QFileInfo(path).fileName(), Qt::ElideMiddle, room));
    Lbl_File->repaint();
}

void Form3::unload() {
    m_unloading = true;
    close();
    m_unloading = false;
}

void Form3::closeEvent(QCloseEvent* event) {
    // Closing it would hide a run that goes on; "取消" is the way to stop.
    if (m_unloading)
        event->accept();
    else
        event->ignore();
}

void Form3::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        Cmd_Cancel_Click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void Form3::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(EdgeColour);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void Form3::Cmd_Cancel_Click() {
    if (m_stopRequested) return;
    const merge::MessageAnswer answer = widgets::MessageService::show(
        QString::fromUtf8(texts::StopQuestion), merge::MessageStyle::YesNoQuestion,
        QString::fromUtf8(texts::ChoiceTitle), this);
    if (answer != merge::MessageAnswer::Yes) return;
    m_stopRequested = true;
    Lbl_File->setText(QString::fromUtf8(texts::ProgressStopping));
    Cmd_Cancel->setEnabled(false);
}

}  // namespace app
