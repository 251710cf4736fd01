#pragma once

#include "cli/Cli.h"

namespace tarvil::cli {

// register: the journal as one entry per transceiver.
int registerCommand(Context &c);

} // namespace tarvil::cli
