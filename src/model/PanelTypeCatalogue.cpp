#include "model/PanelTypeCatalogue.h"

#include "model/Codepage.h"
#include "model/ObjectRow.h"

#include <QBuffer>
#include <QByteArrayView>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <limits>

namespace tarvil {

namespace {

constexpr char kSeparator = ';';
constexpr char kEndOfFile = 0x1A;
// An offending text is quoted in the error box; a line of garbage must not
// make the box larger than the screen.
constexpr qsizetype kMaxQuoted = 64;

bool isBlankOrControl(char16_t c) { return c <= 0x20; }
bool isBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 0x20; }

QByteArrayView trimmedBytes(QByteArrayView bytes)
{
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && isBlankOrControl(bytes[begin]))
        ++begin;
    while (end > begin && isBlankOrControl(bytes[end - 1]))
        --end;
    return bytes.sliced(begin, end - begin);
}

QString decodeText(QByteArrayView bytes)
{
    // Plain ASCII reads the same in code page 1251; the fast path keeps a
    // catalogue of a million lines quick.
    bool ascii = true;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u == 0 || u >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return QString::fromLatin1(bytes.data(), bytes.size());
    return cp1251::decode(bytes.data(), bytes.size());
}

QString quoted(QByteArrayView field)
{
    if (field.size() <= kMaxQuoted)
        return decodeText(field);
    return decodeText(field.first(kMaxQuoted)) + QStringLiteral("...");
}

QString notAnInteger(QByteArrayView field)
{
    return QStringLiteral("'%1' is not a valid integer value").arg(quoted(field));
}

// A decimal integer for a signed 16-bit field. Blanks around the number are
// allowed. A number that a 32-bit integer cannot hold is no valid integer; one
// that it can hold but the field cannot gets the range message.
bool parseField(QByteArrayView field, const char *name, std::int16_t &out, QString &error)
{
    const QByteArrayView text = trimmedBytes(field);
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) {
        error = notAnInteger(field);
        return false;
    }
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') {
            error = notAnInteger(field);
            return false;
        }
        value = value * 10 + (c - '0');
        if (value > std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1) {
            error = notAnInteger(field);
            return false;
        }
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<std::int32_t>::max()) {
        error = notAnInteger(field);
        return false;
    }
    if (value < std::numeric_limits<std::int16_t>::min() || value > std::numeric_limits<std::int16_t>::max()) {
        // The number stands whole: the installer must find it in the file.
        error = QStringLiteral("%1 is not a valid value for field '%2'. The allowed range is %3 to %4")
                    .arg(value)
                    .arg(QLatin1String(name))
                    .arg(std::numeric_limits<std::int16_t>::min())
                    .arg(std::numeric_limits<std::int16_t>::max());
        return false;
    }
    out = std::int16_t(value);
    return true;
}

// Cuts the text before the next separator off the front of `rest`. Without a
// separator the field is all that is left, and nothing remains.
QByteArrayView takeField(QByteArrayView &rest)
{
    const qsizetype at = rest.indexOf(kSeparator);
    if (at < 0) {
        const QByteArrayView field = rest;
        rest = {};
        return field;
    }
    const QByteArrayView field = rest.first(at);
    rest = rest.sliced(at + 1);
    return field;
}

// TypeId;N_PPK;Prot;A_F. A_F runs to the next separator or the line end, so
// a trailing separator and text after it are ignored. A line with fewer than
// three separators runs out of text before A_F and fails as an empty number.
bool parseLine(QByteArrayView line, PanelType &row, QString &error)
{
    QByteArrayView rest = line;
    if (!parseField(takeField(rest), "TypeId", row.TypeId, error))
        return false;
    const QByteArrayView name = takeField(rest);
    row.N_PPK = decodeText(name.first(std::min<qsizetype>(name.size(), kPanelNameWidth)));
    if (!parseField(takeField(rest), "Prot", row.Prot, error))
        return false;
    return parseField(takeField(rest), "A_F", row.A_F, error);
}

QString tooLarge(const QString &fileName, qint64 lineNumber)
{
    return QStringLiteral("Файл %1 больше 16 МБ (%2 байт): загрузка остановлена на строке %3.")
        .arg(fileName, QString::number(kMaxCatalogueBytes), QString::number(lineNumber));
}

} // namespace

