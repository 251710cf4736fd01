// Linked into every test executable: a test started by hand, outside CTest
// (which gives each test a home of its own), still never writes into the
// user's home. Before main() runs, HOME and the XDG folders point into a
// temporary folder that lives as long as the test.
#include <QByteArray>
#include <QTemporaryDir>
#include <QtGlobal>

namespace {

void useOwnHome()
{
    if (qEnvironmentVariableIsSet("TARVIL_TEST_HOME")) {
#ifdef Q_OS_WIN
        // Wine gives every program the prefix's own %APPDATA%, whatever the
        // test was started with: the test's folder is set here.
        qputenv("APPDATA", qgetenv("TARVIL_TEST_HOME") + "/appdata");
#endif
        return;
    }
    static QTemporaryDir home;
    if (!home.isValid())
        qFatal("no temporary folder for the test's home");
    const QByteArray path = home.path().toLocal8Bit();
    qputenv("TARVIL_TEST_HOME", path);
    qputenv("HOME", path);
    qputenv("XDG_CONFIG_HOME", path + "/config");
    qputenv("XDG_DATA_HOME", path + "/data");
    qputenv("XDG_CACHE_HOME", path + "/cache");
    qputenv("XDG_STATE_HOME", path + "/state");
    qputenv("APPDATA", path + "/appdata"); // where the journal goes on Windows
}

} // namespace

Q_CONSTRUCTOR_FUNCTION(useOwnHome)
