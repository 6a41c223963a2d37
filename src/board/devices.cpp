#include "board/devices.h"

namespace orvane::board {

// ---- 68B50 ACIA
//
// Control register (write, RS=0):
//   CR1-CR0 counter divide: 00 /1, 01 /16, 10 /64, 11 master reset
//   CR4-CR2 word select: 000 7E2, 001 7O2, 010 7E1, 011 7O1, 100 8N2, 101 8N1, 110 8E1, 111 8O1
//   CR6-CR5 transmit control: 00 RTS low, TIE off; 01 RTS low, TIE on; 10 RTS high, TIE off;
//           11 RTS low, break, TIE off
//   CR7 receive interrupt enable (RDRF, overrun, DCD)
// Status register (read, RS=0):
//   0 RDRF, 1 TDRE, 2 DCD, 3 CTS, 4 FE, 5 OVRN, 6 PE, 7 IRQ

namespace {
constexpr uint8_t kRdrf = 0x01, kTdre = 0x02, kIrq = 0x80;
bool InReset(uint8_t control) { return (control & 0x03) == 0x03; }
bool SevenBits(uint8_t control) { return (control & 0x10) == 0; }
}  // namespace

void Acia::Advance(Bus& bus) {
  if (InReset(control) || (status & kRdrf) || bus.now < nextLook) return;
  nextLook = bus.now + kReceiveGap;
  if (!bus.line->Ready()) return;
  const int c = bus.line->Read();
  if (c < 0) return;
  rdr = static_cast<uint8_t>(SevenBits(control) ? c & 0x7F : c);
  status |= kRdrf;
}

uint8_t Acia::In(int reg, Bus& bus) {
  Advance(bus);
  if (reg == 0) {
    polledEmpty = (status & kRdrf) == 0;
    return static_cast<uint8_t>(status | (Irq() ? kIrq : 0));
  }
  // Reading the receive data register clears RDRF; the byte stays in it.
  status &= static_cast<uint8_t>(~kRdrf);
  nextLook = bus.now + kReceiveGap;
  return rdr;
}

void Acia::Out(int reg, uint8_t value, Bus& bus) {
  if (reg == 0) {
    const bool wasReset = InReset(control);
    control = value;
    if (InReset(value))
      status = 0;  // master reset clears all but the external DCD and CTS
    else if (wasReset)
      status |= kTdre;  // the transmitter leaves reset empty
    return;
  }
  if (InReset(control)) return;
  // The byte goes out at once: the transmit data register is empty again.
  bus.line->Write(static_cast<uint8_t>(SevenBits(control) ? value & 0x7F : value));
  status |= kTdre;
}

bool Acia::Irq() const {
  if (InReset(control)) return false;
  const bool rie = (control & 0x80) != 0, tie = (control & 0x60) == 0x20;
  return (rie && (status & kRdrf)) || (tie && (status & kTdre));
}

uint64_t Acia::NextEvent() const {
  if (InReset(control) || !(control & 0x80) || (status & kRdrf)) return kNever;
  return nextLook;
}

bool Acia::CanInterrupt(bool inputEnded) const {
  if (InReset(control)) return false;
  return Irq() || (control & 0x60) == 0x20 || ((control & 0x80) && !inputEnded);
}

// ---- Z80 SIO/2
//
// WR0: D2-D0 register pointer; D5-D3 command: 000 null, 001 send abort,
//      010 reset ext/status interrupts, 011 channel reset, 100 enable
//      interrupt on next Rx character, 101 reset TxINT pending, 110 error
//      reset, 111 return from interrupt (channel A); D7-D6 CRC resets.
// WR1: D0 ext interrupt enable, D1 Tx interrupt enable, D2 status affects
//      vector (channel B), D4-D3 Rx interrupt: 00 off, 01 first character,
//      10 all characters (parity affects vector), 11 all characters.
// WR2: the interrupt vector (channel B).
// WR3: D0 Rx enable, D5 auto enables, D7-D6 Rx bits: 00 5, 01 7, 10 6, 11 8.
// WR4: parity, stop bits, clock mode (kept, no effect: the host's bytes are clean).
// WR5: D1 RTS, D3 Tx enable, D4 send break, D6-D5 Tx bits as WR3, D7 DTR.
// RR0: D0 Rx character available, D1 interrupt pending (channel A), D2 Tx
//      buffer empty, D3 DCD, D5 CTS. RR1: D0 all sent. RR2: the vector (channel B).

namespace {
uint8_t BitsMask(uint8_t code) {
  static constexpr uint8_t kMask[4] = {0x1F, 0x7F, 0x3F, 0xFF};
  return kMask[code & 3];
}
}  // namespace

void SioChannel::Reset() {
  const uint8_t vector = wr[2];
  wr = {};
  wr[2] = vector;  // the vector survives a channel reset
  pointer = 0;
  queued = 0;
  txEmpty = true;
  txPending = firstArmed = firstLatched = false;
}

Sio::Sio() {
  for (SioChannel& c : ch) c.Reset();
}

bool Sio::Requests(int source) const {
  const SioChannel& c = ch[source / 2];
  if (source % 2 == 1) return (c.wr[1] & 0x02) && c.txPending;
  const int mode = (c.wr[1] >> 3) & 3;
  return mode == 1 ? c.firstLatched : mode >= 2 && c.queued > 0;
}

int Sio::Highest() const {
  for (int s = 0; s < 4; ++s)
    if (Requests(s)) return s;
  return -1;
}

Chain Sio::State() const {
  for (int s = 0; s < 4; ++s) {
    if (inService[s]) return Chain::kInService;
    if (Requests(s)) return Chain::kRequest;
  }
  return Chain::kIdle;
}

uint8_t Sio::Vector() const {
  const uint8_t v = ch[1].wr[2];
  if (!(ch[1].wr[1] & 0x04)) return v;
  // Status affects vector: V3-V1 name the source; 011 (channel B special
  // receive condition) when nothing is pending.
  static constexpr uint8_t kCode[4] = {6, 4, 2, 0};  // Rx A, Tx A, Rx B, Tx B
  const int s = Highest();
  return static_cast<uint8_t>((v & 0xF1) | (s < 0 ? 3 : kCode[s]) << 1);
}

uint8_t Sio::Acknowledge() {
  const int s = Highest();
  const uint8_t v = Vector();
  if (s >= 0) {
    inService[s] = true;
    if (s % 2 == 0) ch[s / 2].firstLatched = false;
  }
  return v;
}

bool Sio::Reti() {
  for (bool& s : inService)
    if (s) return !(s = false);
  return false;
}

void Sio::Send(int c, uint8_t byte, Bus& bus) {
  SioChannel& x = ch[c];
  if (c == 0) bus.line->Write(static_cast<uint8_t>(byte & BitsMask(x.wr[5] >> 5)));
  x.txEmpty = true;
  x.txPending = true;
}

void Sio::Advance(Bus& bus) {
  for (int c = 0; c < 2; ++c) {
    SioChannel& x = ch[c];
    if (!(x.wr[3] & 0x01) || x.queued == 3 || bus.now < x.nextLook) continue;
    x.nextLook = bus.now + kReceiveGap;
    if (c != 0 || !bus.line->Ready()) continue;
    const int b = bus.line->Read();
    if (b < 0) continue;
    x.fifo[x.queued++] = static_cast<uint8_t>(b & BitsMask(x.wr[3] >> 6));
    if (x.firstArmed) x.firstLatched = true, x.firstArmed = false;
  }
}

uint64_t Sio::NextEvent() const {
  uint64_t next = kNever;
  for (const SioChannel& x : ch)
    if ((x.wr[3] & 0x01) && (x.wr[1] & 0x18) && x.queued < 3 && x.nextLook < next) next = x.nextLook;
  return next;
}

bool Sio::CanInterrupt(bool inputEnded) const {
  if (State() == Chain::kRequest) return true;
  const SioChannel& a = ch[0];
  return (a.wr[1] & 0x02) || ((a.wr[3] & 0x01) && (a.wr[1] & 0x18) && !inputEnded) || (ch[1].wr[1] & 0x02);
}

uint8_t Sio::In(int reg, Bus& bus) {
  Advance(bus);
  SioChannel& x = ch[reg / 2];
  if (reg % 2 == 1) {
    // Data: the oldest character received.
    if (x.queued == 0) return x.fifo[0];
    const uint8_t b = x.fifo[0];
    x.fifo[0] = x.fifo[1];
    x.fifo[1] = x.fifo[2];
    --x.queued;
    x.nextLook = bus.now + kReceiveGap;
    return b;
  }
  const int p = x.pointer;
  x.pointer = 0;
  switch (p) {
    case 0: {
      polledEmpty = x.queued == 0 && reg == 0;
      uint8_t v = static_cast<uint8_t>((x.queued > 0 ? 0x01 : 0) | (x.txEmpty ? 0x04 : 0) | 0x08 | 0x20);
      if (reg == 0 && Highest() >= 0) v |= 0x02;
      return v;
    }
    case 1:
      return x.txEmpty ? 0x01 : 0x00;
    case 2:
      return Vector();
    default:
      return 0x00;
  }
}

void Sio::Out(int reg, uint8_t value, Bus& bus) {
  const int c = reg / 2;
  SioChannel& x = ch[c];
  if (reg % 2 == 1) {
    if (x.wr[5] & 0x08) {
      Send(c, value, bus);
    } else {
      x.held = value;
      x.txEmpty = false;
      x.txPending = false;
    }
    return;
  }
  const int p = x.pointer;
  x.pointer = 0;
  if (p != 0) {
    // WR2 is channel B's: written through channel A it reaches B's, as the
    // SIO/2 has one vector register.
    if (p == 2) ch[1].wr[2] = value;
    else x.wr[p] = value;
    if (p == 1 && ((value >> 3) & 3) == 1) x.firstArmed = true;
    if (p == 5 && (value & 0x08) && !x.txEmpty) Send(c, x.held, bus);
    return;
  }
  x.wr[0] = value;
  x.pointer = value & 0x07;
  switch ((value >> 3) & 7) {
    case 3:
      x.Reset();
      if (c == 0) inService[0] = inService[1] = false;
      else inService[2] = inService[3] = false;
      break;
    case 4:
      x.firstArmed = true;
      break;
    case 5:
      x.txPending = false;
      break;
    case 7:
      if (c == 0) Reti();
      break;
    default:  // null, send abort, reset ext/status, error reset: nothing to do here
      break;
  }
}

// ---- Z80 CTC
//
// Channel control word (D0=1): D7 interrupt enable, D6 mode (0 timer, 1
// counter), D5 prescaler (0 16, 1 256), D4 CLK/TRG edge, D3 timer trigger
// (0 at once, 1 on a CLK/TRG edge), D2 a time constant follows, D1 software
// reset. Interrupt vector (D0=0, channel 0): D7-D3; the CTC fills D2-D1 with
// the channel. A time constant of 0 counts 256. A read gives the down-counter.

void Ctc::Advance(Bus& bus) {
  for (CtcChannel& c : ch) {
    const uint64_t elapsed = bus.now - c.last;
    c.last = bus.now;
    if (!c.running || c.period == 0) continue;
    c.acc += elapsed;
    uint64_t ticks = c.acc / c.period;
    c.acc %= c.period;
    if (ticks < c.count) {
      c.count = static_cast<uint16_t>(c.count - ticks);
      continue;
    }
    // Zero count: reload, and interrupt when enabled.
    ticks = (ticks - c.count) % c.constant;
    c.count = static_cast<uint16_t>(c.constant - ticks);
    if (c.control & 0x80) c.pending = true;
  }
}

uint64_t Ctc::NextEvent() const {
  uint64_t next = kNever;
  for (const CtcChannel& c : ch) {
    if (!c.running || c.period == 0 || !(c.control & 0x80)) continue;
    const uint64_t at = c.last + c.count * c.period - c.acc;
    if (at < next) next = at;
  }
  return next;
}

uint8_t Ctc::In(int reg, Bus& bus) {
  Advance(bus);
  return static_cast<uint8_t>(ch[reg].count & 0xFF);
}

void Ctc::Out(int reg, uint8_t value, Bus& bus) {
  Advance(bus);
  CtcChannel& c = ch[reg];
  if (c.waitingConstant) {
    c.constant = value ? value : 256;
    c.waitingConstant = false;
    if (!c.running) {
      c.count = c.constant;
      c.acc = 0;
      c.last = bus.now;
      // A timer triggered by CLK/TRG starts on its edge: at once when one is
      // wired, never when none is.
      c.running = !(c.control & 0x40) && (c.control & 0x08) ? trigger[reg] != 0 : true;
    }
    return;
  }
  if (value & 0x01) {
    c.control = value;
    c.period = value & 0x40 ? trigger[reg] : (value & 0x20 ? 256 : 16);
    if (value & 0x02) c.running = false;
    if (!(value & 0x80)) c.pending = false;
    if (value & 0x04) c.waitingConstant = true;
    return;
  }
  if (reg == 0) vector = value & 0xF8;
}

Chain Ctc::State() const {
  for (const CtcChannel& c : ch) {
    if (c.inService) return Chain::kInService;
    if (c.pending) return Chain::kRequest;
  }
  return Chain::kIdle;
}

uint8_t Ctc::Acknowledge() {
  for (int i = 0; i < 4; ++i) {
    if (!ch[i].pending) continue;
    ch[i].pending = false;
    ch[i].inService = true;
    return static_cast<uint8_t>(vector | i << 1);
  }
  return vector;
}

bool Ctc::Reti() {
  for (CtcChannel& c : ch)
    if (c.inService) return !(c.inService = false);
  return false;
}

bool Ctc::CanInterrupt(bool) const {
  for (const CtcChannel& c : ch)
    if (c.pending || (c.running && c.period && (c.control & 0x80))) return true;
  return false;
}

}  // namespace orvane::board
