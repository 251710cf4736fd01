#pragma once

#include "app/Dialogs.h"

#include <QDialog>

#include <memory>

class QComboBox;
class QMessageBox;
class QPushButton;
class QWidget;

namespace tarvil {

// The tool's boxes and dialogs shown with Qt, modal over `parent`.
class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(QWidget *parent = nullptr) : parent_(parent) {}

    void setParent(QWidget *parent) { parent_ = parent; }

    MsgAnswer message(const UserMessage &message) override;
    std::optional<QString> inputText(const QString &caption, const QString &prompt,
                                     const QString &value) override;
    std::optional<QString> openFileName(const FileDialogRequest &request) override;
    std::optional<QString> saveFileName(const FileDialogRequest &request) override;
    std::optional<QString> choosePort(const PortChoiceRequest &request) override;

private:
    QWidget *parent_;
};

// Buttons of the standard boxes in the user's language, where Qt has it: Qt's
// own translations, or those that travel with the program (Windows). Each
// program calls it once, after creating its application.
void installQtTranslations();

// The box `message` shows, ready to run.
std::unique_ptr<QMessageBox> makeMessageBox(const UserMessage &message, QWidget *parent = nullptr);

// "Description|pattern|Description|pattern" (patterns separated by ";") as a
// Qt name filter list: "Description (pattern pattern);;...". "*.*" means every
// file, as it does on Windows.
QString qtNameFilters(const QString &pipeFilter);

// "Select Port": the explanatory lines, an editable list of the ports (name
// and description, the first preselected) and "OK" / "Cancel".
class PortChooserDialog : public QDialog {
    Q_OBJECT
public:
    explicit PortChooserDialog(const PortChoiceRequest &request, QWidget *parent = nullptr);

    // The chosen entry's name, or the device path typed in; empty when there
    // is neither.
    QString choice() const;

    QComboBox *portBox() const { return box_; }
    QPushButton *okButton() const { return ok_; }

private:
    void updateOk();

    QComboBox *box_;
    QPushButton *ok_;
};

} // namespace tarvil
