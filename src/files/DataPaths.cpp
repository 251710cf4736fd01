#include "files/DataPaths.h"

#include <QDir>
#include <QFileInfo>

// Set by the build from the install layout (GNUInstallDirs).
#ifndef TARVIL_DATA_FROM_BIN
#define TARVIL_DATA_FROM_BIN "../share"
#endif

namespace tarvil {

QString installedCataloguePath(const QString &programDir)
{
    return QDir::cleanPath(programDir + QLatin1Char('/') + QStringLiteral(TARVIL_DATA_FROM_BIN)
                           + QStringLiteral("/tarvil-config/") + QString::fromLatin1(kCatalogueFileName));
}

QString catalogueToLoad(const QString &programDir)
{
    QString working = QString::fromLatin1(kCatalogueFileName);
    // Anything of that name, even a folder, keeps the working folder's rules.
    if (QFileInfo(working).exists() || QFileInfo(working).isSymLink())
        return working;
    if (!programDir.isEmpty()) {
        QString installed = installedCataloguePath(programDir);
        if (QFileInfo(installed).isFile())
            return installed;
    }
    return working;
}

} // namespace tarvil
