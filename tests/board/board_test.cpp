// The board machine: interrupts taken in each mode with the vector on the
// bus, NMI, HALT, ROM, Save and Restore, loading and board files. The
// programs are hand-assembled bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <sstream>

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


Profile RomBoard() {
  Profile p;
  p.name = "rom";
  p.regions = {{Kind::kRom, 0, 0x00FF}, {Kind::kRam, 0x8000, 0xFFFF}};
  p.devices = {{DeviceSpec::kAcia, 0x80, {}}};
  return p;
}

std::vector<uint8_t> Bytes(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::string Hex(unsigned value, int digits) {
  char s[8];
  std::snprintf(s, sizeof s, "%0*X", digits, value);
  return s;
}

// Every row of machine.txt (its header gives the format).
TEST(BoardMachine, Rows) {
  int n = 0;
  const std::string error = rows::Read(BOARD_MACHINE_ROWS, [&](const std::string& row) {
    const std::vector<std::string> f = rows::Fields(row);
    rows::Need(f.size() == 4, "four fields");
    SCOPED_TRACE(f[0]);
    ++n;
    Line line;
    BoardOptions options;
    options.strict = f[1] == "rom-strict";
    const Profile p = f[1].rfind("rom", 0) == 0 ? RomBoard()
                      : f[1] == "acia"            ? Ram64({{DeviceSpec::kAcia, 0x80, {}}})
                                                  : Ram64({{DeviceSpec::kCtc, 0x88, {}}, {DeviceSpec::kAcia, 0x80, {}}});
    Board b(p, line, options);
    std::istringstream in(f[2]);
    bool ran = false;
    int t = 0;
    for (std::string a; in >> a;) {
      SCOPED_TRACE(a);
      const size_t eq = a.find('=');
      const std::string key = a.substr(0, eq), value = eq == std::string::npos ? "" : a.substr(eq + 1);
      std::string why;
      if (a[0] == '@') {
        uint16_t at = static_cast<uint16_t>(std::stoul(key.substr(1), nullptr, 16));
        for (uint8_t x : Bytes(value)) b.memory().bytes[at++] = x;
      } else if (key == "load") {
        EXPECT_TRUE(b.LoadBinary(Bytes(value), 0, why)) << why;
      } else if (a == "reset") {
        b.Reset(0);
      } else if (a.rfind("step", 0) == 0 && eq == std::string::npos) {
        for (int i = a == "step" ? 1 : std::stoi(a.substr(4)); i > 0; --i) b.Step(t);
      } else if (a[0] == '<') {
        line.in.push_back(static_cast<uint8_t>(std::stoul(a.substr(1), nullptr, 16)));
      } else if (a == "ended") {
        line.ended = true;
      } else if (a.rfind("int", 0) == 0) {  // until a step that is no instruction
        bool taken = false;
        for (int i = a == "int" ? 100000 : std::stoi(a.substr(3)); i > 0 && !taken && b.stopStatus() == 0; --i)
          taken = b.Step(t) != Board::StepKind::kInstruction;
        EXPECT_TRUE(taken);
      } else if (a == "nmi") {
        b.Nmi();
      } else if (key == "step") {
        const Board::StepKind kind = b.Step(t);
        EXPECT_EQ(std::string(kind == Board::StepKind::kNmi ? "nmi" : kind == Board::StepKind::kInterrupt ? "int" : "op") +
                      "," + std::to_string(t),
                  value);
      } else if (key == "run") {
        const runner::RunResult r = b.Run();
        EXPECT_EQ(std::to_string(r.status), value);
        EXPECT_EQ(r.message, f[3]);
        ran = true;
      } else if (key == "pc") {
        EXPECT_EQ(Hex(b.Get(Reg::PC), 4), value);
      } else if (key == "(sp)") {
        EXPECT_EQ(Hex(b.memory().Word(b.Get(Reg::SP)), 4), value);
      } else if (a[0] == 'm') {
        EXPECT_EQ(Hex(b.memory().bytes[std::stoul(key.substr(1), nullptr, 16)], 2), value);
      } else if (key == "halted") {
        EXPECT_EQ(b.Halted(), value == "1");
      } else if (key == "vector") {
        EXPECT_EQ(Hex(b.vectorOnBus(), 2), value);
      } else if (key == "service1") {
        EXPECT_EQ(std::get<Ctc>(b.devices().at(0)).ch[1].inService, value == "1");
      } else {
        rows::Need(false, "an unknown action");
      }
    }
    EXPECT_TRUE(ran || f[3].empty()) << "a message without a run";
  });
  EXPECT_EQ(error, "");
  EXPECT_GT(n, 0);
}

TEST(BoardState, RestoreTakesTheCpuAndDevicesBack) {
  Line line;
  Board b(Ram64({{DeviceSpec::kCtc, 0x88, {}}, {DeviceSpec::kAcia, 0x80, {}}}), line);
  const std::vector<uint8_t> program = {0x3E, 0x87, 0xD3, 0x88, 0x3E, 0x10, 0xD3, 0x88, 0x3C, 0x18, 0xFD};
  std::copy(program.begin(), program.end(), b.memory().bytes);
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
