// Operand texts as the encoder sees them: the register an operand names (its
// 3-bit code for B C D E H L (HL) A, as the Z80 numbers them), and whether
// two symbol names are the same bytes.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "front/operands.h"
#include "front/symbols.h"

namespace {

namespace reg = orvane::reg;

struct RegRow {
  std::string_view text;
  int32_t code;
};

TEST(RegTyp, OneByteAndLongerOperands) {
  const RegRow rows[] = {
      {"B", 0},         {"C", 1},           {"D", 2},          {"E", 3},
      {"H", 4},         {"L", 5},           {"A", 7},          {"I", reg::I},
      {"R", reg::R},    {"F", reg::Value},  {"X", reg::Value}, {"0", reg::Value},
      {"9", reg::Value}, {"$", reg::Value}, {")", reg::Value}, {"a", reg::Value},
      // "(" alone is an address with nothing in it; the last byte after "(" is
      // dropped as its ")", whatever it is.
      {"(", reg::Empty}, {"", reg::Empty},
      {"(HL)", reg::HLInd}, {"(C)", reg::CInd}, {"(BC)", reg::BCInd}, {"(SP)", reg::SPInd},
      {"( HL )", reg::HLInd}, {"HL", reg::HL},  {"AF'", reg::AFAlt},  {"IX", reg::IX},
      {"IYH", reg::IY},    {"(IX+5)", reg::IXInd}, {"(5)", reg::Address}, {"(A)", reg::Paren + 7},
      {"BC", reg::BC},     {"205", reg::Value},  {"HLX", reg::Value},  {"WAIT535", reg::Value},
      {"DE", reg::DE},     {"SP", reg::SP},      {"AF", reg::AF},      {"IY", reg::IY},
      {"52", reg::Value},  {"CB", reg::Value},   {"HX", reg::Value},   {"IZ", reg::Value},
      {"()", reg::Empty},  {"(B", reg::Empty},   {"IXABC", reg::IX},   {"IYIYIY", reg::IY},
      {"ABCDE", reg::Value}, {"(ABCDE)", reg::Address}, {"(IY-128)", reg::IYInd}, {"1X", reg::Value},
  };
  for (const RegRow& row : rows) EXPECT_EQ(orvane::RegTyp(row.text), row.code) << '"' << row.text << '"';
}

TEST(SameName, EveryLengthAndEveryPositionThatDiffers) {
  const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  for (size_t n = 0; n <= 20; ++n) {
    const std::string name = letters.substr(0, n);
    const std::string copy = name;  // other bytes, the same text
    EXPECT_TRUE(orvane::SameName(name, copy)) << n;
    EXPECT_FALSE(orvane::SameName(name, name + "Z")) << n;
    for (size_t at = 0; at < n; ++at) {
      std::string other = name;
      other[at] = '_';
      EXPECT_FALSE(orvane::SameName(name, other)) << "length " << n << ", byte " << at;
      EXPECT_FALSE(orvane::SameName(other, name)) << "length " << n << ", byte " << at;
    }
  }
}

}  // namespace
