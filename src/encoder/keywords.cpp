// Every mnemonic and directive, in the order the dispatch tries them: the
// handler that encodes it, the number of operands it uses, and the opcode
// bases its handler builds on. A mnemonic is known here and nowhere else.
#include "encoder/keywords.h"

#include <array>
#include <stdexcept>


namespace orvane {

struct KeywordTable {
  using A = Assembler;
  // A fixed opcode takes no operand; its code is ED-prefixed above FF.
  static constexpr Keyword Fixed(std::string_view text, uint16_t code) { return {text, &A::EncodeFixed, 0, code}; }
  // A rotate or shift takes one operand; its code is the register form's base.
  static constexpr Keyword Shift(std::string_view text, uint16_t code) { return {text, &A::EncodeShift, 1, code}; }
  static const Keyword kAll[];
};

// clang-format off
const Keyword KeywordTable::kAll[] = {
    // Directives.
    {"=", &A::EncodeEqu, 1},   {"EQU", &A::EncodeEqu, 1},
    {"DS", &A::EncodeDs, 1},   {"DEFS", &A::EncodeDs, 1},
    {"DW", &A::EncodeDw, 1},   {"DEFW", &A::EncodeDw, 1},
    {"DB", &A::EncodeDb, 1},   {"DEFB", &A::EncodeDb, 1},
    {"ORG", &A::EncodeOrg, 1}, {"END", &A::EncodeEnd, 1},
    // Fixed opcodes.
    Fixed("NOP", 0x00),    Fixed("RLCA", 0x07),
    Fixed("RRCA", 0x0F),   Fixed("RLA", 0x17),
    Fixed("RRA", 0x1F),    Fixed("DAA", 0x27),
    Fixed("CPL", 0x2F),    Fixed("SCF", 0x37),
    Fixed("CCF", 0x3F),    Fixed("HALT", 0x76),
    Fixed("EXX", 0xD9),    Fixed("DI", 0xF3),
    Fixed("EI", 0xFB),     Fixed("NEG", 0xED44),
    Fixed("RETN", 0xED45), Fixed("RETI", 0xED4D),
    Fixed("RRD", 0xED67),  Fixed("RLD", 0xED6F),
    Fixed("LDI", 0xEDA0),  Fixed("CPI", 0xEDA1),
    Fixed("INI", 0xEDA2),  Fixed("OUTI", 0xEDA3),
    Fixed("LDD", 0xEDA8),  Fixed("CPD", 0xEDA9),
    Fixed("IND", 0xEDAA),  Fixed("OUTD", 0xEDAB),
    Fixed("LDIR", 0xEDB0), Fixed("CPIR", 0xEDB1),
    Fixed("INIR", 0xEDB2), Fixed("OTIR", 0xEDB3),
    Fixed("LDDR", 0xEDB8), Fixed("CPDR", 0xEDB9),
    Fixed("INDR", 0xEDBA), Fixed("OTDR", 0xEDBB),
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
    Shift("RLC", 0x00), Shift("RRC", 0x08),
    Shift("RL", 0x10),  Shift("RR", 0x18),
    Shift("SLA", 0x20), Shift("SRA", 0x28),
    Shift("SRL", 0x38),
    {"BIT", &A::EncodeBit, 2, 0x40},   {"RES", &A::EncodeBit, 2, 0x80},
    {"SET", &A::EncodeBit, 2, 0xC0},
};
// clang-format on

static_assert(sizeof KeywordTable::kAll / sizeof KeywordTable::kAll[0] < 255, "a keyword's number fits in a byte");

namespace {
constexpr size_t kKeywordCount = sizeof KeywordTable::kAll / sizeof KeywordTable::kAll[0];
}  // namespace

const KeywordMap& Keywords() {
  // The keywords are all different, so the first equal one in the order
  // above is the only one; a packed table of the texts finds it directly.
  static const KeywordMap map = [] {
    KeywordMap m;
    for (size_t i = 0; i < kKeywordCount; ++i) m.Insert(KeywordTable::kAll[i].text, static_cast<uint8_t>(i + 1));
    if (KeywordTable::kAll[kDirectiveCount - 1].text != "END" || KeywordTable::kAll[kDirectiveCount].text != "NOP") {
      throw std::logic_error("the keyword table begins with the ten directives");
    }
    return m;
  }();
  return map;
}

const Keyword* const* KeywordsByNumber() {
  static const std::array<const Keyword*, kKeywordCount + 1> byNumber = [] {
    std::array<const Keyword*, kKeywordCount + 1> t{};
    for (size_t i = 0; i < kKeywordCount; ++i) t[i + 1] = &KeywordTable::kAll[i];
    return t;
  }();
  return byNumber.data();
}

}  // namespace orvane
