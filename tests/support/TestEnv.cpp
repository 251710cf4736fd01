#include "TestEnv.h"

#include <QEventLoop>
#include <QTimer>

namespace tarvil::test {

bool runUntil(const std::function<bool()> &done, int ms)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(2);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

} // namespace tarvil::test
