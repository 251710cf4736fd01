#pragma once

// The dialogs adapter is declared with the link, which shows its boxes
// through it; the window implements it with Qt.
#include "link/Dialogs.h"
