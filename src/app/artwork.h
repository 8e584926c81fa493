// The program's artwork, drawn at run time so that the repository carries no binary pictures:
// the main window's background with its green band, icon and title, the pictures of its four
// buttons in their normal and highlighted looks, and the window icon.
//   Form1 paints backgroundPicture(); ImgFiles2->setPixmap(filesPicture(Look::Normal));
#pragma once

#include <QIcon>
#include <QPixmap>

namespace app::artwork {

enum class Look { Normal, Highlighted };

// The green of the band and of the highlighted buttons.
QColor bandColour();

QPixmap backgroundPicture();         // 400 x 260
QPixmap filesPicture(Look look);     // 100 x 100: two sheets of paper on a disc
QPixmap folderPicture(Look look);    // 100 x 100: an open folder on a disc
QPixmap minimisePicture(Look look);  // 20 x 20
QPixmap quitPicture(Look look);      // 20 x 20
// The program's icon at `size` × `size` pixels: a white workbook on a green rounded square. The
// installed icons are these pictures, and packaging/icons/sheetmerge.svg draws the same shapes.
QPixmap iconPicture(int size);
QIcon windowIcon();  // iconPicture at 16, 24, 32, 48, 64 and 128 pixels

}  // namespace app::artwork
