#pragma once

#include "cli/Cli.h"

// The commands that talk to a transceiver, and the journal.
namespace tarvil::cli {

int readCommand(Context &c);
int writeCommand(Context &c);
int verifyCommand(Context &c);
int portsCommand(Context &c);
int journalCommand(Context &c);

} // namespace tarvil::cli
