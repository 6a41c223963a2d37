// The recorder on instruction streams made by hand, for what a CP/M program
// does not show: an interrupt, code two routines share, a routine that never
// returns, a return without a call, and calls deeper than it keeps.
#include <gtest/gtest.h>

#include <sstream>

#include "profile/recorder.h"
#include "row_file.h"
#include "profile/writers.h"

namespace orvane::profile {
namespace {

unsigned Hex(const std::string& s) { return static_cast<unsigned>(std::stoul(s, nullptr, 16)); }

std::string Pair(uint64_t a, uint64_t b) { return std::to_string(a) + "/" + std::to_string(b); }

// Every row of recorder_rows.txt (its header gives the format).
TEST(Recorder, Rows) {
  int n = 0;
  const std::string error = rows::Read(RECORDER_ROWS, [&](const std::string& row) {
    const std::vector<std::string> f = rows::Fields(row);
    rows::Need(f.size() == 3, "three fields");
    SCOPED_TRACE(f[0]);
    ++n;
    Recorder r(0x0100);
    std::stringstream stream(f[1]);
    for (std::string event; std::getline(stream, event, ';');) {
      std::istringstream in(event);
      std::string kind, pc, next, t, op = "0", op2 = "0";
      in >> kind >> pc >> next >> t >> op >> op2;
      rows::Need(kind == "x" || kind == "i", "an unknown event");
      if (kind == "x") r.Executed(Hex(pc), Hex(next), std::stoi(t), Hex(op), Hex(op2));
      if (kind == "i") r.Interrupted(Hex(pc), Hex(next), std::stoi(t));
    }
    r.Finish();
    std::istringstream checks(f[2]);
    for (std::string c; checks >> c;) {
      const std::string key = c.substr(0, c.find('=')), want = c.substr(c.find('=') + 1);
      std::vector<std::string> k;
      for (std::stringstream parts(key); std::getline(parts, c, ':');) k.push_back(c);
      std::string got;
      if (k[0] == "routines") got = std::to_string(r.routines().size());
      if (k[0] == "total") got = Pair(r.total().instructions, r.total().tstates);
      if (k[0] == "at") got = Pair(r.At(Hex(k.at(1))).instructions, r.At(Hex(k[1])).tstates);
      if (k[0] == "self") {
        const Cost& cost = r.Self(std::stoul(k.at(1))).at(Hex(k.at(2)));
        got = Pair(cost.instructions, cost.tstates);
      }
      if (k[0] == "arc") {
        const auto& arc = r.arcs().at({std::stoul(k.at(1)), Hex(k.at(2)), std::stoul(k.at(3))});
        got = Pair(arc.calls, arc.inclusive.tstates);
      }
      if (k[0] == "ways") got = Pair(r.Taken(Hex(k.at(1))), r.NotTaken(Hex(k[1])));
      EXPECT_EQ(got, want) << key;
    }
  });
  EXPECT_EQ(error, "");
  EXPECT_GT(n, 0);
}

TEST(Recorder, CallsWithoutReturnsKeepABoundedStack) {
  Recorder r(0x0100);
  // CALL then POP HL / JP back, forever: a frame each time, never closed.
  for (int i = 0; i < 100000; ++i) r.Executed(0x0100, 0x0200, 17, 0xCD, 0x00);
  r.Finish();
  uint64_t calls = 0;
  for (const auto& [key, arc] : r.arcs()) calls += arc.calls;
  EXPECT_LE(calls, Recorder::kMaxDepth);
  EXPECT_GT(calls, 0u);
  EXPECT_EQ(r.total().tstates, 1700000u);
}

TEST(Writers, ByAddressWithoutASource) {
  Recorder r(0x0100);
  r.Executed(0x0100, 0x0005, 17, 0xCD, 0x05);  // CALL 5
  r.Served(0x0005, 0x0103, 10);  // the BDOS
  r.Finish();
  ProgramInfo p;
  p.command = "prog.com";
  std::ostringstream out;
  WriteCallgrind(r, p, out);
  const std::string s = out.str();
  EXPECT_NE(s.find("fl=prog.com\n"), std::string::npos);
  EXPECT_NE(s.find("fn=0100H\n0x0100 0 1 17\ncfn=0005H\ncalls=1 0x0005 0\n0x0100 0 0 10\n"), std::string::npos) << s;
  EXPECT_NE(s.find("fn=0005H\n0x0005 0 0 10\n"), std::string::npos) << s;
  EXPECT_NE(s.find("summary: 1 27\n"), std::string::npos);
}

}  // namespace
}  // namespace orvane::profile
