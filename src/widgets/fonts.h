// The fonts the windows ask for, with fall-backs that exist on Debian (fonts-noto-cjk), so that
// Chinese texts never lose glyphs where the Windows fonts are missing.
//   label->setFont(songFont(14));
#pragma once

#include <QFont>

namespace widgets {

// The dialog font: a plain CJK sans serif.
QFont dialogFont(int pixelSize);

// "宋体" (SimSun) where installed, else a Song-style CJK serif, else the dialog font's families.
QFont songFont(int pixelSize);

// "Verdana" where installed, else a similar Latin sans serif.
QFont verdanaFont(int pixelSize, bool bold);

}  // namespace widgets
