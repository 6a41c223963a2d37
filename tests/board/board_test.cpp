// The board machine: interrupts taken in each mode with the vector on the
// bus, NMI, HALT, ROM, Save and Restore, loading and board files. The
// programs are hand-assembled bytes.
#include <gtest/gtest.h>

#include <deque>

#include "board/board.h"
#include "row_file.h"

namespace orvane::board {
namespace {

using runner::Reg;

class Line final : public SerialLine {
 public:
  bool Ready() override { return !in.empty(); }
  int Read() override {
    const int c = in.front();
    in.pop_front();
    return c;
  }
  bool Ended() override { return in.empty() && ended; }
  void Write(uint8_t b) override { out += static_cast<char>(b); }
  std::deque<uint8_t> in;
  std::string out;
  bool ended = false;
};

Profile Ram64(std::vector<DeviceSpec> devices) {
  Profile p;
  p.name = "test";
  p.regions = {{Kind::kRam, 0, 0xFFFF}};
  p.devices = std::move(devices);
  return p;
}

void Put(Board& b, uint16_t at, std::vector<uint8_t> bytes) {
  for (uint8_t x : bytes) b.memory().bytes[at++] = x;
}

// Steps until an interrupt is taken; false after limit steps without one.
bool StepToInterrupt(Board& b, int limit = 100000) {
  for (int i = 0; i < limit && b.stopStatus() == 0; ++i) {
    int t;
    if (b.Step(t) != Board::StepKind::kInstruction) return true;
  }
  return false;
}

// Sets up the ACIA (03H, 96H: receive interrupts), IM mode, EI, HALT; the
// handler at 0038H stores the byte at 9000H.
std::vector<uint8_t> AciaProgram(uint8_t imSecond) {
  return {0x31, 0x00, 0x80, 0x3E, 0x03, 0xD3, 0x80, 0x3E, 0x96, 0xD3, 0x80, 0xED, imSecond, 0xFB, 0x76, 0x18, 0xFD};
}

TEST(BoardInterrupts, AciaInIm1TakesRst38FromHalt) {
  Line line;
  Board b(Ram64({{DeviceSpec::kAcia, 0x80, {}}}), line);
  Put(b, 0, AciaProgram(0x56));
  Put(b, 0x38, {0xDB, 0x81, 0x32, 0x00, 0x90, 0xFB, 0xED, 0x4D});
  b.Reset(0);
  int t;
  for (int i = 0; i < 20; ++i) b.Step(t);
  EXPECT_TRUE(b.Halted());
  line.in.push_back('A');
  ASSERT_TRUE(StepToInterrupt(b));
  EXPECT_EQ(b.Get(Reg::PC), 0x0038);
  const uint16_t sp = b.Get(Reg::SP);
  EXPECT_EQ(b.memory().Word(sp), 0x000F);  // back after the HALT
  for (int i = 0; i < 4; ++i) b.Step(t);
  EXPECT_EQ(b.memory().bytes[0x9000], 'A');
  EXPECT_EQ(b.Get(Reg::PC), 0x000F);
}

TEST(BoardInterrupts, Im0RunsTheFfhOnTheBusAsRst38) {
  Line line;
  Board b(Ram64({{DeviceSpec::kAcia, 0x80, {}}}), line);
  Put(b, 0, AciaProgram(0x46));
  b.Reset(0);
  line.in.push_back('A');
  ASSERT_TRUE(StepToInterrupt(b));
  EXPECT_EQ(b.vectorOnBus(), 0xFF);
  EXPECT_EQ(b.Get(Reg::PC), 0x0038);
}

TEST(BoardInterrupts, Im2TakesTheCtcVectorAndRetiEndsTheService) {
  Line line;
  Board b(Ram64({{DeviceSpec::kCtc, 0x88, {}}, {DeviceSpec::kAcia, 0x80, {}}}), line);
  // I=01H, vector 20H; channel 1 timer /16, constant 4, interrupts on.
  Put(b, 0, {0x31, 0x00, 0x80, 0x3E, 0x01, 0xED, 0x47, 0xED, 0x5E, 0x3E, 0x20, 0xD3, 0x88, 0x3E, 0x87,
             0xD3, 0x89, 0x3E, 0x04, 0xD3, 0x89, 0xFB, 0x76, 0x18, 0xFD});
  Put(b, 0x0122, {0x00, 0x02});
  Put(b, 0x0200, {0xFB, 0xED, 0x4D});
  b.Reset(0);
  ASSERT_TRUE(StepToInterrupt(b));
  EXPECT_EQ(b.vectorOnBus(), 0x22);
  EXPECT_EQ(b.Get(Reg::PC), 0x0200);
  auto& ctc = std::get<Ctc>(b.devices()[0]);
  EXPECT_TRUE(ctc.ch[1].inService);
  int t;
  b.Step(t);
  b.Step(t);
  EXPECT_FALSE(ctc.ch[1].inService);
  EXPECT_EQ(b.Get(Reg::PC), 0x0017);
  // The next tick 64 T-states on: JR, HALT, then the wait for it is one step.
  ASSERT_TRUE(StepToInterrupt(b, 3));
  EXPECT_EQ(b.Get(Reg::PC), 0x0200);
}

TEST(BoardInterrupts, NmiGoesTo0066HEvenWithInterruptsOff) {
  Line line;
  Board b(Ram64({{DeviceSpec::kAcia, 0x80, {}}}), line);
  Put(b, 0, {0x31, 0x00, 0x80, 0xF3, 0x00, 0x18, 0xFD});
  b.Reset(0);
  int t;
  b.Step(t);
  b.Step(t);
  b.Nmi();
  EXPECT_EQ(b.Step(t), Board::StepKind::kNmi);
  EXPECT_EQ(t, 11);
  EXPECT_EQ(b.Get(Reg::PC), 0x0066);
}

TEST(BoardRun, HaltWithInterruptsOffEndsTheRun) {
  Line line;
  Board b(Ram64({{DeviceSpec::kAcia, 0x80, {}}}), line);
  Put(b, 0, {0x00, 0xF3, 0x76});
  b.Reset(0);
  const runner::RunResult r = b.Run();
  EXPECT_EQ(r.status, runner::kHalt);
  EXPECT_EQ(r.message, "HALT at 0002H with interrupts disabled");
}

TEST(BoardRun, HaltWaitingForInputThatEnded) {
  Line line;
  line.ended = true;
  Board b(Ram64({{DeviceSpec::kAcia, 0x80, {}}}), line);
  Put(b, 0, AciaProgram(0x56));
  b.Reset(0);
  const runner::RunResult r = b.Run();
  EXPECT_EQ(r.status, runner::kInputEnded);
  EXPECT_EQ(r.message, "HALT at 000EH waits for console input, and the input has ended");
}

Profile RomBoard() {
  Profile p;
  p.name = "rom";
  p.regions = {{Kind::kRom, 0, 0x00FF}, {Kind::kRam, 0x8000, 0xFFFF}};
  p.devices = {{DeviceSpec::kAcia, 0x80, {}}};
  return p;
}
// LD A,55H / LD (0050H),A / LD A,(0050H) / LD (8000H),A / DI / HALT
const std::vector<uint8_t> kRomWrite = {0x3E, 0x55, 0x32, 0x50, 0x00, 0x3A, 0x50, 0x00, 0x32, 0x00, 0x80, 0xF3, 0x76};

TEST(BoardRun, WritesToRomAreIgnored) {
  Line line;
  Board b(RomBoard(), line);
  std::string error;
  ASSERT_TRUE(b.LoadBinary(kRomWrite, 0, error)) << error;
  EXPECT_EQ(b.Run().status, runner::kHalt);
  EXPECT_EQ(b.memory().bytes[0x8000], 0xFF);  // ROM past the image reads FFH
}

TEST(BoardRun, StrictMakesAWriteToRomAFault) {
  Line line;
  BoardOptions o;
  o.strict = true;
  Board b(RomBoard(), line, o);
  std::string error;
  ASSERT_TRUE(b.LoadBinary(kRomWrite, 0, error)) << error;
  const runner::RunResult r = b.Run();
  EXPECT_EQ(r.status, runner::kFault);
  EXPECT_EQ(r.message, "the instruction at 0002H wrote to 0050H, which is ROM");
}

TEST(BoardState, RestoreTakesTheCpuAndDevicesBack) {
  Line line;
  Board b(Ram64({{DeviceSpec::kCtc, 0x88, {}}, {DeviceSpec::kAcia, 0x80, {}}}), line);
  Put(b, 0, {0x3E, 0x87, 0xD3, 0x88, 0x3E, 0x10, 0xD3, 0x88, 0x3C, 0x18, 0xFD});
  b.Reset(0);
  int t;
  for (int i = 0; i < 4; ++i) b.Step(t);
  const Board::State s = b.Save();
  const uint16_t af = b.Get(Reg::AF);
  for (int i = 0; i < 50; ++i) b.Step(t);
  EXPECT_NE(b.Get(Reg::AF), af);
  b.Restore(s);
  EXPECT_EQ(b.Get(Reg::AF), af);
  EXPECT_EQ(b.tstates(), s.tstates);
  EXPECT_EQ(std::get<Ctc>(b.devices()[0]).ch[0].count, std::get<Ctc>(s.devices[0]).ch[0].count);
}

TEST(BoardLoad, IntelHexRows) {
  for (const auto& r : rows::Table(BOARD_FILE_ROWS, "hex")) {
    ASSERT_EQ(r.size(), 2u);
    SCOPED_TRACE(r[0]);
    Line line;
    Board b(RomBoard(), line);
    std::string error;
    const bool ok = r[1].size() == 4;  // a start address
    EXPECT_EQ(b.LoadHex(r[0], error), ok);
    if (ok) {
      char s[8];
      std::snprintf(s, sizeof s, "%04X", b.Get(Reg::PC));
      EXPECT_EQ(s, r[1]);
      EXPECT_EQ(b.memory().bytes[1], 0x34);
    } else {
      EXPECT_EQ(error, r[1]);
    }
  }
}

TEST(BoardFile, Rows) {
  for (const auto& r : rows::Table(BOARD_FILE_ROWS, "board")) {
    ASSERT_EQ(r.size(), 2u);
    SCOPED_TRACE(r[0]);
    Profile p;
    std::string error;
    EXPECT_EQ(ParseBoardFile(r[0], "b.txt", p, error), r[1].empty());
    EXPECT_EQ(error, r[1]);
  }
}

TEST(BoardProfiles, ListedInWords) {
  std::string all;
  for (const Profile& p : Profiles()) all += p.name + ": " + p.Describe() + "\n";
  EXPECT_EQ(all,
            "sbc-acia: ROM 0000H-1FFFH, RAM 8000H-FFFFH, 68B50 ACIA at 80H\n"
            "sbc-sio: ROM 0000H-1FFFH, RAM 8000H-FFFFH, Z80 CTC at 88H-8BH, Z80 SIO/2 at 80H-83H\n"
            "ram64-acia: RAM 0000H-FFFFH, 68B50 ACIA at 80H\n");
}

}  // namespace
}  // namespace orvane::board
