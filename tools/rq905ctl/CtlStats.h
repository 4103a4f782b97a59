// rq905ctl --stats: the link statistics of the shared library, and their
// summary as JSON, which only this tool writes.
#pragma once

#include <string>

#include "linkstats/LinkStats.h"
#include "linkstats/StatsRecorder.h"

std::string StatsJson(const TLinkStats& stats, bool perAddress);
