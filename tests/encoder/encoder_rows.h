// Table rows for the instruction groups: a source line and what pass 2 must
// leave behind. Every row goes through both passes on one assembler.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "encoder/assembler.h"

namespace orvane::testing {

inline const std::string kUndefSym = "Undefined Symbol Referenced";

struct Row {
  std::string line;
  std::string obj;    // expected ObjCode in pass 2
  int32_t count;      // expected ByteCount (both passes)
  std::vector<std::string> msgs = {};  // expected pass-2 messages, in order
};

// Pass 1 then pass 2 at the same address; pass 1 must report nothing and
// count the same bytes.
inline void RunRow(Assembler& as, const Row& row) {
  SCOPED_TRACE("line: \"" + row.line + "\"");
  const int32_t pc = as.PC;
  as.SetPass2(false);
  as.Diag.Clear();
  as.Assemble(row.line);
  EXPECT_TRUE(as.Diag.Messages.empty()) << "pass 1 reported " << as.Diag.ErrText;
  EXPECT_TRUE(as.Diag.ErrText.empty());
  const int32_t pass1Count = as.ByteCount;
  EXPECT_EQ(as.PC, pc);

  as.SetPass2(true);
  as.Diag.Clear();
  as.Assemble(row.line);
  EXPECT_EQ(as.ObjCode, row.obj);
  EXPECT_EQ(as.ByteCount, row.count);
  EXPECT_EQ(pass1Count, as.ByteCount) << "pass 1 and pass 2 disagree on the length";
  std::vector<std::string> got(as.Diag.Messages.begin(), as.Diag.Messages.end());
  EXPECT_EQ(got, row.msgs);
  std::string joined;
  for (const std::string& m : row.msgs) joined += m;
  EXPECT_EQ(as.Diag.ErrText, joined);
  EXPECT_EQ(as.PC, pc);
}

inline void RunRows(Assembler& as, const std::vector<Row>& rows) {
  for (const Row& r : rows) RunRow(as, r);
}

// The two hex digits at position i of a literal opcode string.
inline std::string Pick(const std::string& hexes, size_t i) { return hexes.substr(2 * i, 2); }

// The eight 8-bit operands in the order of the register field.
inline const std::vector<std::string> kReg8 = {"B", "C", "D", "E", "H", "L", "(HL)", "A"};

// An assembler at 0x0100 with a few symbols defined.
class EncoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    as.PC = 0x100;
    as.Symbols.AddLabel("COUNT", 0x1234);
    as.Symbols.AddLabel("PORT", 0x10);
    as.Symbols.AddLabel("IXTAB", 0x2000);
    as.Symbols.AddLabel("IXSAVE", 0x2010);
    as.Symbols.AddLabel("OFS", 0x0105);
    as.Symbols.AddLabel("HERE", 0x100);   // the statement's own address
    as.Symbols.AddLabel("NEXT", 0x102);   // just after a two-byte jump
    as.Symbols.AddLabel("BACK", 0x0FD);   // three bytes before the statement
    as.Symbols.AddLabel("FWD", 0x150);
  }
  Assembler as;
};

}  // namespace orvane::testing
