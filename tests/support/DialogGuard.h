#pragma once

// DialogGuard: a way out of every real dialog a test opens. While a guard
// lives it watches the modal dialog on top; one that stays open longer than
// its patience is closed (rejected) and remembered, so the test fails naming
// it instead of hanging in exec().
//
//     void init()    { guard = std::make_unique<DialogGuard>(); }
//     void cleanup() { QVERIFY2(guard->stuck().isEmpty(), qPrintable(guard->stuck().join(", "))); }

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <chrono>

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

} // namespace tarvil::test
