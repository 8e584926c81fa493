// Window geometry is written in twips, 15 to the pixel.
//   label->setGeometry(twipsRect(240, 240, 1695, 255));
#pragma once

#include <QPoint>
#include <QRect>

namespace widgets {

constexpr int TwipsPerPixel = 15;

constexpr int twipsToPixels(int twips) {
    return twips / TwipsPerPixel;
}

inline QRect twipsRect(int left, int top, int width, int height) {
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}

inline QPoint twipsPoint(int x, int y) {
    return QPoint(twipsToPixels(x), twipsToPixels(y));
}

}  // namespace widgets
