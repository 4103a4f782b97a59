// The configuration file is the program's and rq905ctl's alike.
#pragma once

#include "core/ConfigFile.h"
