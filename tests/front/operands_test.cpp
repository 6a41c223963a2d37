// Register classification, immediate values, relative and index
// displacements.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "front/operands.h"

namespace orvane {
namespace {

using Msgs = std::vector<std::string>;

Msgs MessagesOf(const Diagnostics& d) { return Msgs(d.Messages.begin(), d.Messages.end()); }

struct RegCase {
  const char* text;
  int32_t code;
};

const RegCase kRegCases[] = {
    {"B", 0},       {"C", 1},        {"D", 2},       {"E", 3},       {"H", 4},
    {"L", 5},       {"(HL)", 6},     {"A", 7},       {"I", 8},       {"R", 9},
    {"BC", 10},     {"DE", 11},      {"HL", 12},     {"SP", 13},     {"IX", 14},
    {"IY", 15},     {"AF", 16},      {"AF'", 17},    {"(C)", 65},    {"(BC)", 74},
    {"(DE)", 75},   {"(SP)", 77},    {"(IX+5)", 78}, {"(IX)", 78},   {"(IY)", 79},
    {"(IY-3)", 79}, {"IXH", 14},     {"IXTAB", 14},  {"IYSAVE", 15}, {"1234", -1},
    {"LOOP", -1},   {"(1234)", -65}, {"(COUNT)", -65}, {"", -2},     {"()", -2},
    {"(HL", 68},    {"((HL))", 70},  {"( A )", 71},  {"(A)", 71},    {"(AF')", 81},
    {"(", -2},      {"AFX", -1},     {"$+5", -1},    {"(I", -2},     {"I X", -1},
};

TEST(RegTypTest, Codes) {
  for (const RegCase& c : kRegCases) EXPECT_EQ(RegTyp(c.text), c.code) << c.text;
}

class OperandReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    symbols.AddLabel("COUNT", 4660);
    symbols.AddLabel("OFS", 0x1FB);
    symbols.AddLabel("NEAR", 0x150);
    symbols.AddLabel("FAR", 0x100 + 200);
    symbols.AddLabel("0FFH", 77);
    diag.Pass2 = true;
  }
  SymbolTable symbols;
  Diagnostics diag;
  OperandReader values{symbols, diag};
};

struct ImmedCase {
  const char* text;
  int32_t immed8;
  int32_t immed16;
  Msgs msgs8;
  Msgs msgs16;
};

const char* const kUndef = "Undefined Symbol Referenced";
const char* const kInvalid = "Invalid Number";

const std::vector<ImmedCase> kImmedCases = {
    {"10", 10, 10, {}, {}},
    {"+10", 10, 10, {}, {}},
    {"&H1F", 31, 31, {}, {}},
    {"&O17", 15, 15, {}, {}},
    {"300", 44, 300, {}, {}},
    {"70000", 112, 4464, {}, {}},
    {"(1234)", 210, 1234, {}, {}},
    {"-1", 0, 65535, {kUndef}, {}},
    {"&HFFFF", 0, 65535, {kUndef}, {}},
    {"&H80", 128, 128, {}, {}},
    {"COUNT", 0x34, 4660, {}, {}},
    {"(COUNT)", 0x34, 4660, {}, {}},
    {"( 7 )", 7, 7, {}, {}},
    {"(12", 1, 1, {}, {}},
    {"(", 0, 0, {kUndef}, {kUndef}},
    {"()", 0, 0, {kUndef}, {kUndef}},
    {"0FFH", 77, 77, {}, {}},  // a symbol name, found
    {"COUNT+1", 0, 0, {kUndef}, {kUndef}},
    {"$", 0, 0, {kUndef}, {kUndef}},
    {"'A'", 0, 0, {kUndef}, {kUndef}},
    {"UNKNOWN", 0, 0, {kUndef}, {kUndef}},
    // Zero literals are the number 0, never a symbol lookup.
    {"0", 0, 0, {}, {}},
    {"00", 0, 0, {}, {}},
    {"&H0", 0, 0, {}, {}},
    {"&O0", 0, 0, {}, {}},
    {"+0", 0, 0, {}, {}},
    {"-0", 0, 0, {}, {}},
    {"0.0", 0, 0, {}, {}},
    {"(0)", 0, 0, {}, {}},
    // Number by its leading digits but not wholly a number.
    {"12H", 0, 0, {kInvalid}, {kInvalid}},
    {"5X", 0, 0, {kInvalid}, {kInvalid}},
    {"1+COUNT", 0, 0, {kInvalid}, {kInvalid}},
    {"4294967296", 0, 0, {kInvalid}, {kInvalid}},
    {"2.5", 2, 2, {}, {}},
    {"-2.5", 0, 65534, {kUndef}, {}},
};

TEST_F(OperandReaderTest, ImmediateValues) {
  for (const ImmedCase& c : kImmedCases) {
    diag.Clear();
    EXPECT_EQ(values.Immed8(c.text), c.immed8) << c.text;
    EXPECT_EQ(MessagesOf(diag), c.msgs8) << c.text;
    diag.Clear();
    EXPECT_EQ(values.Immed16(c.text), c.immed16) << c.text;
    EXPECT_EQ(MessagesOf(diag), c.msgs16) << c.text;
  }
}

