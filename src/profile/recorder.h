// The counts of a run, per address and per routine: how often each
// instruction ran and the T-states it took, which routine (a CALL, RST or
// interrupt target, or the program's entry) ran it, how often each routine
// called each other one from which address and with what inclusive cost,
// and how often each conditional jump, call, return or block repeat went
// each way.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "profile/observer.h"

namespace orvane::profile {

struct Cost {
  uint64_t instructions = 0, tstates = 0;
  Cost& operator+=(const Cost& c) {
    instructions += c.instructions;
    tstates += c.tstates;
    return *this;
  }
};

class Recorder final : public ExecutionObserver {
 public:
  // entry: where the program starts, its first routine.
  explicit Recorder(uint16_t entry);

  void Executed(uint16_t pc, uint16_t next, uint32_t tstates, uint8_t op, uint8_t op2) override {
    total_.instructions += 1;
    total_.tstates += tstates;
    Slot& s = slots_[pc];
    if (s.routine == current_) {
      s.cost.instructions += 1;
      s.cost.tstates += tstates;
    } else {
      Elsewhere(pc, tstates);
    }
    if (kFlow[op] != kNone) Flow(pc, next, op, op2);
  }
  void Interrupted(uint16_t pc, uint16_t handler, uint32_t tstates) override;
  void Served(uint16_t entry, uint16_t next, uint32_t tstates) override;
  // Closes the routines still running when the run ended (a program that
  // ends by a jump to 0000H from inside a routine) as if they returned now.
  void Finish();

  struct Arc {
    uint64_t calls = 0;
    Cost inclusive;
  };
  // Routines by the address they start at, in the order first called.
  const std::vector<uint16_t>& routines() const { return routines_; }
  // What each routine ran itself, by address; and what it called.
  // (After Finish.)
  const std::map<uint16_t, Cost>& Self(size_t routine) const { return self_[routine]; }
  // (caller, call site, callee) -> calls and inclusive cost.
  const std::map<std::tuple<size_t, uint16_t, size_t>, Arc>& arcs() const { return arcs_; }
  // Every routine together, by address (after Finish).
  const Cost& At(uint16_t pc) const { return all_[pc]; }
  // How often the conditional instruction at pc went the first way (jumped,
  // called, returned, repeated) and how often the other.
  uint64_t Taken(uint16_t pc) const { return taken_[pc]; }
  uint64_t NotTaken(uint16_t pc) const { return At(pc).instructions - taken_[pc]; }
  const Cost& total() const { return total_; }
  // Frames dropped when calls went this deep without returns (a program that
  // pops its return addresses): their calls count, their returns cannot.
  static constexpr size_t kMaxDepth = 4096;

 private:
  enum FlowKind : uint8_t { kNone, kCall, kCallIf, kRst, kReturn, kReturnIf, kJump2, kJump3, kPrefixEd };
  static const std::array<FlowKind, 256> kFlow;
  struct Slot {
    uint32_t routine = UINT32_MAX;  // the routine that ran it first
    Cost cost;                      // what that routine spent here
  };
  struct Frame {
    uint32_t caller, callee;
    uint16_t site;
    Cost start;
  };
  void Elsewhere(uint16_t pc, uint32_t tstates);
  // T-states without an instruction (an interrupt's acknowledge, a served
  // call), at pc in the current routine.
  void AddTstates(uint16_t pc, uint32_t tstates);
  void Flow(uint16_t pc, uint16_t next, uint8_t op, uint8_t op2);
  void Call(uint16_t site, uint16_t target);
  void Return();
  uint32_t RoutineAt(uint16_t address);

  std::vector<Slot> slots_ = std::vector<Slot>(65536);
  std::vector<uint64_t> taken_ = std::vector<uint64_t>(65536);
  std::vector<int32_t> routineIndex_ = std::vector<int32_t>(65536, -1);
  std::vector<uint16_t> routines_;
  // An address run by another routine than the one that ran it first (code
  // two routines share): (routine << 16 | pc) -> cost.
  std::unordered_map<uint64_t, Cost> shared_;
  std::vector<Frame> frames_;
  uint32_t current_ = 0;
  Cost total_;
  std::unordered_map<uint64_t, Arc> calls_;  // caller << 40 | site << 24 | callee
  std::map<std::tuple<size_t, uint16_t, size_t>, Arc> arcs_;
  std::vector<std::map<uint16_t, Cost>> self_;
  std::vector<Cost> all_;
  bool finished_ = false;
};

}  // namespace orvane::profile
