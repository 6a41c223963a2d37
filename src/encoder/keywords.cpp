// Every mnemonic and directive, in the order the dispatch tries them: the
// handler that encodes it, the number of operands it uses, and the opcode
// bases its handler builds on. A mnemonic is known here and nowhere else.
#include "encoder/keywords.h"

#include "front/short_text.h"

namespace orvane {

struct KeywordTable {
  using A = Assembler;
  // clang-format off
  static constexpr Keyword kAll[] = {
      // Directives.
      {"=", &A::EncodeEqu, 1},   {"EQU", &A::EncodeEqu, 1},
      {"DS", &A::EncodeDs, 1},   {"DEFS", &A::EncodeDs, 1},
      {"DW", &A::EncodeDw, 1},   {"DEFW", &A::EncodeDw, 1},
      {"DB", &A::EncodeDb, 1},   {"DEFB", &A::EncodeDb, 1},
      {"ORG", &A::EncodeOrg, 1}, {"END", &A::EncodeEnd, 1},
      // Fixed opcodes: the code itself, ED-prefixed above FF.
      {"NOP", &A::EncodeFixed, 0, 0x00},    {"RLCA", &A::EncodeFixed, 0, 0x07},
      {"RRCA", &A::EncodeFixed, 0, 0x0F},   {"RLA", &A::EncodeFixed, 0, 0x17},
      {"RRA", &A::EncodeFixed, 0, 0x1F},    {"DAA", &A::EncodeFixed, 0, 0x27},
      {"CPL", &A::EncodeFixed, 0, 0x2F},    {"SCF", &A::EncodeFixed, 0, 0x37},
      {"CCF", &A::EncodeFixed, 0, 0x3F},    {"HALT", &A::EncodeFixed, 0, 0x76},
      {"EXX", &A::EncodeFixed, 0, 0xD9},    {"DI", &A::EncodeFixed, 0, 0xF3},
      {"EI", &A::EncodeFixed, 0, 0xFB},     {"NEG", &A::EncodeFixed, 0, 0xED44},
      {"RETN", &A::EncodeFixed, 0, 0xED45}, {"RETI", &A::EncodeFixed, 0, 0xED4D},
      {"RRD", &A::EncodeFixed, 0, 0xED67},  {"RLD", &A::EncodeFixed, 0, 0xED6F},
      {"LDI", &A::EncodeFixed, 0, 0xEDA0},  {"CPI", &A::EncodeFixed, 0, 0xEDA1},
      {"INI", &A::EncodeFixed, 0, 0xEDA2},  {"OUTI", &A::EncodeFixed, 0, 0xEDA3},
      {"LDD", &A::EncodeFixed, 0, 0xEDA8},  {"CPD", &A::EncodeFixed, 0, 0xEDA9},
      {"IND", &A::EncodeFixed, 0, 0xEDAA},  {"OUTD", &A::EncodeFixed, 0, 0xEDAB},
      {"LDIR", &A::EncodeFixed, 0, 0xEDB0}, {"CPIR", &A::EncodeFixed, 0, 0xEDB1},
      {"INIR", &A::EncodeFixed, 0, 0xEDB2}, {"OTIR", &A::EncodeFixed, 0, 0xEDB3},
      {"LDDR", &A::EncodeFixed, 0, 0xEDB8}, {"CPDR", &A::EncodeFixed, 0, 0xEDB9},
      {"INDR", &A::EncodeFixed, 0, 0xEDBA}, {"OTDR", &A::EncodeFixed, 0, 0xEDBB},
      {"EX", &A::EncodeEx, 2},
      {"LD", &A::EncodeLd, 2},
      // INC and DEC: the r form (00 rrr 10x) and the rr form (00 rrx 011).
      {"INC", &A::EncodeIncDec, 1, 0x04, 0x03}, {"DEC", &A::EncodeIncDec, 1, 0x05, 0x0B},
      // The arithmetic-logic group: the r form (10 ooo rrr); ADD, ADC and SBC
      // name the accumulator and have a 16-bit form on HL as well.
      {"ADD", &A::EncodeArith, 2, 0x80, 0x09}, {"ADC", &A::EncodeArith, 2, 0x88, 0xED4A},
      {"SUB", &A::EncodeArith, 1, 0x90},       {"SBC", &A::EncodeArith, 2, 0x98, 0xED42},
      {"AND", &A::EncodeArith, 1, 0xA0},       {"XOR", &A::EncodeArith, 1, 0xA8},
      {"OR", &A::EncodeArith, 1, 0xB0},        {"CP", &A::EncodeArith, 1, 0xB8},
      // Stack and control transfer: the unconditional code, then the cc base.
      {"POP", &A::EncodePopPush, 1, 0xC1}, {"PUSH", &A::EncodePopPush, 1, 0xC5},
      {"DJNZ", &A::EncodeDjnz, 1, 0x10},   {"JR", &A::EncodeJr, 2, 0x18, 0x20},
      {"RET", &A::EncodeRet, 1, 0xC9, 0xC0}, {"JP", &A::EncodeJp, 2, 0xC3, 0xC2},
      {"CALL", &A::EncodeCall, 2, 0xCD, 0xC4}, {"RST", &A::EncodeRst, 1, 0xC7},
      {"IM", &A::EncodeIm, 1}, {"OUT", &A::EncodeOut, 2}, {"IN", &A::EncodeIn, 2},
      // The CB page: rotates and shifts (00 ooo rrr), bit operations (oo bbb rrr).
      {"RLC", &A::EncodeShift, 1, 0x00}, {"RRC", &A::EncodeShift, 1, 0x08},
      {"RL", &A::EncodeShift, 1, 0x10},  {"RR", &A::EncodeShift, 1, 0x18},
      {"SLA", &A::EncodeShift, 1, 0x20}, {"SRA", &A::EncodeShift, 1, 0x28},
      {"SRL", &A::EncodeShift, 1, 0x38},
      {"BIT", &A::EncodeBit, 2, 0x40},   {"RES", &A::EncodeBit, 2, 0x80},
      {"SET", &A::EncodeBit, 2, 0xC0},
  };
  // clang-format on
};

const Keyword* FindKeyword(std::string_view OpcodeFld) {
  // The keywords are all different, so the first equal one in the order
  // above is the only one; a packed table of the texts finds it directly.
  static const auto table = [] {
    ShortTextMap<const Keyword*, 256> t;
    for (const Keyword& k : KeywordTable::kAll) t.Insert(k.text, &k);
    return t;
  }();
  const Keyword* const* k = table.Find(OpcodeFld);
  return k ? *k : nullptr;
}

}  // namespace orvane
