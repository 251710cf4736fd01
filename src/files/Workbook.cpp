#include "files/Workbook.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <unzip.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace tarvil {

namespace {

constexpr int kMaxRowNumber = 1048576; // the last row of a sheet

QString megabytes(qint64 bytes) { return QString::number(bytes / (qint64(1024) * 1024)); }

// The XML of a part as QXmlStreamReader reads it, with the fault that ends
// the reading in words a user can act on.
QString xmlFault(const QString &part, const QXmlStreamReader &x)
{
    if (x.error() == QXmlStreamReader::PrematureEndOfDocumentError)
        return QStringLiteral("часть книги «%1» обрывается на строке %2: файл испорчен или сохранён не до конца")
            .arg(part)
            .arg(x.lineNumber());
    return QStringLiteral("часть книги «%1» испорчена: ошибка XML в строке %2, позиция %3 (%4)")
        .arg(part)
        .arg(x.lineNumber())
        .arg(x.columnNumber())
        .arg(x.errorString());
}

QString dtdFault(const QString &part)
{
    return QStringLiteral("часть книги «%1» содержит объявление DTD, какого в книгах .xlsx не бывает: "
                          "файл отвергнут")
        .arg(part);
}

// Reads the next token; a DTD ends the reading before any entity it declares
// is used.
bool next(QXmlStreamReader &x, QString *error, const QString &part)
{
    if (x.readNext() == QXmlStreamReader::DTD) {
        *error = dtdFault(part);
        return false;
    }
    if (x.hasError()) {
        *error = xmlFault(part, x);
        return false;
    }
    return !x.atEnd();
}

// The text of the element just started. A value (<v>) is all of its
// characters; a string (<si>, <is>) is the text of its <t> elements, plain or
// in runs, without the phonetic guides (<rPh>) and the blanks between elements.
enum class TextOf { Value, String };
std::optional<QString> elementText(QXmlStreamReader &x, QString *error, const QString &part, TextOf what)
{
    QString text;
    int depth = 1;
    int inText = 0;     // the depth of the <t> being read; 0: none
    int inPhonetic = 0; // the depth of an <rPh>; 0: none
    while (next(x, error, part)) {
        if (x.isStartElement()) {
            ++depth;
            if (x.name() == QLatin1String("rPh") && !inPhonetic)
                inPhonetic = depth;
            else if (x.name() == QLatin1String("t") && !inText)
                inText = depth;
        } else if (x.isEndElement()) {
            if (depth == inText)
                inText = 0;
            if (depth == inPhonetic)
                inPhonetic = 0;
            if (--depth == 0)
                return text;
        } else if (x.isCharacters()) {
            if (what == TextOf::Value ? depth == 1 : (inText && !inPhonetic))
                text += x.text();
        }
    }
    if (error->isEmpty())
        *error = xmlFault(part, x);
    return std::nullopt;
}

// The exact text of the integer a number cell holds: 75326948469, never
// 7.5326948469E+10. A fraction keeps the text the file gave.
QString numberText(const QString &value)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || !std::isfinite(number) || std::floor(number) != number)
        return value;
    if (std::fabs(number) < 9.0e18)
        return QString::number(static_cast<qint64>(number));
    return QString::number(number, 'f', 0);
}

// "AB12" -> column 28 (from 1); 0 when the reference names no column, and
// kMaxSheetColumns + 1 for any column past the last one read.
int columnOf(const QString &reference)
{
    int column = 0;
    int letters = 0;
    for (QChar c : reference) {
        const QChar u = c.toUpper();
        if (u < QLatin1Char('A') || u > QLatin1Char('Z'))
            break;
        if (++letters > 3)
            return kMaxSheetColumns + 1;
        column = column * 26 + (u.unicode() - 'A' + 1);
    }
    return std::min(column, kMaxSheetColumns + 1);
}

// The archive in memory, for minizip: the file is read once, through Qt, so
// that a path in any script opens on every system.
struct MemoryFile {
    const QByteArray *bytes = nullptr;
    ZPOS64_T position = 0;
};

voidpf ZCALLBACK memoryOpen(voidpf opaque, const void *, int) { return opaque; }

uLong ZCALLBACK memoryRead(voidpf, voidpf stream, void *buffer, uLong size)
{
    auto *file = static_cast<MemoryFile *>(stream);
    const auto total = ZPOS64_T(file->bytes->size());
    const ZPOS64_T left = file->position < total ? total - file->position : 0;
    const auto n = static_cast<uLong>(std::min<ZPOS64_T>(left, size));
    if (n > 0)
        std::memcpy(buffer, file->bytes->constData() + file->position, n);
    file->position += n;
    return n;
}

