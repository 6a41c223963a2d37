// The HEX rules that fuzz_run judges the writer by must refuse each way a
// file can break them, and pass the files a real run writes.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "driver/file_ops.h"
#include "driver/run.h"
#include "row_file.h"
#include "support/hex_rules.h"

namespace orvane {
namespace {

std::string Crlf(std::string s) {
  std::string out;
  for (const char c : s) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

TEST(HexRules, EachBrokenRuleIsFound) {
  for (const auto& row : rows::Table(HEX_RULES_ROWS, "hex")) {
    ASSERT_EQ(row.size(), 3u);
    SCOPED_TRACE(row[0]);
    hex_rules::Sent sent;
    std::istringstream pieces(row[1]);
    for (std::string piece; pieces >> piece;) {
      const size_t colon = piece.find(':');
      std::vector<uint8_t> bytes;
      for (size_t at = colon + 1; at + 1 < piece.size(); at += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoi(piece.substr(at, 2), nullptr, 16)));
      }
      sent.Bytes(static_cast<uint32_t>(std::stoul(piece.substr(0, colon), nullptr, 16)), bytes.data(), bytes.size());
    }
    std::vector<hex_rules::Record> records;
    std::string fault = hex_rules::Parse(Crlf(row[0]), records);
    if (fault.empty()) fault = hex_rules::Holds(records, sent);
    EXPECT_EQ(fault, row[2]);
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
