#pragma once

#include "link/PortChoice.h"
#include "model/UserMessage.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarvil {

struct FileDialogRequest {
    QString caption;
    QString proposedName;    // file name offered in the dialog
    QString filter;          // "Description|pattern|Description|pattern"
    QString defaultSuffix;   // added to a name typed without one
};

// Every message box, the input prompt, the file dialogs and the port chooser
// of the tool go through this adapter: the window shows Qt dialogs, tests
// script the answers and record what was asked.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual MsgAnswer message(const UserMessage &message) = 0;
    // Nothing when the user cancels.
    virtual std::optional<QString> inputText(const QString &caption, const QString &prompt,
                                             const QString &value) = 0;
    virtual std::optional<QString> openFileName(const FileDialogRequest &request) = 0;
    virtual std::optional<QString> saveFileName(const FileDialogRequest &request) = 0;
    // The chosen entry's name, or a device path the user typed; nothing on Cancel.
    virtual std::optional<QString> choosePort(const PortChoiceRequest &request) = 0;
};

} // namespace tarvil
