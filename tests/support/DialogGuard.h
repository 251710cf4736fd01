#pragma once

// DialogGuard: a way out of every real dialog a test opens. While a guard
// lives it watches the modal dialog on top; one that stays open longer than
// its patience is closed (rejected) and remembered, so the test fails naming
// it instead of hanging in exec().
//
//     void init()    { guard = std::make_unique<DialogGuard>(); }
//     void cleanup() { QVERIFY2(guard->stuck().isEmpty(), qPrintable(guard->stuck().join(", "))); }

#include <QApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>

class QWidget;

namespace tarvil::test {

class DialogGuard : public QObject {
public:
    explicit DialogGuard(std::chrono::milliseconds patience = std::chrono::milliseconds(5000),
                         QObject *parent = nullptr);

    // "QFileDialog 'Загрузить'" for every dialog the guard had to close.
    QStringList stuck() const { return stuck_; }

private:
    void look();

    std::chrono::milliseconds patience_;
    QTimer poll_;
    QPointer<QWidget> watched_;
    QElapsedTimer openFor_;
    QStringList stuck_;
};

// Runs `act` on the modal dialog of type T as soon as it is open; `seen` tells
// whether it ran.
template <typename T>
void whenOpen(std::function<void(T *)> act, bool *seen)
{
    *seen = false;
    // Parented to the application, so that one left waiting when a test
    // ends is freed with it.
    auto *poll = new QTimer(QCoreApplication::instance());
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, act, seen] {
        if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            *seen = true;
            act(dialog);
        }
    });
    poll->start();
}

} // namespace tarvil::test
