#pragma once

#include "link/LinkConfig.h"

#include <QList>

class QEventLoop;

namespace tarvil {

// The waits of the transactions and the connect. A wait sleeps in a local
// event loop, which handles every pending event, until its deadline or until
// something it may be waiting for has changed: no spinning, and a wait ends
// as soon as its reply has come. Once stopped (a confirmed close, StopFlag)
// every wait returns at once.
class PumpWait {
public:
    explicit PumpWait(Millis step) : step_(step) {}
    ~PumpWait();
    PumpWait(const PumpWait &) = delete;
    PumpWait &operator=(const PumpWait &) = delete;

    // PumpWait(n): about (n + 1) steps.
    void wait(int n);
    // Something a wait may look at has changed: every wait returns.
    void wake();

    void stop();
    void restart() { stopped_ = false; }
    bool stopped() const { return stopped_; }

private:
    Millis step_;
    bool stopped_ = false;
    QList<QEventLoop *> loops_;
};

// Marks a socket, serial-port or timer notification while it runs. A modal
// box opened inside one would run a nested event loop there, and Qt does not
// notify that source again until the handler has returned; such handlers
// record what happened and leave the box to Deferred.
class NotificationScope {
public:
    NotificationScope() { ++depth_; }
    ~NotificationScope() { --depth_; }
    NotificationScope(const NotificationScope &) = delete;
    NotificationScope &operator=(const NotificationScope &) = delete;
    static bool active() { return depth_ > 0; }

private:
    static inline int depth_ = 0;
};

} // namespace tarvil
