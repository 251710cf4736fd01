#pragma once

#include "app/Dialogs.h"

#include <functional>

namespace tarvil {

// The window's dialogs, as every part of it sees them: the boxes of the
// adapter it was given, counted while they are open. `afterBoxes` runs each
// time the last open box has closed, so that a box that waits for its turn
// (the journal's warning) follows the one that was open, never on top of it.
class TrackedDialogs : public Dialogs {
public:
    explicit TrackedDialogs(Dialogs &inner) : inner_(inner) {}

    bool boxOpen() const { return open_ > 0; }
    std::function<void()> afterBoxes;

    MsgAnswer message(const UserMessage &message) override
    {
        return tracked([&] { return inner_.message(message); });
    }
    std::optional<QString> inputText(const QString &caption, const QString &prompt, const QString &value) override
    {
        return tracked([&] { return inner_.inputText(caption, prompt, value); });
    }
    std::optional<QString> openFileName(const FileDialogRequest &request) override
    {
        return tracked([&] { return inner_.openFileName(request); });
    }
    std::optional<QString> saveFileName(const FileDialogRequest &request) override
    {
        return tracked([&] { return inner_.saveFileName(request); });
    }
    std::optional<QString> choosePort(const PortChoiceRequest &request) override
    {
        return tracked([&] { return inner_.choosePort(request); });
    }

private:
    template <typename Show>
    auto tracked(Show show) -> decltype(show())
    {
        ++open_;
        auto answer = show();
        if (--open_ == 0 && afterBoxes)
            afterBoxes();
        return answer;
    }

    Dialogs &inner_;
    int open_ = 0;
};

} // namespace tarvil
