// Every instruction form the assembler accepts, made by the assembler itself
// from every mnemonic and every combination of operand classes, is run on
// libz80ex; the T-states libz80ex counts must be what the timing table gives.
// A conditional form runs with the flags all clear and all set (and B, BC at
// 1 and at 257 for DJNZ and the block instructions), so that both of its
// outcomes happen.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "encoder/assembler.h"
#include "encoder/timing.h"
#include "row_file.h"

extern "C" {
#include <z80ex/z80ex.h>
}

namespace orvane {
namespace {

// The Z80 mnemonics (Zilog's manual), and operands of every class the
// operand reader knows: registers, pairs, indirect and indexed forms,
// conditions, small and large numbers, addresses.
const char* const kMnemonics[] = {
    "NOP",  "RLCA", "RRCA", "RLA",  "RRA",  "DAA",  "CPL",  "SCF",  "CCF",  "HALT", "EXX",  "DI",   "EI",
    "NEG",  "RETN", "RETI", "RRD",  "RLD",  "LDI",  "CPI",  "INI",  "OUTI", "LDD",  "CPD",  "IND",  "OUTD",
    "LDIR", "CPIR", "INIR", "OTIR", "LDDR", "CPDR", "INDR", "OTDR", "EX",   "LD",   "INC",  "DEC",  "ADD",
    "ADC",  "SUB",  "SBC",  "AND",  "XOR",  "OR",   "CP",   "POP",  "PUSH", "DJNZ", "JR",   "RET",  "JP",
    "CALL", "RST",  "IM",   "OUT",  "IN",   "RLC",  "RRC",  "RL",   "RR",   "SLA",  "SRA",  "SRL",  "SLL",
    "BIT",  "RES",  "SET"};
const char* const kOperands[] = {
    "A",      "B",      "C",      "D",       "E",       "H",       "L",       "I",       "R",     "F",
    "BC",     "DE",     "HL",     "SP",      "AF",      "AF'",     "IX",      "IY",      "IXH",   "IXL",
    "IYH",    "IYL",    "(HL)",   "(BC)",    "(DE)",    "(SP)",    "(C)",     "(IX)",    "(IY)",  "(IX+5)",
    "(IY+5)", "(IX-3)", "(IY-3)", "NZ",      "Z",       "NC",      "PO",      "PE",      "P",     "M",
    "0",      "1",      "2",      "7",       "8",       "&H10",    "&H38",    "&H40",    "&H1234", "(&H12)",
    "(&H1234)", "$+&H20", "$-4"};

struct Form {
  std::string line;
  std::vector<uint8_t> bytes;
};

// Assembles one line as a whole run (both passes) at origin 0; the bytes when
// the assembler takes it without an error.
bool Assemble(Assembler& as, const std::string& line, std::vector<uint8_t>& bytes) {
  as.BeginRun(RunOptions{});
  for (int pass = 1; pass <= 2; ++pass) {
    as.BeginPass(pass);
    as.Step(line);
  }
  const Statement& s = as.Result();
  if (s.hasErrors || s.bytes.empty() || !s.toObject) return false;
  bytes.assign(s.bytes.begin(), s.bytes.end());
  return true;
}

// Every accepted form, one per distinct encoding.
std::vector<Form> AcceptedForms() {
  Assembler as;
  // Keyed by the bytes as a string: the same order as the vectors', without
  // GCC 12's false -Wstringop-overread on comparing vectors at -O3.
  std::map<std::string, std::string> seen;
  std::vector<uint8_t> bytes;
  auto tryLine = [&](const std::string& line) {
    if (Assemble(as, line, bytes)) seen.emplace(std::string(bytes.begin(), bytes.end()), line);
  };
  for (const char* m : kMnemonics) {
    tryLine(std::string("  ") + m);
    for (const char* a : kOperands) {
      tryLine(std::string("  ") + m + " " + a);
      for (const char* b : kOperands) tryLine(std::string("  ") + m + " " + a + "," + b);
    }
  }
  std::vector<Form> forms;
  for (auto& [b, line] : seen) forms.push_back({line, std::vector<uint8_t>(b.begin(), b.end())});
  return forms;
}

uint8_t memory[65536];
Z80EX_BYTE ReadMem(Z80EX_CONTEXT*, Z80EX_WORD a, int, void*) { return memory[a]; }
void WriteMem(Z80EX_CONTEXT*, Z80EX_WORD a, Z80EX_BYTE v, void*) { memory[a] = v; }
Z80EX_BYTE ReadPort(Z80EX_CONTEXT*, Z80EX_WORD, void*) { return 0x5A; }
void WritePort(Z80EX_CONTEXT*, Z80EX_WORD, Z80EX_BYTE, void*) {}
Z80EX_BYTE IntVector(Z80EX_CONTEXT*, void*) { return 0xFF; }

struct Outcome {
  int tstates;
  uint16_t pc;
};

// Runs the bytes at 0000H once, prefixes and all, on a fresh CPU with the
// given flags and BC; the T-states libz80ex counts and where PC is after.
Outcome RunOnce(const std::vector<uint8_t>& bytes, uint8_t flags, uint16_t bc) {
  std::fill(std::begin(memory), std::end(memory), 0);
  std::copy(bytes.begin(), bytes.end(), memory);
  Z80EX_CONTEXT* cpu = z80ex_create(ReadMem, nullptr, WriteMem, nullptr, ReadPort, nullptr, WritePort, nullptr,
                                    IntVector, nullptr);
  z80ex_set_reg(cpu, regAF, 0x5500 | flags);
  z80ex_set_reg(cpu, regBC, bc);
  z80ex_set_reg(cpu, regDE, 0x9100);
  z80ex_set_reg(cpu, regHL, 0x9000);
  z80ex_set_reg(cpu, regIX, 0x9200);
  z80ex_set_reg(cpu, regIY, 0x9300);
  z80ex_set_reg(cpu, regSP, 0xC000);
  z80ex_set_reg(cpu, regPC, 0);
  int t = z80ex_step(cpu);
  while (z80ex_last_op_type(cpu) != 0) t += z80ex_step(cpu);
  const Outcome o{t, z80ex_get_reg(cpu, regPC)};
  z80ex_destroy(cpu);
  return o;
}

// Whether a jump's target is the next instruction, where taken and not
// taken cannot be told apart by PC.
bool TargetIsNext(const std::vector<uint8_t>& b) {
  const uint8_t op = b[0];
  if ((op == 0x10 || op == 0x18 || (op & 0xE7) == 0x20) && b.size() == 2) return b[1] == 0;
  if (((op & 0xC7) == 0xC2 || (op & 0xC7) == 0xC4) && b.size() == 3) return b[1] == 3 && b[2] == 0;
  return false;
}

TEST(TimingOracle, EveryAcceptedFormTakesWhatTheTableSays) {
  const std::vector<Form> forms = AcceptedForms();
  // Some 1200 distinct encodings (every register, pair, condition, bit and
  // index form); fewer means the operand list lost a class.
  EXPECT_GT(forms.size(), 1000u) << forms.size();
  int conditional = 0;
  for (const Form& f : forms) {
    SCOPED_TRACE(f.line);
    const Timing t = TimingOf(f.bytes);
    ASSERT_TRUE(t.Known()) << "no timing for an encoding the assembler makes";
    if (TargetIsNext(f.bytes)) continue;
    const bool repeat = t.kind == Timing::Kind::kRepeat;
    std::set<bool> outcomes;
    for (auto [flags, bc] : {std::pair<uint8_t, uint16_t>{0x00, 0x0101}, {0xFF, 0x0001}}) {
      const Outcome o = RunOnce(f.bytes, flags, bc);
      const uint16_t next = static_cast<uint16_t>(f.bytes.size());
      // A repeating instruction goes back to itself; a jump that is taken
      // goes anywhere but to the next instruction.
      const bool first = repeat ? o.pc == 0 : t.kind == Timing::Kind::kBranch ? o.pc != next : true;
      outcomes.insert(first);
      EXPECT_EQ(o.tstates, first ? t.tstates : t.tstatesOther)
          << (first ? "taken" : "not taken") << ", flags " << int(flags) << ", BC " << bc;
    }
    if (t.kind != Timing::Kind::kPlain) {
      ++conditional;
      EXPECT_EQ(outcomes.size(), 2u) << "only one outcome happened";
    }
  }
  // JR cc and DJNZ, JP cc, CALL cc and RET cc (4+4+8 each), and the 8 block
  // repeats.
  EXPECT_GE(conditional, 4 + 1 + 8 + 8 + 8 + 8);
}

std::vector<uint8_t> Bytes(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t at = 0; at + 1 < hex.size(); at += 3) out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(at, 2), nullptr, 16)));
  return out;
}

// The figures a programmer reads off the manual (manual.txt).
TEST(TimingOracle, ManualFigures) {
  for (const auto& r : rows::Table(TIMING_ROWS, "timing")) {
    ASSERT_EQ(r.size(), 4u);
    const Timing t = TimingOf(Bytes(r[0]));
    EXPECT_EQ(TimingText(t), r[1]);
    EXPECT_EQ(t.mcycles, std::stoi(r[2])) << r[1];
    EXPECT_EQ(t.mcyclesOther, std::stoi(r[3])) << r[1];
  }
  for (const auto& r : rows::Table(TIMING_ROWS, "none")) EXPECT_FALSE(TimingOf(Bytes(r.at(0))).Known()) << r[0];
}

}  // namespace
}  // namespace orvane