TEST_F(OperandReaderTest, MessagesOnlyInPass2) {
  diag.Pass2 = false;
  EXPECT_EQ(values.Immed16("UNKNOWN"), 0);
  EXPECT_EQ(values.Immed8("5X"), 0);
  EXPECT_EQ(values.CalcRelOffset("$+", 0x100), "00");
  EXPECT_TRUE(diag.Messages.empty());
  EXPECT_TRUE(diag.ErrText.empty());
}

TEST_F(OperandReaderTest, MessagesRunTogetherInErrText) {
  values.Immed16("UNKNOWN");
  values.Immed16("5X");
  EXPECT_EQ(diag.ErrText, "Undefined Symbol ReferencedInvalid Number");
}

struct RelCase {
  const char* text;
  int32_t pc;
  const char* byte;
  Msgs msgs;
};

const char* const kRange = "Relative Jump Out Of Range";

const std::vector<RelCase> kRelCases = {
    {"$+5", 0x100, "05", {}},
    {"$+127", 0x100, "7F", {}},
    {"$+200", 0x100, "48", {kRange}},
    {"$+128", 0x100, "00", {kRange}},
    {"$-5", 0x100, "FB", {}},
    {"$-128", 0x100, "80", {}},
    {"$-129", 0x100, "7F", {kRange}},
    {"$-0", 0x100, "00", {}},
    {"$+0", 0x100, "00", {}},
    {"$", 0x100, "00", {}},
    {"$5", 0x100, "00", {}},
    {"$+", 0x100, "00", {kInvalid}},
    {"$+5X", 0x100, "00", {kInvalid}},
    {"$-", 0x100, "00", {kInvalid}},
    {"$+&H10", 0x100, "10", {}},
    // Targets: the distance from the next instruction.
    {"NEAR", 0x150, "FE", {}},      // its own address
    {"NEAR", 0x14E, "00", {}},      // the address right after the JR
    {"NEAR", 0x153, "FB", {}},      // three bytes after the label
    {"260", 0x100, "02", {}},       // a numeric target is an address
    {"FAR", 0x100, "C6", {kRange}},  // 200 bytes on: the low bits of 198, out of reach
    {"UNKNOWN", 0x100, "FE", {kUndef}},
    {"0", 0x100, "FE", {kRange}},   // the address 0, no symbol lookup
    {"0", 0x0, "FE", {}},
    {"(0)", 0x0, "FE", {}},
    {"5X", 0x0, "FE", {kInvalid}},
};

TEST_F(OperandReaderTest, RelativeDisplacements) {
  for (const RelCase& c : kRelCases) {
    diag.Clear();
    EXPECT_EQ(values.CalcRelOffset(c.text, c.pc), c.byte) << c.text << " at " << c.pc;
    EXPECT_EQ(MessagesOf(diag), c.msgs) << c.text << " at " << c.pc;
  }
}

TEST_F(OperandReaderTest, RelativeRangeEnds) {
  // Furthest reachable targets: PC+2-128 and PC+2+127.
  symbols.AddLabel("BACK", 0x200 + 2 - 128);
  symbols.AddLabel("FWD", 0x200 + 2 + 127);
  symbols.AddLabel("BACK1", 0x200 + 2 - 129);
  symbols.AddLabel("FWD1", 0x200 + 2 + 128);
  diag.Clear();
  EXPECT_EQ(values.CalcRelOffset("BACK", 0x200), "80");
  EXPECT_EQ(values.CalcRelOffset("FWD", 0x200), "7F");
  EXPECT_TRUE(diag.Messages.empty());
  EXPECT_EQ(values.CalcRelOffset("BACK1", 0x200), "7F");
  EXPECT_EQ(values.CalcRelOffset("FWD1", 0x200), "80");
  EXPECT_EQ(MessagesOf(diag), (Msgs{kRange, kRange}));
}

struct DispCase {
  const char* text;
  const char* byte;
  Msgs msgs;
};

const std::vector<DispCase> kDispCases = {
    {"(IX+5)", "05", {}},
    {"(IY+&H10)", "10", {}},
    {"(IX+200)", "C8", {}},
    {"(IX+255)", "FF", {}},
    {"(IX)", "00", {}},
    {"(IX+0)", "00", {}},
    {"(IX+OFS)", "FB", {}},
    {"(IX-5)", "FB", {}},
    {"(IY-&H10)", "F0", {}},
    {"(IX-128)", "80", {}},
    {"(IX-0)", "00", {}},
    {"(IX+UNKNOWN)", "00", {kUndef}},
    {"(IX+5X)", "00", {kInvalid}},
    {"(IX + 7 )", "07", {}},
};

TEST_F(OperandReaderTest, IndexDisplacements) {
  for (const DispCase& c : kDispCases) {
    diag.Clear();
    EXPECT_EQ(values.XYDisplacement(c.text), c.byte) << c.text;
    EXPECT_EQ(MessagesOf(diag), c.msgs) << c.text;
  }
}

TEST(SymbolOperandTest, NamesTheSymbolAValueWouldLookUp) {
  EXPECT_EQ(OperandReader::SymbolOperand("COUNT"), "COUNT");
  EXPECT_EQ(OperandReader::SymbolOperand("(COUNT)"), "COUNT");
  EXPECT_EQ(OperandReader::SymbolOperand("10"), "");
  EXPECT_EQ(OperandReader::SymbolOperand("0"), "");
  EXPECT_EQ(OperandReader::SymbolOperand("0FFH"), "0FFH");
}

}  // namespace
}  // namespace orvane
