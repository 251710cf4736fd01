#include "FakeAdapters.h"
