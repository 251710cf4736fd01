#pragma once

// ScriptedDialogs: the tool's dialogs adapter for tests. It shows nothing; it
// records every request and answers from queues the test fills.
//
//     ScriptedDialogs dialogs;
//     TA_Form window(&dialogs);
//     dialogs.answers << MsgAnswer::No;          // the next box is answered No
//     window.close();
//     QCOMPARE(dialogs.messages.size(), 1);      // the whole UserMessage was kept
//     QCOMPARE(dialogs.messages.last().caption, QStringLiteral("Завершение работы"));
//
// Answers when a queue is empty:
//   message       OK for an OK box, Yes for Yes/No, OK for OK/Cancel
//   inputText     cancelled (nothing)
//   open / save   cancelled (nothing)
//   choosePort    cancelled (nothing)
// A queued answer is used as it stands, also when it is not one of the box's
// buttons, so tests can play a box closed by its window button (No, Cancel).
//
// whileOpen, when set, runs while a message box is "open": after the box is
// recorded and before it is answered, as a real modal box would let the event
// loop run. Tests use it to act at that moment (another close, a datagram,
// QTest::qWait on timers).

#include "link/Dialogs.h"

#include <QList>
#include <QQueue>

#include <functional>
#include <optional>

namespace tarvil::test {

class ScriptedDialogs : public Dialogs {
public:
    struct Prompt {
        QString caption;
        QString prompt;
        QString value; // the value offered
    };

    // Answers, taken from the front.
    QQueue<MsgAnswer> answers;
    QQueue<std::optional<QString>> texts;
    QQueue<std::optional<QString>> openNames;
    QQueue<std::optional<QString>> saveNames;
    QQueue<std::optional<QString>> ports;

    std::function<void(const UserMessage &)> whileOpen;

    // Requests, in the order they came.
    QList<UserMessage> messages;
    QList<Prompt> prompts;
    QList<FileDialogRequest> openRequests;
    QList<FileDialogRequest> saveRequests;
    // Boxes asked for while a socket, serial-port or timer notification ran:
    // there must be none.
    QList<UserMessage> boxesInsideNotifications;
    QList<PortChoiceRequest> portRequests;

    // Forgets the requests (the queues stay).
    void clearRecords();

    MsgAnswer message(const UserMessage &message) override;
    std::optional<QString> inputText(const QString &caption, const QString &prompt,
                                     const QString &value) override;
    std::optional<QString> openFileName(const FileDialogRequest &request) override;
    std::optional<QString> saveFileName(const FileDialogRequest &request) override;
    std::optional<QString> choosePort(const PortChoiceRequest &request) override;
};

} // namespace tarvil::test
