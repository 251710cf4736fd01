#include "TestEnv.h"
