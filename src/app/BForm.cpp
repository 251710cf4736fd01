#include "app/BForm.h"

#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace tarvil {

TB_Form::TB_Form(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("B_Form"));
    setWindowTitle(QStringLiteral("Таблица перекодировки"));
    setFixedSize(780, 673);

    auto *label = new QLabel(QStringLiteral("1234 18 Q CCC 00 EEE "), this);
    QFont font(QStringLiteral("Times New Roman"), 36);
    font.setStyleHint(QFont::Serif);
    label->setFont(font);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label, 0, Qt::AlignLeft | Qt::AlignTop);

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

} // namespace tarvil
