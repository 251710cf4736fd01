#pragma once

#include <QString>

namespace tarvil {

inline constexpr char kCatalogueFileName[] = "CentralType.txt";

// Where the sample catalogue is installed for a program in `programDir`:
// <prefix>/share/tarvil-config/CentralType.txt beside <prefix>/bin.
QString installedCataloguePath(const QString &programDir);

// The catalogue the window loads. CentralType.txt in the working folder comes
// first, named as it always was; only when the working folder has nothing of
// that name does the sample installed with the program stand in, so that a
// tool started from the desktop menu (in the user's home) has its panel
// types. A program with no installed sample beside it (one in the build
// tree) gets the working folder's name whatever is there.
QString catalogueToLoad(const QString &programDir);

} // namespace tarvil
