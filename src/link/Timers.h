#pragma once

#include "link/LinkConfig.h"

#include <QString>
#include <QTimer>

namespace tarvil {

inline QTimer *makeTimer(QObject *parent, const char *name, Millis interval, bool singleShot = false)
{
    auto *timer = new QTimer(parent);
    timer->setObjectName(QString::fromLatin1(name));
    timer->setInterval(interval);
    timer->setSingleShot(singleShot);
    timer->setTimerType(Qt::PreciseTimer);
    return timer;
}

// Enabled with the Delphi meaning: enabling a running timer does not restart
// it, so a handler restarts one by disabling and then enabling it.
inline void enable(QTimer *timer)
{
    if (!timer->isActive())
        timer->start();
}

inline void disable(QTimer *timer) { timer->stop(); }

} // namespace tarvil
