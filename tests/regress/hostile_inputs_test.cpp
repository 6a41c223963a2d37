// Hostile source files run through the real files of a whole run: a 10 MB
// line, NUL bytes, binary garbage, a million labels, deeply parenthesised
// operands. Each must finish with outputs of the size its statements call
// for; anything slower than linear, or memory that grows with the file
// rather than the longest line, shows up as a test that does not finish.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/file_ops.h"
#include "app/run.h"
#include "app/window_ops.h"
#include "encoder/assembler.h"

namespace orvane {
namespace {

namespace fs = std::filesystem;

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("orvane-regress-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  struct Outcome {
    RunResult result;
    std::string listing;
    std::string object;
  };

  // Assembles `source` from a real file, CP/M or Intel HEX output.
  Outcome Run(const std::string& source, bool hex) {
    const std::string src = (dir_ / "prog.z80").string();
    const std::string lst = (dir_ / "prog.LST").string();
    const std::string obj = (dir_ / (hex ? "prog.HEX" : "prog.com")).string();
    {
      std::ofstream out(src, std::ios::binary);
      out.write(source.data(), static_cast<std::streamsize>(source.size()));
    }
    HeadlessWindow window;
    window.source = src;
    window.list = lst;
    window.object = obj;
    window.intelHex = hex;
    Assembler as(&window);
    DiskFileSystem files;
    Outcome o;
    o.result = AssembleFile(as, window, files);
    o.listing = ReadFile(lst);
    o.object = ReadFile(obj);
    header_ = src + "\r\n";
    return o;
  }

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  static size_t CountLines(const std::string& text) {
    size_t n = 0;
    for (size_t i = 0; (i = text.find("\r\n", i)) != std::string::npos; i += 2) ++n;
    return n;
  }

