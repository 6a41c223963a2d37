// What a debugger lets the user name: registers, flags, symbols, numbers in
// the assembler's forms and (X), the byte at X; and breakpoint conditions
// NAME OP VALUE made of them. Parsed once, evaluated at every arrival.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "debug/program_map.h"
#include "runner/cpu.h"

namespace orvane::debug {

// The registers by index into RegisterTable(): A F B C D E H L AF BC DE HL IX
// IY SP PC AF' BC' DE' HL' I R, then the flags SF ZF HF PVF NF CF.
enum RegisterIndex : int {
  kA, kF, kB, kC, kD, kE, kH, kL, kAF, kBC, kDE, kHL, kIX, kIY, kSP, kPC, kAF2, kBC2, kDE2, kHL2, kI, kR,
  kFlagS, kFlagZ, kFlagH, kFlagPV, kFlagN, kFlagC, kRegisterCount
};
// The name each index is listed under; no flag's name is a register's.
const char* RegisterName(int index);
// The width in bits: 8, 16, or 1 for a flag.
int RegisterWidth(int index);
// The index a name gives (any case): "H" and "C" are the registers, the flags
// are "SF" "ZF" "HF" "PVF" "NF" "CF" (also the older "S" "Z" "PV" "PF" "N",
// which no register shares); -1 for no register.
int FindRegister(std::string_view name);
uint32_t ReadRegister(const runner::Cpu& cpu, int index);
void WriteRegister(runner::Cpu& cpu, int index, uint32_t value);

// One side of a condition, or an expression to show.
struct Operand {
  enum Kind { kRegister, kConstant } kind = kConstant;
  int reg = -1;           // kRegister
  uint32_t constant = 0;  // kConstant
  bool deref = false;     // (X): the byte at the address
  int width = 16;         // of the result: 1, 8 or 16
  uint32_t Eval(const runner::Cpu& cpu, const runner::Memory& memory) const;
};

// A register, a flag, a symbol, a number (decimal, &H.., &O..; a word, or a
// negative one's bits) or (X) with X a register pair, a symbol or an address
// from 0 to 65535. Empty with error set otherwise, naming the range for a
// value outside it.
std::optional<Operand> ParseOperand(std::string_view text, const ProgramMap& program, std::string& error);

struct Condition {
  Operand left, right;
  enum Op { kEq, kNe, kLt, kLe, kGt, kGe } op = kEq;
  bool Holds(const runner::Cpu& cpu, const runner::Memory& memory) const;
};

// NAME OP VALUE; empty with error set when it is not one, or VALUE is a
// number NAME cannot hold (A == 300).
std::optional<Condition> ParseCondition(std::string_view text, const ProgramMap& program, std::string& error);

// "0100H (256)", "3FH (63)", a flag "1".
std::string FormatValue(uint32_t value, int width);
// "0102H".
std::string Hex4(uint32_t value);

}  // namespace orvane::debug
