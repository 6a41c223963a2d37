// A debug session's breakpoints: on statements, each with a condition and a
// hit count, and on data, a range of bytes whose writing stops the run. The
// run loop asks two bitmaps whether an address needs a look at all, and asks
// here whether an arrival stops.
#pragma once
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "debug/expression.h"
#include "debug/program_map.h"
#include "debug/session.h"
#include "runner/cpu.h"

namespace orvane::debug {

class Breakpoints {
 public:
  // A breakpoint at address (line: its statement's line, or 0); its id. A
  // condition that cannot be read sets error and the breakpoint's error,
  // the same text for every front end; such a breakpoint never stops (the
  // user mends it by setting it again).
  int Add(uint16_t address, int line, std::string_view condition, int hitCount, const ProgramMap& program,
          std::string& error);
  bool Remove(int id);
  void Clear();
  std::vector<Breakpoint> List() const;

  // Stops right after a write to first..last; name is for the description.
  int AddData(uint16_t first, uint16_t last, std::string name);
  bool RemoveData(int id);
  void ClearData();
  const std::vector<DataBreakpoint>& Data() const { return data_; }

  // 1 at every address with a breakpoint, and at every watched byte.
  const uint8_t* at() const { return at_.data(); }
  const uint8_t* watched() const { return watched_.data(); }
  bool anyWatch() const { return !data_.empty(); }

  // The breakpoint at pc that stops the program arriving there going
  // forward, or 0: its condition holds, the arrival (the state after
  // instruction number pos) is counted and its hit count decides.
  int Arrive(uint16_t pc, const runner::Cpu& cpu, const runner::Memory& memory, uint64_t pos);
  // The same going backward to pos: the arrival there stopped the program,
  // or would have, had the breakpoint been set (a hit count: only the arrival
  // counted as the Nth).
  int Left(uint16_t pc, const runner::Cpu& cpu, const runner::Memory& memory, uint64_t pos) const;
  // Stepped back to pos: the arrivals after it never happened.
  void Undo(uint64_t pos) {
    if (arrivals_ != 0) UndoArrivals(pos);
  }
  // Nothing goes back before pos: the arrivals before it are only counted.
  void Forget(uint64_t pos);
  void ResetHits();

  // How a stop names a watched byte ("COUNT", "BUF+3", "0200H"), and the
  // data breakpoint's id.
  std::string WatchName(uint16_t address) const;
  int WatchId(uint16_t address) const;

 private:
  struct Entry {
    Breakpoint bp;
    std::optional<Condition> condition;
    std::deque<uint64_t> arrivals;  // where the arrivals still in the history were, the last hits-th
  };
  void Rebuild();
  void UndoArrivals(uint64_t pos);
  size_t arrivals_ = 0;  // kept in every entry's arrivals
  int nextId_ = 1;
  std::vector<Entry> entries_;
  std::vector<DataBreakpoint> data_;
  std::vector<uint8_t> at_ = std::vector<uint8_t>(65536), watched_ = std::vector<uint8_t>(65536);
};

}  // namespace orvane::debug
