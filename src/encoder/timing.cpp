#include "encoder/timing.h"

#include "encoder/result.h"

namespace orvane {

namespace {

constexpr Timing Plain(int t, int m) {
  return {Timing::Kind::kPlain, uint8_t(t), uint8_t(t), uint8_t(m), uint8_t(m)};
}
constexpr Timing Branch(int t, int tn, int m, int mn) {
  return {Timing::Kind::kBranch, uint8_t(t), uint8_t(tn), uint8_t(m), uint8_t(mn)};
}
constexpr Timing Repeat(int t, int tl, int m, int ml) {
  return {Timing::Kind::kRepeat, uint8_t(t), uint8_t(tl), uint8_t(m), uint8_t(ml)};
}
constexpr Timing kUnknown{};

// An opcode as the manual's tables split it: x (bits 7-6), y (5-3), z (2-0).
struct Fields {
  int x, y, z;
  explicit Fields(uint8_t op) : x(op >> 6), y((op >> 3) & 7), z(op & 7) {}
  int p() const { return y >> 1; }
  int q() const { return y & 1; }
};

Timing Unprefixed(uint8_t op) {
  const Fields f(op);
  switch (f.x) {
    case 0:
      switch (f.z) {
        case 0:
          if (f.y < 2) return Plain(4, 1);                  // NOP, EX AF,AF'
          if (f.y == 2) return Branch(13, 8, 3, 2);         // DJNZ
          if (f.y == 3) return Plain(12, 3);                // JR e
          return Branch(12, 7, 3, 2);                       // JR cc,e
        case 1: return f.q() == 0 ? Plain(10, 3) : Plain(11, 3);  // LD rr,nn; ADD HL,rr
        case 2:
          if (f.y < 4) return Plain(7, 2);                  // LD (BC),A ... LD A,(DE)
          return f.y < 6 ? Plain(16, 5) : Plain(13, 4);     // LD (nn),HL / HL,(nn); (nn),A / A,(nn)
        case 3: return Plain(6, 1);                         // INC rr, DEC rr
        case 4:
        case 5: return f.y == 6 ? Plain(11, 3) : Plain(4, 1);  // INC/DEC (HL), r
        case 6: return f.y == 6 ? Plain(10, 3) : Plain(7, 2);  // LD (HL),n; LD r,n
        default: return Plain(4, 1);                        // RLCA ... CCF
      }
    case 1:
      if (f.y == 6 && f.z == 6) return Plain(4, 1);         // HALT
      return f.y == 6 || f.z == 6 ? Plain(7, 2) : Plain(4, 1);
    case 2: return f.z == 6 ? Plain(7, 2) : Plain(4, 1);
    default:
      switch (f.z) {
        case 0: return Branch(11, 5, 3, 1);                 // RET cc
        case 1:
          if (f.q() == 0) return Plain(10, 3);              // POP
          if (f.p() == 0) return Plain(10, 3);              // RET
          return f.p() == 3 ? Plain(6, 1) : Plain(4, 1);    // LD SP,HL; EXX, JP (HL)
        case 2: return Branch(10, 10, 3, 3);                // JP cc,nn
        case 3:
          switch (f.y) {
            case 0: return Plain(10, 3);                    // JP nn
            case 1: return kUnknown;                        // CB
            case 2:
            case 3: return Plain(11, 3);                    // OUT (n),A; IN A,(n)
            case 4: return Plain(19, 5);                    // EX (SP),HL
            default: return Plain(4, 1);                    // EX DE,HL, DI, EI
          }
        case 4: return Branch(17, 10, 5, 3);                // CALL cc,nn
        case 5:
          if (f.q() == 0) return Plain(11, 3);              // PUSH
          return f.p() == 0 ? Plain(17, 5) : kUnknown;      // CALL nn; DD, ED, FD
        case 6: return Plain(7, 2);                         // ALU A,n
        default: return Plain(11, 3);                       // RST
      }
  }
}

Timing Cb(uint8_t op) {
  const Fields f(op);
  if (f.x == 0 && f.y == 6) return kUnknown;  // SLL is not documented
  if (f.z != 6) return Plain(8, 2);
  return f.x == 1 ? Plain(12, 3) : Plain(15, 4);
}

Timing Ed(uint8_t op) {
  const Fields f(op);
  if (f.x == 1) {
    switch (f.z) {
      case 0:
      case 1: return f.y == 6 ? kUnknown : Plain(12, 3);    // IN r,(C); OUT (C),r
      case 2: return Plain(15, 4);                          // SBC/ADC HL,rr
      case 3: return Plain(20, 6);                          // LD (nn),rr; LD rr,(nn)
      case 4: return op == 0x44 ? Plain(8, 2) : kUnknown;   // NEG
      case 5: return op == 0x45 || op == 0x4D ? Plain(14, 4) : kUnknown;  // RETN, RETI
      case 6: return op == 0x46 || op == 0x56 || op == 0x5E ? Plain(8, 2) : kUnknown;  // IM
      default:
        if (f.y < 4) return Plain(9, 2);                    // LD I,A ... LD A,R
        return f.y < 6 ? Plain(18, 5) : kUnknown;           // RRD, RLD
    }
  }
  if (f.x == 2 && f.z < 4 && f.y >= 4) return f.y < 6 ? Plain(16, 4) : Repeat(21, 16, 5, 4);
  return kUnknown;
}

// After DD or FD: the instructions on HL that have an IX or IY form.
Timing Indexed(std::span<const uint8_t> code) {
  const uint8_t op = code[1];
  if (op == 0xCB) {
    if (code.size() < 4) return kUnknown;
    const Fields f(code[3]);
    if (f.z != 6 || (f.x == 0 && f.y == 6)) return kUnknown;
    return f.x == 1 ? Plain(20, 5) : Plain(23, 6);          // BIT b,(IX+d); the others
  }
  const Fields f(op);
  // On (IX+d).
  if (op == 0x34 || op == 0x35) return Plain(23, 6);        // INC/DEC (IX+d)
  if (op == 0x36) return Plain(19, 5);                      // LD (IX+d),n
  if (f.x == 1 && (f.y == 6) != (f.z == 6)) return Plain(19, 5);  // LD r,(IX+d); LD (IX+d),r
  if (f.x == 2 && f.z == 6) return Plain(19, 5);            // ALU A,(IX+d)
  // On IX itself.
  switch (op) {
    case 0x21: return Plain(14, 4);                         // LD IX,nn
    case 0x22:
    case 0x2A: return Plain(20, 6);                         // LD (nn),IX; LD IX,(nn)
    case 0x23:
    case 0x2B: return Plain(10, 2);                         // INC IX, DEC IX
    case 0x09:
    case 0x19:
    case 0x29:
    case 0x39: return Plain(15, 4);                         // ADD IX,rr
    case 0xE1: return Plain(14, 4);                         // POP IX
    case 0xE5: return Plain(15, 4);                         // PUSH IX
    case 0xE3: return Plain(23, 6);                         // EX (SP),IX
    case 0xE9: return Plain(8, 2);                          // JP (IX)
    case 0xF9: return Plain(10, 2);                         // LD SP,IX
    default: return kUnknown;
  }
}

}  // namespace

Timing TimingOf(std::span<const uint8_t> code) {
  if (code.empty()) return kUnknown;
  const uint8_t op = code[0];
  if (op != 0xCB && op != 0xED && op != 0xDD && op != 0xFD) return Unprefixed(op);
  if (code.size() < 2) return kUnknown;
  if (op == 0xCB) return Cb(code[1]);
  if (op == 0xED) return Ed(code[1]);
  return Indexed(code);
}

std::string TimingText(const Timing& t) {
  if (!t.Known()) return "";
  std::string s = std::to_string(t.tstates);
  if (t.Varies()) {
    s += '/';
    s += std::to_string(t.tstatesOther);
  }
  return s;
}

Timing StatementTiming(const Statement& s) {
  if (s.hasErrors || !s.toObject || s.bytes.empty() || !s.fields) return kUnknown;
  for (std::string_view d : {"DB", "DEFB", "DW", "DEFW", "DS", "DEFS"})
    if (s.fields->OpcodeFld == d) return kUnknown;
  return TimingOf(s.bytes);
}

}  // namespace orvane
