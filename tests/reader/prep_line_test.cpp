// Line preparation against its one-byte definition: a-z upper-cased, a tab
// made a blank, every other byte (0x80 and above included) as it is. Every
// length up to three vector blocks, every byte value at every position, and
// one buffer shared by lines long and short, as the assembler shares it.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "front/statement.h"

namespace {

char Prepared(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  return c == '\t' ? ' ' : c;
}

TEST(PrepLine, EveryLengthAndByteAsTheOneByteDefinition) {
  std::mt19937 random(7);
  std::string buffer;
  for (size_t n = 0; n <= 48; ++n) {
    for (int round = 0; round < 64; ++round) {
      std::string line(n, ' ');
      for (char& c : line) c = static_cast<char>(random());
      // Each byte value once at some position of some round.
      if (n != 0) line[static_cast<size_t>(round) % n] = static_cast<char>(round * 4 + static_cast<int>(n % 4));
      const std::string source = line;
      std::string want = line;
      for (char& c : want) c = Prepared(c);
      // A longer line first leaves its bytes in the buffer, never in the result.
      std::string longer(64, 'q');
      (void)orvane::PrepLine(longer, buffer);
      const std::string_view got = orvane::PrepLine(line, buffer);
      ASSERT_EQ(std::string(got), want) << "length " << n << ", round " << round;
      ASSERT_EQ(line, source) << "the source line is left as it was";
    }
  }
}

}  // namespace
