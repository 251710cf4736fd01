#include "DialogGuard.h"

#include <QApplication>
#include <QDialog>
#include <QWidget>

namespace tarvil::test {

DialogGuard::DialogGuard(std::chrono::milliseconds patience, QObject *parent)
    : QObject(parent), patience_(patience)
{
    poll_.setInterval(50);
    connect(&poll_, &QTimer::timeout, this, &DialogGuard::look);
    poll_.start();
}

void DialogGuard::look()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (modal != watched_) {
        watched_ = modal;
        openFor_.start();
        return;
    }
    if (!modal || openFor_.elapsed() < patience_.count())
        return;
    stuck_ << QStringLiteral("%1 '%2'").arg(QString::fromLatin1(modal->metaObject()->className()),
                                             modal->windowTitle());
    qWarning("closing a dialog left open: %s", qPrintable(stuck_.last()));
    if (auto *dialog = qobject_cast<QDialog *>(modal))
        dialog->reject();
    else
        modal->close();
    watched_ = nullptr;
}

} // namespace tarvil::test
