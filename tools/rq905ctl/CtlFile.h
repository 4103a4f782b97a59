// Files that rq905ctl reads and writes besides the settings file: the
// configuration files of config save, apply and diff (core/SmallFile.h).
#pragma once

#include <string>

#include "core/SmallFile.h"

// A standard stream that the caller closed is held by a descriptor that
// cannot be written, so that no file or socket the tool opens later takes
// its number: output meant for the terminal must never reach a module.
void ReserveStandardStreams();
