#include "register/Launcher.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace tarvil {

QString SystemLauncher::configToolPath()
{
#ifdef Q_OS_WIN
    const QString name = QStringLiteral("tarvil-config.exe");
#else
    const QString name = QStringLiteral("tarvil-config");
#endif
    return QDir(QCoreApplication::applicationDirPath()).filePath(name);
}

bool SystemLauncher::openInConfigTool(const QString &file, QString *error)
{
    const QString program = configToolPath();
    if (!QFileInfo(program).isExecutable()) {
        *error = QStringLiteral("программа настройки не найдена: %1").arg(QDir::toNativeSeparators(program));
        return false;
    }
    // The tool loads the file it is started with as "Загрузить" would; it
    // runs in this program's working folder, where it looks for its
    // CentralType.txt as it does when started from the menu.
    if (!QProcess::startDetached(program, {QDir::toNativeSeparators(file)})) {
        *error = QStringLiteral("не удалось запустить %1").arg(QDir::toNativeSeparators(program));
        return false;
    }
    return true;
}

bool SystemLauncher::showInFolder(const QString &file, QString *error)
{
    const QFileInfo info(file);
    if (!info.dir().exists()) {
        *error = QStringLiteral("папки %1 нет").arg(QDir::toNativeSeparators(info.absolutePath()));
        return false;
    }
#ifdef Q_OS_WIN
    // Explorer takes the path behind "/select," only as written there, in
    // quotes of its own.
    QProcess explorer;
    explorer.setProgram(QStringLiteral("explorer.exe"));
    explorer.setNativeArguments(QStringLiteral("/select,\"%1\"").arg(QDir::toNativeSeparators(info.absoluteFilePath())));
    if (explorer.startDetached())
        return true;
#endif
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(info.absolutePath()))) {
        *error = QStringLiteral("не удалось открыть папку %1").arg(QDir::toNativeSeparators(info.absolutePath()));
        return false;
    }
    return true;
}

} // namespace tarvil
