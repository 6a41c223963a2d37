// INC, DEC and the arithmetic-logic group.
#include "encoder_rows.h"

namespace orvane::testing {
namespace {

const std::string kBadSource = "Bad Source Operand";
const std::string kBadDest = "Bad Destination Operand";
const std::string kExtra = "Extra Operand";

// INC and DEC on B..A.
const std::string kInc8 = "040C141C242C343C";
const std::string kDec8 = "050D151D252D353D";

TEST_F(EncoderTest, IncDecRegisters) {
  for (size_t r = 0; r < 8; ++r) {
    RunRow(as, {" INC " + kReg8[r], Pick(kInc8, r), 1});
    RunRow(as, {" DEC " + kReg8[r], Pick(kDec8, r), 1});
  }
}

TEST_F(EncoderTest, IncDecPairsAndIndexed) {
  RunRows(as, {
      {" INC BC", "03", 1},       {" DEC BC", "0B", 1},
      {" INC DE", "13", 1},       {" DEC DE", "1B", 1},
      {" INC HL", "23", 1},       {" DEC HL", "2B", 1},
      {" INC SP", "33", 1},       {" DEC SP", "3B", 1},
      {" INC IX", "DD23", 2},     {" DEC IX", "DD2B", 2},
      {" INC IY", "FD23", 2},     {" DEC IY", "FD2B", 2},
      {" INC (IX+3)", "DD3403", 3}, {" DEC (IX+3)", "DD3503", 3},
      {" INC (IY)", "FD3400", 3},   {" DEC (IY+&H10)", "FD3510", 3},
      {" INC (IX+OFS)", "DD3405", 3},
      {" INC A,B", "3C", 1},  // a second operand is ignored
      {" DEC (IX+NOWHERE)", "DD3500", 3, {kUndefSym}},
  });
}

TEST_F(EncoderTest, IncDecRejected) {
  RunRows(as, {
      // A refused INC still occupies its byte; a refused DEC does not.
      {" INC AF", "", 1, {kBadSource}},
      {" INC AF'", "", 1, {kBadSource}},
      {" INC I", "", 1, {kBadSource}},
      {" INC 5", "", 1, {kBadSource}},
      {" INC (4660)", "", 1, {kBadSource}},
      {" INC (BC)", "", 1, {kBadSource}},
      {" INC", "", 1, {kBadSource}},
      {" DEC AF", "", 0, {kBadDest}},
      {" DEC R", "", 0, {kBadDest}},
      {" DEC 5", "", 0, {kBadDest}},
      {" DEC (4660)", "", 0, {kBadDest}},
      {" DEC", "", 0, {kBadDest}},
  });
}

struct AluCase {
  std::string mnemonic;
  bool namesA;          // written "ADD A,s" rather than "SUB s"
  std::string regs;     // opcodes for B..A
  std::string immediate;
  std::string indexed;  // operation byte after DD/FD
};

const std::vector<AluCase> kAluCases = {
    {"ADD", true, "8081828384858687", "C6", "86"},
    {"ADC", true, "88898A8B8C8D8E8F", "CE", "8E"},
    {"SUB", false, "9091929394959697", "D6", "96"},
    {"SBC", true, "98999A9B9C9D9E9F", "DE", "9E"},
    {"AND", false, "A0A1A2A3A4A5A6A7", "E6", "A6"},
    {"XOR", false, "A8A9AAABACADAEAF", "EE", "AE"},
    {"OR", false, "B0B1B2B3B4B5B6B7", "F6", "B6"},
    {"CP", false, "B8B9BABBBCBDBEBF", "FE", "BE"},
};

TEST_F(EncoderTest, AluEightBitSources) {
  for (const AluCase& c : kAluCases) {
    const std::string head = " " + c.mnemonic + (c.namesA ? " A," : " ");
    for (size_t r = 0; r < 8; ++r) RunRow(as, {head + kReg8[r], Pick(c.regs, r), 1});
    RunRow(as, {head + "5", c.immediate + "05", 2});
    RunRow(as, {head + "COUNT", c.immediate + "34", 2});
    RunRow(as, {head + "(IX+2)", "DD" + c.indexed + "02", 3});
    RunRow(as, {head + "(IY+2)", "FD" + c.indexed + "02", 3});
    RunRow(as, {head + "(IY)", "FD" + c.indexed + "00", 3});
    RunRow(as, {head + "AF", "", 0, {kBadSource}});
    RunRow(as, {head + "BC", "", 0, {kBadSource}});
    RunRow(as, {head + "(4660)", "", 0, {kBadSource}});
    RunRow(as, {head + "I", "", 0, {kBadSource}});
    RunRow(as, {head + "NOWHERE", c.immediate + "00", 2, {kUndefSym}});
  }
}

TEST_F(EncoderTest, Add) {
  RunRows(as, {
      {" ADD A,B", "80", 1},
      {" ADD A,5", "C605", 2},
      {" ADD A,(IX+2)", "DD8602", 3},
      {" ADD HL,BC", "09", 1},
      {" ADD HL,DE", "19", 1},
      {" ADD HL,HL", "29", 1},
      {" ADD HL,SP", "39", 1},
      {" ADD IX,BC", "DD09", 2},
      {" ADD IX,DE", "DD19", 2},
      {" ADD IX,IX", "DD29", 2},
      {" ADD IX,SP", "DD39", 2},
      {" ADD IY,BC", "FD09", 2},
      {" ADD IY,DE", "FD19", 2},
      {" ADD IY,IY", "FD29", 2},
      {" ADD IY,SP", "FD39", 2},
      {" ADD IX,HL", "", 0, {kBadSource}},
      {" ADD IX,IY", "", 0, {kBadSource}},
      {" ADD IY,IX", "", 0, {kBadSource}},
      {" ADD IY,HL", "", 0, {kBadSource}},
      {" ADD HL,IX", "", 0, {kBadSource}},
      {" ADD HL,AF", "", 0, {kBadSource}},
      {" ADD HL,5", "", 0, {kBadSource}},
      {" ADD HL", "", 0, {kBadSource}},
      {" ADD A", "", 0, {kBadSource}},
      {" ADD B,C", "", 0, {kBadDest}},
      {" ADD 5", "", 0, {kBadDest}},
      {" ADD SP,BC", "", 0, {kBadDest}},
      {" ADD DE,BC", "", 0, {kBadDest}},
      {" ADD (HL),A", "", 0, {kBadDest}},
      {" ADD", "", 0, {kBadDest}},
  });
}

TEST_F(EncoderTest, AdcSbc) {
  RunRows(as, {
      {" ADC A,(HL)", "8E", 1},
      {" ADC HL,BC", "ED4A", 2},
      {" ADC HL,DE", "ED5A", 2},
      {" ADC HL,HL", "ED6A", 2},
      {" ADC HL,SP", "ED7A", 2},
      {" SBC A,B", "98", 1},
      {" SBC A,(HL)", "9E", 1},
      {" SBC A,7", "DE07", 2},
      {" SBC HL,BC", "ED42", 2},
      {" SBC HL,DE", "ED52", 2},
      {" SBC HL,HL", "ED62", 2},
      {" SBC HL,SP", "ED72", 2},
      // The 16-bit forms count their two bytes before looking at the source.
      {" ADC HL,IX", "", 2, {kBadSource}},
      {" SBC HL,IY", "", 2, {kBadSource}},
      {" ADC HL,AF", "", 2, {kBadSource}},
      {" SBC HL,5", "", 2, {kBadSource}},
      {" SBC HL", "", 2, {kBadSource}},
      {" ADC A", "", 0, {kBadSource}},
      // No indexed 16-bit form.
      {" ADC IX,BC", "", 0, {kBadDest}},
      {" SBC IY,DE", "", 0, {kBadDest}},
      {" ADC B,A", "", 0, {kBadDest}},
      {" SBC 5", "", 0, {kBadDest}},
      {" SBC BC,HL", "", 0, {kBadDest}},
      {" ADC", "", 0, {kBadDest}},
  });
}

TEST_F(EncoderTest, SourceOnlyMnemonics) {
  RunRows(as, {
      {" SUB B", "90", 1},
      {" SUB 5", "D605", 2},
      {" SUB (IY+1)", "FD9601", 3},
      {" AND 15", "E60F", 2},
      {" XOR A", "AF", 1},
      {" OR (HL)", "B6", 1},
      {" CP 10", "FE0A", 2},
      {" AND AF", "", 0, {kBadSource}},
      {" OR", "", 0, {kBadSource}},
      {" XOR (BC)", "", 0, {kBadSource}},
  });
}

TEST_F(EncoderTest, SecondOperandIsReportedButFirstIsEncoded) {
  RunRows(as, {
      {" CP A,10", "BF", 1, {kExtra}},
      {" AND B,C", "A0", 1, {kExtra}},
      {" XOR 5,5", "EE05", 2, {kExtra}},
      {" OR (IX+1),A", "DDB601", 3, {kExtra}},
      // SUB is no exception.
      {" SUB A,B", "97", 1, {kExtra}},
      {" SUB 5,B", "D605", 2, {kExtra}},
      // Later messages of the statement follow.
      {" AND AF,B", "", 0, {kExtra, kBadSource}},
      {" CP NOWHERE,1", "FE00", 2, {kExtra, kUndefSym}},
      {" SUB AF,B", "", 0, {kExtra, kBadSource}},
  });
}

}  // namespace
}  // namespace orvane::testing
