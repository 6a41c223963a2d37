// The recorder on instruction streams made by hand, for what a CP/M program
// does not show: an interrupt, code two routines share, a routine that never
// returns, a return without a call, and calls deeper than it keeps.
#include <gtest/gtest.h>

#include <sstream>

#include "profile/recorder.h"
#include "profile/writers.h"

namespace orvane::profile {
namespace {

TEST(Recorder, InterruptIsACallAndItsCostTheHandlers) {
  Recorder r(0x0100);
  r.Executed(0x0100, 0x0101, 4, 0x00, 0);   // NOP
  r.Interrupted(0x0101, 0x0038, 13);        // IM 1
  r.Executed(0x0038, 0x0039, 4, 0x00, 0);   // NOP in the handler
  r.Executed(0x0039, 0x0101, 14, 0xED, 0x4D);  // RETI
  r.Executed(0x0101, 0x0102, 4, 0x00, 0);
  r.Finish();
  ASSERT_EQ(r.routines().size(), 2u);
  EXPECT_EQ(r.total().tstates, 4u + 13 + 4 + 14 + 4);
  EXPECT_EQ(r.total().instructions, 4u);
  const auto& arc = r.arcs().at({0, 0x0101, 1});
  EXPECT_EQ(arc.calls, 1u);
  EXPECT_EQ(arc.inclusive.tstates, 13u + 4 + 14);
  EXPECT_EQ(r.Self(1).at(0x0038).tstates, 13u + 4);  // the acknowledge, then the NOP
}

TEST(Recorder, SharedCodeCountsUnderEachRoutineThatRanIt) {
  Recorder r(0x0100);
  // CALL A (0200H), A falls into the shared tail at 0300H; CALL B (0250H)
  // jumps there too.
  r.Executed(0x0100, 0x0200, 17, 0xCD, 0x00);
  r.Executed(0x0200, 0x0300, 10, 0xC3, 0x00);
  r.Executed(0x0300, 0x0103, 10, 0xC9, 0);
  r.Executed(0x0103, 0x0250, 17, 0xCD, 0x50);
  r.Executed(0x0250, 0x0300, 10, 0xC3, 0x00);
  r.Executed(0x0300, 0x0106, 10, 0xC9, 0);
  r.Finish();
  EXPECT_EQ(r.At(0x0300).instructions, 2u);
  EXPECT_EQ(r.Self(1).at(0x0300).instructions, 1u);
  EXPECT_EQ(r.Self(2).at(0x0300).instructions, 1u);
  EXPECT_EQ(r.arcs().at({0, 0x0103, 2}).inclusive.tstates, 20u);
}

TEST(Recorder, ConditionalsCountEachWay) {
  Recorder r(0x0100);
  struct Row {
    uint16_t pc, next;
    uint8_t op, op2;
    bool taken;
  } rows[] = {
      {0x0100, 0x0102, 0x20, 0x05, false},  // JR NZ not taken
      {0x0100, 0x0107, 0x20, 0x05, true},
      {0x0110, 0x0110, 0xED, 0xB0, true},   // LDIR repeating
      {0x0110, 0x0112, 0xED, 0xB0, false},  // LDIR done
      {0x0120, 0x0123, 0xCA, 0x00, false},  // JP Z not taken
      {0x0120, 0x0100, 0xCA, 0x00, true},
      {0x0130, 0x0131, 0xC8, 0, false},     // RET Z not taken
  };
  for (const Row& row : rows) r.Executed(row.pc, row.next, 7, row.op, row.op2);
  r.Finish();
  for (uint16_t pc : {0x0100, 0x0110, 0x0120}) {
    EXPECT_EQ(r.Taken(pc), 1u) << pc;
    EXPECT_EQ(r.NotTaken(pc), 1u) << pc;
  }
  EXPECT_EQ(r.Taken(0x0130), 0u);
  EXPECT_EQ(r.NotTaken(0x0130), 1u);
}

TEST(Recorder, AnUnmatchedReturnAndAnEndInsideARoutine) {
  Recorder r(0x0100);
  r.Executed(0x0100, 0x0000, 10, 0xC9, 0);  // RET with no call: nothing to close
  r.Executed(0x0100, 0x0200, 17, 0xCD, 0x00);
  r.Executed(0x0200, 0x0000, 10, 0xC3, 0x00);  // JP 0 from inside: the run ends
  r.Finish();
  const auto& arc = r.arcs().at({0, 0x0100, 1});
  EXPECT_EQ(arc.calls, 1u);
  EXPECT_EQ(arc.inclusive.tstates, 10u);
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
