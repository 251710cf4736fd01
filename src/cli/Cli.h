#pragma once

// tarvil-cli: the core without a window. A command is one function and one
// entry of the command table (Commands.cpp): its name, its arguments, a line
// of help, an example, the options it takes and its handler. Everything a
// command does beyond reading its arguments and printing is in the core.

#include "model/PanelTypeCatalogue.h"

#include <QFile>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <memory>
#include <span>

namespace tarvil::cli {

// Exit statuses.
enum Status {
    Done = 0,        // done, or no difference found
    Differences = 1, // differences found
    Refused = 2,     // bad arguments, or input refused
    NoAnswer = 3,    // the transceiver did not answer, or the link failed
};

// The options a command may take; each command lists the ones it does.
enum Option : unsigned {
    Json = 1u << 0,
    Output = 1u << 1,
    Into = 1u << 2,
    Catalogue = 1u << 3,
    Lan = 1u << 4,
    Usb = 1u << 5,
    Verify = 1u << 6,
    Backup = 1u << 7,
    Serial = 1u << 8,
    TimeoutScale = 1u << 9,
    UdpPort = 1u << 10,
};

class Context {
public:
    Context(QFile &stdOut, QTextStream &err);

    QStringList args;   // the command's arguments, after its name
    bool json = false;  // --json
    QString output;     // -o, --output
    QString into;       // --into
    QString cataloguePath; // --catalogue; empty: CentralType.txt in the working folder, if there is one
    QString lan;           // --lan: the transceiver's address
    QString usb;           // --usb: the serial device
    bool verify = false;   // --verify
    QString backup;        // --backup: a folder
    QString serial;        // --serial
    double timeoutScale = 1.0; // --timeout-scale
    int udpPort = 9999;        // --udp-port

    // Results go to standard output, messages to standard error.
    QTextStream &out() { return out_; }
    QTextStream &err() { return err_; }
    void writeJson(const QJsonObject &document);
    void writeBytes(const QByteArray &bytes);
    // "tarvil-cli: SUBJECT: MESSAGE" on standard error; the status Refused.
    int refuse(const QString &subject, const QString &message);

    // The panel-type catalogue, read on first use. A bad line is reported as
    // the window reports it, and the rows before it are used; nothing when a
    // catalogue named with --catalogue cannot be read.
    const PanelTypeCatalogue *catalogue();

private:
    QFile &stdOut_;
    QTextStream out_;
    QTextStream &err_;
    std::unique_ptr<PanelTypeCatalogue> catalogue_;
    bool catalogueFailed_ = false;
};

struct Command {
    const char *name;
    const char *arguments; // as the help shows them
    const char *help;      // one line
    const char *example;
    unsigned options;  // the Option flags it takes
    unsigned required; // ... and those of them it cannot do without
    int minArgs;
    int maxArgs;
    int (*run)(Context &);
};

std::span<const Command> commands();

// The whole program: `arguments` with the program's name first.
int run(const QStringList &arguments, QFile &stdOut, QTextStream &err);
QString helpText();

} // namespace tarvil::cli
