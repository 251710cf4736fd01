#include "app/KeyFilters.h"

#include <QKeyEvent>
#include <QLineEdit>

namespace tarvil {

namespace {

constexpr char16_t kBackspace = 8;

bool isDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

void keepIf(QChar &key, bool allowed)
{
    if (!allowed)
        key = QChar();
}

} // namespace

void EditMACKeyPress(QChar &key)
{
    keepIf(key, key == QChar(kBackspace) || isDigit(key));
}

void EditIP1_PCNKeyPress(QChar &key)
{
    keepIf(key, key == QChar(kBackspace) || key == QLatin1Char('.') || isDigit(key));
}

void P1KeyPress(QChar &key)
{
    keepIf(key, key == QChar(kBackspace) || key == QLatin1Char('+') || isDigit(key));
}

void ObjIdKeyPress(QChar &key)
{
    keepIf(key, key == QChar(kBackspace) || isDigit(key) || (key >= QLatin1Char('A') && key <= QLatin1Char('F')));
}

KeyFilter::KeyFilter(QLineEdit *edit, KeyPressHandler handler, int maxTyped)
    : QObject(edit), edit_(edit), handler_(handler), maxTyped_(maxTyped)
{
    edit->installEventFilter(this);
}

bool KeyFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != edit_ || event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto *keyEvent = static_cast<QKeyEvent *>(event);
    if (keyEvent->modifiers() & (Qt::ControlModifier | Qt::MetaModifier | Qt::AltModifier))
        return false;
    if (keyEvent->key() == Qt::Key_Tab || keyEvent->key() == Qt::Key_Backtab)
        return false;
    const QString text = keyEvent->text();
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        QChar key = c;
        handler_(key);
        if (key.isNull())
            return true; // refused silently
    }
    if (maxTyped_ > 0 && keyEvent->key() != Qt::Key_Backspace) {
        const qsizetype kept = edit_->text().size() - edit_->selectedText().size();
        if (kept + text.size() > maxTyped_)
            return true;
    }
    return false;
}

} // namespace tarvil
