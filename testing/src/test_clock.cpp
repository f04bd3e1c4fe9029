#include "testing/test_clock.h"
// The test clock is header-only; this unit keeps the fixture library non-empty.
