// IM, IN and OUT.
#include "encoder_rows.h"

namespace orvane::testing {
namespace {

const std::string kBadSource = "Bad Source Operand";
const std::string kBadDest = "Bad Destination Operand";
const std::string kBadMode = "Bad Mode Selection";

// IN r,(C) and OUT (C),r for B..A; "--" marks (HL), which neither takes.
const std::string kInC = "404850586068--78";
const std::string kOutC = "414951596169--79";

TEST_F(EncoderTest, Im) {
  RunRows(as, {
      {" IM 0", "ED46", 2},
      {" IM 1", "ED56", 2},
      {" IM 2", "ED5E", 2},
      // The mode is compared as text, and a wrong one keeps both bytes.
      {" IM 3", "", 2, {kBadMode}},
      {" IM 00", "", 2, {kBadMode}},
      {" IM &H1", "", 2, {kBadMode}},
      {" IM A", "", 2, {kBadMode}},
      {" IM", "", 2, {kBadMode}},
  });
}

TEST_F(EncoderTest, InOutThroughC) {
  for (size_t r = 0; r < 8; ++r) {
    const std::string in = " IN " + kReg8[r] + ",(C)";
    const std::string out = " OUT (C)," + kReg8[r];
    if (Pick(kInC, r) == "--") {
      RunRow(as, {in, "", 2, {kBadDest}});
      RunRow(as, {out, "", 2, {kBadSource}});
    } else {
      RunRow(as, {in, "ED" + Pick(kInC, r), 2});
      RunRow(as, {out, "ED" + Pick(kOutC, r), 2});
    }
  }
}

TEST_F(EncoderTest, Out) {
  RunRows(as, {
      {" OUT (PORT),A", "D310", 2},
      {" OUT (&H10),A", "D310", 2},
      {" OUT (254),A", "D3FE", 2},
      {" OUT (NOWHERE),A", "D300", 2, {kUndefSym}},
      {" OUT (C),BC", "", 2, {kBadSource}},
      {" OUT (C),5", "", 2, {kBadSource}},
      {" OUT (C),I", "", 2, {kBadSource}},
      {" OUT (C)", "", 2, {kBadSource}},
      // (n) takes only A.
      {" OUT (10),B", "", 2, {kBadDest}},
      {" OUT (10)", "", 2, {kBadDest}},
      {" OUT A,(10)", "", 2, {kBadDest}},
      {" OUT 10,A", "", 2, {kBadDest}},
      {" OUT (BC),A", "", 2, {kBadDest}},
      {" OUT", "", 2, {kBadDest}},
  });
}

TEST_F(EncoderTest, In) {
  RunRows(as, {
      {" IN A,(PORT)", "DB10", 2},
      {" IN A,(254)", "DBFE", 2},
      {" IN A,(C)", "ED78", 2},
      {" in a,(c)", "ED78", 2},
      {" IN B,(10)", "", 2, {kBadDest}},
      {" IN A,10", "", 2, {kBadDest}},
      {" IN A", "", 2, {kBadDest}},
      {" IN", "", 2, {kBadDest}},
      // (C) takes only the seven registers.
      {" IN BC,(C)", "", 2, {kBadDest}},
      {" IN IX,(C)", "", 2, {kBadDest}},
      {" IN F,(C)", "", 2, {kBadDest}},
      {" IN 5,(C)", "", 2, {kBadDest}},
      {" IN (C)", "", 2, {kBadDest}},
  });
}

}  // namespace
}  // namespace orvane::testing
