// The question for the password of an encrypted source in the middle of a merge: the file's
// full path, a masked password box, "对后面的文件也使用该密码", and "跳过" beside "确定".
// The typed password is handed to the run and emptied from the box; nothing keeps it here.
//   PasswordDialog dialog(path, attempt, useForLaterFiles, progressWindow);
//   merge::PasswordAnswer answer = dialog.ask();
#pragma once

#include <QDialog>

#include "merge/run_host.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace app {

class PasswordDialog : public QDialog {
    Q_OBJECT
public:
    // `attempt` counts from 1; from 2 on the previous password was wrong, which the dialog says
    // with the tries left. `useForLaterFiles` is the check box's state at the start.
    PasswordDialog(const QString& path, int attempt, bool useForLaterFiles,
                   QWidget* parent = nullptr);

    // Shows the dialog modally until it is answered. "确定" (also Enter) gives the typed
    // password, an empty one included; "跳过", Escape and closing the window give none.
    // The box is empty again when this returns.
    merge::PasswordAnswer ask();

    QLabel* Lbl_Prompt;       // what is asked
    QLineEdit* Txt_File;      // the source's full path, read-only so it can be copied
    QLineEdit* Txt_Password;  // masked; has the keyboard focus from the start
    QLabel* Lbl_Wrong;        // that the previous password was wrong; hidden at the first try
    QCheckBox* Chk_Later;     // "对后面的文件也使用该密码"
    QPushButton* Cmd_Skip;    // "跳过"
    QPushButton* Cmd_OK;      // "确定", the default button
};

}  // namespace app
