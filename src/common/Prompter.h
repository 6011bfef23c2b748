#pragma once

#include <QString>

namespace orvello {

// The caption of the main window, which message boxes without a title of their own carry.
inline const QString kAppTitle = QStringLiteral("Orvello");

enum class MsgButtons { Ok, OkCancel, YesNo };
enum class MsgIcon { None, Critical, Question, Exclamation, Information };
enum class MsgAnswer { Ok, Cancel, Yes, No };

struct MsgRequest {
    QString text;
    MsgButtons buttons = MsgButtons::Ok;
    MsgIcon icon = MsgIcon::None;
    QString title = kAppTitle;
};

// The one way the core shows a message box. The window implements it with QMessageBox;
// tests implement it with a scripted answerer that records what was asked.
class Prompter {
public:
    virtual ~Prompter() = default;
    virtual MsgAnswer MsgBox(const MsgRequest& request) = 0;
};

} // namespace orvello
