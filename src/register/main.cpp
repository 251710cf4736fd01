// tarvil-register: the register of transceivers, "Журнал трансиверов".
#include "app/QtDialogs.h"
#include "files/DataPaths.h"
#include "files/Journal.h"
#include "register/RegisterWindow.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // The journal's folder, the one the configuration tool and tarvil-cli write.
    tarvil::useToolDataFolder();
    QGuiApplication::setDesktopFileName(QStringLiteral("ru.tarvil.TarvilRegister"));

    // The standard boxes' buttons in the user's language, as in the tool.
    tarvil::installQtTranslations();

    // The catalogue names panel types in a comparison, found as the tool finds it.
    tarvil::RegisterWindow window(nullptr, nullptr, tarvil::Journal::defaultFolder(),
                                  tarvil::catalogueToLoad(QCoreApplication::applicationDirPath()));
    window.show();
    return QApplication::exec();
}
