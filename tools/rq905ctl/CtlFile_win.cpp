#include "CtlFile.h"

// Windows hands out handles, not the lowest free number: nothing to hold.
void ReserveStandardStreams() {}
