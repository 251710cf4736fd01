#include "app/BForm.h"
#include "app/MainWindow.h"
#include "files/Journal.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // The journal's folder, shared with the command line.
    tarvil::useToolDataFolder();
    // The desktop entry it was started from: its icon and name in the task bar.
    QGuiApplication::setDesktopFileName(QStringLiteral("ru.tarvil.TarvilConfig"));

    // Buttons of the standard boxes in the user's language, where Qt has it:
    // Qt's own translations, or those that travel with the program (Windows).
    QTranslator qtTexts;
    for (const QString &folder : {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                                  QCoreApplication::applicationDirPath() + QStringLiteral("/translations")}) {
        if (qtTexts.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
            QApplication::installTranslator(&qtTexts);
            break;
        }
    }

    tarvil::TA_Form mainWindow; // the first window: the program ends with it
    tarvil::TB_Form recodingTable;
    mainWindow.show();
    // Started with a file (a double click on a .tvc): it is loaded as
    // "Загрузить" would load it, once the window is up to show its boxes.
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() > 1) {
        QTimer::singleShot(0, &mainWindow, [&mainWindow, path = arguments.at(1)] { mainWindow.loadFile(path); });
    }
    return QApplication::exec();
}
