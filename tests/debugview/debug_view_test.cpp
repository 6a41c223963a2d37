// The debugger window's texts: addresses typed into "Go to", the registers
// and flags with their changes marked, memory rows, bytes typed over memory,
// watched symbols, the source rows and their T-states; the tables are debug_view_rows.txt.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/debug_view.h"
#include "driver/run.h"
#include "lsp/collector.h"
#include "output/formats.h"
#include "row_file.h"

namespace dv = orvane::debugview;

namespace {

dv::Registers SomeRegisters() {
  dv::Registers r;
  r.af = 0x1234, r.bc = 0x0005, r.de = 0xBEEF, r.hl = 0x0180, r.af2 = 0xFF00, r.bc2 = 0x1111;
  r.de2 = 0x2222, r.hl2 = 0x3333, r.ix = 0x4000, r.iy = 0x5000, r.sp = 0xFDFE, r.pc = 0x0103, r.i = 0, r.r = 0x7F;
  return r;
}

using Row = std::vector<std::string>;

// Hands the fields after the kind of every row of debug_view_rows.txt of that
// kind to check; fails when the file cannot be read, a row has an unknown
// kind or the wrong number of fields, or there is no row of the kind.
void EachRow(const std::string& kind, const std::function<void(const Row&)>& check) {
  static const std::map<std::string, size_t> kFields = {
      {"address", 3}, {"flags", 5}, {"byte", 2}, {"value", 3}, {"source", 5}, {"tstates", 2},
      {"watch", 2},   {"since", 3}, {"memory", 3}};
  int n = 0;
  EXPECT_EQ(rows::Read(DEBUG_VIEW_ROWS,
                       [&](const std::string& line) {
                         const Row f = rows::Fields(line);
                         rows::Need(kFields.count(f[0]) && kFields.at(f[0]) == f.size() - 1,
                                    "an unknown kind or the wrong number of fields");
                         if (f[0] == kind) check(Row(f.begin() + 1, f.end())), ++n;
                       }),
            "");
  EXPECT_GT(n, 0) << "no " << kind << " rows";
}

int Number(const std::string& text) {
  size_t used = 0;
  const int n = std::stoi(text, &used, 0);
  rows::Need(used == text.size(), "not a number");
  return n;
}

TEST(DebugView, ResolveAddress) {
  const dv::Symbols symbols{{"COUNT", 0x150}, {"BUFSIZE", 128}, {"BEEFH", 0x0BEE}};
  EachRow("address", [&](const Row& r) {
    std::string why;
    const auto a = dv::ResolveAddress(r[0], SomeRegisters(), symbols, why);
    EXPECT_EQ(a ? int{*a} : -1, Number(r[1])) << r[0];
    EXPECT_EQ(why, r[2]) << r[0];
  });
}

TEST(DebugView, RegistersChangedSinceTheLastStop) {
  const dv::Registers before = SomeRegisters();
  dv::Registers now = before;
  EXPECT_EQ(dv::RegisterRows(now, before).size(), 14u);
  for (const dv::Shown& s : dv::RegisterRows(now, before)) EXPECT_FALSE(s.changed) << s.name;
  now.bc = 0x0004, now.pc = 0x0104, now.r = 0x00;  // DEC C... and the refresh counter wraps
  std::string changed, shown;
  for (const dv::Shown& s : dv::RegisterRows(now, before)) {
    shown += s.name + "=" + s.value + " ";
    if (s.changed) changed += s.name + " ";
  }
  EXPECT_EQ(changed, "BC PC R ");
  EXPECT_EQ(shown, "AF=1234 BC=0004 DE=BEEF HL=0180 AF'=FF00 BC'=1111 DE'=2222 HL'=3333 IX=4000 IY=5000 SP=FDFE "
                   "PC=0104 I=00 R=00 ");
  // EXX: both sets change places.
  now = before;
  std::swap(now.bc, now.bc2), std::swap(now.de, now.de2), std::swap(now.hl, now.hl2);
  changed.clear();
  for (const dv::Shown& s : dv::RegisterRows(now, before))
    if (s.changed) changed += s.name + " ";
  EXPECT_EQ(changed, "BC DE HL BC' DE' HL' ");
}

TEST(DebugView, Flags) {
  EachRow("flags", [](const Row& r) {
    const auto f = static_cast<uint8_t>(Number(r[0]));
    std::string values, changed;
    for (const dv::Shown& s : dv::FlagRows(f, static_cast<uint8_t>(Number(r[1])))) {
      values += s.value;
      if (s.changed) changed += (changed.empty() ? "" : " ") + s.name;
    }
    EXPECT_EQ(values, r[2]) << r[0];
    EXPECT_EQ(changed, r[3]) << r[0];
    EXPECT_EQ(dv::FlagsLine(f), r[4]) << r[0];
  });
}

TEST(DebugView, ByteTypedOverMemory) {
  EachRow("byte", [](const Row& r) {
    const auto b = dv::ParseByte(r[0]);
    EXPECT_EQ(b ? int{*b} : -1, Number(r[1])) << r[0];
  });
}

TEST(DebugView, ValueTypedOverARegister) {
  const dv::Symbols symbols{{"COUNT", 0x150}, {"BUFSIZE", 128}};
  EachRow("value", [&](const Row& r) {
    const auto v = dv::ParseValue(r[0], Number(r[1]), symbols);
    EXPECT_EQ(v ? int{*v} : -1, Number(r[2])) << r[0] << " " << r[1];
  });
}

TEST(DebugView, MemoryRow) {
  const std::vector<uint8_t> bytes{'H', 'i', '!', 0x00, 0x7F, 0x20, 0x80, 0xFF, 0x0D, 0x0A, '$', '~', 0x1F, 'z', '0', 0x3E};
  EachRow("memory", [&](const Row& r) {
    EXPECT_EQ(dv::MemoryRowText(Number(r[0]), std::span(bytes).first(Number(r[1]))), r[2]) << r[0];
  });
}

TEST(DebugView, WatchedSymbols) {
  std::vector<uint8_t> memory(0x10000);
  const std::string text = "COUNT:\x01\x02";
  std::copy(text.begin(), text.end(), memory.begin() + 0x0150);
  memory[0xFFFF] = 0x41;
  const dv::Symbols symbols{{"COUNT", 0x150}, {"TOP", 0xFFFF}, {"MINUS", -2}};
  EachRow("watch", [&](const Row& r) {
    const dv::WatchRow w = dv::Watch(r[0], symbols, memory);
    EXPECT_EQ(w.name + "|" + w.value + "|" + w.bytes + "|" + (w.known ? "known" : "unknown"), r[1]) << r[0];
  });
}

TEST(DebugView, TStates) {
  EachRow("since", [](const Row& r) { EXPECT_EQ(dv::TStatesText(std::stoull(r[0]), std::stoll(r[1])), r[2]) << r[0]; });
}

TEST(DebugView, SourceRows) {
  EachRow("source", [](const Row& r) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < r[1].size(); i += 2) bytes.push_back(static_cast<uint8_t>(Number("0x" + r[1].substr(i, 2))));
    orvane::Statement s;
    s.line = 7;
    s.source = r[0];
    s.bytes = bytes;
    s.toObject = r[2] == "1";
    const dv::SourceRow got = dv::MakeSourceRow(s, static_cast<size_t>(Number(r[3])));
    EXPECT_EQ(std::to_string(got.line) + "|" + std::to_string(got.address) + "|" + got.bytes + "|" + got.text, r[4]) << r[0];
  });
}

// The T-states rows assembled as one program, as the window gets its rows.
TEST(DebugView, SourceRowTStates) {
  std::vector<Row> rows;
  std::string program;
  EachRow("tstates", [&](const Row& r) {
    rows.push_back(r);
    program += r[0] + "\n";
  });
  orvane::lsp::NoFiles files;  // the program is in memory: a run that asked for a file would fail
  struct Collect : orvane::RunObserver {
    std::vector<dv::SourceRow> got;
    size_t image = 0;
    void StatementDone(const orvane::Statement& s) override {
      got.push_back(dv::MakeSourceRow(s, image));
      if (s.toObject) image += s.bytes.size();
    }
    void Reported(const orvane::Problem& p, const orvane::Statement& s, int64_t) override {
      ADD_FAILURE() << s.line << ": " << p.text;
    }
  } collect;
  orvane::RunRequest request;
  request.path = "tstates.z80";
  request.text = program;
  request.format = &orvane::kCpmFormat;
  const orvane::RunResult result = orvane::Run(request, files, collect);
  EXPECT_EQ(result.messages, 0);
  ASSERT_EQ(collect.got.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(collect.got[i].tstates, rows[i][1]) << rows[i][0];
}

}  // namespace
