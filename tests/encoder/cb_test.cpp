// Rotates, shifts and bit instructions.
#include "encoder_rows.h"

namespace orvane::testing {
namespace {

const std::string kBadOperand = "Bad Operand";
const std::string kBadRegister = "Bad Register";
const std::string kBadBit = "Bad Bit Number";

struct ShiftCase {
  std::string mnemonic;
  std::string regs;     // second byte for B..A
  std::string indexed;  // last byte of the DD/FD CB d form
};

const std::vector<ShiftCase> kShiftCases = {
    {"RLC", "0001020304050607", "06"}, {"RRC", "08090A0B0C0D0E0F", "0E"},
    {"RL", "1011121314151617", "16"},  {"RR", "18191A1B1C1D1E1F", "1E"},
    {"SLA", "2021222324252627", "26"}, {"SRA", "28292A2B2C2D2E2F", "2E"},
    {"SRL", "38393A3B3C3D3E3F", "3E"},
};

TEST_F(EncoderTest, RotatesAndShifts) {
  for (const ShiftCase& c : kShiftCases) {
    for (size_t r = 0; r < 8; ++r) {
      RunRow(as, {" " + c.mnemonic + " " + kReg8[r], "CB" + Pick(c.regs, r), 2});
    }
    RunRow(as, {" " + c.mnemonic + " (IX+3)", "DDCB03" + c.indexed, 4});
    RunRow(as, {" " + c.mnemonic + " (IY)", "FDCB00" + c.indexed, 4});
    RunRow(as, {" " + c.mnemonic + " BC", "", 0, {kBadOperand}});
    RunRow(as, {" " + c.mnemonic + " 5", "", 0, {kBadOperand}});
  }
}

TEST_F(EncoderTest, RotateShiftRows) {
  RunRows(as, {
      {" SLA (IX+3)", "DDCB0326", 4},
      {" SRA (IY)", "FDCB002E", 4},
      {" RL (HL)", "CB16", 2},
      {" SRL A", "CB3F", 2},
      {" RL B,C", "CB10", 2},  // a second operand is not looked at
      {" RR (IY+OFS)", "FDCB051E", 4},
      {" RLC (IX+NOWHERE)", "DDCB0006", 4, {kUndefSym}},
      {" RLC BC", "", 0, {kBadOperand}},
      {" RL I", "", 0, {kBadOperand}},
      {" RR (BC)", "", 0, {kBadOperand}},
      {" SRL (4660)", "", 0, {kBadOperand}},
      {" SLA IX", "", 0, {kBadOperand}},
      {" SRA", "", 0, {kBadOperand}},
  });
}

struct BitCase {
  std::string mnemonic;
  std::vector<std::string> regs;  // per bit 0..7: second byte for B..A
  std::string indexed;            // per bit 0..7: last byte of the indexed form
};

const std::vector<BitCase> kBitCases = {
    {"BIT",
     {"4041424344454647", "48494A4B4C4D4E4F", "5051525354555657", "58595A5B5C5D5E5F",
      "6061626364656667", "68696A6B6C6D6E6F", "7071727374757677", "78797A7B7C7D7E7F"},
     "464E565E666E767E"},
    {"RES",
     {"8081828384858687", "88898A8B8C8D8E8F", "9091929394959697", "98999A9B9C9D9E9F",
      "A0A1A2A3A4A5A6A7", "A8A9AAABACADAEAF", "B0B1B2B3B4B5B6B7", "B8B9BABBBCBDBEBF"},
     "868E969EA6AEB6BE"},
    {"SET",
     {"C0C1C2C3C4C5C6C7", "C8C9CACBCCCDCECF", "D0D1D2D3D4D5D6D7", "D8D9DADBDCDDDEDF",
      "E0E1E2E3E4E5E6E7", "E8E9EAEBECEDEEEF", "F0F1F2F3F4F5F6F7", "F8F9FAFBFCFDFEFF"},
     "C6CED6DEE6EEF6FE"},
};

TEST_F(EncoderTest, BitResSetAllBitsAndRegisters) {
  for (const BitCase& c : kBitCases) {
    for (size_t b = 0; b < 8; ++b) {
      const std::string head = " " + c.mnemonic + " " + std::to_string(b) + ",";
      for (size_t r = 0; r < 8; ++r) {
        RunRow(as, {head + kReg8[r], "CB" + Pick(c.regs[b], r), 2});
      }
      RunRow(as, {head + "(IX+1)", "DDCB01" + Pick(c.indexed, b), 4});
      RunRow(as, {head + "(IY+200)", "FDCBC8" + Pick(c.indexed, b), 4});
    }
  }
}

TEST_F(EncoderTest, BitRows) {
  RunRows(as, {
      {" BIT 0,B", "CB40", 2},
      {" BIT 7,(HL)", "CB7E", 2},
      {" BIT 7,A", "CB7F", 2},
      {" RES 0,(HL)", "CB86", 2},
      {" SET 7,(IX+1)", "DDCB01FE", 4},
      {" RES 4,(IY+5)", "FDCB05A6", 4},
      {" SET 3,(IY+2)", "FDCB02DE", 4},
      {" BIT 3,(IX)", "DDCB005E", 4},
      {" bit 2,(iy+ofs)", "FDCB0556", 4},
      // Leading zeros are allowed: these are bits 7 and 0.
      {" BIT 07,A", "CB7F", 2},
      {" SET 0007,B", "CBF8", 2},
      {" RES 00,C", "CB81", 2},
  });
}

TEST_F(EncoderTest, BitNumberMustBeZeroToSeven) {
  RunRows(as, {
      {" BIT 8,A", "", 0, {kBadBit}},
      {" BIT 9,A", "", 0, {kBadBit}},
      {" BIT -1,A", "", 0, {kBadBit}},
      {" BIT +3,A", "", 0, {kBadBit}},
      {" BIT ,A", "", 0, {kBadBit}},
      {" BIT", "", 0, {kBadBit}},
      {" SET 10,B", "", 0, {kBadBit}},
      {" RES 17,B", "", 0, {kBadBit}},
      {" BIT 70,A", "", 0, {kBadBit}},
      {" BIT 3.0,A", "", 0, {kBadBit}},
      {" BIT 3X,A", "", 0, {kBadBit}},
      {" BIT &H3,A", "", 0, {kBadBit}},
      {" BIT A,3", "", 0, {kBadBit}},
      {" SET COUNT,B", "", 0, {kBadBit}},
      // The bit number is checked first; only its message is reported.
      {" BIT 8,BC", "", 0, {kBadBit}},
  });
}

TEST_F(EncoderTest, BitNeedsRegisterOrMemoryOperand) {
  RunRows(as, {
      {" BIT 3,BC", "", 0, {kBadRegister}},
      {" BIT 3,(1234)", "", 0, {kBadRegister}},
      {" RES 1,I", "", 0, {kBadRegister}},
      {" SET 2,IX", "", 0, {kBadRegister}},
      {" SET 2,5", "", 0, {kBadRegister}},
      {" BIT 3", "", 0, {kBadRegister}},
  });
}

}  // namespace
}  // namespace orvane::testing
