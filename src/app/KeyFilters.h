#pragma once

#include "model/ObjectRules.h"

#include <QObject>
#include <QChar>

class QLineEdit;

namespace tarvil {

// The four key filters, over the character sets of the object rules. Each
// takes the character just typed; one outside the filter's set is replaced by
// the null character, which makes the edit ignore the key press. Backspace
// belongs to every set, no other control character to any.
void EditMACKeyPress(QChar &key);     // digits
void EditIP1_PCNKeyPress(QChar &key); // digits and "."
void P1KeyPress(QChar &key);          // digits and "+"
void ObjIdKeyPress(QChar &key);       // digits and capital A..F

using KeyPressHandler = void (*)(QChar &);
// The filter of a character set; none for CharSet::Any.
KeyPressHandler keyFilter(CharSet set);

// Binds a filter to an edit's typed characters. Text set by the program or
// pasted passes unfiltered; shortcuts (Ctrl+V and the like), focus keys and
// keys that type nothing (arrows, Delete) are not characters and pass too.
// Characters typed with AltGr or Alt are filtered like any other.
// `maxTyped` > 0 limits what the user can type without limiting what the
// program may set.
class KeyFilter : public QObject {
    Q_OBJECT
public:
    KeyFilter(QLineEdit *edit, KeyPressHandler handler, int maxTyped = 0);

    static KeyFilter *install(QLineEdit *edit, KeyPressHandler handler, int maxTyped = 0)
    {
        return new KeyFilter(edit, handler, maxTyped);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLineEdit *edit_;
    KeyPressHandler handler_;
    int maxTyped_;
};

} // namespace tarvil
