#include "app/KeyFilters.h"

#include <QKeyEvent>
#include <QLineEdit>

namespace tarvil {

namespace {

constexpr char16_t kBackspace = 8;

void keepIf(QChar &key, CharSet set)
{
    if (key != QChar(kBackspace) && !admits(set, key))
        key = QChar();
}

} // namespace

void EditMACKeyPress(QChar &key) { keepIf(key, CharSet::Digits); }
void EditIP1_PCNKeyPress(QChar &key) { keepIf(key, CharSet::Address); }
void P1KeyPress(QChar &key) { keepIf(key, CharSet::Phone); }
void ObjIdKeyPress(QChar &key) { keepIf(key, CharSet::Hex); }

KeyPressHandler keyFilter(CharSet set)
{
    switch (set) {
    case CharSet::Any: break;
    case CharSet::Digits: return EditMACKeyPress;
    case CharSet::Address: return EditIP1_PCNKeyPress;
    case CharSet::Phone: return P1KeyPress;
    case CharSet::Hex: return ObjIdKeyPress;
    }
    return nullptr;
}

KeyFilter::KeyFilter(QLineEdit *edit, KeyPressHandler handler, int maxTyped)
    : QObject(edit), edit_(edit), handler_(handler), maxTyped_(maxTyped)
{
    // Composed input would reach the edit past the filter; these fields hold
    // numbers, addresses and phone numbers only.
    edit->setAttribute(Qt::WA_InputMethodEnabled, false);
    edit->installEventFilter(this);
}

namespace {

// Keys that type no character: Delete, the arrows, Home, End and the like.
// (Delete carries the text "\x7f" on some systems, yet it edits, not types.)
bool typesNothing(int key)
{
    if (key < Qt::Key_Escape || key >= Qt::Key_unknown)
        return false;
    switch (key) {
    case Qt::Key_Escape:
    case Qt::Key_Backspace:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return false; // these type control characters, which the filters refuse
    default:
        return true;
    }
}

} // namespace

bool KeyFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != edit_ || event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto *keyEvent = static_cast<QKeyEvent *>(event);
    const int key = keyEvent->key();
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab || typesNothing(key))
        return false;
    // Shortcuts (Ctrl+V, Ctrl+Z, ...) are commands, not typing. Ctrl together
    // with Alt is AltGr on Windows, which types characters like any key.
    const Qt::KeyboardModifiers mods = keyEvent->modifiers();
    if ((mods & (Qt::ControlModifier | Qt::MetaModifier)) && !(mods & Qt::AltModifier))
        return false;
    const QString text = keyEvent->text();
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        QChar typed = c;
        if (handler_)
            handler_(typed);
        if (typed.isNull())
            return true; // refused silently
    }
    if (maxTyped_ > 0 && key != Qt::Key_Backspace) {
        const qsizetype kept = edit_->text().size() - edit_->selectedText().size();
        if (kept + text.size() > maxTyped_)
            return true;
    }
    return false;
}

} // namespace tarvil
