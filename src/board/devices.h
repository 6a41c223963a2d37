// The serial and timer chips of a Z80 board: the Motorola 68B50 ACIA, the
// Zilog Z80 SIO/2 and the Z80 CTC. Each is a plain value (copy it to save its
// state, assign it back to restore it): the serial line and the time it runs
// at come in from the board on each call.
#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace orvane::board {

// What a serial channel's line is wired to: the console, or nothing.
class SerialLine {
 public:
  virtual ~SerialLine() = default;
  // Whether a byte has arrived (false at the end of input).
  virtual bool Ready() = 0;
  // The byte that has arrived, or -1.
  virtual int Read() = 0;
  // Whether nothing will ever arrive again.
  virtual bool Ended() = 0;
  virtual void Write(uint8_t byte) = 0;
  // Sends what was written; "" or why it could not be sent.
  virtual std::string Flush() { return ""; }
  // Whether the user asked from the keyboard to stop the run.
  virtual bool QuitRequested() { return false; }
};

// The line of a channel with nothing plugged in.
class NoLine final : public SerialLine {
 public:
  bool Ready() override { return false; }
  int Read() override { return -1; }
  bool Ended() override { return true; }
  void Write(uint8_t) override {}
};

// Where a device is in the interrupt daisy chain.
enum class Chain { kIdle, kRequest, kInService };

// How a device sees one access: the time (T-states since reset) and the line
// of its first channel.
struct Bus {
  uint64_t now = 0;
  SerialLine* line = nullptr;
};

constexpr uint64_t kNever = UINT64_MAX;

// T-states between two looks at the line for a byte arriving: about one
// character at 115200 baud on a 7.3728 MHz board.
constexpr uint64_t kReceiveGap = 640;

// The 68B50: control/status at its port, transmit/receive data at the next.
// Its IRQ is a plain open-drain line: it has no vector and no part in the
// daisy chain (the bus reads FFH when it is acknowledged).
class Acia {
 public:
  uint8_t In(int reg, Bus& bus);
  void Out(int reg, uint8_t value, Bus& bus);
  void Advance(Bus& bus);
  uint64_t NextEvent() const;
  bool Irq() const;
  Chain State() const { return Chain::kIdle; }
  uint8_t Acknowledge() { return 0xFF; }
  bool Reti() { return false; }
  // Whether it may yet interrupt a HALT: receive interrupts on a line that
  // has not ended, or transmit interrupts.
  bool CanInterrupt(bool inputEnded) const;
  // Whether a status read found no byte waiting (for the board's end of input).
  bool polledEmpty = false;

  uint8_t control = 0x03;  // in master reset from power-on
  uint8_t status = 0x00;   // RDRF, TDRE (DCD, CTS low: 0; FE, OVRN, PE never set)
  uint8_t rdr = 0;
  uint64_t nextLook = 0;
};

// One channel of the SIO/2.
struct SioChannel {
  std::array<uint8_t, 8> wr{};  // WR0..WR7 as last written
  uint8_t pointer = 0;          // the register the next control access reaches
  std::array<uint8_t, 3> fifo{};
  int queued = 0;
  bool txEmpty = true;   // nothing waits to be sent
  uint8_t held = 0;      // the byte written while the transmitter was off
  bool txPending = false;  // the transmit buffer became empty: a Tx interrupt
  bool firstArmed = false, firstLatched = false;  // WR1 mode 01: the next character interrupts
  uint64_t nextLook = 0;
  void Reset();
};

// The Z80 SIO/2 at four ports as its select lines are wired on the usual
// boards (B/A on A1, C/D on A0): reg 0 channel A control, 1 channel A data,
// 2 channel B control, 3 channel B data. The console is channel A; channel B's
// line has nothing on it.
class Sio {
 public:
  Sio();
  uint8_t In(int reg, Bus& bus);
  void Out(int reg, uint8_t value, Bus& bus);
  void Advance(Bus& bus);
  uint64_t NextEvent() const;
  bool Irq() const { return false; }
  Chain State() const;
  uint8_t Acknowledge();
  bool Reti();
  bool CanInterrupt(bool inputEnded) const;
  bool polledEmpty = false;
  // The vector as RR2 of channel B reads it, status affecting it or not.
  uint8_t Vector() const;

  std::array<SioChannel, 2> ch;

 private:
  // The interrupt sources by priority: 0 Rx A, 1 Tx A, 2 Rx B, 3 Tx B.
  bool Requests(int source) const;
  // The highest source requesting, or -1.
  int Highest() const;
  std::array<bool, 4> inService{};

 private:
  void Send(int c, uint8_t byte, Bus& bus);
};

// One channel of the CTC.
struct CtcChannel {
  uint8_t control = 0x02;  // reset, no interrupt
  uint16_t constant = 256;
  uint16_t count = 256;
  bool waitingConstant = false;
  bool running = false;
  bool pending = false, inService = false;
  uint64_t period = 0;  // T-states per count (0: no trigger wired in counter mode)
  uint64_t last = 0, acc = 0;
};

// The Z80 CTC: four channels at consecutive ports. trigger[i] is T-states
// between two edges on CLK/TRGi (0: not wired).
class Ctc {
 public:
  uint8_t In(int reg, Bus& bus);
  void Out(int reg, uint8_t value, Bus& bus);
  void Advance(Bus& bus);
  uint64_t NextEvent() const;
  bool Irq() const { return false; }
  Chain State() const;
  uint8_t Acknowledge();
  bool Reti();
  bool CanInterrupt(bool) const;
  bool polledEmpty = false;

  std::array<CtcChannel, 4> ch;
  std::array<uint64_t, 4> trigger{};
  uint8_t vector = 0;
};

}  // namespace orvane::board
