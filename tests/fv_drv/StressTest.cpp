#include "DriverHarness.h"