// The lines of CentralType.txt as they come off the device, one chunk at a
// time. CR LF or CR alone ends a line, LF alone is part of it, a byte 0x1A
// ends the file. No more than kMaxCatalogueBytes are ever held or read, so a
// file of any size costs no more memory than that.
class PanelTypeCatalogue::LineReader {
public:
    enum class Status { Line, End, TooLarge };

    explicit LineReader(QIODevice &device) : device_(device) {}

    // The next line, valid until the following call; TooLarge for the line
    // that reaches past kMaxCatalogueBytes.
    Status next(QByteArrayView &line)
    {
        for (;;) {
            const char *data = buffer_.constData();
            const void *cr = std::memchr(data + scan_, '\r', static_cast<size_t>(buffer_.size() - scan_));
            if (cr) {
                const qsizetype at = static_cast<const char *>(cr) - data;
                // Whether an LF follows is known only once the next byte is in.
                if (at + 1 == buffer_.size() && !deviceDone_) {
                    scan_ = at;
                    fill();
                    continue;
                }
                line = QByteArrayView(data + pos_, at - pos_);
                qsizetype after = at + 1;
                if (after < buffer_.size() && data[after] == '\n')
                    ++after;
                pos_ = scan_ = after;
                ++lineNumber_;
                return Status::Line;
            }
            scan_ = buffer_.size();
            if (!deviceDone_) {
                fill();
                continue;
            }
            if (overLimit_) {
                ++lineNumber_;
                return Status::TooLarge;
            }
            if (pos_ == buffer_.size())
                return Status::End;
            line = QByteArrayView(data + pos_, buffer_.size() - pos_);
            pos_ = scan_ = buffer_.size();
            ++lineNumber_;
            return Status::Line;
        }
    }

    // The number of the line last returned, counting from 1.
    qint64 lineNumber() const { return lineNumber_; }

private:
    static constexpr qint64 kChunk = qint64(64) * 1024;

    void fill()
    {
        if (pos_ > 0) {
            buffer_.remove(0, pos_);
            base_ += pos_;
            scan_ -= pos_;
            pos_ = 0;
        }
        // One byte beyond the limit tells a file of exactly the limit from a
        // larger one.
        const qint64 held = base_ + buffer_.size();
        const qint64 want = std::min(kChunk, kMaxCatalogueBytes + 1 - held);
        const qsizetype old = buffer_.size();
        buffer_.resize(old + want);
        const qint64 got = device_.read(buffer_.data() + old, want);
        if (got <= 0) {
            buffer_.resize(old);
            deviceDone_ = true;
            return;
        }
        buffer_.resize(old + got);
        if (const void *eof = std::memchr(buffer_.constData() + old, kEndOfFile, static_cast<size_t>(got))) {
            buffer_.resize(static_cast<const char *>(eof) - buffer_.constData());
            deviceDone_ = true;
            return;
        }
        if (base_ + buffer_.size() > kMaxCatalogueBytes) {
            buffer_.resize(kMaxCatalogueBytes - base_);
            deviceDone_ = true;
            overLimit_ = true;
        }
    }

    QIODevice &device_;
    QByteArray buffer_;
    qsizetype pos_ = 0;  // start of the line being read
    qsizetype scan_ = 0; // where the search for its end goes on
    qint64 base_ = 0;    // file offset of buffer_[0]
    qint64 lineNumber_ = 0;
    bool deviceDone_ = false;
    bool overLimit_ = false;
};

QString unknownPanelTypeName()
{
    return QStringLiteral("Тип ППК не определен");
}

QString trimName(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlankOrControl(text.at(begin).unicode()))
        ++begin;
    while (end > begin && isBlankOrControl(text.at(end - 1).unicode()))
        --end;
    if (begin == 0 && end == text.size())
        return text;
    return text.mid(begin, end - begin);
}

PanelTypeCatalogue::PanelTypeCatalogue(QObject *parent) : QObject(parent) {}