uLong ZCALLBACK memoryWrite(voidpf, voidpf, const void *, uLong) { return 0; }

ZPOS64_T ZCALLBACK memoryTell(voidpf, voidpf stream) { return static_cast<MemoryFile *>(stream)->position; }

long ZCALLBACK memorySeek(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    auto *file = static_cast<MemoryFile *>(stream);
    const auto total = ZPOS64_T(file->bytes->size());
    ZPOS64_T base = 0;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: base = file->position; break;
    case ZLIB_FILEFUNC_SEEK_END: base = total; break;
    default: return -1;
    }
    if (offset > total || base > total - offset)
        return -1;
    file->position = base + offset;
    return 0;
}

int ZCALLBACK memoryClose(voidpf, voidpf) { return 0; }
int ZCALLBACK memoryError(voidpf, voidpf) { return 0; }

// The parts of the archive, each inflated against the bounds and checked
// against the size and checksum the archive declares for it.
class Archive {
public:
    explicit Archive(const QByteArray &bytes)
    {
        file_.bytes = &bytes;
        zlib_filefunc64_def functions{};
        functions.zopen64_file = memoryOpen;
        functions.zread_file = memoryRead;
        functions.zwrite_file = memoryWrite;
        functions.ztell64_file = memoryTell;
        functions.zseek64_file = memorySeek;
        functions.zclose_file = memoryClose;
        functions.zerror_file = memoryError;
        functions.opaque = &file_;
        zip_ = unzOpen2_64("", &functions);
        unz_global_info64 info{};
        if (!zip_ || unzGetGlobalInfo64(zip_, &info) != UNZ_OK)
            error_ = QStringLiteral("это не книга .xlsx: файл не является архивом ZIP или повреждён");
        else if (info.number_entry > ZPOS64_T(kMaxWorkbookParts))
            error_ = QStringLiteral("в архиве книги больше %1 частей: это не список объектов").arg(kMaxWorkbookParts);
    }
    ~Archive()
    {
        if (zip_)
            unzClose(zip_);
    }
    Archive(const Archive &) = delete;
    Archive &operator=(const Archive &) = delete;

    const QString &error() const { return error_; }

    // The part's bytes; nothing when it is missing (no error then) or broken
    // (the error is set).
    std::optional<QByteArray> part(const QString &name)
    {
        if (!error_.isEmpty())
            return std::nullopt;
        const QByteArray wanted = name.toUtf8();
        // Part names are case-insensitive.
        if (unzLocateFile(zip_, wanted.constData(), 2) != UNZ_OK)
            return std::nullopt;
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(zip_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
            return broken(name);
        if (info.flag & 1U) {
            error_ = QStringLiteral("часть книги «%1» зашифрована: сохраните книгу без пароля").arg(name);
            return std::nullopt;
        }
        if (info.uncompressed_size > ZPOS64_T(kMaxWorkbookPartBytes))
            return tooLarge(name);
        if (unzOpenCurrentFile(zip_) != UNZ_OK)
            return broken(name);
        QByteArray data;
        char buffer[64 * 1024];
        int n = 0;
        while ((n = unzReadCurrentFile(zip_, buffer, sizeof buffer)) > 0) {
            // The declared size is not trusted: the bound holds whatever it says.
            if (data.size() + n > kMaxWorkbookPartBytes) {
                unzCloseCurrentFile(zip_);
                return tooLarge(name);
            }
            data.append(buffer, n);
        }
        const int closed = unzCloseCurrentFile(zip_);
        if (n < 0 || closed != UNZ_OK || ZPOS64_T(data.size()) != info.uncompressed_size
            || crc32(0L, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())) != info.crc)
            return broken(name);
        return data;
    }

private:
    std::optional<QByteArray> broken(const QString &name)
    {
        error_ = QStringLiteral("часть книги «%1» повреждена: её размер или контрольная сумма не сходятся "
                                "с записанными в архиве")
                     .arg(name);
        return std::nullopt;
    }
    std::optional<QByteArray> tooLarge(const QString &name)
    {
        error_ = QStringLiteral("часть книги «%1» после распаковки больше %2 МБ: это не список объектов")
                     .arg(name, megabytes(kMaxWorkbookPartBytes));
        return std::nullopt;
    }

