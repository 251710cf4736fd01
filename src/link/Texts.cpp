#include "link/Texts.h"

#include "model/ImageLayout.h"

namespace tarvil::texts {

namespace {

UserMessage box(const QString &text, const QString &caption, MsgIcon icon, bool topmost,
                MsgButtons buttons = MsgButtons::Ok)
{
    return UserMessage{text, caption, icon, buttons, topmost};
}

const QString kFileCaption = QStringLiteral("Конфигурирование");
const QString kLoadCaption = QStringLiteral("Загрузка конфигурации");

} // namespace

QString connectingTo(const QString &address) { return QStringLiteral("Соединение с ") + address; }
QString noLinkWith(const QString &address) { return QStringLiteral("Нет связи с ") + address; }

UserMessage fieldCheck(const QString &text) { return box(text, kError, MsgIcon::Error, false); }

UserMessage writeDone(const QString &serial)
{
    return box(QStringLiteral("Запись конфигурации трансивера № ") + serial + QStringLiteral(" выполнена"),
               kConfiguring, MsgIcon::Information, true);
}

UserMessage writeRefused()
{
    return box(QStringLiteral("Ошибка при записи конфигурации"), kConfiguring, MsgIcon::Error, true);
}

UserMessage noAnswer(const QString &text) { return box(text, kLinkCaption, MsgIcon::Error, true); }

UserMessage readDone(std::uint32_t serial)
{
    return box(QStringLiteral("Чтение конфигурации трансивера № ") + QString::number(serial) +
                   QStringLiteral(" выполнено."),
               kConfiguring, MsgIcon::Information, true);
}

UserMessage readFailed()
{
    return box(QStringLiteral("Ошибка при чтение конфигурации."), kLinkCaption, MsgIcon::Error, true);
}

UserMessage invalidAddress()
{
    return box(QStringLiteral("Недопустимый IP-адрес трансивера."), kError, MsgIcon::Error, true);
}

UserMessage udpBindFailed(std::uint16_t port, const QString &reason)
{
    return box(QStringLiteral("Не удалось открыть UDP-порт %1 для работы по ЛВС (%2). Возможно, порт занят "
                              "другой программой. Работа по ЛВС недоступна; USB и файлы конфигурации "
                              "работают.")
                   .arg(port)
                   .arg(reason),
               kLanWork, MsgIcon::Warning, false);
}

UserMessage noComPort(const QString &detail)
{
    QString text = QStringLiteral("Нет доступного Com-порта. Работа в автономном режиме!");
    if (!detail.isEmpty())
        text += QLatin1Char('\n') + detail;
    return box(text, kHardware, MsgIcon::Error, false);
}

QString portPermission(const QString &port)
{
    return QStringLiteral("Нет прав доступа к порту %1. Добавьте пользователя в группу dialout "
                          "(sudo usermod -a -G dialout $USER) и войдите в систему заново.")
        .arg(port);
}

UserMessage fatalPanelType()
{
    return box(QStringLiteral("Ошибка выбора типа ППК!"), QStringLiteral("Фатальная ошибка"), MsgIcon::Error, false);
}

UserMessage memoryFailure()
{
    return box(QStringLiteral("Отказ оборудования"), QStringLiteral("Ошибка при записи ППЗУ"), MsgIcon::None, false);
}

UserMessage closeQuestion()
{
    return box(QStringLiteral("Завершить работу приложения?"), QStringLiteral("Завершение работы"),
               MsgIcon::Warning, false, MsgButtons::YesNo);
}

UserMessage saveNeedsSerial() { return box(refusalText(CommonField::Serial), kFileCaption, MsgIcon::Error, false); }

UserMessage saveFailed(const QString &file, const QString &reason)
{
    return box(QStringLiteral("Не удалось сохранить конфигурацию в файл \"%1\": %2").arg(file, reason), kFileCaption,
               MsgIcon::Error, false);
}

UserMessage loadBadFormat()
{
    return box(QStringLiteral("Формат файла не соответствует типу устройства!"), kLoadCaption, MsgIcon::Warning,
               false, MsgButtons::YesNo);
}

UserMessage loadTruncated()
{
    return box(QStringLiteral("Возникла фатальная ошибка. Часть данных не загружена."), kLoadCaption,
               MsgIcon::Error, false);
}

UserMessage exportFailed(const QString &file, const QString &reason)
{
    return box(QStringLiteral("Не удалось сохранить объекты в файл \"%1\": %2").arg(file, reason),
               QStringLiteral("Экспорт объектов"), MsgIcon::Error, false);
}

UserMessage importRefused(const QString &file, int failingLines, const QString &shown, const QString &advice)
{
    QString text = QStringLiteral("Объекты из файла \"%1\" не загружены, таблица не изменена. Строк с ошибками: %2.")
                       .arg(file)
                       .arg(failingLines);
    if (!shown.isEmpty())
        text += QStringLiteral("\n\n") + shown;
    if (failingLines > 10)
        text += QStringLiteral("\n...");
    if (!advice.isEmpty())
        text += QStringLiteral("\n\n") + advice;
    return box(text, QStringLiteral("Импорт объектов"), MsgIcon::Error, false);
}

} // namespace tarvil::texts
