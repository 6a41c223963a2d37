// Whole runs compared byte for byte with hand-made expected files: for every
// case in cases/CASES, the source NAME.z80 is assembled once for CP/M (origin
// 0100) and once for Intel HEX (origin 0000), and the listing file, the
// listing box text and the object file must equal NAME.{cpm,hex}.LST,
// NAME.{cpm,hex}.box and NAME.com / NAME.HEX.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/file_ops.h"
#include "app/run.h"
#include "app/window_ops.h"
#include "encoder/assembler.h"

namespace orvane {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Golden(const std::string& name) { return ReadFile(std::string(GOLDEN_DIR) + "/" + name); }

// Files held in memory; an output appears only when committed.
class MemoryFileSystem : public FileSystem {
 public:
  std::map<std::string, std::string> files;
  std::vector<std::string> unwritable;  // Create() fails for these paths
  int creates = 0;

  std::unique_ptr<LineSource> OpenRead(const std::string& path) override {
    auto it = files.find(path);
    if (it == files.end()) throw FileError(path, "cannot open");
    return std::make_unique<MemoryLineSource>(it->second);
  }
  std::unique_ptr<CommitSink> Create(const std::string& path) override {
    ++creates;
    for (const auto& p : unwritable)
      if (p == path) throw FileError(path, "cannot write");
    return std::make_unique<Sink>(*this, path);
  }
  bool SameFile(const std::string& a, const std::string& b) override { return a == b && files.count(a) != 0; }

