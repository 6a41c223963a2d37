// The file reader against the memory reader: the same text, written to a
// file, gives the same lines in both passes, wherever its line ends fall in
// the reader's buffers (spans of 64 bytes, reads of 64K, a CR as the last
// byte read, a line longer than the first buffer).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "driver/file_ops.h"

namespace {

using orvane::DiskFileSystem;
using orvane::LineSource;
using orvane::MemoryLineSource;

std::vector<std::string> Lines(LineSource& source) {
  std::vector<std::string> lines;
  for (std::string_view line; source.Next(line);) lines.emplace_back(line);
  return lines;
}

// Lines of the lengths `lengths` (cycled) ended by `ends` (cycled) up to
// about `size` bytes; the text after the last end is `tail`.
std::string Text(const std::vector<size_t>& lengths, const std::vector<std::string>& ends, size_t size,
                 const std::string& tail) {
  std::string text;
  for (size_t k = 0; text.size() < size; ++k) {
    const size_t n = lengths[k % lengths.size()];
    for (size_t i = 0; i < n; ++i) text.push_back(static_cast<char>('A' + (k + i) % 26));
    text += ends[k % ends.size()];
  }
  return text + tail;
}

// Random line ends, a few empty lines and lone CRs among them.
std::string RandomText(unsigned seed, size_t size) {
  std::mt19937 random(seed);
  const char* kEnds[] = {"\n", "\r\n", "\r", "\n\n", "\r\r\n", "\n\r"};
  std::string text;
  while (text.size() < size) {
    const size_t n = random() % 90;
    for (size_t i = 0; i < n; ++i) text.push_back(static_cast<char>(' ' + random() % 90));
    text += kEnds[random() % 6];
  }
  return text;
}

struct Case {
  const char* name;
  std::string text;
};

std::vector<Case> Cases() {
  std::vector<Case> cases = {
      {"empty", ""},
      {"one line without an end", "  NOP"},
      {"LF lines of every length up to two spans", Text({0, 1, 5, 31, 62, 63, 64, 65, 127, 128, 129}, {"\n"}, 20000, "")},
      {"CR LF lines", Text({0, 7, 62, 63, 64, 126}, {"\r\n"}, 20000, "")},
      {"lone CR lines", Text({3, 63, 64, 1}, {"\r"}, 20000, "  END")},
      {"ends mixed line by line", Text({10, 53, 0, 62, 63, 1}, {"\n", "\r\n", "\r", "\r\n\n"}, 30000, "X")},
      // Past the first read of 64K, so the second read joins a CR to its LF.
      {"CR LF across the first read", Text({65533}, {"\r\n"}, 1, "\r\nLAST\r\n")},
      {"CR as the last byte of the first read", Text({65535}, {"\r"}, 1, "NEXT\n")},
      {"LF lines over several reads", Text({24, 25, 26}, {"\n"}, 300000, "")},
      {"a line longer than the buffer", Text({70000, 3, 200000, 0}, {"\n", "\r\n"}, 300000, "tail")},
  };
  for (unsigned seed = 1; seed <= 4; ++seed) cases.push_back({"random ends", RandomText(seed, 150000)});
  return cases;
}

TEST(Reader, FileLinesAreTheMemoryReadersInBothPasses) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("orvane-reader-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "SOURCE.Z80").string();
  DiskFileSystem files;
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    { std::ofstream(path, std::ios::binary) << c.text; }
    MemoryLineSource memory(c.text);
    const std::vector<std::string> expected = Lines(memory);
    std::unique_ptr<LineSource> file = files.OpenRead(path);
    EXPECT_EQ(Lines(*file), expected);
    ASSERT_TRUE(file->Rewind());
    EXPECT_EQ(Lines(*file), expected) << "second pass";
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
