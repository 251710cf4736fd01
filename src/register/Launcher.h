#pragma once

#include <QString>

namespace tarvil {

// What the register asks of the system: to start the configuration tool with
// a file, and to show the folder that holds one. Tests put a recording fake
// in its place, so that nothing is started.
class Launcher {
public:
    virtual ~Launcher() = default;
    // False, with the reason in `error`, when nothing could be started.
    virtual bool openInConfigTool(const QString &file, QString *error) = 0;
    virtual bool showInFolder(const QString &file, QString *error) = 0;
};

// The real one: tarvil-config beside this program, started on its own (it
// outlives the register); the folder in the system's file manager, with the
// file selected where the system can do that (Windows).
class SystemLauncher : public Launcher {
public:
    // The configuration tool this launcher starts.
    static QString configToolPath();

    bool openInConfigTool(const QString &file, QString *error) override;
    bool showInFolder(const QString &file, QString *error) override;
};

} // namespace tarvil
