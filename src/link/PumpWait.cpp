#include "link/PumpWait.h"

#include <QEventLoop>
#include <QTimer>

namespace tarvil {

PumpWait::~PumpWait()
{
    // Waits still on the stack must not touch a deleted owner.
    wake();
}

void PumpWait::wait(int n)
{
    if (stopped_ || n < 0)
        return;
    if (loops_.size() > 64)
        return; // never nest without bound
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(step_ * (n + 1));
    loops_.append(&loop);
    loop.exec();
    loops_.removeOne(&loop);
}

void PumpWait::wake()
{
    for (QEventLoop *loop : std::as_const(loops_))
        loop->quit();
}

void PumpWait::stop()
{
    stopped_ = true;
    wake();
}

} // namespace tarvil
