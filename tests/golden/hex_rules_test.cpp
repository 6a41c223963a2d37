// The HEX rules that fuzz_run judges the writer by must refuse each way a
// file can break them, and pass the files a real run writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/file_ops.h"
#include "driver/run.h"
#include "support/hex_rules.h"

namespace orvane {
namespace {

struct Row {
  const char* file;  // CR LF added to each line written with \n
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> sent;
  const char* fault;  // "" for a file that keeps the rules
};

std::string Crlf(std::string s) {
  std::string out;
  for (const char c : s) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

TEST(HexRules, EachBrokenRuleIsFound) {
  const std::vector<uint8_t> ab{0x41, 0x42};
  const Row rows[] = {
      {":02FFFE0041427E\n:00000001FF\n", {{0xFFFE, ab}}, ""},
      {":02FFFE0041427E\n:00000001FF", {{0xFFFE, ab}}, "line 2: no CR LF at its end"},
      {":02fffe0041427e\n:00000001FF\n", {{0xFFFE, ab}}, "line 1: not upper-case hex digits"},
      {":02FFFE0041427F\n:00000001FF\n", {{0xFFFE, ab}}, "line 1: bad checksum"},
      {":03FFFE004142007D\n:00000001FF\n", {{0xFFFE, ab}}, "line 1: a data record of 3 bytes from 65534"},
      {":0200000041427B\n:00000001FF\n", {{0, ab}}, "line 1: a data record of 2 bytes from 0"},
      {":02FFFE0041427E\n", {{0xFFFE, ab}}, "no end record last"},
      {":00000001FF\n:00000001FF\n", {}, "line 2: a record after the end record"},
      {":02FFFE0041427E\n:00000001FF\n", {{0xFFFE, {0x41, 0x43}}}, "object byte 1 at 65535: the record holds another value"},
      {":02FFFE0041427E\n:00000001FF\n", {{0xFFFE, {0x41}}}, "the last data record goes on with bytes other than 00"},
      {":02FFFE0041427E\n:02FFFE0041427E\n:00000001FF\n", {{0xFFFE, ab}}, "data records beyond the object bytes"},
      {":02FFFE0041427E\n:00000001FF\n", {{0xFFFE, ab}, {0, ab}}, "object byte 2 at 0: no record for it"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file);
    hex_rules::Sent sent;
    for (const auto& [address, bytes] : row.sent) sent.Bytes(address, bytes.data(), bytes.size());
    std::vector<hex_rules::Record> records;
    std::string fault = hex_rules::Parse(Crlf(row.file), records);
    if (fault.empty()) fault = hex_rules::Holds(records, sent);
    EXPECT_EQ(fault, row.fault);
  }
}

// Real runs across the top of the address space and past END keep them.
TEST(HexRules, RunsAcrossFFFFHKeepThem) {
  struct Observer : RunObserver {
    hex_rules::Sent sent;
    void StatementDone(const Statement& s) override {
      if (s.toObject) sent.Bytes(s.address, s.bytes.data(), s.bytes.size());
      if (s.isEnd) sent.End();
    }
  };
  struct MemoryFiles : FileSystem {
    std::string text;
    struct Sink : CommitSink {
      std::string& out;
      explicit Sink(std::string& o) : out(o) {}
      void Write(std::string_view bytes) override { out.append(bytes); }
      void Install() override {}
      CommitKind Kind() const override { return CommitKind::kStream; }
    };
    std::unique_ptr<LineSource> OpenRead(const std::string&) override { return nullptr; }
    std::unique_ptr<CommitSink> Create(const std::string&) override { return std::make_unique<Sink>(text); }
    bool NamesSource(const std::string&, const std::string&) override { return false; }
    bool SameOutput(const std::string&, const std::string&) override { return false; }
  };
  for (const char* source : {" ORG &HFFFF\n DW 1\n", " ORG -1\n DB 1,2,3\n", " ORG &HFFF8\n DS 'ABCDEFGHIJKLMNOP'\n",
                             " ORG &HFFF0\n DB 1\n END\n DB 2\n ORG 5\n DB 3\n ORG 4\n DB 4\n"}) {
    SCOPED_TRACE(source);
    RunRequest request;
    request.path = "prog.z80";
    request.text = source;
    request.object = "prog.HEX";
    request.format = &kIntelHexFormat;
    MemoryFiles files;
    Observer observer;
    ASSERT_TRUE(orvane::Run(request, files, observer).completed);
    std::vector<hex_rules::Record> records;
    EXPECT_EQ(hex_rules::Parse(files.text, records), "") << files.text;
    EXPECT_EQ(hex_rules::Holds(records, observer.sent), "") << files.text;
  }
}

}  // namespace
}  // namespace orvane