  fs::path dir_;
  std::string header_;  // the listing's first line for the last run
};

constexpr size_t kTenMegabytes = 10u * 1024 * 1024;

TEST_F(HostileInputTest, TenMegabyteCommentLine) {
  const std::string comment(kTenMegabytes, 'x');
  const Outcome o = Run("  NOP ;" + comment, false);
  EXPECT_TRUE(o.result.completed);
  EXPECT_EQ(o.result.lines, 1);
  EXPECT_EQ(o.object, std::string(1, '\0'));
  // Header, then the 52 fixed columns, the comment with the blank the
  // splitter appends after a comment that follows the mnemonic, and CR LF.
  EXPECT_EQ(o.listing.size(), header_.size() + 52 + 1 + comment.size() + 1 + 2);
  EXPECT_EQ(o.result.messages, 0);
}

TEST_F(HostileInputTest, TenMegabyteTextString) {
  // DS emits every character between the quotes: the listing continues the
  // object column over one line per four bytes.
  const size_t chars = kTenMegabytes;
  const Outcome o = Run("  DS '" + std::string(chars, 'a') + "'", false);
  EXPECT_TRUE(o.result.completed);
  EXPECT_EQ(o.result.objectBytes, chars);
  EXPECT_EQ(o.object, std::string(chars, 'A'));
  EXPECT_EQ(o.result.messages, 0);
  // Header, first line, then the remaining digits eight to a line.
  EXPECT_EQ(CountLines(o.listing), 1 + 1 + (2 * chars - 8 + 7) / 8);
}

TEST_F(HostileInputTest, TenMegabyteLineWithoutBlanksIsOneLabel) {
  const Outcome o = Run(std::string(kTenMegabytes, 'Q'), true);
  EXPECT_TRUE(o.result.completed);
  EXPECT_EQ(o.result.lines, 1);
  EXPECT_EQ(o.result.objectBytes, 0u);
  EXPECT_EQ(o.object, ":00000001FF\r\n");
  EXPECT_EQ(o.result.messages, 0);
  // The label column shows the first twelve characters only.
  EXPECT_EQ(CountLines(o.listing), 2u);
  EXPECT_EQ(o.listing.size(), header_.size() + 52 + 2);
}

TEST_F(HostileInputTest, FileOfNulBytes) {
  const Outcome cpm = Run(std::string(kTenMegabytes, '\0'), false);
  EXPECT_TRUE(cpm.result.completed);
  EXPECT_EQ(cpm.result.lines, 1);
  EXPECT_EQ(cpm.object, "");
  const Outcome hex = Run(std::string(kTenMegabytes, '\0'), true);
  EXPECT_EQ(hex.object, ":00000001FF\r\n");
}

// Checks that every line of an Intel HEX file is a record with a valid
// checksum and that the last line is the only end record.
void ExpectValidHexFile(const std::string& file) {
  auto value = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
  size_t pos = 0, endRecords = 0;
  std::string last;
  while (pos < file.size()) {
    const size_t eol = file.find("\r\n", pos);
    ASSERT_NE(eol, std::string::npos);
    const std::string rec = file.substr(pos, eol - pos);
    pos = eol + 2;
    ASSERT_GE(rec.size(), 11u);
    ASSERT_EQ(rec[0], ':');
    ASSERT_EQ(rec.find_first_not_of("0123456789ABCDEF", 1), std::string::npos) << rec;
    unsigned sum = 0;
    for (size_t i = 1; i + 1 < rec.size(); i += 2) sum += static_cast<unsigned>(value(rec[i]) * 16 + value(rec[i + 1]));
    EXPECT_EQ(sum % 256, 0u) << rec;
    if (rec.compare(7, 2, "01") == 0) ++endRecords;
    last = rec;
  }
  EXPECT_EQ(endRecords, 1u);
  EXPECT_EQ(last.compare(7, 2, "01"), 0) << last;
}

TEST_F(HostileInputTest, BinaryGarbage) {
  std::string garbage(4u * 1024 * 1024, '\0');
  uint64_t x = 0x243F6A8885A308D3ull;
  for (char& c : garbage) {
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    c = static_cast<char>(x >> 56);
  }
  size_t lineEnds = 0;
  for (char c : garbage) lineEnds += (c == '\n' || c == '\r');
  const Outcome cpm = Run(garbage, false);
  EXPECT_TRUE(cpm.result.completed);
  EXPECT_GT(cpm.result.lines, 0);
  EXPECT_LE(static_cast<size_t>(cpm.result.lines), lineEnds + 1);
  EXPECT_EQ(cpm.object.size(), cpm.result.objectBytes);
  // Every line gives at least the first line of its entry.
  EXPECT_GE(CountLines(cpm.listing), static_cast<size_t>(cpm.result.lines) + 1);

  const Outcome hex = Run(garbage, true);
  EXPECT_EQ(hex.result.lines, cpm.result.lines);
  EXPECT_EQ(hex.result.objectBytes, cpm.result.objectBytes);
  ExpectValidHexFile(hex.object);
}

TEST_F(HostileInputTest, MillionLabelsFillTheTable) {
  constexpr int kLabels = 1000000;
  std::string source;
  for (int i = 1; i <= kLabels; ++i) source += "L" + std::to_string(i) + ":\n";
  const Outcome o = Run(source, false);
  EXPECT_TRUE(o.result.completed);
  EXPECT_EQ(o.result.lines, kLabels);
  EXPECT_EQ(o.object, "");
  // The table holds 16384 symbols; every later definition is refused.
  EXPECT_EQ(o.result.statementsWithErrors, kLabels - 16384);
  EXPECT_EQ(o.result.messages, kLabels - 16384);
  EXPECT_EQ(CountLines(o.listing), 1u + kLabels + (kLabels - 16384));
  EXPECT_NE(o.listing.find("Symbol Table Full\r\n"), std::string::npos);
}

TEST_F(HostileInputTest, DeeplyParenthesisedOperands) {
  constexpr size_t kDepth = 200000;
  const std::string deep = std::string(kDepth, '(') + "1" + std::string(kDepth, ')');
  const std::string open = std::string(kDepth, '(') + "1";
  // LD A,(nn) is 3 bytes, DB 1 byte and DW 2 bytes whatever the value.
  const std::string source = "  LD A," + deep + "\n  DB " + deep + "\n  DW " + deep + "\n  LD A," + open + "\n";
  const Outcome o = Run(source, false);
  EXPECT_TRUE(o.result.completed);
  EXPECT_EQ(o.result.lines, 4);
  EXPECT_EQ(o.result.objectBytes, 3u + 1 + 2 + 3);
  EXPECT_EQ(o.object.size(), o.result.objectBytes);
}

TEST_F(HostileInputTest, ManyLinesEndedByLoneCarriageReturns) {
  constexpr int kLines = 300000;
  std::string source;
  for (int i = 0; i < kLines; ++i) source += "  NOP\r";
  const Outcome o = Run(source, false);
  EXPECT_EQ(o.result.lines, kLines);
  EXPECT_EQ(o.object, std::string(kLines, '\0'));
}

}  // namespace
}  // namespace orvane
