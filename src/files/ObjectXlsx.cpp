#include "files/ObjectXlsx.h"

#include "files/Workbook.h"
#include "model/ImageLayout.h"
#include "model/ObjectRules.h"

#include <QFile>
#include <QTemporaryDir>

#include <xlsxwriter.h>

#include <algorithm>
#include <memory>

namespace tarvil {

namespace {

// A column holds text when the record keeps it as text, or when it is the
// type's name: numbers of a spreadsheet's General format would lose what
// matters in them.
bool textColumn(const ObjectColumn &column)
{
    return !column.record || column.record->kind == FieldKind::Text;
}

// Wide enough for the longest value, in the characters a column's width
// counts, with a little room.
double columnWidth(qsizetype longest) { return double(std::clamp<qsizetype>(longest, 6, 60)) + 2.0; }

struct WorkbookCloser {
    void operator()(lxw_workbook *workbook) const
    {
        if (workbook)
            workbook_close(workbook);
    }
};

QString writerError(lxw_error error)
{
    return QStringLiteral("книга не записана: %1").arg(QString::fromUtf8(lxw_strerror(error)));
}

} // namespace

std::optional<QByteArray> objectsToXlsx(const QList<ObjectRow> &rows, QString *error)
{
    // The library writes to a file by name: a folder of our own, whose path
    // the system's file functions take as it is (the local 8-bit encoding on
    // Windows, UTF-8 elsewhere).
    QTemporaryDir folder;
    if (!folder.isValid()) {
        *error = QStringLiteral("нет временной папки: %1").arg(folder.errorString());
        return std::nullopt;
    }
    const QString path = folder.filePath(QStringLiteral("objects.xlsx"));
    const QByteArray name = QFile::encodeName(path);
    std::unique_ptr<lxw_workbook, WorkbookCloser> workbook(workbook_new(name.constData()));
    if (!workbook) {
        *error = QStringLiteral("книга не создана во временной папке");
        return std::nullopt;
    }
    const QByteArray sheetName = kObjectSheetName.toUtf8();
    lxw_worksheet *sheet = workbook_add_worksheet(workbook.get(), sheetName.constData());
    lxw_format *header = workbook_add_format(workbook.get());
    format_set_bold(header);
    lxw_format *text = workbook_add_format(workbook.get());
    // Text: the built-in format 49 ("@"), the one Excel's and Calc's format
    // dialogs name "Text".
    format_set_num_format_index(text, 49);
    if (!sheet || !header || !text) {
        *error = QStringLiteral("книга не создана: не хватило памяти");
        return std::nullopt;
    }

    const std::span<const ObjectColumn> columns = objectColumns();
    const QStringList titles = objectSheetHeader();
    QList<QStringList> values;
    for (const ObjectRow &row : rows)
        values << objectSheetValues(row);

    lxw_error status = LXW_NO_ERROR;
    const auto check = [&status](lxw_error e) {
        if (status == LXW_NO_ERROR)
            status = e;
    };
    for (size_t c = 0; c < columns.size(); ++c) {
        const auto col = lxw_col_t(c);
        qsizetype longest = titles.at(qsizetype(c)).size();
        for (const QStringList &v : values)
            longest = std::max(longest, v.at(qsizetype(c)).size());
        // The column's own format: what is typed below the rows written stays text.
        check(worksheet_set_column(sheet, col, col, columnWidth(longest), textColumn(columns[c]) ? text : nullptr));
        const QByteArray title = titles.at(qsizetype(c)).toUtf8();
        check(worksheet_write_string(sheet, 0, col, title.constData(), header));
    }
    worksheet_freeze_panes(sheet, 1, 0);
    for (qsizetype r = 0; r < values.size(); ++r) {
        const auto row = lxw_row_t(r + 1);
        for (size_t c = 0; c < columns.size(); ++c) {
            const auto col = lxw_col_t(c);
            const QString &value = values.at(r).at(qsizetype(c));
            if (textColumn(columns[c])) {
                const QByteArray bytes = value.toUtf8();
                check(value.isEmpty() ? worksheet_write_blank(sheet, row, col, text)
                                      : worksheet_write_string(sheet, row, col, bytes.constData(), text));
            } else {
                check(worksheet_write_number(sheet, row, col, value.toDouble(), nullptr));
            }
        }
    }
    // Cells formatted as text down to the last row an object can take, for
    // spreadsheets that look at the cell's format rather than the column's.
    for (int r = int(values.size()) + 1; r < kXlsxTextRows; ++r) {
        for (size_t c = 0; c < columns.size(); ++c) {
            if (textColumn(columns[c]))
                check(worksheet_write_blank(sheet, lxw_row_t(r), lxw_col_t(c), text));
        }
    }
    if (status != LXW_NO_ERROR) {
        *error = writerError(status);
        return std::nullopt;
    }
    if (const lxw_error closed = workbook_close(workbook.release()); closed != LXW_NO_ERROR) {
        *error = writerError(closed);
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("книга не прочитана из временной папки: %1").arg(file.errorString());
        return std::nullopt;
    }
    return file.readAll();
}

namespace {

SheetObjects fromSheet(const WorkbookSheet &sheet, const QList<ObjectRow> *current)
{
    if (!sheet.error.isEmpty()) {
        SheetObjects out;
        out.format = SheetFormat::Xlsx;
        out.problems << SheetProblem{0, QString(), sheet.error};
        return out;
    }
    // A row ends with its last value: the empty cells after it are the
    // columns' own, as a CSV line has them.
    QList<SheetRow> rows = sheet.rows;
    const auto width = qsizetype(objectColumns().size());
    for (SheetRow &row : rows) {
        while (row.fields.size() < width)
            row.fields << QString();
    }
    return checkObjectSheet(rows, SheetFormat::Xlsx, current);
}

} // namespace

SheetObjects objectsFromXlsx(const QByteArray &bytes, const QList<ObjectRow> *current)
{
    return fromSheet(readWorkbookSheet(bytes, kObjectSheetName), current);
}

SheetObjects readObjectsXlsx(const QString &path, const QList<ObjectRow> *current)
{
    return fromSheet(readWorkbookSheetFile(path, kObjectSheetName), current);
}

} // namespace tarvil
