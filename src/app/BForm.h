#pragma once

#include <QDialog>

namespace tarvil {

// The recoding-table window. It exists from program start to its end, but no
// command opens it: its only menu entry, ItemCode, is hidden and disabled.
class TB_Form : public QDialog {
    Q_OBJECT
public:
    explicit TB_Form(QWidget *parent = nullptr);
};

} // namespace tarvil
