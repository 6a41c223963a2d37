#include "profile/recorder.h"

namespace orvane::profile {

// The opcodes that may leave the straight line in a way the profile keeps:
// calls and returns move between routines; the conditional ones count which
// way they went.
const std::array<Recorder::FlowKind, 256> Recorder::kFlow = [] {
  std::array<FlowKind, 256> k{};
  for (int cc = 0; cc < 8; ++cc) {
    k[0xC0 | cc << 3] = kReturnIf;  // RET cc
    k[0xC2 | cc << 3] = kJump3;     // JP cc,nn
    k[0xC4 | cc << 3] = kCallIf;    // CALL cc,nn
    k[0xC7 | cc << 3] = kRst;       // RST p
  }
  for (int op : {0x10, 0x20, 0x28, 0x30, 0x38}) k[op] = kJump2;  // DJNZ, JR cc
  k[0xCD] = kCall;
  k[0xC9] = kReturn;
  k[0xED] = kPrefixEd;  // RETN, RETI, and the block repeats
  return k;
}();

Recorder::Recorder(uint16_t entry) {
  current_ = RoutineAt(entry);
}

uint32_t Recorder::RoutineAt(uint16_t address) {
  int32_t& i = routineIndex_[address];
  if (i < 0) {
    i = static_cast<int32_t>(routines_.size());
    routines_.push_back(address);
  }
  return static_cast<uint32_t>(i);
}

void Recorder::Elsewhere(uint16_t pc, uint32_t tstates) {
  Slot& s = slots_[pc];
  if (s.routine == UINT32_MAX) {
    s.routine = current_;
    s.cost = {1, tstates};
    return;
  }
  Cost& c = shared_[uint64_t{current_} << 16 | pc];
  c.instructions += 1;
  c.tstates += tstates;
}

void Recorder::Call(uint16_t site, uint16_t target) {
  if (frames_.size() >= kMaxDepth) frames_.erase(frames_.begin(), frames_.begin() + kMaxDepth / 8);
  const uint32_t callee = RoutineAt(target);
  frames_.push_back({current_, callee, site, total_});
  current_ = callee;
}

void Recorder::Return() {
  if (frames_.empty()) return;  // the program's own return to 0000H
  const Frame f = frames_.back();
  frames_.pop_back();
  Arc& a = calls_[uint64_t{f.caller} << 40 | uint64_t{f.site} << 24 | f.callee];
  a.calls += 1;
  a.inclusive.instructions += total_.instructions - f.start.instructions;
  a.inclusive.tstates += total_.tstates - f.start.tstates;
  current_ = f.caller;
}

void Recorder::Flow(uint16_t pc, uint16_t next, uint8_t op, uint8_t op2) {
  switch (kFlow[op]) {
    case kCall: return Call(pc, next);
    case kRst: return Call(pc, next);
    case kCallIf:
      if (next == static_cast<uint16_t>(pc + 3)) return;
      ++taken_[pc];
      return Call(pc, next);
    case kReturn: return Return();
    case kReturnIf:
      if (next == static_cast<uint16_t>(pc + 1)) return;
      ++taken_[pc];
      return Return();
    case kJump2:
      if (next != static_cast<uint16_t>(pc + 2)) ++taken_[pc];
      return;
    case kJump3:
      if (next != static_cast<uint16_t>(pc + 3)) ++taken_[pc];
      return;
    case kPrefixEd:
      if (op2 == 0x45 || op2 == 0x4D) return Return();          // RETN, RETI
      if ((op2 & 0xF4) == 0xB0 && next == pc) ++taken_[pc];    // LDIR ... OTDR repeating
      return;
    case kNone: return;
  }
}

void Recorder::AddTstates(uint16_t pc, uint32_t tstates) {
  total_.tstates += tstates;
  Slot& s = slots_[pc];
  if (s.routine == UINT32_MAX) s.routine = current_;
  (s.routine == current_ ? s.cost : shared_[uint64_t{current_} << 16 | pc]).tstates += tstates;
}

void Recorder::Interrupted(uint16_t pc, uint16_t handler, uint32_t tstates) {
  // The acknowledge cycle is the handler's, at its first address.
  Call(pc, handler);
  AddTstates(handler, tstates);
}

void Recorder::Served(uint16_t entry, uint16_t /*next*/, uint32_t tstates) {
  AddTstates(entry, tstates);
  Return();
}

void Recorder::Finish() {
  if (finished_) return;
  finished_ = true;
  while (!frames_.empty()) Return();
  self_.assign(routines_.size(), {});
  for (uint32_t pc = 0; pc < 65536; ++pc)
    if (slots_[pc].routine != UINT32_MAX) self_[slots_[pc].routine][static_cast<uint16_t>(pc)] += slots_[pc].cost;
  all_.assign(65536, {});
  for (uint32_t pc = 0; pc < 65536; ++pc) all_[pc] = slots_[pc].cost;
  for (const auto& [key, c] : shared_) {
    self_[key >> 16][static_cast<uint16_t>(key & 0xFFFF)] += c;
    all_[key & 0xFFFF] += c;
  }
  for (const auto& [key, a] : calls_) {
    Arc& to = arcs_[{static_cast<size_t>(key >> 40), static_cast<uint16_t>(key >> 24), static_cast<size_t>(key & 0xFFFFFF)}];
    to.calls += a.calls;
    to.inclusive += a.inclusive;
  }
}

}  // namespace orvane::profile