void PanelTypeCatalogue::clear()
{
    rows_.clear();
    trimmedNames_.clear();
    firstById_.clear();
    current_ = -1;
    filterOn_ = false;
    emit changed();
}

QString PanelTypeCatalogue::LoadCatalogue(const QString &path)
{
    // Only a regular file is a catalogue: a FIFO, a device or a folder of that
    // name would hang the start or feed it without end.
    const QFileInfo info(path);
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly) || file.isSequential()) {
        clear();
        return {};
    }
    return load(file, info.fileName());
}

QString PanelTypeCatalogue::loadFromBytes(const QByteArray &content)
{
    QBuffer buffer;
    buffer.setData(content);
    buffer.open(QIODevice::ReadOnly);
    return load(buffer, QStringLiteral("CentralType.txt"));
}

QString PanelTypeCatalogue::load(QIODevice &device, const QString &fileName)
{
    rows_.clear();
    trimmedNames_.clear();
    firstById_.clear();
    current_ = -1;
    filterOn_ = false;

    LineReader lines(device);
    QString error;
    QByteArrayView line;
    for (;;) {
        const LineReader::Status status = lines.next(line);
        if (status == LineReader::Status::End)
            break;
        if (status == LineReader::Status::TooLarge) {
            error = tooLarge(fileName, lines.lineNumber());
            break;
        }
        if (line.isEmpty())
            continue;
        PanelType row;
        if (!parseLine(line, row, error))
            break;
        trimmedNames_.append(trimName(row.N_PPK));
        if (!firstById_.contains(row.TypeId))
            firstById_.insert(row.TypeId, static_cast<int>(rows_.size()));
        rows_.append(std::move(row));
    }
    current_ = rows_.isEmpty() ? -1 : 0;
    emit changed();
    return error;
}

PanelType PanelTypeCatalogue::current() const
{
    return current_ >= 0 && current_ < rows_.size() ? rows_.at(current_) : PanelType{};
}

bool PanelTypeCatalogue::CntTblFilterRecord(int row) const
{
    if (!filterOn_)
        return true;
    return row >= 0 && row < trimmedNames_.size() && trimmedNames_.at(row) == filterName_;
}

int PanelTypeCatalogue::firstVisible() const
{
    return stepVisible(-1, 1);
}

int PanelTypeCatalogue::stepVisible(int from, int step) const
{
    for (int i = from + step; i >= 0 && i < count(); i += step) {
        if (CntTblFilterRecord(i))
            return i;
    }
    return -1;
}

void PanelTypeCatalogue::setCurrent(int index)
{
    current_ = index;
    emit changed();
}

void PanelTypeCatalogue::setFilterOn(bool on)
{
    if (on == filterOn_)
        return;
    filterOn_ = on;
    setCurrent(firstVisible());
}

void PanelTypeCatalogue::refreshFilter(const QString &objectTypeName)
{
    filterName_ = trimName(objectTypeName);
    if (!filterOn_)
        return;
    setCurrent(CntTblFilterRecord(current_) && current_ >= 0 ? current_ : firstVisible());
}

bool PanelTypeCatalogue::canPrior() const
{
    return current_ >= 0 && stepVisible(current_, -1) >= 0;
}

bool PanelTypeCatalogue::canNext() const
{
    return current_ >= 0 && stepVisible(current_, 1) >= 0;
}

bool PanelTypeCatalogue::prior()
{
    const int to = current_ >= 0 ? stepVisible(current_, -1) : -1;
    if (to < 0)
        return false;
    setCurrent(to);
    return true;
}

bool PanelTypeCatalogue::next()
{
    const int to = current_ >= 0 ? stepVisible(current_, 1) : -1;
    if (to < 0)
        return false;
    setCurrent(to);
    return true;
}

QString PanelTypeCatalogue::FindPanelTypeName(int typeId) const
{
    if (typeId < std::numeric_limits<std::int16_t>::min() || typeId > std::numeric_limits<std::int16_t>::max())
        return unknownPanelTypeName();
    const auto found = firstById_.constFind(std::int16_t(typeId));
    return found == firstById_.cend() ? unknownPanelTypeName() : rows_.at(*found).N_PPK;
}

} // namespace tarvil
