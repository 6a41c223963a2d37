#include "runner/stats.h"

#include <cstdio>

namespace orvane::runner {

std::string Grouped(uint64_t n) {
  const std::string digits = std::to_string(n);
  std::string s;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) s += ',';
    s += digits[i];
  }
  return s;
}

std::string Duration(double seconds) {
  char b[32];
  if (seconds < 1)
    std::snprintf(b, sizeof b, "%.1f ms", seconds * 1e3);
  else
    std::snprintf(b, sizeof b, "%.2f s", seconds);
  return b;
}

std::string StatsLine(const RunResult& r) {
  std::string line = Grouped(r.tstates) + " T-states, " + Grouped(r.instructions) + " instructions, " +
                     Duration(r.seconds);
  // Under 10 ms the clock's resolution and the start-up dominate: no rate.
  if (r.seconds < kShortestRated) return line + ", too short to give a rate";
  const uint64_t tenths = static_cast<uint64_t>(static_cast<double>(r.tstates) / r.seconds / 1e5 + 0.5);
  return line + ", " + Grouped(tenths / 10) + "." + std::to_string(tenths % 10) + " MHz effective";
}

}  // namespace orvane::runner
