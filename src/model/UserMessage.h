#pragma once

#include <QString>

namespace tarvil {

enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgButtons { Ok, YesNo, OkCancel };
enum class MsgAnswer { Ok, Cancel, Yes, No };

// A modal message box as the system shows it: every layer describes its boxes
// with this, and the window's dialogs adapter shows them.
struct UserMessage {
    QString text;
    QString caption;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
    bool topmost = false; // stays above all other windows

    friend bool operator==(const UserMessage &, const UserMessage &) = default;
};

} // namespace tarvil
