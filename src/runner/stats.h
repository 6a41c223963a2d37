// The figures of a finished run as people read them.
#pragma once
#include <cstdint>
#include <string>

#include "runner/machine.h"

namespace orvane::runner {

// "12,929,375" for 12929375.
std::string Grouped(uint64_t n);
// "12,929,375 T-states, 3,412,001 instructions, 4.1 ms, 3,153.5 MHz effective".
std::string StatsLine(const RunResult& r);
// "4.1 ms", "2.35 s".
std::string Duration(double seconds);

}  // namespace orvane::runner
