// tarvil-cli: configuration files without the window. See --help and README.md.
#include "cli/Cli.h"
#include "files/Journal.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    tarvil::useToolDataFolder();
#ifdef Q_OS_WIN
    // CSV goes out with its own CR LF line ends.
    _setmode(_fileno(stdout), _O_BINARY);
    // The text goes out in UTF-8; a console shows it as such, in Russian,
    // whatever its code page was, and gets that code page back at the end.
    const UINT consoleCodePage = GetConsoleOutputCP();
    if (consoleCodePage != 0)
        SetConsoleOutputCP(CP_UTF8);
    struct RestoreCodePage {
        UINT page;
        ~RestoreCodePage()
        {
            if (page != 0)
                SetConsoleOutputCP(page);
        }
    } restore{consoleCodePage};
#endif
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered))
        return tarvil::cli::Refused;
    QTextStream err(stderr);
    const int status = tarvil::cli::run(QCoreApplication::arguments(), out, err);
    err.flush();
    return status;
}