    MemoryFile file_;
    unzFile zip_ = nullptr;
    QString error_;
};

// A relationship's target, as a part name: relative to the folder of the
// part that names it, or from the archive's root when it starts with "/".
std::optional<QString> resolve(const QString &folder, const QString &target)
{
    QString path = target.startsWith(QLatin1Char('/')) ? target.mid(1) : folder + target;
    path = QDir::cleanPath(path);
    if (path.isEmpty() || path == QLatin1String(".") || path.startsWith(QLatin1String("../"))
        || path == QLatin1String(".."))
        return std::nullopt;
    return path;
}

QString folderOf(const QString &part)
{
    const qsizetype slash = part.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : part.left(slash + 1);
}

// The relationship of `type` ("officeDocument", "sharedStrings", ...) in a
// .rels part.
std::optional<workbook::Relationship> relationshipOfType(const workbook::Relationships &rels, QLatin1String type)
{
    // The lowest id of that type, so that the choice never depends on a hash's order.
    std::optional<workbook::Relationship> found;
    QString foundId;
    for (auto it = rels.byId.cbegin(); it != rels.byId.cend(); ++it) {
        if (it.value().type.endsWith(QLatin1Char('/') + type) && (!found || it.key() < foundId)) {
            found = it.value();
            foundId = it.key();
        }
    }
    return found;
}

} // namespace