 private:
  class Sink : public CommitSink {
   public:
    Sink(MemoryFileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {}
    void Write(std::string_view bytes) override { data_.append(bytes); }
    void Commit() override { fs_.files[path_] = data_; }

   private:
    MemoryFileSystem& fs_;
    std::string path_;
    std::string data_;
  };
};

constexpr const char* kSource = "PROG.Z80";
constexpr const char* kList = "PROG.LST";
constexpr const char* kObject = "PROG.OBJ";

void SetUpWindow(HeadlessWindow& w, bool hex, bool box = true) {
  w.source = kSource;
  w.list = kList;
  w.object = kObject;
  w.intelHex = hex;
  w.listingChecked = box;
}

// Points at the first differing line, which a byte-for-byte EXPECT hides in
// long texts.
std::string FirstDifference(const std::string& want, const std::string& got) {
  size_t i = 0;
  while (i < want.size() && i < got.size() && want[i] == got[i]) ++i;
  if (i == want.size() && i == got.size()) return "";
  size_t start = want.rfind('\n', i == 0 ? 0 : i - 1);
  start = start == std::string::npos ? 0 : start + 1;
  auto line = [&](const std::string& s) {
    if (start >= s.size()) return std::string("<end>");
    size_t end = s.find('\n', start);
    std::string l = s.substr(start, end == std::string::npos ? std::string::npos : end - start + 1);
    std::string shown;
    for (char c : l) {
      if (c == '\r') shown += "\\r";
      else if (c == '\n') shown += "\\n";
      else shown += c;
    }
    return "[" + shown + "]";
  };
  std::ostringstream m;
  m << "first difference at byte " << i << " (sizes " << want.size() << " expected, " << got.size() << " got)\n"
    << "  expected line: " << line(want) << "\n"
    << "  actual line:   " << line(got);
  return m.str();
}

#define EXPECT_SAME_BYTES(want, got, what) \
  EXPECT_TRUE((want) == (got)) << (what) << ": " << FirstDifference((want), (got))

std::vector<std::string> LoadCases() {
  std::vector<std::string> names;
  std::istringstream in(Golden("CASES"));
  for (std::string n; std::getline(in, n);)
    if (!n.empty()) names.push_back(n);
  return names;
}

struct Format {
  const char* tag;     // file name part
  bool hex;
  const char* object;  // object file extension
};
constexpr Format kFormats[] = {{"cpm", false, "com"}, {"hex", true, "HEX"}};

class GoldenCase : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenCase, BothFormatsMatchTheExpectedFiles) {
  const std::string name = GetParam();
  const std::string source = Golden(name + ".z80");
  for (const Format& f : kFormats) {
    SCOPED_TRACE(name + " " + f.tag);
    MemoryFileSystem fs;
    fs.files[kSource] = source;
    HeadlessWindow w;
    SetUpWindow(w, f.hex);
    Assembler as(&w);
    RunResult r = AssembleFile(as, w, fs);
    EXPECT_TRUE(r.completed);
    EXPECT_SAME_BYTES(Golden(name + "." + f.tag + ".LST"), fs.files[kList], "listing file");
    EXPECT_SAME_BYTES(Golden(name + "." + f.tag + ".box"), w.listing, "listing box");
    EXPECT_SAME_BYTES(Golden(name + "." + f.object), fs.files[kObject], "object file");
    EXPECT_EQ(fs.files[kSource], source) << "the source must stay as it was";
    // A finished run hides Assemble and empties the path fields.
    EXPECT_FALSE(w.assembleVisible);
    EXPECT_EQ(w.source, "");
    EXPECT_EQ(w.list, "");
    EXPECT_EQ(w.object, "");
  }
}

TEST_P(GoldenCase, WithoutTheBoxTheFilesAreTheSameAndTheBoxStaysEmpty) {
  const std::string name = GetParam();
  for (const Format& f : kFormats) {
    SCOPED_TRACE(name + " " + f.tag);
    MemoryFileSystem fs;
    fs.files[kSource] = Golden(name + ".z80");
    HeadlessWindow w;
    SetUpWindow(w, f.hex, /*box=*/false);
    w.listing = "left over from before";
    Assembler as(&w);
    AssembleFile(as, w, fs);
    EXPECT_EQ(w.listing, "");
    EXPECT_SAME_BYTES(Golden(name + "." + f.tag + ".LST"), fs.files[kList], "listing file");
    EXPECT_SAME_BYTES(Golden(name + "." + f.object), fs.files[kObject], "object file");
  }
}

// The same assembler and window run the case twice, the second time after
// the other format: the symbol table and the HEX writer start afresh.
TEST_P(GoldenCase, RepeatedRunsGiveTheSameFiles) {
  const std::string name = GetParam();
  MemoryFileSystem fs;
  fs.files[kSource] = Golden(name + ".z80");
  HeadlessWindow w;
  Assembler as(&w);
  for (int round = 0; round < 2; ++round) {
    for (const Format& f : kFormats) {
      SCOPED_TRACE(name + " " + f.tag + " round " + std::to_string(round));
      SetUpWindow(w, f.hex);
      AssembleFile(as, w, fs);
      EXPECT_SAME_BYTES(Golden(name + "." + f.tag + ".LST"), fs.files[kList], "listing file");
      EXPECT_SAME_BYTES(Golden(name + "." + f.tag + ".box"), w.listing, "listing box");
      EXPECT_SAME_BYTES(Golden(name + "." + f.object), fs.files[kObject], "object file");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenCase, ::testing::ValuesIn(LoadCases()),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

// 16384 label-only lines fill the table; the statements after them are listed
// in full below.
TEST(GoldenSymbolTable, TheSymbolAfterTheLastSlotIsNotStored) {
  std::string src;
  for (int i = 1; i <= 16384; ++i) {
    char label[16];
    std::snprintf(label, sizeof label, "S%05d\n", i);
    src += label;
  }
  src +=
      "OVER DB 1\n"          // 16385th distinct name
      "S00001 DB 2\n"        // stored already: a repetition, not a full table
      "  DW OVER\n"          // was never stored
      "OVER2 DW UNDEF\n"     // full, then the operand's own message
      "E2 EQU 7\n"           // EQU labels count alike
      "S16384: DW S16384\n"  // the last stored name is found
      "  DB OVER\n";
  const std::string tail =
      "0000  01        OVER        DB      1               \r\n"
      "Symbol Table Full\r\n"
      "0001  02        S00001      DB      2               \r\n"
      "Duplicate Label\r\n"
      "0002  0000                  DW      OVER            \r\n"
      "Undefined Symbol Referenced\r\n"
      "0004  0000      OVER2       DW      UNDEF           \r\n"
      "Symbol Table FullUndefined Symbol Referenced\r\n"
      "0006  = 0007    E2          EQU     7               \r\n"
      "Symbol Table Full\r\n"
      "0006  0000      S16384:     DW      S16384          \r\n"
      "Duplicate Label\r\n"
      "0008  00                    DB      OVER            \r\n"
      "Undefined Symbol Referenced\r\n";

  MemoryFileSystem fs;
  fs.files[kSource] = src;
  HeadlessWindow w;
  SetUpWindow(w, true, false);
  Assembler as(&w);
  AssembleFile(as, w, fs);
  const std::string& lst = fs.files[kList];
  // The header, then 16384 entries of 54 characters for the label-only lines.
  std::string head = std::string(kSource) + "\r\n";
  ASSERT_GE(lst.size(), head.size() + 16384 * 54);
  EXPECT_EQ(lst.substr(head.size(), 54), "0000            S00001                              \r\n");
  EXPECT_SAME_BYTES(tail, lst.substr(head.size() + 16384 * 54), "listing tail");
  EXPECT_EQ(fs.files[kObject], ":1000000001020000000000000000000000000000ED\r\n:00000001FF\r\n");
}

// Outputs appear only when a run completes.
TEST(GoldenFailedRun, AMissingSourceLeavesEarlierOutputs) {
  MemoryFileSystem fs;
  fs.files[kList] = "old listing";
  fs.files[kObject] = "old object";
  HeadlessWindow w;
  SetUpWindow(w, true);
  w.source = "MISSING.Z80";
  Assembler as(&w);
  EXPECT_THROW(AssembleFile(as, w, fs), FileError);
  EXPECT_EQ(fs.files[kList], "old listing");
  EXPECT_EQ(fs.files[kObject], "old object");
}

TEST(GoldenFailedRun, AnUnwritableObjectLeavesTheEarlierListing) {
  MemoryFileSystem fs;
  fs.files[kSource] = "  DB 1\n";
  fs.files[kList] = "old listing";
  fs.unwritable.push_back(kObject);
  HeadlessWindow w;
  SetUpWindow(w, false);
  Assembler as(&w);
  EXPECT_THROW(AssembleFile(as, w, fs), FileError);
  EXPECT_EQ(fs.files[kList], "old listing");
  EXPECT_EQ(fs.files.count(kObject), 0u);
}

TEST(GoldenFailedRun, AnOutputNamingTheSourceIsRefusedBeforeAnythingIsWritten) {
  for (int which = 0; which < 2; ++which) {
    MemoryFileSystem fs;
    fs.files[kSource] = "  DB 1\n";
    HeadlessWindow w;
    SetUpWindow(w, true);
    (which == 0 ? w.list : w.object) = kSource;
    Assembler as(&w);
    EXPECT_THROW(AssembleFile(as, w, fs), FileError);
    EXPECT_EQ(fs.files[kSource], "  DB 1\n");
    EXPECT_EQ(fs.creates, 0);
    EXPECT_EQ(fs.files.size(), 1u);
  }
}

// A longer program and then a shorter one into the same outputs.
TEST(GoldenFailedRun, AShorterProgramReplacesTheLongerOutputsWhole) {
  MemoryFileSystem fs;
  HeadlessWindow w;
  Assembler as(&w);
  fs.files[kSource] = "  DS 'ABCDEFGHIJKLMNOPQRSTUVWXYZ'\n  DS 'ABCDEFGHIJKLMNOPQRSTUVWXYZ'\n";
  SetUpWindow(w, false);
  AssembleFile(as, w, fs);
  EXPECT_EQ(fs.files[kObject].size(), 52u);
  fs.files[kSource] = "  DB 7\n";
  SetUpWindow(w, false);
  AssembleFile(as, w, fs);
  EXPECT_EQ(fs.files[kObject], "\x07");
  EXPECT_EQ(fs.files[kList],
            "PROG.Z80\r\n"
            "0100  07                    DB      7               \r\n");
}

}  // namespace
}  // namespace orvane
