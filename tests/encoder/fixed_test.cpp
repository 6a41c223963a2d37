// Fixed opcodes and EX.
#include "encoder_rows.h"

namespace orvane::testing {
namespace {

const std::string kBadSource = "Bad Source Operand";

TEST_F(EncoderTest, FixedOpcodes) {
  RunRows(as, {
      {" NOP", "00", 1},     {" RLCA", "07", 1},    {" RRCA", "0F", 1},    {" RLA", "17", 1},
      {" RRA", "1F", 1},     {" DAA", "27", 1},     {" CPL", "2F", 1},     {" SCF", "37", 1},
      {" CCF", "3F", 1},     {" HALT", "76", 1},    {" EXX", "D9", 1},     {" DI", "F3", 1},
      {" EI", "FB", 1},      {" NEG", "ED44", 2},   {" RETN", "ED45", 2},  {" RETI", "ED4D", 2},
      {" RRD", "ED67", 2},   {" RLD", "ED6F", 2},   {" LDI", "EDA0", 2},   {" CPI", "EDA1", 2},
      {" INI", "EDA2", 2},   {" OUTI", "EDA3", 2},  {" LDD", "EDA8", 2},   {" CPD", "EDA9", 2},
      {" IND", "EDAA", 2},   {" OUTD", "EDAB", 2},  {" LDIR", "EDB0", 2},  {" CPIR", "EDB1", 2},
      {" INIR", "EDB2", 2},  {" OTIR", "EDB3", 2},  {" LDDR", "EDB8", 2},  {" CPDR", "EDB9", 2},
      {" INDR", "EDBA", 2},  {" OTDR", "EDBB", 2},
  });
}

TEST_F(EncoderTest, FixedOpcodesIgnoreOperands) {
  RunRows(as, {
      {" NOP 5", "00", 1},
      {" HALT A,B", "76", 1},
      {" LDIR UNDEFINED", "EDB0", 2},  // the operand is never evaluated
      {" ldir", "EDB0", 2},
      {" neg ; negate", "ED44", 2},
  });
}

TEST_F(EncoderTest, Ex) {
  RunRows(as, {
      {" EX AF,AF'", "08", 1},
      {" EX (SP),HL", "E3", 1},
      {" EX (SP),IX", "DDE3", 2},
      {" EX (SP),IY", "FDE3", 2},
      {" EX DE,HL", "EB", 1},
      {" ex de,hl", "EB", 1},
      {" EX ( SP ),HL", "E3", 1},
  });
}

TEST_F(EncoderTest, ExRejectsEveryOtherPairWithOneByte) {
  RunRows(as, {
      {" EX AF,AF", "", 1, {kBadSource}},
      {" EX AF,BC", "", 1, {kBadSource}},
      {" EX AF", "", 1, {kBadSource}},
      {" EX AF',AF", "", 1, {kBadSource}},
      {" EX HL,DE", "", 1, {kBadSource}},
      {" EX DE,IX", "", 1, {kBadSource}},
      {" EX DE", "", 1, {kBadSource}},
      {" EX (SP),BC", "", 1, {kBadSource}},
      {" EX (SP),DE", "", 1, {kBadSource}},
      {" EX (SP),(HL)", "", 1, {kBadSource}},
      {" EX (SP)", "", 1, {kBadSource}},
      {" EX HL,(SP)", "", 1, {kBadSource}},
      {" EX BC,HL", "", 1, {kBadSource}},
      {" EX", "", 1, {kBadSource}},
      {" EX 5,6", "", 1, {kBadSource}},
  });
}

TEST_F(EncoderTest, UnknownMnemonic) {
  RunRows(as, {
      {" SLL B", "", 0, {"Undefined Opcode"}},
      {" MOV A,B", "", 0, {"Undefined Opcode"}},
      {" LDX", "", 0, {"Undefined Opcode"}},
  });
}

}  // namespace
}  // namespace orvane::testing
