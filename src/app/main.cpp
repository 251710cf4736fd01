#include "app/BForm.h"
#include "app/MainWindow.h"
#include "app/QtDialogs.h"
#include "files/Journal.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // The journal's folder, shared with the command line.
    tarvil::useToolDataFolder();
    // The desktop entry it was started from: its icon and name in the task bar.
    QGuiApplication::setDesktopFileName(QStringLiteral("ru.tarvil.TarvilConfig"));

    // The standard boxes' buttons in the user's language.
    tarvil::installQtTranslations();

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
