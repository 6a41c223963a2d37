// The rows of devices.txt on the ACIA, SIO/2 and CTC models.
#include <gtest/gtest.h>

#include <deque>
#include <sstream>

#include "board/devices.h"
#include "row_file.h"

namespace orvane::board {
namespace {

class FakeLine final : public SerialLine {
 public:
  bool Ready() override { return !in.empty(); }
  int Read() override {
    if (in.empty()) return -1;
    const int c = in.front();
    in.pop_front();
    return c;
  }
  bool Ended() override { return false; }
  void Write(uint8_t b) override { out.push_back(b); }
  std::deque<uint8_t> in;
  std::vector<uint8_t> out;
};

unsigned Hex(const std::string& s) { return static_cast<unsigned>(std::stoul(s, nullptr, 16)); }

std::string Bytes(const std::vector<uint8_t>& v) {
  std::string s;
  char b[4];
  for (uint8_t x : v) std::snprintf(b, sizeof b, "%02X", x), s += b;
  return s;
}

const char* ChainName(Chain c) { return c == Chain::kIdle ? "idle" : c == Chain::kRequest ? "req" : "busy"; }

template <typename D>
void RunRow(D& dev, const std::string& actions, const std::string& where) {
  FakeLine line;
  Bus bus{0, &line};
  std::istringstream in(actions);
  for (std::string a; in >> a;) {
    SCOPED_TRACE(where + " at " + a);
    const size_t eq = a.find('=');
    if (a == "reti") {
      dev.Reti();
    } else if (a[0] == 'w') {
      dev.Out(std::stoi(a.substr(1, eq - 1)), static_cast<uint8_t>(Hex(a.substr(eq + 1))), bus);
    } else if (a[0] == 'r') {
      char got[4];
      std::snprintf(got, sizeof got, "%02X", dev.In(std::stoi(a.substr(1, eq - 1)), bus));
      EXPECT_EQ(got, a.substr(eq + 1));
    } else if (a[0] == '<') {
      line.in.push_back(static_cast<uint8_t>(Hex(a.substr(1))));
    } else if (a[0] == '>') {
      EXPECT_EQ(Bytes(line.out), a.substr(1));
    } else if (a[0] == 't') {
      bus.now += std::stoull(a.substr(1));
      dev.Advance(bus);
    } else if (a.rfind("irq=", 0) == 0) {
      EXPECT_EQ(dev.Irq(), a[4] == '1');
    } else if (a.rfind("chain=", 0) == 0) {
      EXPECT_STREQ(ChainName(dev.State()), a.substr(6).c_str());
    } else if (a.rfind("ack=", 0) == 0) {
      char got[4];
      std::snprintf(got, sizeof got, "%02X", dev.Acknowledge());
      EXPECT_EQ(got, a.substr(4));
    } else {
      ADD_FAILURE() << "unknown action " << a;
    }
  }
}

TEST(Devices, Rows) {
  int rows = 0;
  const std::string error = rows::Read(ORVANE_BOARD_ROWS, [&](const std::string& line) {
    const std::vector<std::string> f = rows::Fields(line);
    rows::Need(f.size() == 3, "DEVICE | ACTIONS | WHAT");
    ++rows;
    if (f[0] == "acia") {
      Acia d;
      RunRow(d, f[1], f[2]);
    } else if (f[0] == "sio") {
      Sio d;
      RunRow(d, f[1], f[2]);
    } else {
      rows::Need(f[0] == "ctc", "an unknown device");
      Ctc d;
      d.trigger = {0, 0, 0, 4};
      RunRow(d, f[1], f[2]);
    }
  });
  EXPECT_EQ(error, "");
  EXPECT_GT(rows, 30);
}

}  // namespace
}  // namespace orvane::board
