// Fixed opcodes and EX.
#include <cstdint>
#include <string_view>

#include "encoder/assembler.h"

namespace orvane {

namespace {

// Instructions whose code never depends on an operand. Operands written after
// them are ignored.
struct FixedOpcode {
  std::string_view mnemonic;
  std::string_view code;  // object bytes as hex text
};

constexpr FixedOpcode kFixedOpcodes[] = {
    {"NOP", "00"},    {"RLCA", "07"},   {"RRCA", "0F"},   {"RLA", "17"},
    {"RRA", "1F"},    {"DAA", "27"},    {"CPL", "2F"},    {"SCF", "37"},
    {"CCF", "3F"},    {"HALT", "76"},   {"EXX", "D9"},    {"DI", "F3"},
    {"EI", "FB"},     {"NEG", "ED44"},  {"RETN", "ED45"}, {"RETI", "ED4D"},
    {"RRD", "ED67"},  {"RLD", "ED6F"},  {"LDI", "EDA0"},  {"CPI", "EDA1"},
    {"INI", "EDA2"},  {"OUTI", "EDA3"}, {"LDD", "EDA8"},  {"CPD", "EDA9"},
    {"IND", "EDAA"},  {"OUTD", "EDAB"}, {"LDIR", "EDB0"}, {"CPIR", "EDB1"},
    {"INIR", "EDB2"}, {"OTIR", "EDB3"}, {"LDDR", "EDB8"}, {"CPDR", "EDB9"},
    {"INDR", "EDBA"}, {"OTDR", "EDBB"},
};

}  // namespace

void Assembler::EncodeFixed() {
  for (const FixedOpcode& f : kFixedOpcodes) {
    if (f.mnemonic == Fields.OpcodeFld) {
      Emit(f.code, static_cast<int32_t>(f.code.size() / 2));
      return;
    }
  }
}

// EX AF,AF' / EX (SP),HL / EX (SP),IX / EX (SP),IY / EX DE,HL, in that operand
// order only. Every rejection names the source, whichever operand is wrong,
// and still occupies one byte.
void Assembler::EncodeEx() {
  ByteCount = 1;
  if (Op1Type == reg::AF) {
    if (Op2Type == reg::AFAlt) {
      Emit("08", 1);
      return;
    }
  } else if (Op1Type == reg::SPInd) {
    switch (Op2Type) {
      case reg::HL: Emit("E3", 1); return;
      case reg::IX: Emit("DDE3", 2); return;
      case reg::IY: Emit("FDE3", 2); return;
      default: break;
    }
  } else if (Op1Type == reg::DE) {
    if (Op2Type == reg::HL) {
      Emit("EB", 1);
      return;
    }
  }
  Error(msg::kBadSource);
}

}  // namespace orvane
