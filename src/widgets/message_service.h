// The program's modal message boxes, in the four styles its users know, behind one function
// that tests can intercept.
//   MessageService::show(texts::AtLeastTwoFiles, merge::MessageStyle::Information, "提示");
#pragma once

#include <functional>

#include <QString>

#include "merge/run_host.h"

class QWidget;

namespace widgets {

class MessageService {
public:
    using Handler = std::function<merge::MessageAnswer(
        const QString& text, merge::MessageStyle style, const QString& title)>;

    // Shows a modal box and returns the button pressed: Ok for the OK styles, Yes or No for
    // YesNoQuestion (closing that box counts as No). Lines may be separated by "\r\n".
    static merge::MessageAnswer show(const QString& text, merge::MessageStyle style,
                                     const QString& title, QWidget* parent = nullptr);

    // While a handler is set, show() calls it instead of opening a box; an empty function
    // restores the boxes.
    static void setHandler(Handler handler);
};

}  // namespace widgets
