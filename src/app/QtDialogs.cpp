#include "app/QtDialogs.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTranslator>
#include <QVBoxLayout>

namespace tarvil {

namespace {

QMessageBox::Icon qtIcon(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::Warning: return QMessageBox::Warning;
    case MsgIcon::Error: return QMessageBox::Critical;
    case MsgIcon::Question: return QMessageBox::Question;
    case MsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons qtButtons(MsgButtons buttons)
{
    switch (buttons) {
    case MsgButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case MsgButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case MsgButtons::Ok: break;
    }
    return QMessageBox::Ok;
}

std::optional<QString> runFileDialog(QWidget *parent, const FileDialogRequest &request,
                                     QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent, request.caption);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    const QString filters = qtNameFilters(request.filter);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters.split(QStringLiteral(";;")));
    QString suffix = request.defaultSuffix;
    while (suffix.startsWith(QLatin1Char('.')))
        suffix.remove(0, 1);
    if (!suffix.isEmpty())
        dialog.setDefaultSuffix(suffix);
    if (!request.proposedName.isEmpty())
        dialog.selectFile(request.proposedName);
    // Overwriting is confirmed by default; there is no read-only choice.
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

} // namespace

std::unique_ptr<QMessageBox> makeMessageBox(const UserMessage &message, QWidget *parent)
{
    auto box = std::make_unique<QMessageBox>(qtIcon(message.icon), message.caption, message.text,
                                             qtButtons(message.buttons), parent);
    // Texts carry catalogue lines and file names: "<b>12</b>" is shown as
    // written, never as markup.
    box->setTextFormat(Qt::PlainText);
    if (message.topmost)
        box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    return box;
}

MsgAnswer QtDialogs::message(const UserMessage &message)
{
    auto box = makeMessageBox(message, parent_);
    switch (box->exec()) {
    case QMessageBox::Yes: return MsgAnswer::Yes;
    case QMessageBox::No: return MsgAnswer::No;
    case QMessageBox::Cancel: return MsgAnswer::Cancel;
    case QMessageBox::Ok: return MsgAnswer::Ok;
    default: break;
    }
    // Closed without a button: the box's escape answer.
    switch (message.buttons) {
    case MsgButtons::YesNo: return MsgAnswer::No;
    case MsgButtons::OkCancel: return MsgAnswer::Cancel;
    case MsgButtons::Ok: break;
    }
    return MsgAnswer::Ok;
}

std::optional<QString> QtDialogs::inputText(const QString &caption, const QString &prompt,
                                            const QString &value)
{
    // Built here rather than through QInputDialog::getText, which gives no
    // hold on its label, so that the prompt is plain text too.
    QInputDialog dialog(parent_);
    dialog.setWindowTitle(caption);
    dialog.setLabelText(prompt);
    dialog.setTextValue(value);
    dialog.setTextEchoMode(QLineEdit::Normal);
    // The dialog lays itself out, buddy included, when first asked its size.
    dialog.sizeHint();
    for (QLabel *label : dialog.findChildren<QLabel *>()) {
        label->setTextFormat(Qt::PlainText);
        // A label with a buddy takes "&" for a shortcut mark and hides it.
        label->setBuddy(nullptr);
    }
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

std::optional<QString> QtDialogs::openFileName(const FileDialogRequest &request)
{
    return runFileDialog(parent_, request, QFileDialog::AcceptOpen);
}

std::optional<QString> QtDialogs::saveFileName(const FileDialogRequest &request)
{
    return runFileDialog(parent_, request, QFileDialog::AcceptSave);
}

std::optional<QString> QtDialogs::choosePort(const PortChoiceRequest &request)
{
    PortChooserDialog dialog(request, parent_);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QString choice = dialog.choice();
    if (choice.isEmpty())
        return std::nullopt;
    return choice;
}

QString qtNameFilters(const QString &pipeFilter)
{
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    static const QRegularExpression trailingPatterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString &p : parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString pattern = p.trimmed();
            if (pattern.isEmpty())
                continue;
            patterns << (pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
        }
        if (patterns.isEmpty())
            continue;
        // Qt reads the patterns from the last bracket of the entry, so one the
        // description already carries is replaced rather than doubled.
        QString description = parts.at(i).trimmed();
        description.remove(trailingPatterns);
        if (description.isEmpty())
            description = patterns.join(QLatin1Char(' '));
        filters << QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' ')));
    }
    return filters.join(QStringLiteral(";;"));
}

PortChooserDialog::PortChooserDialog(const PortChoiceRequest &request, QWidget *parent)
    : QDialog(parent), box_(new QComboBox(this)), ok_(nullptr)
{
    setWindowTitle(request.caption);
    auto *layout = new QVBoxLayout(this);
    for (const QString &line : request.lines) {
        auto *label = new QLabel(line, this);
        label->setTextFormat(Qt::PlainText);
        layout->addWidget(label);
    }

    box_->setEditable(true);
    box_->setInsertPolicy(QComboBox::NoInsert);
    box_->setMinimumContentsLength(24);
    for (const PortEntry &entry : request.ports) {
        const QString text = entry.description.isEmpty()
            ? entry.name
            : QStringLiteral("%1 - %2").arg(entry.name, entry.description);
        box_->addItem(text, entry.name);
    }
    box_->setCurrentIndex(box_->count() > 0 ? 0 : -1);
    layout->addWidget(box_);

    auto *buttons = new QDialogButtonBox(this);
    ok_ = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    ok_->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(box_, &QComboBox::editTextChanged, this, &PortChooserDialog::updateOk);
    updateOk();
    setFixedSize(sizeHint());
}

QString PortChooserDialog::choice() const
{
    QString text = box_->currentText().trimmed();
    const int index = box_->findText(box_->currentText(), Qt::MatchExactly);
    if (index >= 0)
        return box_->itemData(index).toString();
    return text;
}

void PortChooserDialog::updateOk() { ok_->setEnabled(!choice().isEmpty()); }

void installQtTranslations()
{
    auto *texts = new QTranslator(QCoreApplication::instance());
    for (const QString &folder : {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                                  QCoreApplication::applicationDirPath() + QStringLiteral("/translations")}) {
        if (texts->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
            QCoreApplication::installTranslator(texts);
            return;
        }
    }
    delete texts;
}

} // namespace tarvil