namespace workbook {

std::optional<QByteArray> part(const QByteArray &zip, const QString &name, QString *error)
{
    Archive archive(zip);
    auto bytes = archive.part(name);
    if (!bytes)
        *error = archive.error().isEmpty() ? QStringLiteral("в книге нет части «%1»").arg(name) : archive.error();
    return bytes;
}

SharedStrings parseSharedStrings(const QByteArray &xml)
{
    const QString part = QStringLiteral("xl/sharedStrings.xml");
    SharedStrings out;
    QXmlStreamReader x(xml);
    while (next(x, &out.error, part)) {
        if (!x.isStartElement() || x.name() != QLatin1String("si"))
            continue;
        if (out.strings.size() >= kMaxSharedStrings) {
            out.error = QStringLiteral("в книге больше %1 строк текста: это не список объектов").arg(kMaxSharedStrings);
            break;
        }
        const auto text = elementText(x, &out.error, part, TextOf::String);
        if (!text)
            break;
        out.strings << *text;
    }
    if (out.error.isEmpty() && x.hasError())
        out.error = xmlFault(part, x);
    if (!out.error.isEmpty())
        out.strings.clear();
    return out;
}

Sheets parseWorkbook(const QByteArray &xml)
{
    const QString part = QStringLiteral("xl/workbook.xml");
    Sheets out;
    QXmlStreamReader x(xml);
    while (next(x, &out.error, part)) {
        if (!x.isStartElement() || x.name() != QLatin1String("sheet"))
            continue;
        SheetRef sheet;
        sheet.name = x.attributes().value(QLatin1String("name")).toString();
        // r:id, whatever prefix the file gives its namespace.
        for (const QXmlStreamAttribute &a : x.attributes()) {
            if (a.name() == QLatin1String("id") && !a.namespaceUri().isEmpty())
                sheet.relationship = a.value().toString();
        }
        if (out.sheets.size() < kMaxWorkbookParts)
            out.sheets << sheet;
    }
    if (out.error.isEmpty() && x.hasError())
        out.error = xmlFault(part, x);
    return out;
}

Relationships parseRelationships(const QByteArray &xml)
{
    const QString part = QStringLiteral("_rels");
    Relationships out;
    QXmlStreamReader x(xml);
    while (next(x, &out.error, part)) {
        if (!x.isStartElement() || x.name() != QLatin1String("Relationship"))
            continue;
        const QXmlStreamAttributes a = x.attributes();
        if (a.value(QLatin1String("TargetMode")) == QLatin1String("External"))
            continue;
        if (out.byId.size() < kMaxWorkbookParts)
            out.byId.insert(a.value(QLatin1String("Id")).toString(),
                            Relationship{a.value(QLatin1String("Type")).toString(),
                                         a.value(QLatin1String("Target")).toString()});
    }
    if (out.error.isEmpty() && x.hasError())
        out.error = xmlFault(part, x);
    return out;
}

WorkbookSheet parseSheet(const QByteArray &xml, const QStringList &shared)
{
    const QString part = QStringLiteral("лист");
    WorkbookSheet out;
    QXmlStreamReader x(xml);
    int rowsSeen = 0;
    int lastRow = 0;
    const auto fail = [&](const QString &error) {
        out.error = error;
        out.rows.clear();
        return out;
    };
    while (next(x, &out.error, part)) {
        if (!x.isStartElement() || x.name() != QLatin1String("row"))
            continue;
        if (++rowsSeen > kMaxSheetRows)
            return fail(QStringLiteral("в листе больше %1 строк: это не список объектов").arg(kMaxSheetRows));
        int rowNumber = lastRow + 1;
        if (const auto r = x.attributes().value(QLatin1String("r")); !r.isEmpty()) {
            bool ok = false;
            rowNumber = r.toInt(&ok);
            if (!ok || rowNumber < 1 || rowNumber > kMaxRowNumber)
                return fail(QStringLiteral("строка листа с номером «%1», какого не бывает: файл испорчен")
                                .arg(r.toString()));
        }
        lastRow = rowNumber;
        SheetRow row;
        row.line = rowNumber;
        row.changeable = 0;
        QStringList values(kMaxSheetColumns);
        int lastColumn = 0;  // of the cell before, from 1
        int widest = 0;      // the last column that holds a value
        // The cells of the row.
        while (next(x, &out.error, part)) {
            if (x.isEndElement() && x.name() == QLatin1String("row"))
                break;
            if (!x.isStartElement())
                continue;
            if (x.name() != QLatin1String("c")) {
                x.skipCurrentElement();
                continue;
            }
            const QXmlStreamAttributes a = x.attributes();
            const QString reference = a.value(QLatin1String("r")).toString();
            const QString type = a.value(QLatin1String("t")).toString();
            int column = reference.isEmpty() ? lastColumn + 1 : columnOf(reference);
            if (column == 0)
                return fail(QStringLiteral("ячейка с адресом «%1», какого не бывает: файл испорчен").arg(reference));
            lastColumn = column;
            std::optional<QString> value;   // <v>
            std::optional<QString> inlined; // <is>
            while (next(x, &out.error, part)) {
                if (x.isEndElement() && x.name() == QLatin1String("c"))
                    break;
                if (!x.isStartElement())
                    continue;
                if (x.name() == QLatin1String("v")) {
                    value = elementText(x, &out.error, part, TextOf::Value);
                    if (!value)
                        return fail(out.error);
                } else if (x.name() == QLatin1String("is")) {
                    inlined = elementText(x, &out.error, part, TextOf::String);
                    if (!inlined)
                        return fail(out.error);
                } else {
                    x.skipCurrentElement();
                }
            }
            if (!out.error.isEmpty())
                return fail(out.error);
            QString text;
            bool number = false;
            if (type == QLatin1String("s")) {
                if (value) {
                    bool ok = false;
                    const int index = value->trimmed().toInt(&ok);
                    if (!ok || index < 0 || index >= shared.size())
                        return fail(QStringLiteral("ячейка %1 ссылается на строку текста №%2, которой в книге нет")
                                        .arg(reference, value->trimmed()));
                    text = shared.at(index);
                }
            } else if (type == QLatin1String("inlineStr")) {
                text = inlined.value_or(value.value_or(QString()));
            } else if (type.isEmpty() || type == QLatin1String("n")) {
                text = value ? numberText(value->trimmed()) : QString();
                number = value.has_value();
            } else {
                text = value.value_or(QString()); // a formula's text, an error, a date, a truth value
            }
            if (text.isEmpty())
                continue; // a cell with a format and nothing in it
            if (column > kMaxSheetColumns)
                return fail(QStringLiteral("в строке %1 есть значение за столбцом Z%2: это не список объектов")
                                .arg(rowNumber)
                                .arg(reference.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reference)));
            values[column - 1] = text;
            if (number)
                row.changeable |= std::uint32_t(1) << (column - 1);
            else
                row.changeable &= ~(std::uint32_t(1) << (column - 1));
            widest = std::max(widest, column);
        }
        if (!out.error.isEmpty())
            return fail(out.error);
        if (widest == 0)
            continue;
        row.fields = values.mid(0, widest);
        out.rows << row;
    }
    if (out.error.isEmpty() && x.hasError())
        out.error = xmlFault(part, x);
    if (!out.error.isEmpty())
        out.rows.clear();
    return out;
}

} // namespace workbook

