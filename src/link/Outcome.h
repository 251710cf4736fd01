#pragma once

#include <QMetaType>
#include <QString>

namespace tarvil {

// How a transaction ended, as the user saw it. Callers decide what happened
// from this, never from the text of a box.
struct Outcome {
    enum class Result {
        Done,        // the transceiver took it all (a write) or sent it all (a read)
        Refused,     // a field check refused it before anything was sent
        Failed,      // `message` is the box the user was shown
        Interrupted, // the tool was closed, or "Пуск" began a USB write anew
    };
    Result result = Result::Done;
    QString message;

    bool done() const { return result == Result::Done; }
};

} // namespace tarvil

Q_DECLARE_METATYPE(tarvil::Outcome)
