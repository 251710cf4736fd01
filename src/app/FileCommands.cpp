#include "app/FileCommands.h"

#include "app/TrackedDialogs.h"
#include "files/ConfigFile.h"
#include "files/Journal.h"
#include "link/Links.h"
#include "link/Notifications.h"
#include "link/Texts.h"
#include "model/ObjectTable.h"

#include <algorithm>
#include <utility>

namespace tarvil {

namespace {

const QString kFileFilter = QStringLiteral("Файлы трансивера \"Тарвил-QZT\"|*.tvc|Все файлы|*.*");
const QString kFileSuffix = QStringLiteral("tvc");

} // namespace

FileCommands::FileCommands(LinkView &view, TrackedDialogs &boxes, Links &links, ConfigImage &image, ObjectTable &table,
                           QObject *parent)
    : QObject(parent),
      view_(view),
      boxes_(boxes),
      links_(links),
      image_(image),
      table_(table),
      journal_(std::make_unique<Journal>(QStringLiteral("window")))
{
    boxes_.afterBoxes = [this] { showJournalWarning(); };
    connect(&links_.writer(), &WriteTransaction::finished, this,
            [this](const WriteOutcome &outcome) { journalWrite(outcome); });
    connect(&links_.reader(), &ReadTransaction::finished, this,
            [this](const ReadOutcome &outcome) { journalRead(outcome); });
}

FileCommands::~FileCommands() { boxes_.afterBoxes = nullptr; }

void FileCommands::ItemSaveClick()
{
    const QString serial = view_.commonSettings().serial;
    if (serial.isEmpty()) {
        boxes_.message(texts::saveNeedsSerial());
        return;
    }
    const auto path = boxes_.saveFileName({QStringLiteral("Сохранить конфигурацию"), serial, kFileFilter, kFileSuffix});
    if (!path || path->isEmpty())
        return;
    // The file is written only once the checks have passed and the packets
    // are built; a refused check leaves any file of that name as it was.
    SaveTarget target{[this, file = *path, serial](const PacketList &packets) {
        // The build has just filled the image the packets come from.
        WriteOutcome outcome;
        outcome.target = WriteOutcome::Target::File;
        outcome.targetName = file;
        outcome.serial = serial;
        outcome.image = QByteArray(reinterpret_cast<const char *>(image_.data()), kImageSize);
        QString reason;
        if (!saveConfigFile(file, packets, &reason)) {
            const UserMessage box = texts::saveFailed(file, reason);
            outcome.result = WriteOutcome::Result::Failed;
            outcome.message = box.text;
            boxes_.message(box);
        }
        journalWrite(outcome);
    }};
    links_.WrBtnClick(&target);
}

void FileCommands::ItemLoadClick()
{
    view_.clearObjectCount();
    const auto path =
        boxes_.openFileName({QStringLiteral("Загрузить конфигурацию"), QString(), kFileFilter, kFileSuffix});
    if (!path || path->isEmpty())
        return;
    loadChosenFile(*path);
}

void FileCommands::loadFile(const QString &path)
{
    view_.clearObjectCount();
    loadChosenFile(path);
}

void FileCommands::loadChosenFile(const QString &path)
{
    const LoadResult result = loadConfigFile(path);
    if (result.status == LoadStatus::BadFormat) {
        boxes_.message(texts::loadBadFormat());
        return;
    }
    if (result.status == LoadStatus::Truncated) {
        // Nothing of a file that ends inside a field is applied: the window,
        // the table and the image keep what they held.
        boxes_.message(texts::loadTruncated());
        table_.ShowObjectCount();
        return;
    }
    const LoadedConfig &loaded = result.config;
    view_.applyCommonSettings(loaded.mergedInto(view_.commonSettings()));
    if (loaded.carries(CommonField::OwnIp))
        links_.lan().setTransceiverAddress(loaded.settings.ownIp);
    if (loaded.records)
        std::copy(loaded.records->cbegin(), loaded.records->cend(), reinterpret_cast<char *>(image_.data()));
    view_.rebuildObjectTable();
}

void FileCommands::journalWrite(const WriteOutcome &outcome)
{
    // A write a check refused sent nothing and is not journalled.
    if (outcome.result == WriteOutcome::Result::Refused)
        return;
    journalLater(outcome.result == WriteOutcome::Result::Interrupted,
                 [this, outcome](QString *why) { return journal_->append(outcome, why); });
}

void FileCommands::journalRead(const ReadOutcome &outcome)
{
    journalLater(outcome.result == Outcome::Result::Interrupted,
                 [this, outcome](QString *why) { return journal_->append(outcome, why); });
}

void FileCommands::journalLater(bool interrupted, std::function<bool(QString *)> append)
{
    // The copy and its line cost about a millisecond: they follow once the
    // handler that ended the write or read, and whatever it posted (a result
    // box), have run, so that the journal never holds a transfer up. One cut
    // short is journalled at once, for the tool may be closing.
    if (interrupted) {
        journalNow(append);
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, append = std::move(append)] {
            QMetaObject::invokeMethod(
                this, [this, append] { journalNow(append); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void FileCommands::journalNow(const std::function<bool(QString *)> &append)
{
    QString reason;
    if (!append(&reason) && !journalWarned_ && !journalProblem_)
        journalProblem_ = reason;
    showJournalWarning();
}

void FileCommands::showJournalWarning()
{
    // The warning follows the write's own result: never inside a
    // notification, never over another box (it waits for the last to close),
    // and not at all once the user is closing the tool.
    if (!journalProblem_ || journalWarned_ || closing_ || NotificationScope::active() || boxes_.boxOpen())
        return;
    journalWarned_ = true;
    const QString reason = *std::exchange(journalProblem_, std::nullopt);
    boxes_.message(journalWarning(reason));
}

} // namespace tarvil