WorkbookSheet readWorkbookSheet(const QByteArray &zip, const QString &preferred)
{
    WorkbookSheet out;
    const auto fail = [&](const QString &error) {
        out.error = error;
        out.rows.clear();
        return out;
    };
    // An .xls, or an .xlsx saved with a password, is a compound document.
    if (zip.startsWith(QByteArray::fromHex("d0cf11e0a1b11ae1")))
        return fail(QStringLiteral("это книга старого формата .xls или книга с паролем: сохраните её как "
                                   "книгу .xlsx без пароля"));
    Archive archive(zip);
    if (!archive.error().isEmpty())
        return fail(archive.error());
    const auto required = [&](const QString &name) -> std::optional<QByteArray> {
        auto bytes = archive.part(name);
        if (!bytes && archive.error().isEmpty())
            out.error = QStringLiteral("в книге нет части «%1»: это не книга .xlsx").arg(name);
        else if (!bytes)
            out.error = archive.error();
        return bytes;
    };

    // The workbook part, where the package's relationships say it is.
    QString workbookPart = QStringLiteral("xl/workbook.xml");
    if (const auto rootRels = archive.part(QStringLiteral("_rels/.rels"))) {
        const workbook::Relationships rels = workbook::parseRelationships(*rootRels);
        if (!rels.error.isEmpty())
            return fail(rels.error);
        if (const auto main = relationshipOfType(rels, QLatin1String("officeDocument"))) {
            const auto path = resolve(QString(), main->target);
            if (!path)
                return fail(QStringLiteral("книга называет свою главную часть «%1», какой быть не может")
                                .arg(main->target));
            workbookPart = *path;
        }
    }
    if (!archive.error().isEmpty())
        return fail(archive.error());
    const auto workbookXml = required(workbookPart);
    if (!workbookXml)
        return fail(out.error);
    const workbook::Sheets sheets = workbook::parseWorkbook(*workbookXml);
    if (!sheets.error.isEmpty())
        return fail(sheets.error);
    if (sheets.sheets.isEmpty())
        return fail(QStringLiteral("в книге нет ни одного листа"));
    const workbook::SheetRef *sheet = &sheets.sheets.first();
    for (const workbook::SheetRef &s : sheets.sheets) {
        if (s.name == preferred) {
            sheet = &s;
            break;
        }
    }
    out.name = sheet->name;

    const QString folder = folderOf(workbookPart);
    const QString relsPart = folder + QStringLiteral("_rels/") + workbookPart.mid(folder.size())
                             + QStringLiteral(".rels");
    const auto relsXml = required(relsPart);
    if (!relsXml)
        return fail(out.error);
    const workbook::Relationships rels = workbook::parseRelationships(*relsXml);
    if (!rels.error.isEmpty())
        return fail(rels.error);
    const auto target = rels.byId.constFind(sheet->relationship);
    if (target == rels.byId.cend())
        return fail(QStringLiteral("лист «%1» не найден в книге: файл испорчен").arg(sheet->name));
    const auto sheetPart = resolve(folder, target->target);
    if (!sheetPart)
        return fail(QStringLiteral("лист «%1» указывает на часть «%2», какой быть не может")
                        .arg(sheet->name, target->target));

    QStringList shared;
    if (const auto strings = relationshipOfType(rels, QLatin1String("sharedStrings"))) {
        const auto path = resolve(folder, strings->target);
        if (!path)
            return fail(QStringLiteral("книга указывает на строки текста в части «%1», какой быть не может")
                            .arg(strings->target));
        const auto xml = required(*path);
        if (!xml)
            return fail(out.error);
        workbook::SharedStrings parsed = workbook::parseSharedStrings(*xml);
        if (!parsed.error.isEmpty())
            return fail(parsed.error);
        shared = std::move(parsed.strings);
    }
    const auto sheetXml = required(*sheetPart);
    if (!sheetXml)
        return fail(out.error);
    WorkbookSheet read = workbook::parseSheet(*sheetXml, shared);
    read.name = sheet->name;
    return read;
}

WorkbookSheet readWorkbookSheetFile(const QString &path, const QString &preferred)
{
    WorkbookSheet out;
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        out.error = QStringLiteral("это не обычный файл");
        return out;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        out.error = QStringLiteral("файл не прочитан: %1").arg(file.errorString());
        return out;
    }
    const QByteArray bytes = file.read(kMaxWorkbookBytes + 1);
    if (bytes.size() > kMaxWorkbookBytes) {
        out.error = QStringLiteral("файл больше %1 МБ: это не список объектов").arg(megabytes(kMaxWorkbookBytes));
        return out;
    }
    return readWorkbookSheet(bytes, preferred);
}

} // namespace tarvil
