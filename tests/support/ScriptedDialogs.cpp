#include "ScriptedDialogs.h"

#include "link/Notifications.h"

namespace tarvil::test {

namespace {

std::optional<QString> take(QQueue<std::optional<QString>> &queue)
{
    return queue.isEmpty() ? std::nullopt : queue.dequeue();
}

} // namespace

void ScriptedDialogs::clearRecords()
{
    messages.clear();
    prompts.clear();
    openRequests.clear();
    saveRequests.clear();
    portRequests.clear();
}

MsgAnswer ScriptedDialogs::message(const UserMessage &message)
{
    messages.append(message);
    if (NotificationScope::active())
        boxesInsideNotifications.append(message);
    if (whileOpen)
        whileOpen(message);
    if (!answers.isEmpty())
        return answers.dequeue();
    return message.buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
}

std::optional<QString> ScriptedDialogs::inputText(const QString &caption, const QString &prompt,
                                                  const QString &value)
{
    prompts.append({caption, prompt, value});
    return take(texts);
}

std::optional<QString> ScriptedDialogs::openFileName(const FileDialogRequest &request)
{
    openRequests.append(request);
    return take(openNames);
}

std::optional<QString> ScriptedDialogs::saveFileName(const FileDialogRequest &request)
{
    saveRequests.append(request);
    return take(saveNames);
}

std::optional<QString> ScriptedDialogs::choosePort(const PortChoiceRequest &request)
{
    portRequests.append(request);
    return take(ports);
}

} // namespace tarvil::test
