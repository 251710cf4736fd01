#pragma once

#include <QObject>

#include <functional>

namespace tarvil {

// Runs work once the handler that asks for it has returned, from the event
// loop, in the order it was posted: how a notification shows a box.
class Deferred : public QObject {
public:
    using QObject::QObject;
    void post(std::function<void()> work)
    {
        QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
    }
};

} // namespace tarvil
