#include "app/form3.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>

#include "app/artwork.h"
#include "app/texts.h"
#include "widgets/fonts.h"
#include "widgets/mdl_set_window_pos.h"
#include "widgets/twips.h"

namespace app {

namespace {
QLabel* makeLabel(QWidget* parent, const char* name, QRect where) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(where);
    return label;
}

void paintBackground(QLabel* label, const QColor& colour) {
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, colour);
    label->setPalette(palette);
}
}  // namespace

Form3::Form3(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QString::fromUtf8(texts::ProgressCaption));
    setWindowIcon(artwork::windowIcon());
    setFixedSize(widgets::twipsToPixels(4995), widgets::twipsToPixels(600));

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

}  // namespace app
