// IM, IN and OUT.
#include <cstdint>
#include <string_view>

#include "encoder/assembler.h"

namespace orvane {

namespace {

// IM 0 = ED 46, IM 1 = ED 56, IM 2 = ED 5E; the mode is compared as text.
struct InterruptMode {
  std::string_view text;
  Opcode code;
};

constexpr InterruptMode kModes[] = {{"0", {0xED, 0x46}}, {"1", {0xED, 0x56}}, {"2", {0xED, 0x5E}}};

// The registers IN r,(C) and OUT (C),r take: B, C, D, E, H, L and A.
bool IsPortRegister(int32_t code) {
  return code >= reg::B && code <= reg::A && code != reg::HLInd;
}

}  // namespace

void Assembler::EncodeIm(const Keyword&) {
  byteCount_ = 2;
  for (const InterruptMode& m : kModes) {
    if (m.text == fields_.Operand1Fld) {
      Put(m.code);
      return;
    }
  }
  Error(msg::kBadMode, fields_.Operand1Fld);
}

void Assembler::EncodeOut(const Keyword&) {
  byteCount_ = 2;
  if (Op1Type == reg::Address && Op2Type == reg::A) {
    // OUT (n),A = D3 n
    Put(0xD3);
    PutByte(fields_.Operand1Fld);
  } else if (Op1Type == reg::CInd) {
    if (!IsPortRegister(Op2Type)) {
      Error(msg::kBadSource, SourceOperand());
      return;
    }
    // OUT (C),r = ED 01 rrr 001
    Put(0xED);
    Put(0x41 + 8 * Op2Type);
  } else {
    Error(msg::kBadDestination, fields_.Operand1Fld);
  }
}

void Assembler::EncodeIn(const Keyword&) {
  byteCount_ = 2;
  if (Op1Type == reg::A && Op2Type == reg::Address) {
    // IN A,(n) = DB n
    Put(0xDB);
    PutByte(fields_.Operand2Fld);
  } else if (Op2Type == reg::CInd && IsPortRegister(Op1Type)) {
    // IN r,(C) = ED 01 rrr 000
    Put(0xED);
    Put(0x40 + 8 * Op1Type);
  } else {
    Error(msg::kBadDestination, fields_.Operand1Fld);
  }
}

}  // namespace orvane
