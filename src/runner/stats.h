// The figures of a finished run as people read them.
#pragma once
#include <cstdint>
#include <string>

#include "runner/machine.h"

namespace orvane::runner {

// "12,929,375" for 12929375.
std::string Grouped(uint64_t n);
// A run shorter than this gets no rate.
constexpr double kShortestRated = 0.01;
// "12,929,375 T-states, 3,412,001 instructions, 41.0 ms, 1,153.5 MHz effective";
// "98 T-states, 4 instructions, 0.1 ms, too short to give a rate".
std::string StatsLine(const RunResult& r);
// "4.1 ms", "2.35 s".
std::string Duration(double seconds);

}  // namespace orvane::runner
