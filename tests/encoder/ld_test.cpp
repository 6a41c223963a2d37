// LD.
#include "encoder_rows.h"

namespace orvane::testing {
namespace {

const std::string kBadSource = "Bad Source Operand";
const std::string kBadSourceSp = "Bad source Operand";
const std::string kBadDest = "Bad Destination Operand";
const std::string kBadOperand = "Bad Operand";

// LD r,s: one line per destination B..A, sources B..A across. "--" is the
// slot of HALT, which LD (HL),(HL) must not produce.
const std::vector<std::string> kLdRegReg = {
    "4041424344454647", "48494A4B4C4D4E4F", "5051525354555657", "58595A5B5C5D5E5F",
    "6061626364656667", "68696A6B6C6D6E6F", "707172737475--77", "78797A7B7C7D7E7F",
};
// LD r,n by destination B..A.
const std::string kLdRegImm = "060E161E262E363E";
// LD r,(IX+d) by destination (the (HL) slot is unused).
const std::string kLdRegIndexed = "464E565E666E--7E";
// LD (IX+d),s by source.
const std::string kLdIndexedReg = "707172737475--77";

TEST_F(EncoderTest, LdRegisterToRegister) {
  for (size_t d = 0; d < 8; ++d) {
    for (size_t s = 0; s < 8; ++s) {
      const std::string line = " LD " + kReg8[d] + "," + kReg8[s];
      const std::string op = Pick(kLdRegReg[d], s);
      if (op == "--") {
        RunRow(as, {line, "", 0, {kBadSource}});
      } else {
        RunRow(as, {line, op, 1});
      }
    }
  }
}

TEST_F(EncoderTest, LdRegisterImmediate) {
  for (size_t d = 0; d < 8; ++d) {
    RunRow(as, {" LD " + kReg8[d] + ",5", Pick(kLdRegImm, d) + "05", 2});
    RunRow(as, {" LD " + kReg8[d] + ",COUNT", Pick(kLdRegImm, d) + "34", 2});
  }
}

TEST_F(EncoderTest, LdRegisterFromIndexed) {
  for (size_t d = 0; d < 8; ++d) {
    const std::string op = Pick(kLdRegIndexed, d);
    for (const char* xy : {"IX", "IY"}) {
      const std::string prefix = std::string(xy) == "IX" ? "DD" : "FD";
      const std::string line = " LD " + kReg8[d] + ",(" + xy + "+5)";
      if (op == "--") {
        RunRow(as, {line, "", 0, {kBadSource}});
      } else {
        // LD A,... counts its byte before looking at the source; the others do not.
        RunRow(as, {line, prefix + op + "05", 3});
      }
    }
  }
}

TEST_F(EncoderTest, LdIndexedFromRegister) {
  for (size_t s = 0; s < 8; ++s) {
    const std::string op = Pick(kLdIndexedReg, s);
    const std::string line = " LD (IY+&H10)," + kReg8[s];
    if (op == "--") {
      RunRow(as, {line, "", 0, {kBadSource}});
    } else {
      RunRow(as, {line, "FD" + op + "10", 3});
    }
  }
}

TEST_F(EncoderTest, LdAccumulator) {
  RunRows(as, {
      {" LD A,B", "78", 1},
      {" LD A,(HL)", "7E", 1},
      {" LD A,5", "3E05", 2},
      {" LD A,300", "3E2C", 2},  // low 8 bits
      {" LD A,0", "3E00", 2},
      {" LD A,(4660)", "3A3412", 3},
      {" LD A,(COUNT)", "3A3412", 3},
      {" LD A,I", "ED57", 2},
      {" LD A,R", "ED5F", 2},
      {" LD A,(BC)", "0A", 1},
      {" LD A,(DE)", "1A", 1},
      {" LD A,(IX+5)", "DD7E05", 3},
      {" LD A,(IX)", "DD7E00", 3},
      {" LD A,(IY+OFS)", "FD7E05", 3},
      {" ld a,(ix+5) ; load", "DD7E05", 3},
      {" LD A,UNKNOWN", "3E00", 2, {kUndefSym}},
  });
}

TEST_F(EncoderTest, LdAccumulatorWrongSourceKeepsOneByte) {
  RunRows(as, {
      {" LD A,AF", "", 1, {kBadSource}},
      {" LD A,BC", "", 1, {kBadSource}},
      {" LD A,IX", "", 1, {kBadSource}},
      {" LD A,(SP)", "", 1, {kBadSource}},
      {" LD A,(C)", "", 1, {kBadSource}},
      {" LD A", "", 1, {kBadSource}},
  });
}

TEST_F(EncoderTest, LdRegisterWrongSource) {
  RunRows(as, {
      {" LD (HL),A", "77", 1},
      {" LD (HL),5", "3605", 2},
      {" LD E,(IY+2)", "FD5E02", 3},
      {" LD B,(4660)", "", 0, {kBadSource}},
      {" LD B,I", "", 0, {kBadSource}},
      {" LD C,BC", "", 0, {kBadSource}},
      {" LD D,(BC)", "", 0, {kBadSource}},
      {" LD H", "", 0, {kBadSource}},
      {" LD (HL),(HL)", "", 0, {kBadSource}},
      {" LD (HL),(IX+1)", "", 0, {kBadSource}},
      {" LD (HL),(IY+1)", "", 0, {kBadSource}},
      {" LD (HL),(4660)", "", 0, {kBadSource}},
  });
}

TEST_F(EncoderTest, LdIAndRAndPairPointers) {
  RunRows(as, {
      {" LD I,A", "ED47", 2},
      {" LD R,A", "ED4F", 2},
      {" LD I,B", "", 0, {kBadSource}},
      {" LD R,5", "", 0, {kBadSource}},
      {" LD I,R", "", 0, {kBadSource}},
      {" LD (BC),A", "02", 1},
      {" LD (DE),A", "12", 1},
      {" LD (BC),B", "", 0, {kBadSource}},
      {" LD (DE),5", "", 0, {kBadSource}},
  });
}

TEST_F(EncoderTest, LdPairs) {
  RunRows(as, {
      {" LD BC,4660", "013412", 3},
      {" LD DE,4660", "113412", 3},
      {" LD HL,4660", "213412", 3},
      {" LD SP,4660", "313412", 3},
      {" LD IX,4660", "DD213412", 4},
      {" LD IY,4660", "FD213412", 4},
      {" LD HL,COUNT", "213412", 3},
      {" LD DE,-1", "11FFFF", 3},
      {" LD BC,70000", "017011", 3},
      {" LD BC,(4660)", "ED4B3412", 4},
      {" LD DE,(4660)", "ED5B3412", 4},
      {" LD HL,(4660)", "2A3412", 3},
      {" LD SP,(4660)", "ED7B3412", 4},
      {" LD IX,(4660)", "DD2A3412", 4},
      {" LD IY,(4660)", "FD2A3412", 4},
      {" LD SP,HL", "F9", 1},
      {" LD SP,IX", "DDF9", 2},
      {" LD SP,IY", "FDF9", 2},
      {" LD IY,NOWHERE", "FD210000", 4, {kUndefSym}},
  });
}

TEST_F(EncoderTest, LdPairsRejected) {
  RunRows(as, {
      {" LD SP,BC", "", 0, {kBadSourceSp}},
      {" LD SP,DE", "", 0, {kBadSourceSp}},
      {" LD SP,SP", "", 0, {kBadSourceSp}},
      {" LD SP,A", "", 0, {kBadSourceSp}},
      {" LD SP", "", 0, {kBadSourceSp}},
      {" LD BC,DE", "", 0, {kBadOperand}},
      {" LD HL,BC", "", 0, {kBadOperand}},
      {" LD HL,SP", "", 0, {kBadOperand}},
      {" LD DE,A", "", 0, {kBadOperand}},
      {" LD HL,(HL)", "", 0, {kBadOperand}},
      {" LD BC", "", 0, {kBadOperand}},
      // The operand begins with IX, so it is the register, not the symbol.
      {" LD HL,IXTAB", "", 0, {kBadOperand}},
      // An index destination keeps its prefix and its byte.
      {" LD IX,BC", "DD", 1, {kBadOperand}},
      {" LD IY,HL", "FD", 1, {kBadOperand}},
      {" LD IX,SP", "DD", 1, {kBadOperand}},
      {" LD IY", "FD", 1, {kBadOperand}},
  });
}

TEST_F(EncoderTest, LdToAddress) {
  RunRows(as, {
      {" LD (4660),A", "323412", 3},
      {" LD (4660),BC", "ED433412", 4},
      {" LD (4660),DE", "ED533412", 4},
      {" LD (4660),HL", "223412", 3},
      {" LD (4660),SP", "ED733412", 4},
      {" LD (4660),IX", "DD223412", 4},
      {" LD (4660),IY", "FD223412", 4},
      {" LD (COUNT),HL", "223412", 3},
      {" LD (4660),I", "", 0, {kBadSource}},
      {" LD (4660),R", "", 0, {kBadSource}},
      {" LD (4660),B", "", 0, {kBadSource}},
      {" LD (4660),5", "", 0, {kBadSource}},
      {" LD (4660),AF", "", 0, {kBadSource}},
      // The address is not evaluated for a refused source.
      {" LD (NOWHERE),B", "", 0, {kBadSource}},
  });
}

TEST_F(EncoderTest, LdToIndexed) {
  RunRows(as, {
      {" LD (IX+5),A", "DD7705", 3},
      {" LD (IY+5),7", "FD360507", 4},
      {" LD (IX),7", "DD360007", 4},
      {" LD (IX+200),255", "DD36C8FF", 4},
      {" LD (IX+OFS),COUNT", "DD360534", 4},
      {" LD (IX+1),(HL)", "", 0, {kBadSource}},
      {" LD (IX+1),BC", "", 0, {kBadSource}},
      {" LD (IY+1),(IX+1)", "", 0, {kBadSource}},
      {" LD (IY+1),I", "", 0, {kBadSource}},
      {" LD (IX+1)", "", 0, {kBadSource}},
  });
}

TEST_F(EncoderTest, LdBadDestination) {
  RunRows(as, {
      {" LD 5,A", "", 0, {kBadDest}},
      {" LD COUNT,A", "", 0, {kBadDest}},
      {" LD (SP),HL", "", 0, {kBadDest}},
      {" LD AF,BC", "", 0, {kBadDest}},
      {" LD AF',HL", "", 0, {kBadDest}},
      {" LD (C),A", "", 0, {kBadDest}},
      {" LD", "", 0, {kBadDest}},
  });
}

}  // namespace
}  // namespace orvane::testing
