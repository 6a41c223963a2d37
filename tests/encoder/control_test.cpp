// Stack and control transfer. The fixture's statement address is 0x0100.
#include "encoder_rows.h"

namespace orvane::testing {
namespace {

const std::string kBadSource = "Bad Source Operand";
const std::string kBadOperand = "Bad Operand";
const std::string kInvalidCond = "Invalid Conditional";
const std::string kBadCond = "Bad Conditional";
const std::string kBadCondJp = "Bad COnditional";

TEST_F(EncoderTest, PopPush) {
  RunRows(as, {
      {" POP BC", "C1", 1},   {" PUSH BC", "C5", 1},
      {" POP DE", "D1", 1},   {" PUSH DE", "D5", 1},
      {" POP HL", "E1", 1},   {" PUSH HL", "E5", 1},
      {" POP IX", "DDE1", 2}, {" PUSH IX", "DDE5", 2},
      {" POP IY", "FDE1", 2}, {" PUSH IY", "FDE5", 2},
      {" POP AF", "F1", 1},   {" PUSH AF", "F5", 1},
      {" PUSH BC,DE", "C5", 1},  // the second operand is not looked at
      {" POP SP", "", 1, {kBadSource}},
      {" PUSH SP", "", 1, {kBadSource}},
      {" PUSH AF'", "", 1, {kBadSource}},
      {" POP B", "", 1, {kBadSource}},
      {" PUSH (HL)", "", 1, {kBadSource}},
      {" POP (IX)", "", 1, {kBadSource}},
      {" PUSH 4660", "", 1, {kBadSource}},
      {" POP", "", 1, {kBadSource}},
  });
}

TEST_F(EncoderTest, Djnz) {
  RunRows(as, {
      {" DJNZ HERE", "10FE", 2},
      {" DJNZ NEXT", "1000", 2},
      {" DJNZ BACK", "10FB", 2},
      {" DJNZ FWD", "104E", 2},  // 0x150 - 0x102
      {" DJNZ BACK,X", "10FB", 2},
      {" DJNZ $+5", "1005", 2},
      {" DJNZ $-5", "10FB", 2},
      {" DJNZ $", "1000", 2},
      {" DJNZ 260", "1002", 2},
      {" DJNZ NOWHERE", "10FE", 2, {kUndefSym}},  // 0 - 0x102, low byte
  });
}

TEST_F(EncoderTest, Jr) {
  RunRows(as, {
      {" JR HERE", "18FE", 2},
      {" JR NEXT", "1800", 2},
      {" JR 260", "1802", 2},
      {" JR $+5", "1805", 2},
      {" JR $-2", "18FE", 2},
      {" JR NZ,BACK", "20FB", 2},
      {" JR Z,BACK", "28FB", 2},
      {" JR NC,FWD", "304E", 2},
      {" JR C,HERE", "38FE", 2},
      {" JR NZ,$+6", "2006", 2},
      {" jr nz,back", "20FB", 2},
  });
}

TEST_F(EncoderTest, JrRefusesParityAndSignConditions) {
  RunRows(as, {
      {" JR PE,BACK", "", 2, {kInvalidCond}},
      {" JR PO,BACK", "", 2, {kInvalidCond}},
      {" JR P,BACK", "", 2, {kInvalidCond}},
      {" JR M,BACK", "", 2, {kInvalidCond}},
      {" JR XY,BACK", "", 2, {kInvalidCond}},
      {" JR BACK,Z", "", 2, {kInvalidCond}},
  });
}

TEST_F(EncoderTest, Ret) {
  RunRows(as, {
      {" RET", "C9", 1},
      {" RET NZ", "C0", 1},
      {" RET Z", "C8", 1},
      {" RET NC", "D0", 1},
      {" RET C", "D8", 1},
      {" RET PO", "E0", 1},
      {" RET PE", "E8", 1},
      {" RET P", "F0", 1},
      {" RET M", "F8", 1},
      {" RET NZ,X", "C0", 1},  // the second operand is not looked at
      {" ret m", "F8", 1},
      {" RET XY,Z", "", 1, {kBadCond}},
      // No unconditional RET takes an operand.
      {" RET XY", "", 1, {kBadCond}},
      {" RET HL", "", 1, {kBadCond}},
      {" RET 5", "", 1, {kBadCond}},
  });
}

TEST_F(EncoderTest, JpToAddress) {
  RunRows(as, {
      {" JP 4660", "C33412", 3},
      {" JP COUNT", "C33412", 3},
      {" JP &H8000", "C30080", 3},
      {" JP NZ,4660", "C23412", 3},
      {" JP Z,4660", "CA3412", 3},
      {" JP NC,4660", "D23412", 3},
      {" JP C,4660", "DA3412", 3},
      {" JP PO,4660", "E23412", 3},
      {" JP PE,COUNT", "EA3412", 3},
      {" JP P,4660", "F23412", 3},
      {" JP M,4660", "FA3412", 3},
      {" JP NOWHERE", "C30000", 3, {kUndefSym}},
  });
}

TEST_F(EncoderTest, JpDollarIsRelativeToTheStatement) {
  RunRows(as, {
      {" JP NZ,$+6", "C20601", 3},
      {" JP $", "C30001", 3},
      {" JP $+3", "C30301", 3},
      {" JP $-2", "C3FE00", 3},
      {" JP $+&H10", "C31001", 3},
      {" JP M,$", "FA0001", 3},
      // Far offsets wrap to 16 bits without a message.
      {" JP $+70000", "C37012", 3},
      {" JP $-70000", "C390EF", 3},
      {" JP $+5000000000", "C300F3", 3},
  });
}

TEST_F(EncoderTest, JpThroughRegister) {
  RunRows(as, {
      {" JP (HL)", "E9", 1},
      {" JP (IX)", "DDE9", 2},
      {" JP (IY)", "FDE9", 2},
      {" JP (IX+0)", "DDE9", 2},
      // There is no displacement on this jump: a non-zero one is refused, the
      // two bytes still counted.
      {" JP (IX+5)", "", 2, {kBadOperand}},
      {" JP (IY+1)", "", 2, {kBadOperand}},
      {" JP (IX+OFS)", "", 2, {kBadOperand}},
      {" JP (IX+NOWHERE)", "DDE9", 2, {kUndefSym}},
  });
}

TEST_F(EncoderTest, JpRejected) {
  RunRows(as, {
      {" JP HL", "", 0, {kBadOperand}},
      {" JP IX", "", 0, {kBadOperand}},
      {" JP (1234)", "", 0, {kBadOperand}},
      {" JP (BC)", "", 0, {kBadOperand}},
      {" JP", "", 0, {kBadOperand}},
      // A symbol whose name begins with IX classifies as the register.
      {" JP IXSAVE", "", 0, {kBadOperand}},
      // The target is worked out before the condition.
      {" JP XY,4660", "", 3, {kBadCondJp}},
      {" JP XY,NOWHERE", "", 3, {kUndefSym, kBadCondJp}},
      {" JP 4660,NZ", "", 3, {kUndefSym, kBadCondJp}},
  });
}

TEST_F(EncoderTest, Call) {
  RunRows(as, {
      {" CALL 4660", "CD3412", 3},
      {" CALL COUNT", "CD3412", 3},
      {" CALL NZ,4660", "C43412", 3},
      {" CALL Z,4660", "CC3412", 3},
      {" CALL NC,4660", "D43412", 3},
      {" CALL C,4660", "DC3412", 3},
      {" CALL PO,4660", "E43412", 3},
      {" CALL PE,4660", "EC3412", 3},
      {" CALL P,4660", "F43412", 3},
      {" CALL M,COUNT", "FC3412", 3},
      // Any single operand is an address, even one that looks like a register.
      {" CALL IXSAVE", "CD1020", 3},
      {" CALL (4660)", "CD3412", 3},
      {" CALL NOWHERE", "CD0000", 3, {kUndefSym}},
      // A bad condition still counts the three bytes.
      {" CALL XY,FWD", "", 3, {kBadCond}},
      {" CALL XY,NOWHERE", "", 3, {kBadCond}},
  });
}

TEST_F(EncoderTest, Rst) {
  RunRows(as, {
      {" RST 0", "C7", 1},
      {" RST 8", "CF", 1},
      {" RST 16", "D7", 1},
      {" RST 24", "DF", 1},
      {" RST 32", "E7", 1},
      {" RST 40", "EF", 1},
      {" RST 48", "F7", 1},
      {" RST 56", "FF", 1},
      {" RST 38H", "", 1, {kBadOperand}},
      {" RST &H38", "", 1, {kBadOperand}},
      {" RST 08", "", 1, {kBadOperand}},
      {" RST 1", "", 1, {kBadOperand}},
      {" RST 64", "", 1, {kBadOperand}},
      {" RST", "", 1, {kBadOperand}},
  });
}

// A refused statement reports nothing in pass 1 and still moves the address
// by the bytes it counted, so a label after it gets the same address in both
// passes.
TEST_F(EncoderTest, RefusedStatementsStillAdvanceThePass1Address) {
  const char* lines[] = {" JR PE,BACK", " POP SP", " CALL XY,FWD", " JP (IX+5)", " RST 38H",
                         " RET XY", "AFTER NOP"};
  as.SetPass2(false);
  for (const char* line : lines) {
    as.Diag.Clear();
    as.Assemble(line);
    EXPECT_TRUE(as.Diag.Messages.empty()) << line;
    as.PC += as.ByteCount;
  }
  const int slot = as.Symbols.Find("AFTER");
  ASSERT_NE(slot, 0);
  // 0x100 + 2 (JR) + 1 (POP) + 3 (CALL) + 2 (JP) + 1 (RST) + 1 (RET)
  EXPECT_EQ(as.Symbols.Slot(slot).address, 0x10A);
  EXPECT_EQ(as.PC, 0x10B);
}

TEST_F(EncoderTest, RelativeDollarFormKeepsItsOperandText) {
  as.SetPass2(true);
  as.Assemble(" JR $+5");
  EXPECT_EQ(as.ObjCode, "1805");
  EXPECT_EQ(as.Fields.Operand1Fld, "$+5");
}

}  // namespace
}  // namespace orvane::testing
