#pragma once

#include "model/UserMessage.h"

#include <QString>

#include <cstdint>

// Every text the link and the transactions show: captions, the status line,
// prompts, the port chooser and every box a transfer ends with. The write's
// field checks say what their rows of the image layout say. The window's own
// words (labels, menus, the file commands' boxes) and the object rules'
// refusals stay with the code that shows them. The wording, blanks and typos are the system's own: installers
// and their manuals know them.
namespace tarvil::texts {

// Captions
inline const QString kError = QStringLiteral("Ошибка");
inline const QString kConfiguring = QStringLiteral("Конфигурирование трансивера");
inline const QString kLinkCaption = QStringLiteral("Связь с трансивером");
inline const QString kLanWork = QStringLiteral("Работа по ЛВС");
inline const QString kHardware = QStringLiteral("Оборудование");

// Status line
QString connectingTo(const QString &address);
QString noLinkWith(const QString &address);
inline const QString kNoLink = QStringLiteral("Нет связи");

// The port chooser, asked once a port is needed and none is chosen
inline const QString kSelectPort = QStringLiteral("Select Port");
inline const QString kPortNotValid = QStringLiteral("The configured serial port is not valid.");
inline const QString kChooseAnotherPort = QStringLiteral("Please choose another port.");

// The connect prompt
inline const QString kAddressPrompt = QStringLiteral("Введите IP-адрес трансивера");
inline const QString kDefaultAddress = QStringLiteral("192.168.1.221");

// No answer: the data blocks' text keeps its trailing blank.
inline const QString kNoAnswer = QStringLiteral("Трансивер не отвечает");
inline const QString kNoAnswerBlock = QStringLiteral("Трансивер не отвечает ");

UserMessage fieldCheck(const QString &text);
UserMessage writeDone(const QString &serial);
UserMessage writeRefused();
UserMessage noAnswer(const QString &text);
UserMessage readDone(std::uint32_t serial);
UserMessage readFailed();
UserMessage invalidAddress();
UserMessage udpBindFailed(std::uint16_t port, const QString &reason);
UserMessage noComPort(const QString &detail);
QString portPermission(const QString &port);
UserMessage fatalPanelType();
UserMessage memoryFailure();

// The window's own
UserMessage closeQuestion();
UserMessage saveNeedsSerial();
UserMessage saveFailed(const QString &file, const QString &reason);
UserMessage loadBadFormat();
UserMessage loadTruncated();

// The object grid's context menu: the objects to and from CSV and .xlsx.
inline const QString kExportObjects = QStringLiteral("Экспорт объектов в CSV…");
inline const QString kImportObjects = QStringLiteral("Импорт объектов из CSV…");
inline const QString kCsvFilter = QStringLiteral("Файлы CSV|*.csv|Все файлы|*.*");
inline const QString kExportObjectsXlsx = QStringLiteral("Экспорт объектов в XLSX…");
inline const QString kImportObjectsXlsx = QStringLiteral("Импорт объектов из XLSX…");
inline const QString kXlsxFilter = QStringLiteral("Книги Excel|*.xlsx|Все файлы|*.*");
UserMessage exportFailed(const QString &file, const QString &reason);
// `shown` lists the first failing lines; `failingLines` counts them all;
// `advice`, when a spreadsheet changed a value, says how to keep it.
UserMessage importRefused(const QString &file, int failingLines, const QString &shown,
                          const QString &advice = {});

} // namespace tarvil::texts
