#include "app/artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "app/texts.h"
#include "widgets/fonts.h"

namespace app::artwork {

namespace {

const QColor DiscGrey(236, 238, 236);
const QColor DarkGreen(20, 128, 60);

QPixmap transparentPixmap(int width, int height) {
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// A small workbook: a rounded sheet with a header row and grid lines, in `size` pixels.
void drawWorkbookIcon(QPainter& painter, const QRectF& box) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal radius = box.width() * 0.18;
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(box, radius, radius);
    const qreal margin = box.width() * 0.16;
    const QRectF grid = box.adjusted(margin, margin, -margin, -margin);
    painter.setBrush(bandColour());
    painter.drawRect(QRectF(grid.left(), grid.top(), grid.width(), grid.height() / 3.0));
    QPen line(bandColour(), qMax<qreal>(1.0, box.width() / 16.0));
    painter.setPen(line);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(grid);
    for (int row = 1; row < 3; ++row) {
        const qreal y = grid.top() + grid.height() * row / 3.0;
        painter.drawLine(QPointF(grid.left(), y), QPointF(grid.right(), y));
    }
    const qreal x = grid.left() + grid.width() / 2.0;
    painter.drawLine(QPointF(x, grid.top()), QPointF(x, grid.bottom()));
    painter.restore();
}

void drawDisc(QPainter& painter, Look look) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(look == Look::Highlighted ? bandColour() : DiscGrey);
    painter.drawEllipse(QRectF(2, 2, 96, 96));
}

// One sheet of paper with a folded corner and text lines.
void drawSheet(QPainter& painter, const QRectF& sheet, const QColor& ink, const QColor& paper) {
    const qreal fold = sheet.width() * 0.3;
    QPainterPath outline;
    outline.moveTo(sheet.topLeft());
    outline.lineTo(sheet.right() - fold, sheet.top());
    outline.lineTo(sheet.right(), sheet.top() + fold);
    outline.lineTo(sheet.bottomRight());
    outline.lineTo(sheet.bottomLeft());
    outline.closeSubpath();
    painter.setPen(QPen(ink, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(paper);
    painter.drawPath(outline);
    QPainterPath corner;
    corner.moveTo(sheet.right() - fold, sheet.top());
    corner.lineTo(sheet.right() - fold, sheet.top() + fold);
    corner.lineTo(sheet.right(), sheet.top() + fold);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(corner);
    for (int line = 0; line < 3; ++line) {
        const qreal y = sheet.top() + fold + 8 + line * 7;
        painter.drawLine(QPointF(sheet.left() + 6, y), QPointF(sheet.right() - 6, y));
    }
}

}  // namespace

QColor bandColour() {
    return QColor(33, 158, 78);
}

QPixmap backgroundPicture() {
    QPixmap pixmap(400, 260);
    pixmap.fill(Qt::white);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient band(0, 0, 0, 78);
    band.setColorAt(0.0, QColor(46, 176, 92));
    band.setColorAt(1.0, QColor(28, 146, 70));
    painter.fillRect(QRect(0, 0, 400, 78), band);
    painter.fillRect(QRect(0, 78, 400, 2), QColor(210, 236, 216));

    drawWorkbookIcon(painter, QRectF(8, 8, 17, 17));

    painter.setPen(Qt::white);
    QFont title = widgets::dialogFont(15);
    title.setBold(true);
    painter.setFont(title);
    painter.drawText(QRect(32, 4, 260, 26), Qt::AlignLeft | Qt::AlignVCenter,
                     QString::fromUtf8(texts::ArtworkTitle));
    const int titleWidth =
        painter.fontMetrics().horizontalAdvance(QString::fromUtf8(texts::ArtworkTitle));
    painter.setFont(widgets::dialogFont(11));
    painter.setPen(QColor(214, 240, 222));
    painter.drawText(QRect(32 + titleWidth + 8, 6, 120, 26), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("sheetmerge"));

    painter.setFont(widgets::dialogFont(13));
    painter.setPen(QColor(90, 96, 92));
    painter.drawText(QRect(68, 224, 100, 22), Qt::AlignCenter,
                     QString::fromUtf8(texts::ArtworkFilesCaption));
    painter.drawText(QRect(233, 224, 100, 22), Qt::AlignCenter,
                     QString::fromUtf8(texts::ArtworkFolderCaption));
    return pixmap;
}

QPixmap filesPicture(Look look) {
    QPixmap pixmap = transparentPixmap(100, 100);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    drawDisc(painter, look);
    const QColor ink = look == Look::Highlighted ? Qt::white : bandColour();
    const QColor paper = look == Look::Highlighted ? bandColour() : DiscGrey;
    drawSheet(painter, QRectF(26, 22, 36, 46), ink, paper);
    drawSheet(painter, QRectF(40, 34, 36, 46), ink, paper);
    return pixmap;
}

QPixmap folderPicture(Look look) {
    QPixmap pixmap = transparentPixmap(100, 100);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    drawDisc(painter, look);
    const QColor ink = look == Look::Highlighted ? Qt::white : bandColour();
    const QColor paper = look == Look::Highlighted ? bandColour() : DiscGrey;
    QPen pen(ink, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(paper);
    // The folder's back with its tab.
    QPainterPath back;
    back.moveTo(24, 72);
    back.lineTo(24, 32);
    back.lineTo(42, 32);
    back.lineTo(47, 38);
    back.lineTo(72, 38);
    back.lineTo(72, 48);
    painter.drawPath(back);
    // The open front, tilted towards the viewer.
    QPainterPath front;
    front.moveTo(24, 72);
    front.lineTo(33, 48);
    front.lineTo(80, 48);
    front.lineTo(71, 72);
    front.closeSubpath();
    painter.setBrush(ink == Qt::white ? QColor(Qt::white) : QColor(bandColour().lighter(170)));
    painter.drawPath(front);
    return pixmap;
}

QPixmap minimisePicture(Look look) {
    QPixmap pixmap = transparentPixmap(20, 20);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    if (look == Look::Highlighted) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, 70));
        painter.drawRoundedRect(QRectF(0.5, 0.5, 19, 19), 3, 3);
    }
    painter.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(5, 13), QPointF(15, 13));
    return pixmap;
}

QPixmap quitPicture(Look look) {
    QPixmap pixmap = transparentPixmap(20, 20);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    if (look == Look::Highlighted) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(226, 68, 54));
        painter.drawRoundedRect(QRectF(0.5, 0.5, 19, 19), 3, 3);
    }
    painter.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(6, 6), QPointF(14, 14));
    painter.drawLine(QPointF(14, 6), QPointF(6, 14));
    return pixmap;
}

QPixmap iconPicture(int size) {
    QPixmap pixmap = transparentPixmap(size, size);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(bandColour());
    painter.drawRoundedRect(QRectF(0, 0, size, size), size * 0.2, size * 0.2);
    const qreal inset = size * 0.14;
    drawWorkbookIcon(painter, QRectF(inset, inset, size - 2 * inset, size - 2 * inset));
    painter.end();
    return pixmap;
}

QIcon windowIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(iconPicture(size));
    return icon;
}

}  // namespace app::artwork
