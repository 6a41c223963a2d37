// Hex text and the reading of numbers.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "front/numbers.h"

namespace orvane {
namespace {

struct HexCase {
  int32_t i;
  const char* hex2;
  const char* hex4;
  const char* opcodeHex4;
};

const HexCase kHexCases[] = {
    {0, "00", "0000", "0000"},        {5, "05", "0005", "0500"},
    {300, "2C", "012C", "2C01"},      {4660, "34", "1234", "3412"},
    {70000, "70", "1170", "7011"},    {-1, "FF", "FFFF", "FFFF"},
    {-2, "FE", "FFFE", "FEFF"},       {255, "FF", "00FF", "FF00"},
    {256, "00", "0100", "0001"},      {65535, "FF", "FFFF", "FFFF"},
    {65536, "00", "0000", "0000"},    {INT32_MIN, "00", "0000", "0000"},
    {INT32_MAX, "FF", "FFFF", "FFFF"}, {0xABCDEF, "EF", "CDEF", "EFCD"},
};

TEST(HexTest, DigitsOfTheLowBits) {
  for (const HexCase& c : kHexCases) {
    EXPECT_EQ(Hex2(c.i), c.hex2) << c.i;
    EXPECT_EQ(Hex4(c.i), c.hex4) << c.i;
    EXPECT_EQ(OpcodeHex4(c.i), c.opcodeHex4) << c.i;
  }
}

struct LeadingCase {
  const char* text;
  double value;
};

const LeadingCase kLeadingCases[] = {
    {"10", 10},          {"+10", 10},         {"-1", -1},          {"&H1F", 31},
    {"&O17", 15},        {"1 2", 12},         {" - 5", -5},        {"12H", 12},
    {"5X", 5},           {"1+COUNT", 1},      {"0FFH", 0},         {"COUNT", 0},
    {"", 0},             {"$", 0},            {"'A'", 0},          {"&HFFFF", -1},
    {"&H8000", -32768},  {"&H7FFF", 32767},   {"&H10000", 65536},  {"&HFFFFFFFF", -1},
    {"&O177777", -1},    {"&O200000", 65536}, {"1.5", 1.5},        {"2.5E1", 25},
    {"1E3", 1000},       {"1E", 1},           {"&H", 0},           {"&X12", 0},
    {".5", 0.5},         {"(12)", 0},         {"-&H10", -16},      {"1E-2", 0.01},
};

TEST(LeadingNumberTest, ReadsTheNumberAtTheStart) {
  for (const LeadingCase& c : kLeadingCases) EXPECT_DOUBLE_EQ(LeadingNumber(c.text), c.value) << c.text;
}

struct StrictCase {
  const char* text;
  std::optional<int32_t> value;
};

const StrictCase kStrictCases[] = {
    {"10", 10},
    {" 10 ", 10},
    {"+10", 10},
    {"-10", -10},
    {"&H1F", 31},
    {"&O17", 15},
    {"&HFFFFFFFF", -1},
    {"&H123456789", std::nullopt},  // more than eight hex digits
    {"&O37777777777", -1},
    {"&O40000000000", std::nullopt},
    {"2147483647", 2147483647},
    {"2147483648", std::nullopt},
    {"-2147483648", INT32_MIN},
    {"-2147483649", std::nullopt},
    {"2.5", 2},  // halves to even
    {"3.5", 4},
    {"-2.5", -2},
    {"0.5", 0},
    {"1.5E1", 15},
    {"1E400", std::nullopt},
    {"12H", std::nullopt},
    {"5X", std::nullopt},
    {"1+COUNT", std::nullopt},
    {"1 2", std::nullopt},
    {"", std::nullopt},
    {"+", std::nullopt},
    {"&H", std::nullopt},
    {"&HG", std::nullopt},
    {"&O8", std::nullopt},
    {"+&H10", std::nullopt},
    {"1E", std::nullopt},
    {"0", 0},
    {"-0", 0},
    {"0.0", 0},
};

TEST(StrictNumberTest, WholeTextMustBeOneNumber) {
  for (const StrictCase& c : kStrictCases) EXPECT_EQ(StrictNumber(c.text), c.value) << c.text;
}

TEST(WrapLow16Test, KeepsTheLowBitsOfAWideSum) {
  EXPECT_EQ(WrapLow16(6), 6);
  EXPECT_EQ(WrapLow16(-2), 0xFFFE);
  EXPECT_EQ(WrapLow16(65536 + 7), 7);
  EXPECT_EQ(WrapLow16(2.5), 2);
  EXPECT_EQ(WrapLow16(1e300), 0);  // a multiple of 65536
  EXPECT_EQ(WrapLow16(4294967296.0 * 3 + 5), 5);
}

}  // namespace
}  // namespace orvane
