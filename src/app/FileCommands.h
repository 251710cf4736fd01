#pragma once

#include "link/ReadOutcome.h"
#include "link/WriteOutcome.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace tarvil {

class ConfigImage;
class Journal;
class LinkView;
class Links;
class ObjectTable;
class TrackedDialogs;

// "Загрузить" and "Сохранить", and the journal of writes, saves and reads:
// each that has ended goes into the journal once its own result has been
// shown, and a journal that cannot be written is said once per run, after
// the boxes of what it records.
class FileCommands : public QObject {
    Q_OBJECT
public:
    FileCommands(LinkView &view, TrackedDialogs &boxes, Links &links, ConfigImage &image, ObjectTable &table,
                 QObject *parent = nullptr);
    ~FileCommands() override;

    void ItemLoadClick();
    void ItemSaveClick();
    // "Загрузить" with the file already chosen.
    void loadFile(const QString &path);

    // The journal, in the user's data folder.
    Journal &journal() { return *journal_; }
    // The user has confirmed closing: a write that stops now is journalled
    // without a box.
    void closing() { closing_ = true; }

private:
    void loadChosenFile(const QString &path);
    // A write, save or read has ended: into the journal, which never stops it.
    void journalWrite(const WriteOutcome &outcome);
    void journalRead(const ReadOutcome &outcome);
    void journalLater(bool interrupted, std::function<bool(QString *)> append);
    void journalNow(const std::function<bool(QString *)> &append);
    void showJournalWarning();

    LinkView &view_;
    TrackedDialogs &boxes_;
    Links &links_;
    ConfigImage &image_;
    ObjectTable &table_;
    std::unique_ptr<Journal> journal_;
    std::optional<QString> journalProblem_; // a warning that waits for its turn
    bool journalWarned_ = false;            // once per run
    bool closing_ = false;
};

} // namespace tarvil
