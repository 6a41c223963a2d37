// How long each Z80 instruction takes: T-states and machine cycles of the
// documented instruction set, as Zilog's manual gives them. A conditional
// jump, call or return has two figures (taken and not taken); a repeating
// block instruction (LDIR, CPIR, INIR, OTIR and their downward forms) has one
// for each byte it repeats on and one for the last.
#pragma once
#include <cstdint>
#include <span>
#include <string>

namespace orvane {

struct Timing {
  enum class Kind : uint8_t {
    kUnknown,  // not a documented instruction
    kPlain,    // always the same
    kBranch,   // taken / not taken
    kRepeat,   // repeating / the last time
  };
  Kind kind = Kind::kUnknown;
  uint8_t tstates = 0, tstatesOther = 0;  // kBranch: taken, not taken; kRepeat: repeating, last
  uint8_t mcycles = 0, mcyclesOther = 0;

  bool Known() const { return kind != Kind::kUnknown; }
  // Whether the two figures differ (JP cc takes 10 either way).
  bool Varies() const { return tstates != tstatesOther; }
  // The fewest and the most T-states a run of the instruction takes.
  int Least() const { return tstates < tstatesOther ? tstates : tstatesOther; }
  int Most() const { return tstates > tstatesOther ? tstates : tstatesOther; }
};

// The timing of the instruction whose bytes start `code` (prefixes, opcode
// and operands; only the opcode bytes are looked at). Unknown for an empty
// span, a cut-off instruction or an undocumented one.
Timing TimingOf(std::span<const uint8_t> code);

// "4", "12/7" (taken/not taken), "21/16" (repeating/last); "" when unknown.
std::string TimingText(const Timing& t);

}  // namespace orvane

namespace orvane {
struct Statement;
// The timing of an assembled statement: its instruction's, or unknown for a
// directive (DB, DW, DS and the rest), a statement without bytes and one
// with errors.
Timing StatementTiming(const Statement& s);
}  // namespace orvane
